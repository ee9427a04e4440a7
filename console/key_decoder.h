// Turns the bytes a terminal sends into key events shaped like a PC console's key records:
// key down or up, repeat count, virtual key, scan code of a US PC keyboard, the character the
// key reports, and the state of the Alt, Ctrl and Shift keys. The decoder is pure: the caller
// hands in the bytes and the time they were read on a monotonic clock, so nothing here waits,
// reads a device or looks at a clock.
//
// Recognised: plain bytes (text, Ctrl+letter, Tab, Enter, Backspace, bytes of 0x80 and above
// one key each), Alt as an ESC in front of any key or sequence, the cursor, editing, function
// and keypad sequences of xterm and VTE (normal and application modes, with the modifier
// parameter), screen and tmux, the Linux console and rxvt. A complete sequence that is not a
// known key (mouse and focus reports, paste markers, OSC and DCS strings, parameters out of
// range) is consumed whole and gives no key.
//
// A lone ESC is the Esc key only once no continuation has arrived for KEY_ESCAPE_DEADLINE_NS;
// key_decoder_tick delivers it, so the caller ticks on every poll while the decoder waits.
#ifndef DSPHOST_CONSOLE_KEY_DECODER_H
#define DSPHOST_CONSOLE_KEY_DECODER_H

#include <cstddef>
#include <cstdint>

// Bits of key_event::control_state, with the console's values.
constexpr uint32_t RIGHT_ALT_PRESSED = 0x0001;
constexpr uint32_t LEFT_ALT_PRESSED = 0x0002;
constexpr uint32_t RIGHT_CTRL_PRESSED = 0x0004;
constexpr uint32_t LEFT_CTRL_PRESSED = 0x0008;
constexpr uint32_t SHIFT_PRESSED = 0x0010;
constexpr uint32_t ENHANCED_KEY = 0x0100;

// Virtual keys the decoder and the key translation use (console values).
constexpr uint16_t VK_BACK = 0x08;
constexpr uint16_t VK_TAB = 0x09;
constexpr uint16_t VK_CLEAR = 0x0C;
constexpr uint16_t VK_RETURN = 0x0D;
constexpr uint16_t VK_SHIFT = 0x10;
constexpr uint16_t VK_MENU = 0x12;
constexpr uint16_t VK_ESCAPE = 0x1B;
constexpr uint16_t VK_SPACE = 0x20;
constexpr uint16_t VK_PRIOR = 0x21;
constexpr uint16_t VK_NEXT = 0x22;
constexpr uint16_t VK_END = 0x23;
constexpr uint16_t VK_HOME = 0x24;
constexpr uint16_t VK_LEFT = 0x25;
constexpr uint16_t VK_UP = 0x26;
constexpr uint16_t VK_RIGHT = 0x27;
constexpr uint16_t VK_DOWN = 0x28;
constexpr uint16_t VK_INSERT = 0x2D;
constexpr uint16_t VK_DELETE = 0x2E;
constexpr uint16_t VK_NUMPAD0 = 0x60;
constexpr uint16_t VK_MULTIPLY = 0x6A;
constexpr uint16_t VK_ADD = 0x6B;
constexpr uint16_t VK_SEPARATOR = 0x6C;
constexpr uint16_t VK_SUBTRACT = 0x6D;
constexpr uint16_t VK_DECIMAL = 0x6E;
constexpr uint16_t VK_DIVIDE = 0x6F;
constexpr uint16_t VK_F1 = 0x70;
constexpr uint16_t VK_OEM_1 = 0xBA;       // ; :
constexpr uint16_t VK_OEM_PLUS = 0xBB;    // = +
constexpr uint16_t VK_OEM_COMMA = 0xBC;   // , <
constexpr uint16_t VK_OEM_MINUS = 0xBD;   // - _
constexpr uint16_t VK_OEM_PERIOD = 0xBE;  // . >
constexpr uint16_t VK_OEM_2 = 0xBF;       // / ?
constexpr uint16_t VK_OEM_3 = 0xC0;       // ` ~
constexpr uint16_t VK_OEM_4 = 0xDB;       // [ {
constexpr uint16_t VK_OEM_5 = 0xDC;       // \ |
constexpr uint16_t VK_OEM_6 = 0xDD;       // ] }
constexpr uint16_t VK_OEM_7 = 0xDE;       // ' "

// The punctuation keys of a US PC keyboard: the virtual key and the character it types
// without Shift. The decoder names keys by it, and the key translation's layout lookup
// reads it back.
struct punctuation_key {
    uint16_t virtual_key;
    char plain;
};

constexpr punctuation_key punctuation_keys[] = {
    {VK_OEM_1, ';'},      {VK_OEM_PLUS, '='}, {VK_OEM_COMMA, ','}, {VK_OEM_MINUS, '-'},
    {VK_OEM_PERIOD, '.'}, {VK_OEM_2, '/'},    {VK_OEM_3, '`'},     {VK_OEM_4, '['},
    {VK_OEM_5, '\\'},     {VK_OEM_6, ']'},    {VK_OEM_7, '\''},
};

// One key record.
struct key_event {
    bool key_down = false;
    uint16_t repeat_count = 0;
    uint16_t virtual_key = 0;
    uint16_t scan_code = 0;
    uint8_t character = 0;  // the character the key reports, 0 for none
    uint32_t control_state = 0;
};

// How long a lone ESC waits for the rest of a sequence before it counts as the Esc key.
constexpr int64_t KEY_ESCAPE_DEADLINE_NS = 25'000'000;

// The most events one call of key_decoder_feed or key_decoder_tick can produce.
constexpr size_t KEY_DECODER_MAX_EVENTS = 8;

// Decoder state between calls: the sequence read so far (only what is needed to name the key
// at its end, never the raw bytes, so its size is fixed whatever arrives). Zero-initialised
// it is ready for use.
struct key_decoder {
    uint8_t state = 0;
    bool alt = false;        // the sequence came after an extra ESC
    uint8_t introducer = 0;  // '[' or 'O' for CSI and SS3, the letter for strings
    uint8_t private_marker = 0;
    uint8_t intermediate = 0;
    bool malformed = false;
    uint16_t body_length = 0;  // bytes after the introducer, saturating
    uint8_t param_count = 0;
    int32_t params[4] = {};    // -1 for a parameter left empty
    uint8_t mouse_bytes = 0;   // raw bytes of a mouse report still to skip
    bool alt_held = false;     // the last key press carried Alt
    int64_t last_byte_ns = 0;  // when the last byte arrived
};

// Feeds one byte read at now_ns (monotonic nanoseconds). Writes the events it completes to
// events (room for KEY_DECODER_MAX_EVENTS) and returns how many.
size_t key_decoder_feed(key_decoder& decoder, uint8_t byte, int64_t now_ns, key_event* events);

// Settles an unfinished sequence once KEY_ESCAPE_DEADLINE_NS has passed since its last byte:
// a lone ESC becomes the Esc key, ESC ESC becomes Alt+Esc, ESC with a sequence introducer
// becomes Alt with that character, anything longer is dropped. Returns the number of events.
size_t key_decoder_tick(key_decoder& decoder, int64_t now_ns, key_event* events);

// True while an unfinished sequence is held, that is while key_decoder_tick may still deliver.
bool key_decoder_waiting(const key_decoder& decoder);

#endif
