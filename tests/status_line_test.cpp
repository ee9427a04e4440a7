// The status line's bytes: the print services, the masked CPU figure, the output column and
// print zones, and whole lines, as written to standard output (a file here).
#include <gtest/gtest.h>
#ifdef _WIN32
#include "platform/windows/windows_headers.h"
#else
#include <unistd.h>
#endif

#include <bit>
#include <cmath>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "console/console_output.h"
#include "console/mask.h"
#include "console/print.h"

namespace {

#ifdef _WIN32
// The console keeps the output handle it fetched first (any test's first key poll or write
// fetches it): standard output is one temporary file for the whole run, set before the tests.
const HANDLE output_file = [] {
    char name[MAX_PATH];
    GetTempFileNameA(".", "dsp", 0, name);
    const HANDLE handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    SetStdHandle(STD_OUTPUT_HANDLE, handle);
    return handle;
}();
#endif

// What the calls write to standard output.
std::string written(const std::function<void()>& calls) {
#ifdef _WIN32
    const HANDLE file = output_file;
    LARGE_INTEGER start{};
    SetFilePointerEx(file, LARGE_INTEGER{}, &start, FILE_END);
    calls();
    LARGE_INTEGER end{};
    SetFilePointerEx(file, LARGE_INTEGER{}, &end, FILE_END);
    std::string text(static_cast<size_t>(end.QuadPart - start.QuadPart), '\0');
    DWORD got = 0;
    SetFilePointerEx(file, start, nullptr, FILE_BEGIN);
    ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &got, nullptr);
    return text.substr(0, got);
#else
    FILE* file = std::tmpfile();
    const int saved = dup(STDOUT_FILENO);
    dup2(fileno(file), STDOUT_FILENO);
    calls();
    dup2(saved, STDOUT_FILENO);
    close(saved);
    std::string text(static_cast<size_t>(std::ftell(file)), '\0');
    std::rewind(file);
    text.resize(std::fread(text.data(), 1, text.size(), file));
    std::fclose(file);
    return text;
#endif
}

std::string printf_text(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// The CPU figure as the status line writes it, without the line end.
std::string cpu_field(double cpu_percent) {
    const std::string line = written([&] { print_status_line("", 0, 0, cpu_percent); });
    return line.substr(line.find("exit  0 0") + 9, line.size() - 11 - line.find("exit  0 0"));
}

TEST(StatusLine, CpuFigures) {
    const std::pair<double, const char*> rows[] = {
        {0.005, " 0.01%"},
        {0.5, " 0.50%"},
        {1.005, " 1.01%"},
        {9.995, " 9.99%"},
        {9.996, "10.00%"},
        {99.995, "%100.00%"},
        {999.999, "%1000.00%"},
        {99999.994, "%99999.99%"},
        {99999.995, "% 1.00E+5%"},
        {1e10, "% 1.00E+%10%"},
        {1.7976931348623157e308, "% 1.80E+%308%"},
        {4.9406564584124654e-324, " 0.00%"},
        {-0.0, "-0.00%"},
        {-0.004, "-0.00%"},
        {-9.996, "%-10.00%"},
        {-12345.6, "%-1.23E+4%"},
        {std::bit_cast<double>(0x7FF0000000000000), "% #INF%"},
        {std::bit_cast<double>(0xFFF0000000000000), "%-#INF%"},
        {std::bit_cast<double>(0xFFF8000000000000), "%-#IND%"},  // the processor's default NaN
        {std::bit_cast<double>(0x7FF8000000000001), "% #NAN%"},
    };
    for (const auto& [value, text] : rows) {
        EXPECT_EQ(cpu_field(value), text) << value;
    }
}

// k / 100 shows the digits printf's "%.2f" gives; d.dd × 10^X those of "%.2E".
TEST(StatusLine, CpuFieldAgreesWithPrintf) {
    const mask_field field{2, true, 2};
    std::mt19937_64 random(2);
    for (int i = 0; i < 200000; ++i) {
        const int64_t k = static_cast<int64_t>(random() % 10999999) - 999999;
        const double value = static_cast<double>(k) / 100.0;
        const bool fits = k < 0 ? k > -1000 : k < 10000;
        ASSERT_EQ(format_field(value, field),
                  fits ? printf_text("%5.2f", value) : "%" + printf_text("%.2f", value))
            << k;
    }
    for (int i = 0; i < 50000; ++i) {
        const double value = static_cast<double>(100 + random() % 900) / 100.0 *
                             std::stod("1e" + std::to_string(5 + random() % 296));
        const std::string reference = printf_text("%.2E", value);  // "1.23E+05"
        const int power = std::stoi(reference.substr(reference.find('E') + 1));
        ASSERT_EQ(format_field(value, field), "% " + reference.substr(0, 4) + "E+" +
                                                  (power >= 10 ? "%" : "") + std::to_string(power))
            << reference;
    }
}

// The decimal form the field rounds: exact for the telling values, and within a few parts in
// 10^16 of any finite double, with 16 digits (17 only for 10^16), computed in long double.
TEST(StatusLine, DecimalForm) {
    EXPECT_EQ(split_decimal(9.995).mantissa, 9994999999999999u);  // below 9.995
    EXPECT_EQ(split_decimal(1.005).mantissa, 1005000000000000u);  // below 1.005, rounds up
    EXPECT_EQ(split_decimal(99.995).exponent, -14);
    std::mt19937_64 random(1);
    for (int i = 0; i < 20000; ++i) {
        const double x = std::bit_cast<double>(random() >> 1);
        if (!std::isfinite(x) || x == 0) continue;
        const decimal_form form = split_decimal(x);
        ASSERT_TRUE(std::to_string(form.mantissa).size() == 16 ||
                    form.mantissa == 10000000000000000)
            << x;
        ASSERT_LT(std::fabs(form.mantissa * std::pow(10.0L, form.exponent) - x) / x, 1e-15L) << x;
    }
}

TEST(StatusLine, MasksAndFlags) {
    const std::pair<std::function<void()>, std::string> rows[] = {
        {[] { print_int64(8000, 0); }, " 8000"},
        {[] { print_int64(-5, PRINT_TRAILING_BLANK); }, "-5 "},
        {[] { print_int64(0, PRINT_NEWLINE); }, " 0\r\n"},
        {[] { print_int64(INT64_MIN, PRINT_TRAILING_BLANK | 4); }, "-9223372036854775808 \r\n"},
        {[] { print_string("ab", 4); }, "ab\r\n"},
        {[] { print_string("", PRINT_NEWLINE | PRINT_ZONE); }, "\r\n"},
        {[] { print_string("abc", PRINT_ZONE); }, "abc           "},
        {[] { print_int64(5, PRINT_ZONE); }, " 5            "},
        {[] { print_string(std::string(70, 'x'), PRINT_ZONE); }, std::string(70, 'x') + "\r\n"},
        {[] { print_string("ab\r\ncd", PRINT_ZONE); }, "ab\r\ncd            "},
        {[] { mask_init("#"), mask_end(), print_masked_double(1, PRINT_NEWLINE); }, "\r\n"},
    };
    for (const auto& [calls, text] : rows) {
        written([] { console_write("\r\n", 2); });  // column 0
        EXPECT_EQ(written(calls), text);
    }
    // A mask, the values printed through it with their flags, and all that is written, the
    // pending literal text that mask_end writes included.
    using prints = std::vector<std::pair<double, int32_t>>;
    const std::tuple<const char*, prints, const char*> masks[] = {
        {"[##]", {{1, 0}, {2, 0}, {3, 0}}, "[ 1][ 2][ 3]"},  // starts over at the end
        {"a#b#c", {{1, 4}, {2, 0}}, "a1b2c"},                // 4 means nothing here
        {"ab#cd", {}, "ab"},
        {"<#>", {{1, PRINT_MASK_DONE}, {2, 0}}, "<1>"},  // released: nothing more
        {"#.#.#", {{1.25, 0}, {0.25, 0}}, "1.3.3"},      // fields "#.#" and ".#"
        {"x.y%", {{5, PRINT_ZONE}}, "x.y%          "},   // no field: the value not shown
        {"###.###", {{-12.3456, PRINT_NEWLINE}}, "-12.346\r\n"},
        {"", {{5, PRINT_NEWLINE}}, "\r\n"},
    };
    for (const auto& [mask, values, text] : masks) {
        written([] { console_write("\r\n", 2); });
        EXPECT_EQ(written([&] {
                      mask_init(mask);
                      for (const auto& [value, flags] : values) print_masked_double(value, flags);
                      mask_end();
                  }),
                  text)
            << mask;
    }
}

TEST(StatusLine, WholeLines) {
    const std::tuple<const char*, int64_t, int64_t, double, const char*> rows[] = {
        {"12:34:56", 123456, 8000, 3.12, "12:34:56 123456 8000 3.12%"},
        {"09:05:07", 0, 0, 0, "09:05:07 0 0 0.00%"},
        {"23:59:59", 1234567890, 8000, 123.456, "23:59:59 1234567890 8000%123.46%"},
        {"", 123456, 8000, 3.12, " 123456 8000 3.12%"},
        {"00:00:00", 5, -5, 0, "00:00:00 5-5 0.00%"},
    };
    for (const auto& [clock, total, since, cpu, text] : rows) {
        EXPECT_EQ(written([&] { print_status_line(clock, total, since, cpu); }),
                  std::string("hit ctrl-C or ESC key to exit ") + text + "\r\n");
    }
}

}  // namespace
