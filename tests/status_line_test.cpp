// The status line's bytes: the CPU figure's field, and whole lines as written to standard
// output (a file here).
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

TEST(StatusLine, CpuFigures) {
    const std::pair<double, const char*> rows[] = {
        {0.005, " 0.01"},
        {0.5, " 0.50"},
        {1.005, " 1.01"},
        {9.995, " 9.99"},
        {9.996, "10.00"},
        {99.995, "%100.00"},
        {999.999, "%1000.00"},
        {99999.994, "%99999.99"},
        {99999.995, "% 1.00E+5"},
        {1e10, "% 1.00E+%10"},
        {1.7976931348623157e308, "% 1.80E+%308"},
        {4.9406564584124654e-324, " 0.00"},
        {-0.0, "-0.00"},
        {-0.004, "-0.00"},
        {-9.996, "%-10.00"},
        {-12345.6, "%-1.23E+4"},
        {std::bit_cast<double>(0x7FF0000000000000), "% #INF"},
        {std::bit_cast<double>(0xFFF0000000000000), "%-#INF"},
        {std::bit_cast<double>(0xFFF8000000000000), "%-#IND"},  // the processor's default NaN
        {std::bit_cast<double>(0x7FF8000000000001), "% #NAN"},
    };
    for (const auto& [value, text] : rows) {
        EXPECT_EQ(format_field(value, mask_field{2, true, 2}), text) << value;
    }
}

// The decimal form the field rounds: within a few parts in 10^16 of any finite double, with 16
// digits (17 only for 10^16), computed in long double.
TEST(StatusLine, DecimalForm) {
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
