// What crosses the seam between the shared code and the platform, in a PC console's names and
// values: the console handles, the key record with its state bits and the virtual keys the
// program uses, and the console's control events. The Windows headers define the names (this
// is where the program includes them: without the parts it never uses and without the min
// and max macros); elsewhere they are defined here, with the same values (a terminal's keys
// are decoded into such records).
#ifndef DSPHOST_PLATFORM_CONSOLE_TYPES_H
#define DSPHOST_PLATFORM_CONSOLE_TYPES_H

#include <cstdint>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

using console_handle = void*;  // a HANDLE
#else
using console_handle = int;  // a file descriptor

// Bits of key_event::control_state.
constexpr uint32_t RIGHT_ALT_PRESSED = 0x0001;
constexpr uint32_t LEFT_ALT_PRESSED = 0x0002;
constexpr uint32_t RIGHT_CTRL_PRESSED = 0x0004;
constexpr uint32_t LEFT_CTRL_PRESSED = 0x0008;
constexpr uint32_t SHIFT_PRESSED = 0x0010;
constexpr uint32_t ENHANCED_KEY = 0x0100;

// Virtual keys the decoder and the key translation use.
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

// Console control events; on a terminal, hang-up and termination signals stand for close and
// shut-down.
constexpr int CTRL_C_EVENT = 0;
constexpr int CTRL_BREAK_EVENT = 1;
constexpr int CTRL_CLOSE_EVENT = 2;
constexpr int CTRL_LOGOFF_EVENT = 5;
constexpr int CTRL_SHUTDOWN_EVENT = 6;
#endif

// One key record: the platform reads them (console records, or a terminal's bytes decoded),
// the key translation turns them into key values.
struct key_event {
    bool key_down;
    uint16_t repeat_count;
    uint16_t virtual_key;
    uint16_t scan_code;
    uint8_t character;  // the character the key reports, 0 for none
    uint32_t control_state;
};

#endif
