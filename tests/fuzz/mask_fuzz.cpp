// Arbitrary doubles (the first 8 bytes, any bit pattern) through the status line's CPU field,
// and arbitrary masks (the rest) through the mask service. Checked: no crash, and the CPU
// field is five characters or begins with the overflow mark.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "console/mask.h"
#include "console/print.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    dup2(open("/dev/null", O_WRONLY), STDOUT_FILENO);  // what the masks print
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    double value = 0;
    std::memcpy(&value, data, size < 8 ? size : 8);
    const std::string field = format_field(value, mask_field{2, true, 2});
    if (field.size() < 5 || (field[0] != '%' && field.size() != 5)) {
        std::abort();
    }
    if (size > 8) {
        mask_init(std::string_view(reinterpret_cast<const char*>(data) + 8, size - 8));
        print_masked_double(value, PRINT_ZONE);
        print_masked_double(-value, PRINT_NEWLINE);
        mask_end();
    }
    return 0;
}
