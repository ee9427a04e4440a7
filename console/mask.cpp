#include "console/mask.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <utility>

#include "console/console_output.h"
#include "console/print.h"

namespace {

// --- Decimal digits -----------------------------------------------------------------------

int digit_count(uint64_t value) {
    int count = 1;
    while (value >= 10) {
        value /= 10;
        ++count;
    }
    return count;
}

uint64_t power_of_ten(int k) {
    uint64_t power = 1;
    while (k-- > 0) {
        power *= 10;
    }
    return power;
}

// Adds one to a string of decimal digits; "" counts as zero and becomes "1".
void increment_digits(std::string& digits) {
    for (size_t i = digits.size(); i-- > 0;) {
        if (digits[i] != '9') {
            ++digits[i];
            return;
        }
        digits[i] = '0';
    }
    digits.insert(digits.begin(), '1');
}

// The first keep digits, rounded half up on the digits dropped; "" when nothing is kept and
// the value rounds to zero. The result has one digit more than keep when the rounding carries.
std::string round_digits(const std::string& digits, long keep) {
    if (keep < 0) {
        return "";
    }
    if (static_cast<size_t>(keep) >= digits.size()) {
        return digits;
    }
    std::string kept = digits.substr(0, static_cast<size_t>(keep));
    if (digits[static_cast<size_t>(keep)] >= '5') {
        increment_digits(kept);
    }
    return kept;
}

// --- Field forms --------------------------------------------------------------------------

constexpr uint64_t sign_bit = uint64_t{1} << 63;
constexpr uint64_t exponent_bits = uint64_t{0x7FF} << 52;
constexpr uint64_t fraction_bits = (uint64_t{1} << 52) - 1;
constexpr uint64_t default_nan_bits = 0xFFF8000000000000;

// Infinity and NaN have no digits. They are shown in the overflow form with their sign and
// a marker text, never cut to the field's decimal places: "% #INF" or "%-#INF" for infinity,
// "%-#IND" for the processor's default NaN (bits 0xFFF8000000000000), "% #NAN" or "%-#NAN"
// for any other NaN.
std::string special_text(uint64_t bits) {
    std::string text = (bits & sign_bit) != 0 ? "%-" : "% ";
    if ((bits & fraction_bits) == 0) {
        return text + "#INF";
    }
    return text + (bits == default_nan_bits ? "#IND" : "#NAN");
}

// The value as the field shows it in the fitting and overflow forms: rounded digits scaled to
// the field's decimal places, split into integer digits and decimal digits.
struct fixed_digits {
    std::string integer;
    std::string decimals;
};

fixed_digits split_fixed(const std::string& rounded, int exponent, int decimal_positions) {
    std::string scaled = rounded;
    if (!scaled.empty()) {
        int zeros = exponent + decimal_positions;
        scaled.append(static_cast<size_t>(zeros), '0');
    }
    size_t decimals = static_cast<size_t>(decimal_positions);
    if (scaled.size() < decimals) {
        scaled.insert(0, decimals - scaled.size(), '0');
    }
    size_t split = scaled.size() - decimals;
    return {scaled.substr(0, split), scaled.substr(split)};
}

std::string exponent_text(const decimal_form& form, bool negative, const mask_field& field) {
    size_t significant = static_cast<size_t>(field.decimal_positions) + 1;
    std::string digits = std::to_string(form.mantissa);
    int exponent = static_cast<int>(digits.size()) + form.exponent - 1;
    digits = round_digits(digits, static_cast<long>(significant));
    digits.resize(std::max(digits.size(), significant), '0');
    if (digits.size() > significant) {  // rounded up to 10.00: show 1.00, one power higher
        digits.resize(significant);
        ++exponent;
    }
    std::string text = negative ? "%-" : "% ";
    text += digits[0];
    if (field.has_point) {
        text += '.';
    }
    text.append(digits, 1);
    text += "E+";
    if (exponent >= 10) {
        text += '%';
    }
    return text + std::to_string(exponent);
}

// --- The current mask -----------------------------------------------------------------------

std::string mask_text;
size_t mask_position = 0;

// "#" always begins a field; "." only when a "#" follows it.
bool field_starts_at(size_t i) {
    return mask_text[i] == '#' ||
           (mask_text[i] == '.' && i + 1 < mask_text.size() && mask_text[i + 1] == '#');
}

// Writes the literal text from the scan position up to the next field or the mask's end.
void write_literal() {
    size_t start = mask_position;
    while (mask_position < mask_text.size() && !field_starts_at(mask_position)) {
        ++mask_position;
    }
    if (mask_position > start) {
        console_write(mask_text.data() + start, mask_position - start);
    }
}

// Consumes the field at the scan position: "#" characters and at most one ".".
mask_field read_field() {
    mask_field field;
    for (; mask_position < mask_text.size(); ++mask_position) {
        char c = mask_text[mask_position];
        if (c == '.' && !field.has_point) {
            field.has_point = true;
        } else if (c != '#') {
            break;
        } else if (field.has_point) {
            ++field.decimal_positions;
        } else {
            ++field.integer_positions;
        }
    }
    return field;
}

void release_mask() {
    mask_text = std::string();
    mask_position = 0;
}

}  // namespace

decimal_form split_decimal(double magnitude) {
    uint64_t bits = std::bit_cast<uint64_t>(magnitude);
    uint64_t a = bits & fraction_bits;
    int biased = static_cast<int>((bits & exponent_bits) >> 52);
    int p = -1074;
    if (biased != 0) {
        a += uint64_t{1} << 52;
        p = biased - 1075;
    }
    int e = 0;
    for (int i = p; i < 0; ++i) {  // x = a × 2^p: take the factors of 2 out as tenths
        if (a <= UINT64_MAX / 5) {
            a *= 5;
            --e;
        } else {
            a = a / 2 + ((a & 3) == 3 ? 1 : 0);
        }
    }
    for (int i = 0; i < p; ++i) {
        if ((a & sign_bit) != 0) {
            a = (a - 3) / 5 + 1;
            ++e;
        } else {
            a *= 2;
        }
    }
    int excess = digit_count(a) - 16;
    if (excess > 0) {
        uint64_t divisor = power_of_ten(excess);
        a = a / divisor + (a % divisor >= divisor / 2 ? 1 : 0);
        e += excess;
    }
    return {a, e};
}

std::string format_field(double value, const mask_field& field) {
    uint64_t bits = std::bit_cast<uint64_t>(value);
    if ((bits & exponent_bits) == exponent_bits) {
        return special_text(bits);
    }
    bool negative = (bits & sign_bit) != 0;
    int positions = field.integer_positions - (negative ? 1 : 0);  // "-" takes one position

    // The rounded value: digits × 10^exponent, at most decimal_positions decimals.
    std::string rounded;
    int exponent = -field.decimal_positions;
    decimal_form form;
    if ((bits & ~sign_bit) != 0) {
        form = split_decimal(std::bit_cast<double>(bits & ~sign_bit));
        std::string digits = std::to_string(form.mantissa);
        if (form.exponent >= -field.decimal_positions) {
            rounded = digits;
            exponent = form.exponent;
        } else {
            rounded = round_digits(
                digits, static_cast<long>(digits.size()) + form.exponent + field.decimal_positions);
        }
    }
    long integer_digits = std::max(0L, static_cast<long>(rounded.size()) + exponent);

    if (integer_digits > positions + 3) {
        return exponent_text(form, negative, field);
    }
    fixed_digits fixed = split_fixed(rounded, exponent, field.decimal_positions);
    std::string text;
    if (integer_digits <= positions) {  // fits: "0" before the point only if a position is free
        text = negative ? "-" : "";
        text += fixed.integer.empty() && positions > 0 ? "0" : fixed.integer;
    } else {  // overflows: the marker, then every integer digit
        text = negative ? "%-" : "%";
        text += fixed.integer.empty() ? "0" : fixed.integer;
    }
    if (field.has_point) {
        text += '.';
        text += fixed.decimals;
    }
    int width = field.integer_positions + (field.has_point ? 1 : 0) + field.decimal_positions;
    if (std::cmp_less(text.size(), width)) {
        text.insert(0, static_cast<size_t>(width) - text.size(), ' ');
    }
    return text;
}

void mask_init(std::string_view text) {
    mask_text.assign(text);
    mask_position = 0;
}

// A mask without any field writes its literal text and shows no value.
void print_masked_double(double value, int32_t flags) {
    if (mask_position == mask_text.size()) {
        mask_position = 0;
    }
    write_literal();
    if (mask_position < mask_text.size()) {
        std::string text = format_field(value, read_field());
        console_write(text.data(), text.size());
        write_literal();
    }
    if ((flags & PRINT_NEWLINE) != 0) {
        console_write("\r\n", 2);
    } else if ((flags & PRINT_ZONE) != 0) {
        move_to_next_zone();
    }
    if ((flags & PRINT_MASK_DONE) != 0) {
        release_mask();
    }
}

void mask_end() {
    write_literal();
    release_mask();
}
