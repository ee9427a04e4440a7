// A keyboard layout wine cannot give, for the shared key test: on Windows MapVirtualKeyA gives
// a Cyrillic layout's characters as UTF-16 (U+044E for the period key), wine only bytes. It
// stands in for user32's import of MapVirtualKeyA; every other key is wine's own layout.
#include "platform/console_types.h"  // the Windows headers

static UINT WINAPI map_virtual_key(UINT code, UINT type) {
    return code == VK_OEM_PERIOD && type == MAPVK_VK_TO_CHAR ? 0x044E : MapVirtualKeyW(code, type);
}

extern "C" {
decltype(&map_virtual_key) __imp_MapVirtualKeyA = map_virtual_key;
}
