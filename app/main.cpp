// The main routine: bring the stream up, then poll keys and print one status line per
// change of the clock, for ever, until ESC (or any key whose code is 3) ends it in order.
// Between passes the platform waits for the next key or second (or, on Windows, does not).
#include <atomic>
#include <cstdint>
#include <string>

#include "app/startup.h"
#include "audio/stream_control.h"
#include "console/clock.h"
#include "console/keyboard.h"
#include "console/print.h"
#include "platform/platform.h"

namespace {

constexpr std::chrono::milliseconds stop_bound{1000};

// The clock string and the counts are read as the line is about to show them, the counts at
// separate moments (samples that arrive between the reads are in later totals). The baseline
// for the next line is read after the line. Returns the clock string the line shows.
std::string status_line(const std::atomic<int64_t>& stream_count, int64_t* shown_count,
                        PaStream* stream) {
    std::string shown_clock = clock_string();
    const int64_t total = stream_count.load(std::memory_order_relaxed);
    const int64_t since_last = stream_count.load(std::memory_order_relaxed) - *shown_count;
    print_status_line(shown_clock, total, since_last, stream_cpu_load(stream) * 100.0);
    *shown_count = stream_count.load(std::memory_order_relaxed);
    return shown_clock;
}

}  // namespace

int main() {
    system_startup();

    PaStream* stream = nullptr;
    std::atomic<int64_t> stream_count{0};
    int32_t pa_result = 0;
    int64_t shown_count = 0;
    std::string prev_clock;
    std::string cur_clock;

    stream_start(&stream, &stream_count, &pa_result);
    for (;;) {
        const std::string key = poll_key();
        const uint64_t key_code = char_code(key, 1);
        // 3 is Ctrl+C's character: a Ctrl+C that arrives as a key, not as the interrupt (an
        // Alt + keypad entry of 3, say), ends the program in order as ESC does.
        if (key_code == 27 || key_code == 3) {
            // The audio back end's stop can wait for ever on a sound server that has gone
            // away; ESC ends the program all the same. A healthy stop takes tens of
            // milliseconds.
            bound_the_end(stop_bound);
            stream_stop(stream, &pa_result);
            end_program(0);
        }
        cur_clock = clock_string();
        if (cur_clock != prev_clock) {
            // When the second ticked after cur_clock was read, the line already shows the
            // new second; comparing with what it shows keeps that second from a line of its
            // own, so no time of day appears twice.
            cur_clock = status_line(stream_count, &shown_count, stream);
        }
        prev_clock = cur_clock;
        if (key.empty()) {  // with keys still queued, the next pass takes the next one at once
            platform_monitor_wait();
        }
    }
}
