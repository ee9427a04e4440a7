// Key events shaped like a PC console's key records, with the console's names and values:
// the state bits, the virtual keys the program uses, and the punctuation keys of a US PC
// keyboard. Key events come from the platform (console records, or a terminal's bytes
// decoded); the key translation turns them into key values.
#ifndef DSPHOST_CONSOLE_KEY_EVENT_H
#define DSPHOST_CONSOLE_KEY_EVENT_H

#include <cstdint>

#ifdef _WIN32
// The Windows headers define the state bits and the virtual keys, with these values.
#include "platform/windows/windows_headers.h"
#else
// Bits of key_event::control_state, with the console's values.
constexpr uint32_t RIGHT_ALT_PRESSED = 0x0001;
constexpr uint32_t LEFT_ALT_PRESSED = 0x0002;
constexpr uint32_t RIGHT_CTRL_PRESSED = 0x0004;
constexpr uint32_t LEFT_CTRL_PRESSED = 0x0008;
constexpr uint32_t SHIFT_PRESSED = 0x0010;
constexpr uint32_t ENHANCED_KEY = 0x0100;

// Virtual keys the decoder and the key translation use (console values).
constexpr uint16_t VK_BACK = 0x08;
constexpr uint16_t VK_TAB = 0x09;
constexpr uint16_t VK_CLEAR = 0x0C;
constexpr uint16_t VK_RETURN = 0x0D;
constexpr uint16_t VK_SHIFT = 0x10;
constexpr uint16_t VK_MENU = 0x12;
constexpr uint16_t VK_ESCAPE = 0x1B;
constexpr uint16_t VK_SPACE = 0x20;
constexpr uint16_t VK_PRIOR = 0x21;
constexpr uint16_t VK_NEXT = 0x22;
constexpr uint16_t VK_END = 0x23;
constexpr uint16_t VK_HOME = 0x24;
constexpr uint16_t VK_LEFT = 0x25;
constexpr uint16_t VK_UP = 0x26;
constexpr uint16_t VK_RIGHT = 0x27;
constexpr uint16_t VK_DOWN = 0x28;
constexpr uint16_t VK_INSERT = 0x2D;
constexpr uint16_t VK_DELETE = 0x2E;
constexpr uint16_t VK_NUMPAD0 = 0x60;
constexpr uint16_t VK_MULTIPLY = 0x6A;
constexpr uint16_t VK_ADD = 0x6B;
constexpr uint16_t VK_SEPARATOR = 0x6C;
constexpr uint16_t VK_SUBTRACT = 0x6D;
constexpr uint16_t VK_DECIMAL = 0x6E;
constexpr uint16_t VK_DIVIDE = 0x6F;
constexpr uint16_t VK_F1 = 0x70;
constexpr uint16_t VK_OEM_1 = 0xBA;       // ; :
constexpr uint16_t VK_OEM_PLUS = 0xBB;    // = +
constexpr uint16_t VK_OEM_COMMA = 0xBC;   // , <
constexpr uint16_t VK_OEM_MINUS = 0xBD;   // - _
constexpr uint16_t VK_OEM_PERIOD = 0xBE;  // . >
constexpr uint16_t VK_OEM_2 = 0xBF;       // / ?
constexpr uint16_t VK_OEM_3 = 0xC0;       // ` ~
constexpr uint16_t VK_OEM_4 = 0xDB;       // [ {
constexpr uint16_t VK_OEM_5 = 0xDC;       // \ |
constexpr uint16_t VK_OEM_6 = 0xDD;       // ] }
constexpr uint16_t VK_OEM_7 = 0xDE;       // ' "
#endif

// The punctuation keys of a US PC keyboard: the virtual key and the character it types
// without Shift. The decoder names keys by it, and the key translation's layout lookup
// reads it back.
struct punctuation_key {
    uint16_t virtual_key;
    char plain;
};

constexpr punctuation_key punctuation_keys[] = {
    {VK_OEM_1, ';'},      {VK_OEM_PLUS, '='}, {VK_OEM_COMMA, ','}, {VK_OEM_MINUS, '-'},
    {VK_OEM_PERIOD, '.'}, {VK_OEM_2, '/'},    {VK_OEM_3, '`'},     {VK_OEM_4, '['},
    {VK_OEM_5, '\\'},     {VK_OEM_6, ']'},    {VK_OEM_7, '\''},
};

// One key record.
struct key_event {
    bool key_down = false;
    uint16_t repeat_count = 0;
    uint16_t virtual_key = 0;
    uint16_t scan_code = 0;
    uint8_t character = 0;  // the character the key reports, 0 for none
    uint32_t control_state = 0;
};

#endif
