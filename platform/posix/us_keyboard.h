// The US PC keyboard, the one layout a terminal's keys are named by: which key types each
// printable character, and (layout_character in platform/platform.h) which character each
// virtual key types.
#ifndef DSPHOST_PLATFORM_POSIX_US_KEYBOARD_H
#define DSPHOST_PLATFORM_POSIX_US_KEYBOARD_H

#include <cstdint>

// A key of the US PC keyboard.
struct us_key {
    uint16_t virtual_key;  // 0 for none
    uint16_t scan_code;
    bool shift;  // the character takes Shift
};

// The key that types the printable character c (0x20 to 0x7E); no key for any other byte.
us_key us_key_typing(uint8_t c);

#endif
