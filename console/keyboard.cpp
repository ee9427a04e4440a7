#include "console/keyboard.h"

#include <atomic>
#include <cctype>
#include <cstdlib>

#include "console/handles.h"
#include "platform/exit_steps.h"
#include "platform/platform.h"

key_ring key_queue{};
bool handler_installed = false;
uint32_t alt_keypad_value = 0;

namespace {

constexpr uint16_t ext(int code) {
    return static_cast<uint16_t>(code << 8);
}

}  // namespace

// Entries below 256 never become key values (the reported character is used instead) and
// are left 0.
const uint16_t scan_code_table[89][4] = {
    {0, 0, 0, 0},                              // 0
    {0, 0, 0, ext(1)},                         // 1 Esc
    {0, 0, 0, ext(120)},                       // 2 1
    {0, 0, ext(3), ext(121)},                  // 3 2
    {0, 0, 0, ext(122)},                       // 4 3
    {0, 0, 0, ext(123)},                       // 5 4
    {0, 0, 0, ext(124)},                       // 6 5
    {0, 0, 0, ext(125)},                       // 7 6
    {0, 0, 0, ext(126)},                       // 8 7
    {0, 0, 0, ext(127)},                       // 9 8
    {0, 0, 0, ext(128)},                       // 10 9
    {0, 0, 0, ext(129)},                       // 11 0
    {0, 0, 0, ext(130)},                       // 12 -
    {0, 0, 0, ext(131)},                       // 13 =
    {0, 0, 0, ext(224)},                       // 14 Backspace
    {0, ext(15), ext(148), ext(15)},           // 15 Tab
    {0, 0, 0, ext(16)},                        // 16 Q
    {0, 0, 0, ext(17)},                        // 17 W
    {0, 0, 0, ext(18)},                        // 18 E
    {0, 0, 0, ext(19)},                        // 19 R
    {0, 0, 0, ext(20)},                        // 20 T
    {0, 0, 0, ext(21)},                        // 21 Y
    {0, 0, 0, ext(22)},                        // 22 U
    {0, 0, 0, ext(23)},                        // 23 I
    {0, 0, 0, ext(24)},                        // 24 O
    {0, 0, 0, ext(25)},                        // 25 P
    {0, 0, 0, ext(26)},                        // 26 [
    {0, 0, 0, ext(27)},                        // 27 ]
    {0, 0, 0, ext(28)},                        // 28 Enter
    {0, 0, 0, 0},                              // 29 Ctrl
    {0, 0, 0, ext(30)},                        // 30 A
    {0, 0, 0, ext(31)},                        // 31 S
    {0, 0, 0, ext(32)},                        // 32 D
    {0, 0, 0, ext(33)},                        // 33 F
    {0, 0, 0, ext(34)},                        // 34 G
    {0, 0, 0, ext(35)},                        // 35 H
    {0, 0, 0, ext(36)},                        // 36 J
    {0, 0, 0, ext(37)},                        // 37 K
    {0, 0, 0, ext(38)},                        // 38 L
    {0, 0, 0, ext(39)},                        // 39 ;
    {0, 0, 0, ext(40)},                        // 40 '
    {0, 0, 0, ext(41)},                        // 41 `
    {0, 0, 0, 0},                              // 42 left Shift
    {0, 0, 0, 0},                              // 43 backslash
    {0, 0, 0, ext(44)},                        // 44 Z
    {0, 0, 0, ext(45)},                        // 45 X
    {0, 0, 0, ext(46)},                        // 46 C
    {0, 0, 0, ext(47)},                        // 47 V
    {0, 0, 0, ext(48)},                        // 48 B
    {0, 0, 0, ext(49)},                        // 49 N
    {0, 0, 0, ext(50)},                        // 50 M
    {0, 0, 0, ext(51)},                        // 51 ,
    {0, 0, 0, ext(52)},                        // 52 .
    {0, 0, 0, ext(53)},                        // 53 /
    {0, 0, 0, 0},                              // 54 right Shift
    {0, 0, 0, 0},                              // 55 keypad *
    {0, 0, 0, 0},                              // 56 Alt
    {0, 0, 0, 0},                              // 57 Space
    {0, 0, 0, 0},                              // 58 Caps Lock
    {ext(59), ext(84), ext(94), ext(104)},     // 59 F1
    {ext(60), ext(85), ext(95), ext(105)},     // 60 F2
    {ext(61), ext(86), ext(96), ext(106)},     // 61 F3
    {ext(62), ext(87), ext(97), ext(107)},     // 62 F4
    {ext(63), ext(88), ext(98), ext(108)},     // 63 F5
    {ext(64), ext(89), ext(99), ext(109)},     // 64 F6
    {ext(65), ext(90), ext(100), ext(110)},    // 65 F7
    {ext(66), ext(91), ext(101), ext(111)},    // 66 F8
    {ext(67), ext(92), ext(102), ext(112)},    // 67 F9
    {ext(68), ext(93), ext(103), ext(113)},    // 68 F10
    {0, 0, 0, 0},                              // 69 Num Lock
    {0, 0, 0, 0},                              // 70 Scroll Lock
    {ext(71), 0, ext(119), 0},                 // 71 keypad 7, Home
    {ext(72), 0, ext(141), 0},                 // 72 keypad 8, Up
    {ext(73), 0, ext(132), 0},                 // 73 keypad 9, Page Up
    {0, 0, 0, 0},                              // 74 keypad -
    {ext(75), 0, ext(115), 0},                 // 75 keypad 4, Left
    {ext(76), 0, ext(143), ext(76)},           // 76 keypad 5
    {ext(77), 0, ext(116), 0},                 // 77 keypad 6, Right
    {0, 0, 0, 0},                              // 78 keypad +
    {ext(79), 0, ext(117), 0},                 // 79 keypad 1, End
    {ext(80), 0, ext(145), 0},                 // 80 keypad 2, Down
    {ext(81), 0, ext(118), 0},                 // 81 keypad 3, Page Down
    {ext(82), 0, ext(146), 0},                 // 82 keypad 0, Insert
    {ext(83), 0, ext(147), 0},                 // 83 keypad ., Delete
    {0, 0, 0, 0},                              // 84
    {0, 0, 0, 0},                              // 85
    {0, 0, 0, 0},                              // 86
    {ext(133), ext(135), ext(137), ext(139)},  // 87 F11
    {ext(134), ext(136), ext(138), ext(140)},  // 88 F12
};

const uint16_t enhanced_key_table[12][5] = {
    {28, 13, 13, 10, ext(166)},                  // keypad Enter
    {53, 47, 63, ext(149), ext(164)},            // keypad /
    {71, ext(71), ext(71), ext(119), ext(151)},  // Home
    {72, ext(72), ext(72), ext(141), ext(152)},  // Up
    {73, ext(73), ext(73), ext(132), ext(153)},  // Page Up
    {75, ext(75), ext(75), ext(115), ext(155)},  // Left
    {77, ext(77), ext(77), ext(116), ext(157)},  // Right
    {79, ext(79), ext(79), ext(117), ext(159)},  // End
    {80, ext(80), ext(80), ext(145), ext(160)},  // Down
    {81, ext(81), ext(81), ext(118), ext(161)},  // Page Down
    {82, ext(82), ext(82), ext(146), ext(162)},  // Insert
    {83, ext(83), ext(83), ext(147), ext(163)},  // Delete
};

namespace {

// Close keys requested by console_ctrl_handler, which runs in a signal handler or on the
// console's control thread; the main thread moves them into the queue.
std::atomic<uint32_t> pending_close_keys{0};
static_assert(std::atomic<uint32_t>::is_always_lock_free,
              "signal handlers need lock-free counters");

int32_t extended_value(uint16_t entry) {
    return (entry & 0xFF00) | 0xFF;
}

// A layout character beyond one byte can equal no reported character, nor has it a case in
// the single-byte classification.
int swapped_case(int c) {
    if (c > 255) {
        return c;
    }
    if (std::isupper(c) != 0) {
        return std::tolower(c);
    }
    if (std::islower(c) != 0) {
        return std::toupper(c);
    }
    return c;
}

}  // namespace

void push_key(int32_t value) {
    key_queue.slots[key_queue.write_position] = value;
    const int64_t next = (key_queue.write_position + 1) % KEY_QUEUE_SLOTS;
    if (next == key_queue.read_position) {
        key_queue.read_position = (key_queue.read_position + 1) % KEY_QUEUE_SLOTS;
    }
    key_queue.write_position = next;
}

int32_t lookup_key_value(const key_event& event) {
    const uint32_t state = event.control_state;
    int column = 0;
    if ((state & (RIGHT_ALT_PRESSED | LEFT_ALT_PRESSED)) != 0) {
        column = 3;
    } else if ((state & (RIGHT_CTRL_PRESSED | LEFT_CTRL_PRESSED)) != 0) {
        column = 2;
    } else if ((state & SHIFT_PRESSED) != 0) {
        column = 1;
    }
    const int32_t reported = event.character;
    if ((state & ENHANCED_KEY) != 0 && reported == 0) {
        for (const auto& row : enhanced_key_table) {
            if (row[0] == event.scan_code) {
                const uint16_t entry = row[1 + column];
                return entry < 256 ? entry : extended_value(entry);
            }
        }
        return NO_KEY;
    }
    if (event.scan_code <= 88) {
        if (column == 0 && reported != 0) {
            return reported;
        }
        const int layout = layout_character(event.virtual_key);
        const uint16_t entry = scan_code_table[event.scan_code][column];
        if (entry >= 256 && (reported == layout || reported == swapped_case(layout))) {
            return extended_value(entry);
        }
    }
    return reported != 0 ? reported : NO_KEY;
}

void translate_key_event(const key_event& event) {
    const int32_t value = event.key_down ? lookup_key_value(event) : NO_KEY;
    const uint32_t state = event.control_state;
    const bool alt = (state & (RIGHT_ALT_PRESSED | LEFT_ALT_PRESSED)) != 0;
    const bool ctrl = (state & (RIGHT_CTRL_PRESSED | LEFT_CTRL_PRESSED)) != 0;
    const bool shift = (state & SHIFT_PRESSED) != 0;
    if (alt && !ctrl && !shift) {
        if (event.virtual_key >= VK_NUMPAD0 && event.virtual_key <= VK_NUMPAD0 + 9) {
            if (event.key_down) {
                alt_keypad_value = alt_keypad_value * 10 + (event.virtual_key - VK_NUMPAD0);
            }
            if (value != NO_KEY) {
                push_key(value);
            }
        } else if (value != NO_KEY) {
            alt_keypad_value = 0;
            push_key(value);
        }
    } else if (event.key_down && value != NO_KEY) {
        alt_keypad_value = 0;
        push_key(value);
    } else if (alt_keypad_value != 0) {
        push_key(static_cast<int32_t>(alt_keypad_value % 256));
        alt_keypad_value = 0;
    }
}

void queue_key_record(const key_event& event) {
    if (!event.key_down) {
        translate_key_event(event);
        return;
    }
    for (int i = 0; i < event.repeat_count; ++i) {
        translate_key_event(event);
    }
}

void install_ctrl_handler() {
    if (handler_installed) {
        return;
    }
    handler_installed = true;
    add_exit_step(remove_ctrl_handler);
    platform_install_ctrl_handler(console_ctrl_handler);
}

bool console_ctrl_handler(int event) {
    if (event < 0 || event > 6 || ((0x64 >> event) & 1) == 0) {
        return false;
    }
    pending_close_keys.fetch_add(1);
    return true;
}

void remove_ctrl_handler() {
    if (handler_installed) {
        platform_remove_ctrl_handler();
    }
}

void refill_key_queue() {
    install_ctrl_handler();
    const console_handle input = console_input_handle();
    if (pending_close_keys.load(std::memory_order_relaxed) != 0) {
        uint32_t closes = pending_close_keys.exchange(0);
        closes = closes < KEY_QUEUE_SLOTS ? closes : KEY_QUEUE_SLOTS;  // more would be dropped
        for (; closes > 0; --closes) {
            push_key(CLOSE_KEY);
        }
    }
    key_event records[KEY_RECORDS_PER_READ];
    size_t count = 0;
    while ((count = platform_read_key_records(input, records)) > 0) {
        for (size_t i = 0; i < count; ++i) {
            queue_key_record(records[i]);
        }
    }
}

std::string poll_key() {
    refill_key_queue();
    if (key_queue.read_position == key_queue.write_position) {
        return {};
    }
    const int32_t value = key_queue.slots[key_queue.read_position];
    key_queue.read_position = (key_queue.read_position + 1) % KEY_QUEUE_SLOTS;
    // Again after the take, so that keys wait in the queue rather than in the console: what
    // came in meanwhile is read now, behind this key, before the caller acts on it.
    refill_key_queue();
    if (value <= 255) {
        return std::string(1, static_cast<char>(value));
    }
    return std::string{static_cast<char>(value & 0xFF), static_cast<char>(value / 256)};
}

uint32_t char_code(std::string_view text, int64_t position) {
    if (position < 1 || position > static_cast<int64_t>(text.size())) {
        return 0;
    }
    return static_cast<unsigned char>(text[static_cast<size_t>(position - 1)]);
}
