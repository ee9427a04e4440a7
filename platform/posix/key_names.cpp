#include "platform/posix/key_names.h"

#include "platform/posix/us_keyboard.h"

namespace {

// The key that types the printable character c (0x20 to 0x7E) on the US layout.
key_press printable_key(uint8_t c) {
    const us_key key = us_key_typing(c);
    return {key.virtual_key, key.scan_code, c, key.shift ? SHIFT : 0};
}

constexpr key_press key_home = {VK_HOME, 71, 0, ENHANCED_KEY};
constexpr key_press key_end = {VK_END, 79, 0, ENHANCED_KEY};
constexpr key_press key_up = {VK_UP, 72, 0, ENHANCED_KEY};
constexpr key_press key_down = {VK_DOWN, 80, 0, ENHANCED_KEY};
constexpr key_press key_right = {VK_RIGHT, 77, 0, ENHANCED_KEY};
constexpr key_press key_left = {VK_LEFT, 75, 0, ENHANCED_KEY};
constexpr key_press key_clear = {VK_CLEAR, 76, 0, 0};  // keypad 5 with Num Lock off
constexpr key_press no_key = {0, 0, 0, 0};

// CSI n ~ (and rxvt's $ ^ @ endings).
key_press numbered_key(int32_t n) {
    switch (n) {
        case 1:
        case 7:
            return key_home;
        case 2:
            return {VK_INSERT, 82, 0, ENHANCED_KEY};
        case 3:
            return {VK_DELETE, 83, 0, ENHANCED_KEY};
        case 4:
        case 8:
            return key_end;
        case 5:
            return {VK_PRIOR, 73, 0, ENHANCED_KEY};
        case 6:
            return {VK_NEXT, 81, 0, ENHANCED_KEY};
        case 11:
        case 12:
        case 13:
        case 14:
        case 15:
            return function_key(n - 10);
        case 17:
        case 18:
        case 19:
        case 20:
        case 21:
            return function_key(n - 11);
        case 23:
        case 24:
            return function_key(n - 12);
        default:
            return no_key;
    }
}

// CSI or SS3 with a letter: cursor keys, Home, End, keypad 5, F1-F4, Shift+Tab.
key_press lettered_key(uint8_t final) {
    switch (final) {
        case 'A':
            return key_up;
        case 'B':
            return key_down;
        case 'C':
            return key_right;
        case 'D':
            return key_left;
        case 'H':
            return key_home;
        case 'F':
            return key_end;
        case 'E':
        case 'G':
            return key_clear;
        case 'P':
        case 'Q':
        case 'R':
        case 'S':
            return function_key(final - 'P' + 1);
        default:
            return no_key;
    }
}

// rxvt's lower-case cursor letters (CSI a-d with Shift, SS3 a-d with Ctrl).
key_press rxvt_arrow(uint8_t final) {
    return lettered_key(static_cast<uint8_t>(final - 'a' + 'A'));
}

// SS3 in keypad application mode.
key_press keypad_key(uint8_t final) {
    static constexpr uint16_t digit_scan_codes[10] = {82, 79, 80, 81, 75, 76, 77, 71, 72, 73};
    if (final >= 'p' && final <= 'y') {
        const int digit = final - 'p';
        return {static_cast<uint16_t>(VK_NUMPAD0 + digit), digit_scan_codes[digit],
                static_cast<uint8_t>('0' + digit), 0};
    }
    switch (final) {
        case 'M':
            return {VK_RETURN, 28, 13, ENHANCED_KEY};
        case 'j':
            return {VK_MULTIPLY, 55, '*', 0};
        case 'k':
            return {VK_ADD, 78, '+', 0};
        case 'l':
            return {VK_SEPARATOR, 83, ',', 0};
        case 'm':
            return {VK_SUBTRACT, 74, '-', 0};
        case 'n':
            return {VK_DECIMAL, 83, '.', 0};
        case 'o':
            return {VK_DIVIDE, 53, '/', ENHANCED_KEY};
        default:
            return no_key;
    }
}

// What the console reports for a keypad key held with Ctrl or Alt: Alt with a keypad key
// reports no character; Ctrl+Enter reports line feed; Ctrl with keypad / reports none.
uint8_t keypad_character(const key_press& key, uint32_t state) {
    if ((state & ALT) != 0) {
        return 0;
    }
    if ((state & CTRL) != 0 && key.virtual_key == VK_RETURN) {
        return 10;
    }
    if ((state & CTRL) != 0 && key.virtual_key == VK_DIVIDE) {
        return 0;
    }
    return key.character;
}

// The xterm modifier parameter: 1 + Shift 1 + Alt 2 + Ctrl 4 (+ Meta 8, taken as Alt).
bool modifier_state(int32_t m, uint32_t* state) {
    if (m == -1) {
        m = 1;
    }
    if (m < 1 || m > 16) {
        return false;
    }
    const int32_t bits = m - 1;
    *state =
        ((bits & 1) != 0 ? SHIFT : 0) | ((bits & 10) != 0 ? ALT : 0) | ((bits & 4) != 0 ? CTRL : 0);
    return true;
}

// Modifiers of a sequence ending in a letter: none, "1;m", or for SS3 also a lone "m".
bool letter_modifiers(const key_decoder& d, uint32_t* state) {
    if (d.param_count == 0) {
        *state = 0;
        return true;
    }
    if (d.param_count == 1 && d.introducer == 'O') {
        return modifier_state(d.params[0], state);
    }
    if (d.params[0] != -1 && d.params[0] != 1) {
        return false;
    }
    if (d.param_count == 1) {
        *state = 0;
        return true;
    }
    return d.param_count == 2 && modifier_state(d.params[1], state);
}

}  // namespace

key_press byte_key(uint8_t b) {
    switch (b) {
        case 0x00:
            return {'2', 3, 0, CTRL};  // Ctrl+@ / Ctrl+Space, reported as character 0
        case 0x08:
        case 0x7F:
            return {VK_BACK, 14, 8, 0};
        case 0x09:
            return {VK_TAB, 15, 9, 0};
        case 0x0A:
        case 0x0D:
            return {VK_RETURN, 28, 13, 0};
        case ESC:
            return {VK_ESCAPE, 1, ESC, 0};
        default:
            break;
    }
    if (b < 0x20) {  // Ctrl with a letter, or with \ ] ^ _ (0x1C to 0x1F), as the layout has them
        const key_press key = printable_key(static_cast<uint8_t>(b < 0x1C ? b + 0x60 : b + 0x40));
        return {key.virtual_key, key.scan_code, b, key.state | CTRL};
    }
    if (b < 0x7F) {
        return printable_key(b);
    }
    return {0, 0, b, 0};  // a byte of UTF-8 or other 8-bit text
}

key_press function_key(int n) {
    const int scan = n <= 10 ? 58 + n : 87 + (n - 11);
    return {static_cast<uint16_t>(VK_F1 + n - 1), static_cast<uint16_t>(scan), 0, 0};
}

key_press sequence_key(const key_decoder& d, uint8_t final) {
    if (d.malformed || d.private_marker != 0 || d.intermediate != 0) {
        return no_key;
    }
    key_press key = no_key;
    uint32_t state = 0;
    if (d.introducer == '[') {
        if (final == '~' || final == '$' || final == '^' || final == '@') {
            if (d.param_count == 0 || d.params[0] < 0) {
                return no_key;
            }
            if (final == '~' && d.param_count == 2) {
                if (!modifier_state(d.params[1], &state)) {
                    return no_key;
                }
            } else if (d.param_count != 1) {
                return no_key;
            }
            state |= final == '$' ? SHIFT : final == '^' ? CTRL : final == '@' ? CTRL | SHIFT : 0;
            key = numbered_key(d.params[0]);
        } else if (final >= 'a' && final <= 'd') {
            if (d.param_count != 0) {
                return no_key;
            }
            key = rxvt_arrow(final);
            state = SHIFT;
        } else if (final == 'Z') {
            if (!letter_modifiers(d, &state)) {
                return no_key;
            }
            key = {VK_TAB, 15, 9, 0};
            state |= SHIFT;
        } else {
            if (!letter_modifiers(d, &state)) {
                return no_key;
            }
            key = lettered_key(final);
        }
    } else {
        if (final >= 'a' && final <= 'd') {
            if (d.param_count != 0) {
                return no_key;
            }
            key = rxvt_arrow(final);
            state = CTRL;
        } else {
            if (!letter_modifiers(d, &state)) {
                return no_key;
            }
            key = lettered_key(final);
            if (key.virtual_key == 0) {
                key = keypad_key(final);
                if (d.alt) {
                    state |= ALT;
                }
                key.character = keypad_character(key, state);
                // A keypad digit with Alt is Alt with the digit, as most terminals send it. A
                // terminal reports no release of Alt, so an Alt + keypad entry could only be
                // ended by guessing from the key after it: on a terminal there is none.
                if ((state & ALT) != 0 && final >= 'p' && final <= 'y') {
                    key = printable_key(static_cast<uint8_t>(final - 'p' + '0'));
                }
            }
        }
    }
    key.state |= state;
    return key;
}

key_press with_alt(key_press key) {
    key.state |= ALT;
    return key;
}
