// Turns the bytes a terminal sends into key events shaped like a PC console's key records:
// key down or up, repeat count, virtual key, scan code of a US PC keyboard, the character the
// key reports, and the state of the Alt, Ctrl and Shift keys. The decoder is pure: the caller
// hands in the bytes and the time they were read on a monotonic clock, so nothing here waits,
// reads a device or looks at a clock.
//
// Recognised: plain bytes (text, Ctrl+letter, Tab, Enter, Backspace, bytes of 0x80 and above
// one key each), Alt as an ESC in front of any key or sequence, the cursor, editing, function
// and keypad sequences of xterm and VTE (normal and application modes, with the modifier
// parameter), screen and tmux, the Linux console and rxvt. A complete sequence that is not a
// known key (mouse and focus reports, paste markers, OSC and DCS strings, parameters out of
// range) is consumed whole and gives no key. A keypad digit with Alt is Alt with the digit:
// a terminal reports no release of Alt, so it has no Alt + numeric keypad entry.
//
// A lone ESC is the Esc key only once no continuation has arrived for KEY_ESCAPE_DEADLINE_NS;
// key_decoder_tick delivers it, so the caller ticks on every poll while the decoder waits, and
// key_decoder_deadline says until when to wait.
//
// The state machine is here (key_decoder.cpp); what each byte and sequence is called, in
// key_names.cpp, and the US keyboard's characters in us_keyboard.cpp.
#ifndef DSPHOST_PLATFORM_POSIX_KEY_DECODER_H
#define DSPHOST_PLATFORM_POSIX_KEY_DECODER_H

#include <cstddef>
#include <cstdint>

#include "platform/console_types.h"

// How long a lone ESC waits for the rest of a sequence before it counts as the Esc key.
constexpr int64_t KEY_ESCAPE_DEADLINE_NS = 25'000'000;

// The most events one call of key_decoder_feed or key_decoder_tick can produce.
constexpr size_t KEY_DECODER_MAX_EVENTS = 8;

// Decoder state between calls: the sequence read so far (only what is needed to name the key
// at its end, never the raw bytes, so its size is fixed whatever arrives). Zero-initialised
// it is ready for use.
struct key_decoder {
    uint8_t state = 0;
    bool alt = false;        // the sequence came after an extra ESC
    uint8_t introducer = 0;  // '[' or 'O' for CSI and SS3, the letter for strings
    uint8_t private_marker = 0;
    uint8_t intermediate = 0;
    bool malformed = false;
    uint16_t body_length = 0;  // bytes after the introducer, saturating
    uint8_t param_count = 0;
    int32_t params[4] = {};    // -1 for a parameter left empty
    uint8_t mouse_bytes = 0;   // raw bytes of a mouse report still to skip
    int64_t last_byte_ns = 0;  // when the last byte arrived
};

// Feeds one byte read at now_ns (monotonic nanoseconds). Writes the events it completes to
// events (room for KEY_DECODER_MAX_EVENTS) and returns how many.
size_t key_decoder_feed(key_decoder& decoder, uint8_t byte, int64_t now_ns, key_event* events);

// Settles an unfinished sequence once KEY_ESCAPE_DEADLINE_NS has passed since its last byte:
// a lone ESC becomes the Esc key, ESC ESC becomes Alt+Esc, ESC with a sequence introducer
// becomes Alt with that character, anything longer is dropped. Returns the number of events.
size_t key_decoder_tick(key_decoder& decoder, int64_t now_ns, key_event* events);

// True while an unfinished sequence is held, that is while key_decoder_tick may still deliver.
bool key_decoder_waiting(const key_decoder& decoder);

// When key_decoder_tick settles the unfinished sequence, on the clock of now_ns; meaningful
// while key_decoder_waiting.
int64_t key_decoder_deadline(const key_decoder& decoder);

#endif
