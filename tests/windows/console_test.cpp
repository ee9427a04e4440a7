// The Windows console services against real console objects: text in a small screen buffer,
// key records in the console input, and the control events that wine cannot deliver.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "console/keyboard.h"
#include "platform/platform.h"
#include "platform/windows/windows_headers.h"

namespace {

constexpr WORD colours = FOREGROUND_RED | BACKGROUND_BLUE;

HANDLE open_console(const char* name) {
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, 0, nullptr);
}

// The program reads the process's standard input; it is pointed at the console before the
// first poll fetches it.
HANDLE console_input = [] {
    HANDLE input = open_console("CONIN$");
    SetStdHandle(STD_INPUT_HANDLE, input);
    return input;
}();

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
    for (SHORT row = 0; row < 4; ++row) {
        char cells[10];
        DWORD got = 0;
        ReadConsoleOutputCharacterA(screen, cells, 10, COORD{0, row}, &got);
        std::string line(cells, got);
        text += line.substr(0, line.find_last_not_of(' ') + 1) + "|";
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
    for (const auto& c : cases) {
        HANDLE screen = small_screen();
        platform_console_write(screen, c.bytes, strlen(c.bytes));
        EXPECT_EQ(shown(screen), c.expected) << c.bytes;
        WORD attributes = 0;
        DWORD got = 0;
        ReadConsoleOutputAttribute(screen, &attributes, 1, COORD{0, 0}, &got);
        EXPECT_EQ(attributes, colours) << c.bytes;
        CloseHandle(screen);
    }
}

std::string all_keys() {
    std::string keys;
    for (std::string key = poll_key(); !key.empty(); key = poll_key()) {
        keys += key;
    }
    return keys;
}

INPUT_RECORD key(bool down, WORD repeat, WORD virtual_key, WORD scan, char c, DWORD state) {
    INPUT_RECORD record{};
    record.EventType = KEY_EVENT;
    record.Event.KeyEvent = {down, repeat, virtual_key, scan, {}, state};
    record.Event.KeyEvent.uChar.AsciiChar = c;
    return record;
}

// What reaches the key queue from the console's own records: the character as an unsigned
// byte, repeat counts, other records dropped, and the layout's character (MapVirtualKeyA) for
// Alt with a letter.
TEST(KeyRecords, ReadFromTheConsoleInput) {
    INPUT_RECORD focus{};
    focus.EventType = FOCUS_EVENT;
    const struct {
        INPUT_RECORD record;
        const char* expected;
    } cases[] = {
        {key(true, 3, 'A', 30, 'a', 0), "aaa"},
        {key(true, 0, VK_ESCAPE, 1, 27, 0), ""},
        {key(false, 1, VK_ESCAPE, 1, 27, 0), ""},
        {key(true, 1, 0, 0, '\xe9', 0), "\xe9"},
        {key(true, 1, 'A', 30, 'a', LEFT_ALT_PRESSED), "\xff\x1e"},
        {key(true, 1, VK_F4, 62, 0, 0), "\xff\x3e"},
        {focus, ""},
    };
    for (const auto& c : cases) {
        DWORD written = 0;
        ASSERT_TRUE(WriteConsoleInputA(console_input, &c.record, 1, &written));
        EXPECT_EQ(all_keys(), c.expected) << c.expected;
    }
}

// Close, log-off and shut-down queue the close key (Alt+F4's); the others are declined.
TEST(ControlHandler, EventsByTheirWindowsValues) {
    const struct {
        int event;
        bool handled;
    } cases[] = {
        {CTRL_C_EVENT, false},
        {CTRL_BREAK_EVENT, false},
        {CTRL_CLOSE_EVENT, true},
        {3, false},
        {4, false},
        {CTRL_LOGOFF_EVENT, true},
        {CTRL_SHUTDOWN_EVENT, true},
        {7, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(console_ctrl_handler(c.event), c.handled) << c.event;
        EXPECT_EQ(all_keys(), c.handled ? "\xff\x6b" : "") << c.event;
    }
}

}  // namespace
