// The Windows console services against real console objects: text in a small screen buffer,
// and the input mode.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "console/keyboard.h"
#include "platform/platform.h"
#include "platform/windows/windows_headers.h"

namespace {

constexpr WORD colours = FOREGROUND_RED | BACKGROUND_BLUE;

// A fresh buffer of 10 columns by 4 rows, showing rows 0 to 2, in colours of its own.
HANDLE small_screen() {
    HANDLE screen =
        CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, CONSOLE_TEXTMODE_BUFFER, nullptr);
    const SMALL_RECT window{0, 0, 9, 2};
    SetConsoleWindowInfo(screen, TRUE, &window);
    SetConsoleScreenBufferSize(screen, COORD{10, 4});
    SetConsoleTextAttribute(screen, colours);
    return screen;
}

// The buffer's rows without trailing blanks, joined by '|', then the cursor and the window's
// bottom row.
std::string shown(HANDLE screen) {
    std::string text;
    char cells[10];
    DWORD got = 0;
    for (SHORT row = 0; row < 4; ++row) {
        ReadConsoleOutputCharacterA(screen, cells, 10, COORD{0, row}, &got);
        text +=
            std::string(cells, got).erase(std::string(cells, got).find_last_not_of(' ') + 1) + "|";
    }
    CONSOLE_SCREEN_BUFFER_INFO info{};
    GetConsoleScreenBufferInfo(screen, &info);
    return text + " cursor " + std::to_string(info.dwCursorPosition.X) + "," +
           std::to_string(info.dwCursorPosition.Y) + " bottom " +
           std::to_string(info.srWindow.Bottom);
}

TEST(ConsoleWrite, CellsAtTheCursorWithControlBytesActedOn) {
    const struct {
        const char* bytes;
        const char* expected;
    } cases[] = {
        {"ab\bc", "ac|||| cursor 2,0 bottom 2"},
        {"\bx", "x|||| cursor 1,0 bottom 2"},
        {"a\tb", "a       b|||| cursor 9,0 bottom 2"},
        {"abc\rX", "Xbc|||| cursor 1,0 bottom 2"},
        {"ab\ncd", "ab|cd||| cursor 2,1 bottom 2"},
        {"x\a", "x|||| cursor 1,0 bottom 2"},
        {"0123456789AB", "0123456789|AB||| cursor 2,1 bottom 2"},
        {"1\n2\n3\n4", "1|2|3|4| cursor 1,3 bottom 3"},
        {"1\n2\n3\n4\n5\r\n", "3|4|5|| cursor 0,3 bottom 3"},
    };
    DWORD got_attributes = 0;
    for (const auto& c : cases) {
        HANDLE screen = small_screen();
        platform_console_write(screen, c.bytes, strlen(c.bytes));
        EXPECT_EQ(shown(screen), c.expected) << c.bytes;
        WORD attributes = 0;
        ReadConsoleOutputAttribute(screen, &attributes, 1, COORD{0, 0}, &got_attributes);
        EXPECT_EQ(attributes, colours) << c.bytes;
        CloseHandle(screen);
    }
}

// The first poll fetches the handles, which switches processed input on and keeps the other
// mode bits.
TEST(ConsoleInput, FirstPollSwitchesProcessedInputOn) {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    DWORD after = 0;
    ASSERT_TRUE(GetConsoleMode(input, &mode));
    SetConsoleMode(input, mode & ~ENABLE_PROCESSED_INPUT);
    poll_key();
    GetConsoleMode(input, &after);
    EXPECT_EQ(after, mode | ENABLE_PROCESSED_INPUT);
}

}  // namespace
