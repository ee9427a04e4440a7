// Printing a floating-point value through a mask such as "##.##%": literal text is written
// unchanged and each numeric field shows one value.
#ifndef DSPHOST_CONSOLE_MASK_H
#define DSPHOST_CONSOLE_MASK_H

#include <cstdint>
#include <string>
#include <string_view>

// A numeric field: "#" positions before an optional "." (integer positions) and after it
// (decimal positions). The status line's "##.##" is {2, true, 2}.
struct mask_field {
    int integer_positions = 0;
    bool has_point = false;
    int decimal_positions = 0;
};

// A magnitude as mantissa × 10^exponent; the mantissa has 16 decimal digits (17 only for
// 10^16, when the final rounding carries).
struct decimal_form {
    uint64_t mantissa = 0;
    int exponent = 0;
};

// The decimal form of a finite, nonzero magnitude (sign bit clear), computed in 64-bit integers.
// Not correctly rounded: the fields round this mantissa, not the double.
decimal_form split_decimal(double magnitude);

// The text a field shows for the value, rounded half up on split_decimal's mantissa to the
// field's decimal positions. The integer digits fit the integer positions (a minus sign takes
// one of them): blanks pad the text on the left to the field's width, and a lone "0" stands
// before the point when a position is free. Up to three digits more overflow: "%", the sign,
// every digit. Beyond that the exponent form: "%", blank or "-", the value rounded to one digit
// per decimal position plus one, "E+" and the power of ten, itself after "%" from 10 on.
// "##.##" shows " 3.12", "-0.00", "%123.46", "% 1.23E+5", "% 1.00E+%10".
std::string format_field(double value, const mask_field& field);

// Makes a copy of text the current mask, scan position at its start. Writes nothing.
void mask_init(std::string_view text);

// Writes the mask's literal text up to its next field, the value formatted by that field and
// the literal text behind it (starting the mask over when its end was reached), then acts on
// PRINT_NEWLINE, PRINT_ZONE and PRINT_MASK_DONE.
void print_masked_double(double value, int32_t flags);

// Writes the literal text still pending in the current mask, then releases the mask.
void mask_end();

#endif
