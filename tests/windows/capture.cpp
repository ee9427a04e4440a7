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
        char path[MAX_PATH];
        char name[MAX_PATH];
        GetTempPathA(MAX_PATH, path);
        GetTempFileNameA(path, "dsp", 0, name);
        file = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        SetStdHandle(STD_OUTPUT_HANDLE, file);
    }
    SetFilePointerEx(file, LARGE_INTEGER{}, &start, FILE_END);
}

std::string capture_stop() {
    std::string bytes;
    SetFilePointerEx(file, start, nullptr, FILE_BEGIN);
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) != 0 && got > 0) {
        bytes.append(buffer, got);
    }
    return bytes;
}
