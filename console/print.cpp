#include "console/print.h"

#include <charconv>

#include "console/console_output.h"
#include "console/mask.h"

namespace {

constexpr int32_t older_newline_flag = 4;

bool wants_line_end(int32_t flags) {
    return (flags & (PRINT_NEWLINE | older_newline_flag)) != 0;
}

// The text print_int64 writes for these flags.
std::string int64_text(int64_t value, int32_t flags) {
    char digits[24];
    // std::to_chars is locale-independent by definition.
    char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    std::string text = value < 0 ? "" : " ";
    text.append(digits, end);
    if ((flags & PRINT_TRAILING_BLANK) != 0) {
        text += ' ';
    }
    if (wants_line_end(flags)) {
        text += "\r\n";
    }
    return text;
}

}  // namespace

void print_string(std::string_view text, int32_t flags) {
    console_write(text.data(), text.size());
    if (wants_line_end(flags)) {
        console_write("\r\n", 2);
    } else if ((flags & PRINT_ZONE) != 0) {
        move_to_next_zone();
    }
}

void print_int64(int64_t value, int32_t flags) {
    std::string text = int64_text(value, flags);
    console_write(text.data(), text.size());
    if ((flags & PRINT_ZONE) != 0) {
        move_to_next_zone();
    }
}

void print_status_line(std::string_view clock, int64_t total, int64_t since_last,
                       double cpu_percent) {
    print_string("hit ctrl-C or ESC key to exit", 0);
    print_string(" ", 0);
    print_string(clock, 0);
    print_int64(total, 0);
    print_int64(since_last, 0);
    mask_init("##.##%");
    print_masked_double(cpu_percent, PRINT_NEWLINE | PRINT_MASK_DONE);
    mask_end();
}
