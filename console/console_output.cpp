#include "console/console_output.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "console/handles.h"

namespace {

constexpr int default_line_width = 80;
constexpr int zone_width = 14;

bool output_prepared = false;
int output_fd = -1;
int line_width = default_line_width;
int column = 0;

void prepare_output() {
    if (output_prepared) {
        return;
    }
    output_prepared = true;
    output_fd = console_output_handle();
    line_width = line_width_of(output_fd);
}

// Waits until fd takes bytes again; false when it cannot be waited on.
bool wait_writable(int fd) {
    pollfd entry{fd, POLLOUT, 0};
    while (poll(&entry, 1, -1) < 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

void write_all(int fd, const char* bytes, size_t length) {
    while (length > 0) {
        ssize_t written = write(fd, bytes, length);
        if (written > 0) {
            bytes += written;
            length -= static_cast<size_t>(written);
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // Standard output may share a non-blocking file description with the keyboard;
            // wait as a blocking write would rather than lose part of the line.
            if (!wait_writable(fd)) {
                return;
            }
        } else {
            return;
        }
    }
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
    write_all(output_fd, bytes, length);
    advance_column(std::string_view(bytes, length));
}

int output_column() {
    return column;
}

int output_line_width() {
    prepare_output();
    return line_width;
}

int line_width_of(int fd) {
    winsize size{};
    if (isatty(fd) != 0 && ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return default_line_width;
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
