#include "platform/posix/us_keyboard.h"

#include <cstddef>
#include <cstring>

#include "platform/platform.h"

namespace {

// The printable keys: runs of consecutive scan codes with the character each gives without
// and with Shift.
struct layout_run {
    uint16_t first_scan_code;
    const char* plain;
    const char* shifted;
};

constexpr layout_run layout_runs[] = {
    {2, "1234567890-=", "!@#$%^&*()_+"},
    {16, "qwertyuiop[]", "QWERTYUIOP{}"},
    {30, "asdfghjkl;'`", "ASDFGHJKL:\"~"},
    {43, "\\zxcvbnm,./", "|ZXCVBNM<>?"},
    {57, " ", " "},
};

// The punctuation keys: the virtual key and the character it types without Shift.
struct punctuation_key {
    uint16_t virtual_key;
    char plain;
};

constexpr punctuation_key punctuation_keys[] = {
    {VK_OEM_1, ';'},      {VK_OEM_PLUS, '='}, {VK_OEM_COMMA, ','}, {VK_OEM_MINUS, '-'},
    {VK_OEM_PERIOD, '.'}, {VK_OEM_2, '/'},    {VK_OEM_3, '`'},     {VK_OEM_4, '['},
    {VK_OEM_5, '\\'},     {VK_OEM_6, ']'},    {VK_OEM_7, '\''},
};

uint16_t virtual_key_of_plain(char plain) {
    if ((plain >= '0' && plain <= '9') || plain == ' ') {
        return static_cast<uint16_t>(plain);
    }
    if (plain >= 'a' && plain <= 'z') {
        return static_cast<uint16_t>(plain - 'a' + 'A');
    }
    for (const punctuation_key& key : punctuation_keys) {
        if (key.plain == plain) {
            return key.virtual_key;
        }
    }
    return 0;
}

}  // namespace

us_key us_key_typing(uint8_t c) {
    for (const layout_run& run : layout_runs) {
        const size_t length = std::strlen(run.plain);
        for (size_t i = 0; i < length; ++i) {
            const bool plain = run.plain[i] == static_cast<char>(c);
            if (plain || run.shifted[i] == static_cast<char>(c)) {
                const auto scan = static_cast<uint16_t>(run.first_scan_code + i);
                return {virtual_key_of_plain(run.plain[i]), scan, !plain};
            }
        }
    }
    return {0, 0, false};
}

// A terminal sends no layout: the US keyboard's characters, as the decoder names keys.
uint16_t layout_character(uint16_t virtual_key) {
    if ((virtual_key >= '0' && virtual_key <= '9') || (virtual_key >= 'A' && virtual_key <= 'Z')) {
        return static_cast<uint8_t>(virtual_key);
    }
    if (virtual_key >= VK_NUMPAD0 && virtual_key <= VK_NUMPAD0 + 9) {
        return static_cast<uint8_t>('0' + virtual_key - VK_NUMPAD0);
    }
    for (const punctuation_key& key : punctuation_keys) {
        if (key.virtual_key == virtual_key) {
            return static_cast<uint8_t>(key.plain);
        }
    }
    switch (virtual_key) {
        case VK_BACK:
            return 8;
        case VK_TAB:
            return 9;
        case VK_RETURN:
            return 13;
        case VK_ESCAPE:
            return 27;
        case VK_SPACE:
            return ' ';
        case VK_MULTIPLY:
            return '*';
        case VK_ADD:
            return '+';
        case VK_SUBTRACT:
            return '-';
        case VK_DECIMAL:
            return '.';
        case VK_DIVIDE:
            return '/';
        default:
            return 0;
    }
}
