// Capture of the program's output on Windows. The output handle is fetched once per
// process, so standard output is pointed at one temporary file before the first write, and
// a capture is what the file gained between capture_start and capture_stop.
#include "tests/support/capture.h"

#include "platform/windows/windows_headers.h"

namespace {

HANDLE file = INVALID_HANDLE_VALUE;
LARGE_INTEGER start{};

}  // namespace

void capture_start() {
    if (file == INVALID_HANDLE_VALUE) {
        char name[MAX_PATH];
        GetTempFileNameA(".", "dsp", 0, name);
        file = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        SetStdHandle(STD_OUTPUT_HANDLE, file);
    }
    SetFilePointerEx(file, LARGE_INTEGER{}, &start, FILE_END);
}

std::string capture_stop() {
    std::string bytes(4096, '\0');
    DWORD got = 0;
    SetFilePointerEx(file, start, nullptr, FILE_BEGIN);
    for (size_t at = 0; ReadFile(file, &bytes[at], 4096, &got, nullptr) != 0 && got > 0;) {
        bytes.resize((at += got) + 4096);
    }
    return bytes.substr(0, bytes.size() - 4096);
}
