/* Writes exact console input records into another program's console, as a keyboard would:
 *     inject_keys <exe name> <record>...
 * record: key:<down>:<repeat>:<virtual key>:<scan code>:<character>:<state> (numbers in C
 * notation), or focus. All records go in one write, so they arrive together and in order. */
#include <stdlib.h>
#include <string.h>
#include <windows.h>
/* after windows.h, which it needs */
#include <tlhelp32.h>

static DWORD find_process(const char* exe) {
    DWORD pid = 0;
    PROCESSENTRY32 entry;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more;
         more = Process32Next(snapshot, &entry)) {
        if (_stricmp(entry.szExeFile, exe) == 0) pid = entry.th32ProcessID;
    }
    CloseHandle(snapshot);
    return pid;
}

static int parse(const char* text, INPUT_RECORD* record) {
    unsigned long f[6];
    memset(record, 0, sizeof *record);
    if (strcmp(text, "focus") == 0) {
        record->EventType = FOCUS_EVENT;
        record->Event.FocusEvent.bSetFocus = TRUE;
        return 1;
    }
    char* end = (char*)text + 3;
    if (strncmp(text, "key", 3) != 0) return 0;
    for (int i = 0; i < 6; ++i) {
        if (*end != ':') return 0;
        f[i] = strtoul(end + 1, &end, 0);
    }
    record->EventType = KEY_EVENT;
    record->Event.KeyEvent.bKeyDown = (BOOL)f[0];
    record->Event.KeyEvent.wRepeatCount = (WORD)f[1];
    record->Event.KeyEvent.wVirtualKeyCode = (WORD)f[2];
    record->Event.KeyEvent.wVirtualScanCode = (WORD)f[3];
    record->Event.KeyEvent.uChar.AsciiChar = (CHAR)f[4];
    record->Event.KeyEvent.dwControlKeyState = (DWORD)f[5];
    return *end == 0;
}

int main(int argc, char** argv) {
    INPUT_RECORD records[64];
    DWORD count = (DWORD)argc - 2, written = 0;
    if (argc < 3 || argc - 2 > 64) return 2;
    for (int i = 2; i < argc; ++i) {
        if (!parse(argv[i], &records[i - 2])) return 2;
    }
    DWORD pid = find_process(argv[1]);
    FreeConsole();
    if (pid == 0 || !AttachConsole(pid)) return 3;
    HANDLE input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (!WriteConsoleInputA(input, records, count, &written) || written != count) return 4;
    return 0;
}
