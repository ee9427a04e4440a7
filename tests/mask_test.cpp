// The mask service: decimal conversion, the "##.##" field in all its forms, and the scan of
// masks into literal text and fields.
#include "console/mask.h"

#include <gtest/gtest.h>

#include <bit>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "console/print.h"
#include "tests/support/capture.h"

namespace {

constexpr mask_field cpu_field{2, true, 2};

TEST(SplitDecimal, KnownValues) {
    struct split_case {
        double x;
        uint64_t mantissa;
        int exponent;
    };
    const split_case cases[] = {
        {9.995, 9994999999999999, -15},   // the nearest double lies below 9.995
        {1.005, 1005000000000000, -15},   // ... and below 1.005, yet rounds up here
        {99.995, 9999500000000000, -14},  //
        {1.0, 1000000000000000, -15},
        {4503599627370496.0, 4503599627370496, 0},  // 2^52: no step changes it
        {9007199254740991.0, 9007199254740991, 0},  // 2^53 - 1
    };
    for (const split_case& c : cases) {
        SCOPED_TRACE(c.x);
        decimal_form form = split_decimal(c.x);
        EXPECT_EQ(form.mantissa, c.mantissa);
        EXPECT_EQ(form.exponent, c.exponent);
    }
}

// Every finite positive double, subnormals included: 16 digits (17 only for 10^16) and
// within a few parts in 10^16 of the value, computed independently in long double.
TEST(SplitDecimal, SixteenDigitsCloseToTheValue) {
    std::mt19937_64 random(1);
    std::vector<double> values = {std::numeric_limits<double>::denorm_min(),
                                  std::numeric_limits<double>::min(),
                                  std::numeric_limits<double>::max(),
                                  0.1,
                                  1e16,
                                  1e-300};
    for (int i = 0; i < 20000; ++i) {
        double x = std::bit_cast<double>(random() >> 1);
        if (std::isfinite(x) && x != 0) {
            values.push_back(x);
        }
    }
    for (double x : values) {
        decimal_form form = split_decimal(x);
        std::string digits = std::to_string(form.mantissa);
        ASSERT_TRUE(digits.size() == 16 || form.mantissa == 10000000000000000) << x;
        long double approx = static_cast<long double>(form.mantissa) *
                             std::pow(10.0L, static_cast<long double>(form.exponent));
        long double error = std::fabs(approx - x) / x;
        ASSERT_LT(error, 1e-15L) << std::hexfloat << x;
    }
}

// The bytes the status line's CPU figure becomes, through the real services.
std::string printed_cpu(double cpu_percent) {
    capture_start();
    mask_init("##.##%");
    print_masked_double(cpu_percent, PRINT_NEWLINE | PRINT_MASK_DONE);
    mask_end();
    return capture_stop();
}

double from_bits(uint64_t bits) {
    return std::bit_cast<double>(bits);
}

// Infinity and NaN keep the line's shape too: the field, "%", CR LF.
TEST(CpuField, TableOfFigures) {
    const std::pair<double, const char*> table[] = {
        {0, " 0.00%"},
        {0.004, " 0.00%"},
        {0.005, " 0.01%"},
        {0.125, " 0.13%"},
        {0.5, " 0.50%"},
        {0.995, " 1.00%"},
        {1.005, " 1.01%"},
        {3.125, " 3.13%"},
        {3.12, " 3.12%"},
        {0.0312 * 100.0, " 3.12%"},
        {9.995, " 9.99%"},
        {9.996, "10.00%"},
        {12.345, "12.35%"},
        {99.994, "99.99%"},
        {99.995, "%100.00%"},
        {99.996, "%100.00%"},
        {100, "%100.00%"},
        {123.456, "%123.46%"},
        {999.999, "%1000.00%"},
        {99999.994, "%99999.99%"},
        {99999.995, "% 1.00E+5%"},
        {123456.7, "% 1.23E+5%"},
        {1e10, "% 1.00E+%10%"},
        {std::numeric_limits<double>::max(), "% 1.80E+%308%"},
        {std::numeric_limits<double>::denorm_min(), " 0.00%"},
        {-0.0, "-0.00%"},
        {-0.004, "-0.00%"},
        {-1.5, "-1.50%"},
        {-9.996, "%-10.00%"},
        {-12345.6, "%-1.23E+4%"},
        {from_bits(0x7FF0000000000000), "% #INF%"},
        {from_bits(0xFFF0000000000000), "%-#INF%"},
        {from_bits(0xFFF8000000000000), "%-#IND%"},  // the processor's default NaN
        {from_bits(0x7FF8000000000000), "% #NAN%"},
        {from_bits(0x7FF0000000000001), "% #NAN%"},  // signalling
        {from_bits(0xFFFFFFFFFFFFFFFF), "%-#NAN%"},
        {from_bits(0xFFF8000000000001), "%-#NAN%"},
    };
    for (const auto& [value, written] : table) {
        SCOPED_TRACE(written);
        EXPECT_EQ(printed_cpu(value), std::string(written) + "\r\n");
    }
}

std::string printf_text(const char* format, double value) {
    char text[64];
    snprintf(text, sizeof text, format, value);
    return text;
}

// k / 100.0 shows exactly the digits of k, which printf's "%.2f" also gives for that double.
TEST(CpuField, HundredthsAgreeWithPrintf) {
    std::mt19937_64 random(2);
    std::vector<int64_t> ks = {0,       1,  5,  99,  100,  999,  1000,  9999,   10000,  99999,
                               9999999, -1, -5, -99, -100, -999, -1000, -99999, -999999};
    for (int i = 0; i < 300000; ++i) {
        ks.push_back(static_cast<int64_t>(random() % 10000000));
    }
    for (int i = 0; i < 100000; ++i) {
        ks.push_back(-1 - static_cast<int64_t>(random() % 999999));
    }
    for (int64_t k : ks) {
        double value = static_cast<double>(k) / 100.0;
        uint64_t magnitude = static_cast<uint64_t>(k < 0 ? -k : k);
        std::string digits = std::to_string(magnitude / 100) + "." +
                             std::to_string(magnitude % 100 / 10) + std::to_string(magnitude % 10);
        if (k < 0) {
            digits.insert(0, "-");
        }
        bool fits = k < 0 ? magnitude < 1000 : magnitude < 10000;
        std::string expected =
            fits ? printf_text("%5.2f", value) : "%" + printf_text("%.2f", value);
        ASSERT_EQ(expected, (fits && digits.size() < 5 ? " " : fits ? "" : "%") + digits) << k;
        ASSERT_EQ(format_field(value, cpu_field), expected) << k;
    }
}

// d.dd × 10^X for 5 ≤ X ≤ 300 shows the digits and exponent printf's "%.2E" gives.
TEST(CpuField, ExponentFormAgreesWithPrintf) {
    std::mt19937_64 random(3);
    for (int i = 0; i < 100000; ++i) {
        int mantissa = 100 + static_cast<int>(random() % 900);
        int power = 5 + static_cast<int>(random() % 296);
        char literal[32];
        snprintf(literal, sizeof literal, "%d.%02de%d", mantissa / 100, mantissa % 100, power);
        double value = strtod(literal, nullptr);
        std::string reference = printf_text("%.2E", value);  // "1.23E+05"
        size_t e = reference.find('E');
        int reference_power = atoi(reference.c_str() + e + 1);
        std::string expected = "% " + reference.substr(0, e) + "E+" +
                               (reference_power >= 10 ? "%" : "") + std::to_string(reference_power);
        ASSERT_EQ(format_field(value, cpu_field), expected) << literal;
    }
}

struct masked_case {
    const char* mask;
    std::vector<std::pair<double, int32_t>> prints;
    const char* expected;  // everything written, mask_end() included
};

TEST(MaskScan, LiteralTextAndFields) {
    const masked_case cases[] = {
        {"##.##%", {{3.12, 0}}, " 3.12%"},
        {"##.##%", {{3.12, PRINT_NEWLINE}}, " 3.12%\r\n"},
        {"##.##%", {{3.12, 4}}, " 3.12%"},                   // 4 means nothing here
        {"[##]", {{1, 0}, {2, 0}, {3, 0}}, "[ 1][ 2][ 3]"},  // starts over at the end
        {"a#b#c", {{1, 0}, {2, 0}, {3, 0}}, "a1b2ca3b"},
        {"ab#cd", {}, "ab"},                     // mask_end writes the pending literal text
        {"x.y%", {{5, 0}, {6, 0}}, "x.y%x.y%"},  // no field: the value is not shown
        {"", {{5, PRINT_NEWLINE}}, "\r\n"},
        {".#", {{0.5, 0}, {3.25, 0}, {-0.5, 0}}, ".5%3.3%-0.5"},
        {"#.#", {{-0.25, 0}, {7.25, 0}}, "-.37.3"},
        {"#.#.#", {{1.25, 0}, {0.25, 0}}, "1.3.3"},  // fields "#.#" and ".#"
        {"##.!", {{12.5, 0}}, "13.!"},               // the point belongs to the field
        {"#", {{7.5, 0}, {0, 0}, {-1, 0}, {1234, 0}, {12345, 0}}, "80%-1%1234% 1E+4"},
        {"%%##%%", {{1, 0}}, "%% 1%%"},
        {"<#>", {{1, PRINT_MASK_DONE}, {2, 0}}, "<1>"},  // released: nothing more
        {"###.###", {{-12.3456, 0}}, "-12.346"},
        {"##########.####", {{123456789.5, 0}}, " 123456789.5000"},
    };
    for (const masked_case& c : cases) {
        SCOPED_TRACE(c.mask);
        capture_start();
        mask_init(c.mask);
        for (const auto& [value, flags] : c.prints) {
            print_masked_double(value, flags);
        }
        mask_end();
        EXPECT_EQ(capture_stop(), c.expected);
    }
}

TEST(MaskScan, NoMaskWritesNothingButTheLineEnd) {
    capture_start();
    mask_end();
    print_masked_double(1, PRINT_NEWLINE);
    mask_end();
    EXPECT_EQ(capture_stop(), "\r\n");
}

}  // namespace
