// The terminal decoder under arbitrary bytes and poll times: each byte b arrives (b & 7) ms
// after the one before. Checked: no crash (AddressSanitizer guards the event array), nothing
// left waiting once the deadline has passed, and a lone ESC after it all is the Esc key.
#include <algorithm>
#include <cstdlib>

#include "platform/posix/key_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    key_decoder decoder{};
    key_event events[KEY_DECODER_MAX_EVENTS];
    int64_t now = 0;
    for (size_t i = 0; i < size; ++i) {
        now += (data[i] & 7) * 1'000'000;
        key_decoder_feed(decoder, data[i], now, events);
        key_decoder_tick(decoder, now, events);
    }
    now += KEY_ESCAPE_DEADLINE_NS;
    key_decoder_tick(decoder, now, events);
    if (key_decoder_waiting(decoder) || key_decoder_feed(decoder, 27, now, events) != 0) {
        std::abort();
    }
    const size_t n = key_decoder_tick(decoder, now + KEY_ESCAPE_DEADLINE_NS, events);
    if (std::none_of(events, events + n,
                     [](const key_event& e) { return e.key_down && e.character == 27; })) {
        std::abort();
    }
    return 0;
}
