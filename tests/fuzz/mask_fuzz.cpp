// Feeds arbitrary doubles (any bit pattern) and short arbitrary masks through the mask
// service. Checks that the status line's "##.##%" always ends in "%" and CR LF, and that a
// fitting field is exactly five characters.
#include <sys/mman.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "console/mask.h"
#include "console/print.h"

namespace {

// Standard output goes to a memory file that every run empties and reads back.
std::string run_output() {
    std::string bytes;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = pread(STDOUT_FILENO, buffer, sizeof buffer, static_cast<off_t>(bytes.size()))) >
           0) {
        bytes.append(buffer, static_cast<size_t>(got));
    }
    return bytes;
}

void reset_output() {
    if (ftruncate(STDOUT_FILENO, 0) != 0 || lseek(STDOUT_FILENO, 0, SEEK_SET) != 0) {
        abort();
    }
}

void check_status_field(double value) {
    reset_output();
    mask_init("##.##%");
    print_masked_double(value, PRINT_NEWLINE | PRINT_MASK_DONE);
    mask_end();
    std::string bytes = run_output();
    std::string_view line = bytes;
    if (!line.ends_with("%\r\n") || line.size() < 8) {
        abort();
    }
    if (line[0] != '%' && line.size() != 8) {
        abort();
    }
}

void check_split(double value) {
    double magnitude = std::fabs(value);
    if (!std::isfinite(magnitude) || magnitude == 0) {
        return;
    }
    decimal_form form = split_decimal(magnitude);
    size_t digits = std::to_string(form.mantissa).size();
    if (digits != 16 && form.mantissa != 10000000000000000) {
        abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    int memory = memfd_create("mask_fuzz_output", 0);
    if (memory < 0 || dup2(memory, STDOUT_FILENO) < 0) {
        abort();
    }
    close(memory);
    return 0;
}

// Input: 8 bytes of a double, one byte of flags, then the mask (at most 32 bytes).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 9) {
        return 0;
    }
    uint64_t bits = 0;
    memcpy(&bits, data, sizeof bits);
    double value = std::bit_cast<double>(bits);
    uint8_t flag_byte = data[8];
    int32_t flags = (flag_byte & 0x7F) | ((flag_byte & 0x80) != 0 ? PRINT_MASK_DONE : 0);
    std::string_view mask(reinterpret_cast<const char*>(data + 9), std::min<size_t>(size - 9, 32));

    check_split(value);
    check_status_field(value);

    reset_output();
    mask_init(mask);
    for (int i = 0; i < 3; ++i) {
        print_masked_double(value, flags);
        print_masked_double(-value, flags & ~PRINT_MASK_DONE);
    }
    mask_end();
    return 0;
}
