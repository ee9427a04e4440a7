// Runs the real start and stop sequences around a wait, for the stream tests.
//
//   audio_probe SAMPLES SECONDS
//
// Starts the stream, waits until SAMPLES samples have been processed or SECONDS seconds
// have passed (whichever comes first), reads the CPU load, stops the stream and prints one
// line on standard output:
//
//   count=<samples> cpu=<load> result=<last pa_result>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "audio/stream_control.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: audio_probe SAMPLES SECONDS\n", stdout);
        return 2;
    }
    const long long wanted = std::strtoll(argv[1], nullptr, 10);
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(std::strtod(argv[2], nullptr)));

    PaStream* stream = nullptr;
    std::atomic<int64_t> stream_count{0};
    int32_t pa_result = 0;
    stream_start(&stream, &stream_count, &pa_result);
    int64_t count = 0;
    while ((count = stream_count.load(std::memory_order_relaxed)) < wanted &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    const double cpu = stream_cpu_load(stream);
    stream_stop(stream, &pa_result);
    std::printf("count=%lld cpu=%.6f result=%d\n", static_cast<long long>(count), cpu,
                static_cast<int>(pa_result));
    std::fflush(stdout);
    return 0;
}
