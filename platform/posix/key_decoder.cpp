#include "platform/posix/key_decoder.h"

#include "platform/posix/key_names.h"

namespace {

enum decoder_state : uint8_t {
    GROUND,          // between keys
    ESCAPE,          // after ESC
    ESCAPE_ESCAPE,   // after ESC ESC: Alt+Esc, or Alt in front of a sequence
    SEQUENCE,        // inside CSI (ESC [) or SS3 (ESC O)
    LINUX_FUNCTION,  // after ESC [ [, the Linux console's F1-F5
    MOUSE,           // the three raw bytes of a mouse report after ESC [ M
    STRING,          // inside an OSC, DCS, APC, PM or SOS string
    STRING_ESCAPE,   // ESC inside a string: ESC \ ends it, anything else starts anew
};

constexpr int32_t PARAM_LIMIT = 99999;
constexpr uint16_t BODY_LIMIT = 1000;

// Writes the press and the release of a key (terminals report no key releases, so each key
// is pressed and let go at once).
void emit(key_decoder& d, key_press key, key_event* events, size_t* count) {
    if (key.virtual_key == 0 && key.character == 0 && key.scan_code == 0) {
        return;
    }
    if (d.alt) {
        key.state |= ALT;
    }
    key_event press{true, 1, key.virtual_key, key.scan_code, key.character, key.state};
    events[(*count)++] = press;
    press.key_down = false;
    events[(*count)++] = press;
}

void start(key_decoder& d, decoder_state state, uint8_t introducer) {
    d.state = state;
    d.introducer = introducer;
    d.private_marker = 0;
    d.intermediate = 0;
    d.malformed = false;
    d.body_length = 0;
    d.param_count = 0;
    for (int32_t& p : d.params) {
        p = -1;
    }
}

void ground_byte(key_decoder& d, uint8_t b, key_event* events, size_t* count) {
    d.state = GROUND;
    d.alt = false;
    if (b == ESC) {
        d.state = ESCAPE;
        return;
    }
    emit(d, byte_key(b), events, count);
}

void escape_byte(key_decoder& d, uint8_t b, key_event* events, size_t* count) {
    if (b == ESC) {
        d.state = ESCAPE_ESCAPE;
    } else if (b == '[' || b == 'O') {
        start(d, SEQUENCE, b);
    } else if (b == ']' || b == 'P' || b == '_' || b == '^' || b == 'X') {
        start(d, STRING, b);
    } else {
        d.state = GROUND;
        emit(d, with_alt(byte_key(b)), events, count);
    }
}

void escape_escape_byte(key_decoder& d, uint8_t b, key_event* events, size_t* count) {
    if (b == '[' || b == 'O') {
        start(d, SEQUENCE, b);
        d.alt = true;
        return;
    }
    d.state = GROUND;
    emit(d, with_alt(byte_key(ESC)), events, count);
    ground_byte(d, b, events, count);
}

void parameter_byte(key_decoder& d, uint8_t b) {
    const bool digit = b >= '0' && b <= '9';
    const bool marker = !digit && b != ';' && b != ':';  // < = > ?
    if (d.intermediate != 0 || b == ':' || (marker && d.body_length != 0)) {
        d.malformed = true;  // after an intermediate, a sub-parameter, a marker not first
    } else if (marker) {
        d.private_marker = b;
    } else if (digit) {
        if (d.param_count == 0) {
            d.param_count = 1;
        }
        int32_t& p = d.params[d.param_count - 1];
        p = p < 0 ? 0 : p;
        p = p > PARAM_LIMIT / 10 ? PARAM_LIMIT : p * 10 + (b - '0');
    } else {  // ;
        if (d.param_count == 0) {
            d.param_count = 1;
        }
        if (d.param_count == 4) {
            d.malformed = true;
        } else {
            ++d.param_count;
        }
    }
}

void sequence_byte(key_decoder& d, uint8_t b, key_event* events, size_t* count) {
    if (b < 0x20 || b >= 0x7F) {  // not part of any sequence: drop what came so far
        ground_byte(d, b, events, count);
        return;
    }
    const bool csi = d.introducer == '[';
    if (b >= 0x40) {
        if (csi && d.body_length == 0 && b == '[') {
            d.state = LINUX_FUNCTION;
        } else if (csi && d.body_length == 0 && b == 'M') {
            d.state = MOUSE;
            d.mouse_bytes = 3;
        } else {
            d.state = GROUND;
            emit(d, sequence_key(d, b), events, count);
        }
    } else if (b >= 0x30) {
        parameter_byte(d, b);
    } else if (csi && b == '$' && d.intermediate == 0 && d.private_marker == 0 &&
               d.param_count <= 1) {
        d.state = GROUND;  // rxvt: CSI n $ is Shift with key n
        emit(d, sequence_key(d, b), events, count);
    } else {
        d.malformed = d.malformed || d.intermediate != 0 || !csi;
        d.intermediate = b;
    }
    if (d.body_length < BODY_LIMIT) {
        ++d.body_length;
    }
}

}  // namespace

size_t key_decoder_feed(key_decoder& d, uint8_t b, int64_t now_ns, key_event* events) {
    size_t count = 0;
    d.last_byte_ns = now_ns;
    switch (d.state) {
        case ESCAPE:
            escape_byte(d, b, events, &count);
            break;
        case ESCAPE_ESCAPE:
            escape_escape_byte(d, b, events, &count);
            break;
        case SEQUENCE:
            sequence_byte(d, b, events, &count);
            break;
        case LINUX_FUNCTION:
            if (b < 0x20 || b >= 0x7F) {
                ground_byte(d, b, events, &count);
            } else {
                d.state = GROUND;
                if (b >= 'A' && b <= 'E') {
                    emit(d, function_key(b - 'A' + 1), events, &count);
                }
            }
            break;
        case MOUSE:
            // A report's bytes are 0x20 and above: a control byte is a key of its own (a
            // terminal may send ESC [ M alone for a key, as st does for Ctrl+Delete).
            if (b < 0x20) {
                ground_byte(d, b, events, &count);
            } else if (--d.mouse_bytes == 0) {
                d.state = GROUND;
            }
            break;
        case STRING:
            if (b == 0x07) {
                d.state = GROUND;
            } else if (b == ESC) {
                d.state = STRING_ESCAPE;
            } else if (d.body_length < BODY_LIMIT) {
                ++d.body_length;
            }
            break;
        case STRING_ESCAPE:
            if (b == '\\') {
                d.state = GROUND;
            } else {
                d.alt = false;
                escape_byte(d, b, events, &count);
            }
            break;
        default:
            ground_byte(d, b, events, &count);
            break;
    }
    return count;
}

size_t key_decoder_tick(key_decoder& d, int64_t now_ns, key_event* events) {
    if (d.state == GROUND || now_ns < d.last_byte_ns ||
        static_cast<uint64_t>(now_ns) - static_cast<uint64_t>(d.last_byte_ns) <
            static_cast<uint64_t>(KEY_ESCAPE_DEADLINE_NS)) {
        return 0;
    }
    size_t count = 0;
    const uint8_t state = d.state;
    const bool bare = d.body_length == 0;
    d.state = GROUND;
    if (state == ESCAPE || state == STRING_ESCAPE) {
        d.alt = false;
        emit(d, byte_key(ESC), events, &count);
    } else if (state == ESCAPE_ESCAPE) {
        emit(d, with_alt(byte_key(ESC)), events, &count);
    } else if ((state == SEQUENCE || state == STRING) && bare) {
        emit(d, with_alt(byte_key(d.introducer)), events, &count);
    }
    d.alt = false;
    return count;
}

bool key_decoder_waiting(const key_decoder& d) {
    return d.state != GROUND;
}

int64_t key_decoder_deadline(const key_decoder& d) {
    return d.last_byte_ns + KEY_ESCAPE_DEADLINE_NS;
}
