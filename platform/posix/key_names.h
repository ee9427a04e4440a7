// How the terminal decoder names keys: the key one byte stands for, and the key a complete
// CSI or SS3 sequence stands for, with the virtual key, the scan code of a US PC keyboard, the
// character the key reports and the state of Alt, Ctrl and Shift (xterm's modifier parameter,
// rxvt's endings). Internal to the decoder (key_decoder.cpp); the sequence is read from the
// decoder's state.
#ifndef DSPHOST_PLATFORM_POSIX_KEY_NAMES_H
#define DSPHOST_PLATFORM_POSIX_KEY_NAMES_H

#include <cstdint>

#include "platform/posix/key_decoder.h"

constexpr uint8_t ESC = 0x1B;

constexpr uint32_t ALT = LEFT_ALT_PRESSED;
constexpr uint32_t CTRL = LEFT_CTRL_PRESSED;
constexpr uint32_t SHIFT = SHIFT_PRESSED;

// A key as the decoder names it, before it becomes a press and a release; all 0 for no key.
struct key_press {
    uint16_t virtual_key;
    uint16_t scan_code;
    uint8_t character;
    uint32_t state;
};

// The key one byte outside any sequence stands for.
key_press byte_key(uint8_t b);

// F1 to F12.
key_press function_key(int n);

// Names the key of a complete CSI or SS3 sequence, whose final byte is final; no key when
// there is none.
key_press sequence_key(const key_decoder& d, uint8_t final);

// The key with Alt held.
key_press with_alt(key_press key);

#endif
