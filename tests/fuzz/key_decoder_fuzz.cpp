// The terminal decoder under arbitrary bytes and poll times. Input: bytes to feed, except that
// 0xFE k advances the clock by k * 0.25 ms and ticks (0xFE 0xFE feeds 0xFE itself).
// Checked: no crash, bounded output, each press followed by its release, nothing left waiting
// once the deadline has passed, and a later lone ESC always delivered as the Esc key.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/posix/key_decoder.h"

namespace {

constexpr uint8_t CLOCK_MARK = 0xFE;
constexpr int64_t QUARTER_MS = 250'000;

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Returns whether the events hold a plain Esc press.
bool check_events(const key_event* events, size_t count) {
    check(count <= KEY_DECODER_MAX_EVENTS);
    bool esc = false;
    for (size_t i = 0; i < count; ++i) {
        const key_event& e = events[i];
        check(e.repeat_count == 1);
        if (!e.key_down) {
            continue;
        }
        check(i + 1 < count);
        const key_event& r = events[i + 1];
        check(!r.key_down && r.virtual_key == e.virtual_key && r.scan_code == e.scan_code &&
              r.character == e.character && r.control_state == e.control_state);
        check(e.virtual_key != 0 || e.character != 0);
        esc = esc || (e.character == 27 && e.virtual_key == VK_ESCAPE &&
                      (e.control_state & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED)) == 0);
    }
    return esc;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    key_decoder decoder{};
    key_event events[KEY_DECODER_MAX_EVENTS];
    int64_t now = 1'000'000'000;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == CLOCK_MARK && i + 1 < size) {
            ++i;
            if (data[i] != CLOCK_MARK) {
                now += data[i] * QUARTER_MS;
                check_events(events, key_decoder_tick(decoder, now, events));
                continue;
            }
        }
        check_events(events, key_decoder_feed(decoder, data[i], now, events));
    }
    now += KEY_ESCAPE_DEADLINE_NS;
    check_events(events, key_decoder_tick(decoder, now, events));
    check(!key_decoder_waiting(decoder));

    now += QUARTER_MS;
    check(key_decoder_feed(decoder, 0x1B, now, events) == 0);
    check(key_decoder_tick(decoder, now + KEY_ESCAPE_DEADLINE_NS - 1, events) == 0);
    check(check_events(events, key_decoder_tick(decoder, now + KEY_ESCAPE_DEADLINE_NS, events)));
    check(!key_decoder_waiting(decoder));
    return 0;
}
