// The print services and the clock string, checked through the real output path into a
// captured standard output.
#include "console/print.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <clocale>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "console/clock.h"
#include "console/mask.h"
#include "tests/support/audio_env.h"
#include "tests/support/capture.h"
#include "tests/support/status_print.h"

namespace {

std::string printed_int64(int64_t value, int32_t flags) {
    capture_start();
    print_int64(value, flags);
    return capture_stop();
}

std::string printed_string(std::string_view text, int32_t flags) {
    capture_start();
    print_string(text, flags);
    return capture_stop();
}

struct int64_case {
    int64_t value;
    int32_t flags;
    const char* expected;
};

TEST(PrintInt64, WritesTheFormatTheFlagsChoose) {
    const int64_case cases[] = {
        // The digits themselves are checked against printf below.
        {7, 0, " 7"},
        {7, PRINT_TRAILING_BLANK, " 7 "},
        {7, PRINT_NEWLINE, " 7\r\n"},
        {7, 4, " 7\r\n"},
        {7, PRINT_NEWLINE | 4, " 7\r\n"},
        {7, PRINT_TRAILING_BLANK | PRINT_NEWLINE, " 7 \r\n"},
        {-7, PRINT_TRAILING_BLANK | 4, "-7 \r\n"},
        {7, PRINT_MASK_DONE, " 7"},
        {7, 8 | 32 | 64, " 7"},
    };
    for (const int64_case& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(printed_int64(c.value, c.flags), c.expected);
    }
}

TEST(PrintInt64, MatchesPrintfWithTheSpaceFlag) {
    std::mt19937_64 random(64);
    std::vector<int64_t> values = {INT64_MIN, INT64_MIN + 1, -1, 0, 1, INT64_MAX};
    for (int i = 0; i < 2000; ++i) {
        int64_t v = static_cast<int64_t>(random());
        values.push_back(v >> (random() % 64));  // all magnitudes
    }
    capture_start();
    std::string expected;
    for (int64_t v : values) {
        print_int64(v, 0);
        char text[32];
        snprintf(text, sizeof text, "% " PRId64, v);
        expected += text;
    }
    EXPECT_EQ(capture_stop(), expected);
}

struct string_case {
    std::string text;
    int32_t flags;
    std::string expected;
};

TEST(PrintString, WritesTheBytesUnchangedThenActsOnTheFlags) {
    const string_case cases[] = {
        {"hit ctrl-C or ESC key to exit", 0, "hit ctrl-C or ESC key to exit"},
        {"", 0, ""},
        {"abc", PRINT_NEWLINE, "abc\r\n"},
        {"", PRINT_NEWLINE, "\r\n"},
        {"abc", 4, "abc\r\n"},
        {"abc", PRINT_TRAILING_BLANK, "abc"},
        {"abc", PRINT_MASK_DONE, "abc"},
        {std::string("a\0\a\b\t\r\n\x1b\xff z", 11), 0, std::string("a\0\a\b\t\r\n\x1b\xff z", 11)},
    };
    for (const string_case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.expected));
        EXPECT_EQ(printed_string(c.text, c.flags), c.expected);
    }
}

struct line_case {
    const char* clock;
    int64_t count;
    int64_t shown;
    double cpu_load;
    const char* expected;
};

const line_case example_lines[] = {
    {"12:34:56", 123456, 115456, 0.0312,
     "hit ctrl-C or ESC key to exit 12:34:56 123456 8000 3.12%\r\n"},
    {"09:05:07", 0, 0, 0, "hit ctrl-C or ESC key to exit 09:05:07 0 0 0.00%\r\n"},
    {"23:59:59", 1234567890, 1234559890, 1.23456,
     "hit ctrl-C or ESC key to exit 23:59:59 1234567890 8000%123.46%\r\n"},
    {"", 123456, 115456, 0.0312, "hit ctrl-C or ESC key to exit  123456 8000 3.12%\r\n"},
    {"00:00:00", 8000, 8005, 0.0312, "hit ctrl-C or ESC key to exit 00:00:00 8000-5 3.12%\r\n"},
};

TEST(StatusLine, ExampleLinesComeOutByteForByte) {
    for (const line_case& c : example_lines) {
        SCOPED_TRACE(c.expected);
        capture_start();
        print_status_line(c.clock, c.count, c.shown, c.cpu_load);
        EXPECT_EQ(capture_stop(), c.expected);
    }
}

// Restores the locale a test changed.
struct locale_guard {
    std::string saved = setlocale(LC_ALL, nullptr);
    ~locale_guard() { setlocale(LC_ALL, saved.c_str()); }
};

TEST(StatusLine, NumbersIgnoreTheLocale) {
    locale_guard guard;
    ASSERT_NE(setlocale(LC_ALL, "de_DE.UTF-8"), nullptr) << "install locales-all";
    ASSERT_STREQ(localeconv()->decimal_point, ",");  // the locale really is in force
    ASSERT_STREQ(localeconv()->thousands_sep, ".");

    capture_start();
    print_status_line("12:34:56", 1234567890, 1234559890, 1.23456);
    print_status_line("12:34:56", 123456, 115456, 0.0312);
    print_status_line("12:34:56", 0, 0, 1234.567);
    print_int64(-1234567, PRINT_TRAILING_BLANK);
    EXPECT_EQ(capture_stop(),
              "hit ctrl-C or ESC key to exit 12:34:56 1234567890 8000%123.46%\r\n"
              "hit ctrl-C or ESC key to exit 12:34:56 123456 8000 3.12%\r\n"
              "hit ctrl-C or ESC key to exit 12:34:56 0 0% 1.23E+5%\r\n"
              "-1234567 ");
    EXPECT_EQ(format_field(99999.994, {2, true, 2}), "%99999.99");
}

// The clock string of a fresh process under a fake clock and a time zone, and a line end.
std::string probe_clock(const char* time_zone, const char* fake_time) {
    std::vector<std::string> set = faketime_environment(DSPHOST_FAKETIME_LIBRARY, fake_time);
    set.push_back(std::string("TZ=") + time_zone);
    const watched_run run = run_watched({STATUS_PROBE_PATH, "clock"}, set, {}, 30.0);
    if (!run.exited || run.exit_code != 0) return "probe failed: " + describe_run(run);
    return run.out;
}

// The wall clock alone is moved, so a clock string read from another clock shows.
TEST(ClockString, FollowsAMovedClockAndTheLocalTimeZone) {
    struct clock_case {
        const char* time_zone;
        const char* fake_time;  // read by the time library in local time
        const char* expected;
    };
    const clock_case cases[] = {
        {"UTC", "2024-03-05 09:05:07", "09:05:07\n"},
        {"UTC", "2024-12-31 23:59:59", "23:59:59\n"},
        {"UTC", "2024-01-01 00:00:00", "00:00:00\n"},
        // Same local time in another zone: the text is the local, not the universal, time.
        {"Asia/Kolkata", "2024-03-05 09:05:07", "09:05:07\n"},
        {"America/New_York", "2024-07-01 13:14:15", "13:14:15\n"},
        // A calendar time whose year no broken-down time can hold: the empty text.
        {"UTC", "+100000000000000000", "\n"},
    };
    for (const clock_case& c : cases) {
        SCOPED_TRACE(std::string(c.time_zone) + " " + c.fake_time);
        EXPECT_EQ(probe_clock(c.time_zone, c.fake_time), c.expected);
    }
}

}  // namespace
