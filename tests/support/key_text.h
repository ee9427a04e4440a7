// Key strings as key polling gives them, for the keyboard tests. Header only: those tests link
// the console library and nothing of the test support.
#ifndef DSPHOST_TESTS_SUPPORT_KEY_TEXT_H
#define DSPHOST_TESTS_SUPPORT_KEY_TEXT_H

#include <string>

// A character key: the one byte `code`.
inline std::string ch(int code) {
    return std::string(1, static_cast<char>(code));
}

// An extended key: 255, then `code`.
inline std::string ext(int code) {
    return std::string{static_cast<char>(255), static_cast<char>(code)};
}

#endif
