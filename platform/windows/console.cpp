// The Windows console: standard handles with processed input switched on, text placed as
// character cells in the screen buffer (or handed unchanged to a redirected standard output),
// key records read one at a time, and the console's control events.
#include <atomic>

#include "platform/exit_steps.h"
#include "platform/platform.h"

namespace {

constexpr int default_line_width = 80;

// What a screen buffer is taken to be when its information cannot be read.
constexpr SHORT fallback_columns = 80;
constexpr SHORT fallback_rows = 25;
constexpr WORD fallback_attributes = 7;

bool output_prepared = false;
bool output_is_console = false;
// Where the cursor was put after the last write; the fallback area starts from there.
COORD last_cursor{0, 0};

// The input mode the program found, put back on the way out. The handle is published after
// the mode, for the control handler's thread.
DWORD found_input_mode = 0;
std::atomic<HANDLE> found_mode_input{nullptr};

// Where the control events go; set before the handler is installed.
std::atomic<ctrl_handler> control_handler{nullptr};

void put_back_input_mode() {
    const HANDLE input = found_mode_input.load();
    if (input != nullptr) {
        SetConsoleMode(input, found_input_mode);
    }
}

// Decided once, at the first use of the output: a screen buffer, or a file or pipe.
void prepare_output(HANDLE output) {
    if (output_prepared) {
        return;
    }
    output_prepared = true;
    CONSOLE_SCREEN_BUFFER_INFO info{};
    output_is_console = GetConsoleScreenBufferInfo(output, &info) != 0;
}

// Hands the bytes to WriteFile until all are written; a failing call (or one that writes
// nothing, which would otherwise repeat for ever) drops the rest.
void write_file_fully(HANDLE output, const char* bytes, size_t length) {
    while (length > 0) {
        const DWORD chunk = length > 0x10000000 ? 0x10000000 : static_cast<DWORD>(length);
        DWORD written = 0;
        if (WriteFile(output, bytes, chunk, &written, nullptr) == 0 || written == 0) {
            return;
        }
        bytes += written;
        length -= written;
    }
}

// The screen buffer as one write sees it: its size, the visible window, the cursor and the
// current colours.
struct screen {
    HANDLE handle;
    COORD size;
    SMALL_RECT window;
    COORD cursor;
    WORD attributes;
};

screen read_screen(HANDLE output) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(output, &info) != 0 && info.dwSize.X > 0 && info.dwSize.Y > 0) {
        return {output, info.dwSize, info.srWindow, info.dwCursorPosition, info.wAttributes};
    }
    screen fallback{output,
                    {fallback_columns, fallback_rows},
                    {0, 0, fallback_columns - 1, fallback_rows - 1},
                    last_cursor,
                    fallback_attributes};
    if (fallback.cursor.X >= fallback_columns) {
        fallback.cursor.X = 0;
    }
    if (fallback.cursor.Y >= fallback_rows) {
        fallback.cursor.Y = fallback_rows - 1;
    }
    return fallback;
}

// Moves the cursor to the start of the next row. Past the window's bottom row the window
// follows it down the buffer; past the buffer's last row the buffer's contents move up one
// row and the freed row is blank in the current colours.
void next_row(screen& s) {
    s.cursor.X = 0;
    if (s.cursor.Y + 1 < s.size.Y) {
        ++s.cursor.Y;
        if (s.cursor.Y > s.window.Bottom) {
            const SMALL_RECT down_one{0, 1, 0, 1};
            SetConsoleWindowInfo(s.handle, FALSE, &down_one);
            ++s.window.Top;
            ++s.window.Bottom;
        }
        return;
    }
    if (s.size.Y < 2) {
        // Nothing below the top row to move up (the scroll would be refused): blank the row.
        DWORD done = 0;
        FillConsoleOutputCharacterA(s.handle, ' ', static_cast<DWORD>(s.size.X), COORD{0, 0},
                                    &done);
        FillConsoleOutputAttribute(s.handle, s.attributes, static_cast<DWORD>(s.size.X),
                                   COORD{0, 0}, &done);
        return;
    }
    const SMALL_RECT below_top{0, 1, static_cast<SHORT>(s.size.X - 1),
                               static_cast<SHORT>(s.size.Y - 1)};
    CHAR_INFO blank{};
    blank.Char.AsciiChar = ' ';
    blank.Attributes = s.attributes;
    ScrollConsoleScreenBufferA(s.handle, &below_top, nullptr, COORD{0, 0}, &blank);
}

// Writes a run of printable bytes as cells from the cursor, wrapping at the buffer's right
// edge.
void put_cells(screen& s, const char* bytes, size_t count) {
    CHAR_INFO cells[256];
    while (count > 0) {
        const size_t room = static_cast<size_t>(s.size.X - s.cursor.X);
        size_t n = count < room ? count : room;
        n = n < 256 ? n : 256;
        for (size_t i = 0; i < n; ++i) {
            cells[i].Char.AsciiChar = bytes[i];
            cells[i].Attributes = s.attributes;
        }
        SMALL_RECT area{s.cursor.X, s.cursor.Y, static_cast<SHORT>(s.cursor.X + n - 1), s.cursor.Y};
        WriteConsoleOutputA(s.handle, cells, COORD{static_cast<SHORT>(n), 1}, COORD{0, 0}, &area);
        bytes += n;
        count -= n;
        s.cursor.X = static_cast<SHORT>(s.cursor.X + n);
        if (s.cursor.X >= s.size.X) {
            next_row(s);
        }
    }
}

bool is_control(char byte) {
    return byte == 7 || byte == 8 || byte == 9 || byte == 10 || byte == 13;
}

void write_to_screen(HANDLE output, const char* bytes, size_t length) {
    screen s = read_screen(output);
    size_t i = 0;
    while (i < length) {
        size_t run = i;
        while (run < length && !is_control(bytes[run])) {
            ++run;
        }
        put_cells(s, bytes + i, run - i);
        if (run == length) {
            break;
        }
        switch (bytes[run]) {
            case 7:
                Beep(1000, 250);
                break;
            case 8:
                if (s.cursor.X > 0) {
                    --s.cursor.X;
                }
                break;
            case 9: {
                static constexpr char blanks[] = "        ";
                put_cells(s, blanks, static_cast<size_t>(8 - s.cursor.X % 8));
                break;
            }
            case 10:
                next_row(s);
                break;
            default:  // 13
                s.cursor.X = 0;
                break;
        }
        i = run + 1;
    }
    SetConsoleCursorPosition(output, s.cursor);
    last_cursor = s.cursor;
}

key_event to_key_event(const KEY_EVENT_RECORD& record) {
    key_event event;
    event.key_down = record.bKeyDown != 0;
    event.repeat_count = record.wRepeatCount;
    event.virtual_key = record.wVirtualKeyCode;
    event.scan_code = record.wVirtualScanCode;
    event.character = static_cast<uint8_t>(record.uChar.AsciiChar);
    event.control_state = record.dwControlKeyState;
    return event;
}

// Close goes to the handler, which queues the close key; Windows then ends the process.
// Log-off and shut-down never get here: a console program that loads user32.dll (this one
// does, for MapVirtualKeyA) is not sent them, and Windows ends it without a word. A declined
// event (Ctrl+C, Ctrl+Break) goes on to the default handling, which ends the process without
// the at-exit steps, so the input mode is put back first.
BOOL WINAPI on_console_control(DWORD event) {
    if (control_handler.load()(static_cast<int>(event))) {
        return TRUE;
    }
    put_back_input_mode();
    return FALSE;
}

}  // namespace

// The handles are fetched once. Processed input makes Ctrl+C a control event, not a key;
// virtual-terminal input, which a parent may have left on, is switched off, or an arrow key
// would arrive as the characters ESC [ A and its ESC would end the program. Every other bit
// stays, and the mode found is put back at exit.
void platform_open_handles(console_handle* input, console_handle* output) {
    *input = GetStdHandle(STD_INPUT_HANDLE);
    *output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (*input != nullptr && GetConsoleMode(*input, &mode) != 0) {
        found_input_mode = mode;
        found_mode_input.store(*input);
        add_exit_step(put_back_input_mode);
        SetConsoleMode(*input, (mode | ENABLE_PROCESSED_INPUT) & ~ENABLE_VIRTUAL_TERMINAL_INPUT);
    }
}

void platform_console_write(console_handle output, const char* bytes, size_t length) {
    prepare_output(output);
    if (output_is_console) {
        write_to_screen(output, bytes, length);
    } else {
        write_file_fully(output, bytes, length);
    }
}

int platform_line_width(console_handle output) {
    prepare_output(output);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (output_is_console && GetConsoleScreenBufferInfo(output, &info) != 0 && info.dwSize.X > 0) {
        return info.dwSize.X;
    }
    return default_line_width;
}

// One record at a time, and only one that the peek has shown to be there, so the read does
// not wait while this program is the console's only reader. A second process reading the same
// console (started with start /b) can take the record between the peek and the read, and the
// read then waits for the next record. The read that cannot wait, ReadConsoleInputExA with
// CONSOLE_READ_NOWAIT, is not in Windows' import libraries, is documented from Windows 7 on
// only and is a stub in wine, so it is not used. Key records are handed back; mouse,
// window-size, menu and focus records are dropped. A failed peek (input is not a console)
// ends it at once.
size_t platform_read_key_records(console_handle input, key_event* records) {
    size_t count = 0;
    while (count < KEY_RECORDS_PER_READ) {
        INPUT_RECORD record{};
        DWORD got = 0;
        if (PeekConsoleInputA(input, &record, 1, &got) == 0 || got == 0) {
            break;
        }
        got = 0;
        // A read that removed nothing leaves the record in the console: taking it now would
        // count it twice, so the read ends without it.
        if (ReadConsoleInputA(input, &record, 1, &got) == 0 || got == 0) {
            break;
        }
        if (record.EventType == KEY_EVENT) {
            records[count++] = to_key_event(record.Event.KeyEvent);
        }
    }
    return count;
}

// The character sits in the low 16 bits, as a UTF-16 unit on layouts beyond one byte (a
// Cyrillic layout gives U+044E for the period key); the top bit marks a dead key.
uint16_t layout_character(uint16_t virtual_key) {
    return static_cast<uint16_t>(MapVirtualKeyA(virtual_key, MAPVK_VK_TO_CHAR) & 0xFFFF);
}

void platform_install_ctrl_handler(ctrl_handler handler) {
    control_handler.store(handler);
    SetConsoleCtrlHandler(on_console_control, TRUE);
}

void platform_remove_ctrl_handler() {
    SetConsoleCtrlHandler(on_console_control, FALSE);
}
