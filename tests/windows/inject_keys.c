/* Writes exact console input records into another program's console, as a keyboard would:
 *     inject_keys <exe name> <record>...
 * record: key:<down>:<repeat>:<virtual key>:<scan code>:<character>:<state>, or focus. All
 * records go in one write, so they arrive together and in order. */
#include <stdio.h>
#include <string.h>
#include <windows.h>
/* after windows.h, which it needs */
#include <tlhelp32.h>

int main(int argc, char** argv) {
    INPUT_RECORD records[64] = {0};
    DWORD pid = 0, count = (DWORD)argc - 2, written = 0;
    if (argc < 3 || argc - 2 > 64) return 2;
    for (int i = 2; i < argc; ++i) {
        KEY_EVENT_RECORD* key = &records[i - 2].Event.KeyEvent;
        unsigned f[6];
        records[i - 2].EventType = strcmp(argv[i], "focus") == 0 ? FOCUS_EVENT : KEY_EVENT;
        if (records[i - 2].EventType == FOCUS_EVENT) continue;
        if (sscanf(argv[i], "key:%u:%u:%u:%u:%u:%u", &f[0], &f[1], &f[2], &f[3], &f[4], &f[5]) != 6)
            return 2;
        *key = (KEY_EVENT_RECORD){f[0], f[1], f[2], f[3], {.AsciiChar = (CHAR)f[4]}, f[5]};
    }
    PROCESSENTRY32 entry = {.dwSize = sizeof entry};
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        if (_stricmp(entry.szExeFile, argv[1]) == 0) pid = entry.th32ProcessID;
    FreeConsole();
    if (pid == 0 || !AttachConsole(pid)) return 3;
    HANDLE input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    return WriteConsoleInputA(input, records, count, &written) && written == count ? 0 : 4;
}
