// Polls the keyboard in a loop like the main routine, for tests on a pseudo-terminal. Prints
// each key it gets as a line of decimal codes ("97", "255 59"). On a key whose first code is
// 27 or 3 it prints "nonblock 0" (or 1 when standard input has O_NONBLOCK set) and ends with
// status 0.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "console/keyboard.h"

namespace {

void print(const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = write(STDOUT_FILENO, text.data() + done, text.size() - done);
        if (written <= 0) {
            return;
        }
        done += static_cast<size_t>(written);
    }
}

}  // namespace

int main() {
    for (;;) {
        const std::string key = poll_key();
        if (key.empty()) {
            continue;
        }
        std::string line;
        for (size_t i = 1; i <= key.size(); ++i) {
            line += (i > 1 ? " " : "") + std::to_string(char_code(key, static_cast<int64_t>(i)));
        }
        print(line + "\n");
        const uint32_t key_code = char_code(key, 1);
        if (key_code == 27 || key_code == 3) {
            const bool nonblock = (fcntl(STDIN_FILENO, F_GETFL) & O_NONBLOCK) != 0;
            print(nonblock ? "nonblock 1\n" : "nonblock 0\n");
            std::exit(0);
        }
    }
}
