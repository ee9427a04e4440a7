// Small pieces that many tests share: the kind of build, a monotonic clock, scratch
// directories, whole files, the status lines a run printed, and environment settings for
// children.
#ifndef DSPHOST_TESTS_SUPPORT_TEST_UTIL_H
#define DSPHOST_TESTS_SUPPORT_TEST_UTIL_H

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Under a sanitizer a fault signal is reported by the sanitizer's own handler, which the
// program passes it on to; the process then exits with an error status instead.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool sanitizer_build = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool sanitizer_build = true;
#else
constexpr bool sanitizer_build = false;
#endif
#else
constexpr bool sanitizer_build = false;
#endif

// Names the cases of a parameterised test after their rows' `name` member (a C string that is
// a valid test name).
struct row_names {
    template <class Row>
    std::string operator()(const testing::TestParamInfo<Row>& info) const {
        return info.param.name;
    }
};

// Milliseconds on the monotonic clock.
int64_t now_ms();

// A fresh directory under /tmp (short, so socket paths fit), or "" on failure.
std::string make_temp_dir(const std::string& prefix);
// Removes a directory made by make_temp_dir with everything in it.
void remove_temp_dir(const std::string& dir);

// A fresh directory for one test case, removed with everything in it at the end.
struct scratch_dir {
    std::string path = make_temp_dir("dsphost-test");
    scratch_dir() = default;
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;
    ~scratch_dir() { remove_temp_dir(path); }
};

// A whole file's bytes ("" when it cannot be read), and writing them (false on failure).
std::string read_file(const std::string& path);
bool write_file(const std::string& path, const std::string& bytes);

// How often needle occurs in text, without overlaps.
size_t count_of(std::string_view text, std::string_view needle);

struct status_line {
    std::string clock;  // the time of day, "hh:mm:ss"
    int64_t total = 0;
    int64_t since_last = 0;
    std::string cpu;  // the CPU field without its closing "%"
};

// The status lines in the bytes a run wrote. Every line must be a well-formed status line
// that ends in exactly line_end ("\r\n" in a file; a terminal that maps LF to CR LF shows
// "\r\r\n"), and the bytes must end with a complete line; failures are reported to the
// running test.
std::vector<status_line> parse_status(std::string_view bytes, std::string_view line_end);

// Seconds from one line's time of day to the next one's, across midnight.
int clock_step(const status_line& from, const status_line& to);
// Whether the next line's time of day is earlier than the line's before it: midnight passed.
bool crossed_midnight(const status_line& from, const status_line& to);

// The environment of this process with the entries of `set` ("NAME=value") in place of the
// variables of those names, and without the variables named in `unset`.
std::vector<std::string> child_environment(const std::vector<std::string>& set,
                                           const std::vector<std::string>& unset = {});

// The strings as the null-terminated array that execve takes; valid while strings lives.
std::vector<char*> c_pointers(std::vector<std::string>& strings);

// "NAME=value" where value is the variable's value in this process followed by extra (for
// option lists such as ASAN_OPTIONS).
std::string appended_to(const char* name, const std::string& extra);

// Settings that run a child under the fake time library with the FAKETIME setting
// `faketime`. Only the wall clock is moved: the monotonic clock that times the Esc key runs
// as usual. The library is preloaded ahead of the sanitizer runtime.
std::vector<std::string> faketime_environment(const char* library, const std::string& faketime);

#endif
