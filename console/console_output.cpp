#include "console/console_output.h"

#include <string_view>

#include "console/handles.h"

namespace {

constexpr int default_line_width = 80;
constexpr int zone_width = 14;

bool output_prepared = false;
console_handle output_handle{};
int line_width = default_line_width;
int column = 0;

void prepare_output() {
    if (output_prepared) {
        return;
    }
    output_prepared = true;
    output_handle = console_output_handle();
    line_width = platform_line_width(output_handle);
}

void advance_column(std::string_view text) {
    size_t line_end = text.find_last_of("\r\n");
    if (line_end == std::string_view::npos) {
        column = static_cast<int>((column + text.size()) % static_cast<size_t>(line_width));
    } else {
        column = static_cast<int>((text.size() - line_end - 1) % static_cast<size_t>(line_width));
    }
}

}  // namespace

void console_write(const char* bytes, size_t length) {
    prepare_output();
    platform_console_write(output_handle, bytes, length);
    advance_column(std::string_view(bytes, length));
}

void move_to_next_zone() {
    prepare_output();
    int zone_start = (column / zone_width + 1) * zone_width;
    if (zone_start + 1 > line_width) {
        console_write("\r\n", 2);
        return;
    }
    static constexpr char blanks[zone_width + 1] = "              ";
    console_write(blanks, static_cast<size_t>(zone_start - column));
}
