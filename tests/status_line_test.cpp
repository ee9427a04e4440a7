// The status line's CPU figure: the field of its mask "##.##%" (the whole line's bytes are
// checked on the running program).
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>
#include <string>

#include "console/mask.h"

namespace {

TEST(StatusLine, CpuFigures) {
    const std::pair<double, const char*> rows[] = {
        {0.005, " 0.01"},
        {1.005, " 1.01"},
        {9.995, " 9.99"},
        {9.996, "10.00"},
        {99.995, "%100.00"},
        {999.999, "%1000.00"},
        {99999.994, "%99999.99"},
        {99999.995, "% 1.00E+5"},
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

}  // namespace
