// The Windows console services against real console objects: text in a small screen buffer,
// and the input mode.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "console/keyboard.h"
#include "platform/platform.h"  // the console services, with the Windows headers

namespace {

constexpr WORD colours = FOREGROUND_RED | BACKGROUND_BLUE;

// A fresh buffer of 10 columns by 4 rows (or fewer), showing rows 0 to 2, in colours of its own.
HANDLE small_screen(SHORT rows) {
    HANDLE screen =
        CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, CONSOLE_TEXTMODE_BUFFER, nullptr);
    const SMALL_RECT window{0, 0, 9, static_cast<SHORT>(rows < 3 ? rows - 1 : 2)};
    SetConsoleWindowInfo(screen, TRUE, &window);
    SetConsoleScreenBufferSize(screen, COORD{10, rows});
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
        SHORT rows = 4;
    } cases[] = {
        {"abc\rX", "Xbc|||| cursor 1,0 bottom 2"},
        {"ab\ncd", "ab|cd||| cursor 2,1 bottom 2"},
        {"0123456789AB", "0123456789|AB||| cursor 2,1 bottom 2"},
        {"1\n2\n3\n4", "1|2|3|4| cursor 1,3 bottom 3"},
        {"1\n2\n3\n4\n5\r\n", "3|4|5|| cursor 0,3 bottom 3"},
        {"abc\nd", "d|||| cursor 1,0 bottom 0", 1},
    };
    DWORD got_attributes = 0;
    for (const auto& c : cases) {
        HANDLE screen = small_screen(c.rows);
        platform_console_write(screen, c.bytes, strlen(c.bytes));
        EXPECT_EQ(shown(screen), c.expected) << c.bytes;
        WORD attributes = 0;
        ReadConsoleOutputAttribute(screen, &attributes, 1, COORD{0, 0}, &got_attributes);
        EXPECT_EQ(attributes, colours) << c.bytes;
        CloseHandle(screen);
    }
}

// In a process of its own, the first poll fetches the handles: processed input on, virtual-
// terminal input off, the other bits kept; the mode found is back once the process has ended.
TEST(ConsoleInput, FirstPollSetsTheInputModeAndTheExitPutsItBack) {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    ASSERT_TRUE(GetConsoleMode(input, &mode));
    const DWORD kept = mode & ~(ENABLE_PROCESSED_INPUT | ENABLE_VIRTUAL_TERMINAL_INPUT);
    for (const DWORD found : {kept, kept | ENABLE_VIRTUAL_TERMINAL_INPUT}) {
        SetConsoleMode(input, found);
        EXPECT_EXIT((poll_key(), GetConsoleMode(input, &mode),
                     std::exit(mode == (kept | ENABLE_PROCESSED_INPUT) ? 0 : 1)),
                    testing::ExitedWithCode(0), "")
            << found;
        GetConsoleMode(input, &mode);
        EXPECT_EQ(mode, found);
    }
}

}  // namespace
