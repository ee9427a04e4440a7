// The terminal decoder: bytes and poll times in, key events out. Key strings are made from the
// events by the keyboard's table lookup, so each row checks what the program finally sees.
#include "platform/posix/key_decoder.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "console/keyboard.h"
#include "platform/platform.h"
#include "tests/support/key_text.h"

namespace {

constexpr int64_t MS = 1'000'000;
constexpr int64_t START = 5'000 * MS;

// Feeds parts as separate polls, 1 ms apart (well inside the deadline), ticking after each
// like the polling loop, then ticks long after the last to settle whatever waits.
std::vector<key_event> decode_parts(const std::vector<std::string>& parts) {
    key_decoder decoder{};
    std::vector<key_event> result;
    key_event events[KEY_DECODER_MAX_EVENTS];
    int64_t now = START;
    for (const std::string& part : parts) {
        for (char c : part) {
            const size_t n = key_decoder_feed(decoder, static_cast<uint8_t>(c), now, events);
            EXPECT_LE(n, KEY_DECODER_MAX_EVENTS);
            result.insert(result.end(), events, events + n);
        }
        const size_t n = key_decoder_tick(decoder, now, events);
        result.insert(result.end(), events, events + n);
        now += MS;
    }
    const size_t n = key_decoder_tick(decoder, now + 1000 * MS, events);
    result.insert(result.end(), events, events + n);
    EXPECT_FALSE(key_decoder_waiting(decoder));
    return result;
}

// The key strings the presses among the events give.
std::vector<std::string> key_strings(const std::vector<key_event>& events) {
    std::vector<std::string> keys;
    for (const key_event& e : events) {
        if (!e.key_down) {
            continue;
        }
        const int32_t value = lookup_key_value(e);
        if (value != NO_KEY) {
            keys.push_back(value <= 255 ? ch(value) : ext(value / 256));
        }
    }
    return keys;
}

std::vector<std::string> decode(const std::string& bytes) {
    return key_strings(decode_parts({bytes}));
}

std::string show(const std::vector<std::string>& keys) {
    std::string text;
    for (const std::string& key : keys) {
        text += "[";
        for (size_t i = 0; i < key.size(); ++i) {
            text += (i > 0 ? " " : "") + std::to_string(static_cast<unsigned char>(key[i]));
        }
        text += "]";
    }
    return text;
}

struct decode_row {
    const char* name;
    std::string bytes;
    std::vector<std::string> keys;
};

const std::vector<decode_row> rows = {
    // Plain bytes.
    {"letter", "a", {ch('a')}},
    {"capital", "A", {ch('A')}},
    {"shifted digit", "!", {ch('!')}},
    {"blank", " ", {ch(' ')}},
    {"tab", "\t", {ch(9)}},
    {"enter CR", "\r", {ch(13)}},
    {"enter LF", "\n", {ch(13)}},
    {"backspace DEL", "\x7f", {ch(8)}},
    {"backspace BS", "\x08", {ch(8)}},
    {"ctrl A", "\x01", {ch(1)}},
    {"ctrl Z", "\x1a", {ch(26)}},
    {"ctrl C byte", "\x03", {ch(3)}},
    {"ctrl backslash", "\x1c", {ch(0x1c)}},
    {"ctrl @ reports no character", std::string(1, '\0'), {}},
    {"UTF-8 text, one key per byte", "\xc3\xa9", {ch(0xc3), ch(0xa9)}},
    {"lone esc", "\x1b", {ch(27)}},
    // xterm / VTE, normal cursor mode.
    {"CSI up", "\x1b[A", {ext(72)}},
    {"CSI down", "\x1b[B", {ext(80)}},
    {"CSI right", "\x1b[C", {ext(77)}},
    {"CSI left", "\x1b[D", {ext(75)}},
    {"CSI home", "\x1b[H", {ext(71)}},
    {"CSI end", "\x1b[F", {ext(79)}},
    // Application cursor mode and SS3 function keys.
    {"SS3 up", "\x1bOA", {ext(72)}},
    {"SS3 down", "\x1bOB", {ext(80)}},
    {"SS3 right", "\x1bOC", {ext(77)}},
    {"SS3 left", "\x1bOD", {ext(75)}},
    {"SS3 home", "\x1bOH", {ext(71)}},
    {"SS3 end", "\x1bOF", {ext(79)}},
    {"SS3 F1", "\x1bOP", {ext(59)}},
    {"SS3 F2", "\x1bOQ", {ext(60)}},
    {"SS3 F3", "\x1bOR", {ext(61)}},
    {"SS3 F4", "\x1bOS", {ext(62)}},
    // CSI n ~ (screen and tmux send Home and End as 1~ and 4~ too).
    {"home 1~", "\x1b[1~", {ext(71)}},
    {"insert 2~", "\x1b[2~", {ext(82)}},
    {"delete 3~", "\x1b[3~", {ext(83)}},
    {"end 4~", "\x1b[4~", {ext(79)}},
    {"page up 5~", "\x1b[5~", {ext(73)}},
    {"page down 6~", "\x1b[6~", {ext(81)}},
    {"F5 15~", "\x1b[15~", {ext(63)}},
    {"F6 17~", "\x1b[17~", {ext(64)}},
    {"F7 18~", "\x1b[18~", {ext(65)}},
    {"F8 19~", "\x1b[19~", {ext(66)}},
    {"F9 20~", "\x1b[20~", {ext(67)}},
    {"F10 21~", "\x1b[21~", {ext(68)}},
    {"F11 23~", "\x1b[23~", {ext(133)}},
    {"F12 24~", "\x1b[24~", {ext(134)}},
    // The xterm modifier parameter.
    {"shift F1", "\x1b[1;2P", {ext(84)}},
    {"ctrl F1", "\x1b[1;5P", {ext(94)}},
    {"alt F1", "\x1b[1;3P", {ext(104)}},
    {"alt shift F1 takes the Alt column", "\x1b[1;4P", {ext(104)}},
    {"alt F4", "\x1b[1;3S", {ext(107)}},
    {"shift up", "\x1b[1;2A", {ext(72)}},
    {"alt up", "\x1b[1;3A", {ext(152)}},
    {"ctrl up", "\x1b[1;5A", {ext(141)}},
    {"ctrl shift up takes the Ctrl column", "\x1b[1;6A", {ext(141)}},
    {"meta up counts as Alt", "\x1b[1;9A", {ext(152)}},
    {"ctrl home", "\x1b[1;5H", {ext(119)}},
    {"ctrl delete", "\x1b[3;5~", {ext(147)}},
    {"alt page up", "\x1b[5;3~", {ext(153)}},
    {"shift F5", "\x1b[15;2~", {ext(88)}},
    {"ctrl F12", "\x1b[24;5~", {ext(138)}},
    {"alt F12", "\x1b[24;3~", {ext(140)}},
    {"shift F11", "\x1b[23;2~", {ext(135)}},
    {"SS3 with lone modifier", "\x1bO2P", {ext(84)}},
    {"empty first parameter", "\x1b[;5A", {ext(141)}},
    // Linux console.
    {"linux F1", "\x1b[[A", {ext(59)}},
    {"linux F2", "\x1b[[B", {ext(60)}},
    {"linux F3", "\x1b[[C", {ext(61)}},
    {"linux F4", "\x1b[[D", {ext(62)}},
    {"linux F5", "\x1b[[E", {ext(63)}},
    // rxvt.
    {"rxvt F1", "\x1b[11~", {ext(59)}},
    {"rxvt F2", "\x1b[12~", {ext(60)}},
    {"rxvt F3", "\x1b[13~", {ext(61)}},
    {"rxvt F4", "\x1b[14~", {ext(62)}},
    {"rxvt home", "\x1b[7~", {ext(71)}},
    {"rxvt end", "\x1b[8~", {ext(79)}},
    {"rxvt shift insert", "\x1b[2$", {ext(82)}},
    {"rxvt ctrl delete", "\x1b[3^", {ext(147)}},
    {"rxvt ctrl shift page up", "\x1b[5@", {ext(132)}},
    {"rxvt ctrl F1", "\x1b[11^", {ext(94)}},
    {"rxvt shift F2", "\x1b[12$", {ext(85)}},
    {"rxvt ctrl home", "\x1b[7^", {ext(119)}},
    {"rxvt shift up", "\x1b[a", {ext(72)}},
    {"rxvt shift right", "\x1b[c", {ext(77)}},
    {"rxvt ctrl up", "\x1bOa", {ext(141)}},
    {"rxvt ctrl down", "\x1bOb", {ext(145)}},
    {"rxvt ctrl right", "\x1bOc", {ext(116)}},
    {"rxvt ctrl left", "\x1bOd", {ext(115)}},
    // Alt as an ESC prefix.
    {"alt a",
     "\x1b"
     "a",
     {ext(30)}},
    {"alt shift a",
     "\x1b"
     "A",
     {ext(30)}},
    {"alt 1",
     "\x1b"
     "1",
     {ext(120)}},
    {"alt =", "\x1b=", {ext(131)}},
    {"alt z", "\x1bz", {ext(44)}},
    {"alt ;", "\x1b;", {ext(39)}},
    {"alt colon keeps the character", "\x1b:", {ch(':')}},
    {"alt esc", "\x1b\x1b", {ext(1)}},
    {"alt backspace", "\x1b\x7f", {ext(224)}},
    {"alt tab", "\x1b\t", {ext(15)}},
    {"alt enter", "\x1b\r", {ext(28)}},
    {"alt blank", "\x1b ", {ch(' ')}},
    {"alt ctrl a keeps the character", "\x1b\x01", {ch(1)}},
    {"alt up by prefix", "\x1b\x1b[A", {ext(152)}},
    {"alt F1 by prefix", "\x1b\x1bOP", {ext(104)}},
    {"alt F4 by prefix", "\x1b\x1b[14~", {ext(107)}},
    {"alt linux F1", "\x1b\x1b[[A", {ext(104)}},
    {"alt [ alone", "\x1b[", {ext(26)}},
    {"alt O alone", "\x1bO", {ext(24)}},
    {"alt ] alone", "\x1b]", {ext(27)}},
    {"alt esc then letter", "\x1b\x1bx", {ext(1), ch('x')}},
    {"alt esc then lone esc", "\x1b\x1b\x1b", {ext(1), ch(27)}},
    {"alt high byte", "\x1b\xe9", {ch(0xe9)}},
    // Keypad in application mode.
    {"keypad 0", "\x1bOp", {ch('0')}},
    {"keypad 1", "\x1bOq", {ch('1')}},
    {"keypad 5", "\x1bOu", {ch('5')}},
    {"keypad 9", "\x1bOy", {ch('9')}},
    {"keypad enter", "\x1bOM", {ch(13)}},
    {"ctrl keypad enter", "\x1bO5M", {ch(10)}},
    {"alt keypad enter", "\x1b\x1bOM", {ext(166)}},
    {"keypad star", "\x1bOj", {ch('*')}},
    {"keypad plus", "\x1bOk", {ch('+')}},
    {"keypad minus", "\x1bOm", {ch('-')}},
    {"keypad point", "\x1bOn", {ch('.')}},
    {"keypad slash", "\x1bOo", {ch('/')}},
    {"ctrl keypad slash", "\x1bO5o", {ext(149)}},
    {"alt keypad slash", "\x1b\x1bOo", {ext(164)}},
    {"alt keypad digit is an entry, not a key", "\x1b\x1bOr", {}},
    {"keypad 5 CSI E", "\x1b[E", {ext(76)}},
    {"keypad 5 CSI G", "\x1b[G", {ext(76)}},
    {"ctrl keypad 5", "\x1b[1;5E", {ext(143)}},
    {"shift tab", "\x1b[Z", {ext(15)}},
    // Several keys in one read.
    {"run of keys", "ab\x1b[A\x1bOPc", {ch('a'), ch('b'), ext(72), ext(59), ch('c')}},
    {"esc then sequence", "\x1b[A\x1b", {ext(72), ch(27)}},
};

void PrintTo(const decode_row& row, std::ostream* os) {
    *os << row.name;
}

class DecodeRow : public testing::TestWithParam<decode_row> {};

TEST_P(DecodeRow, GivesItsKeyStrings) {
    const decode_row& row = GetParam();
    EXPECT_EQ(show(decode(row.bytes)), show(row.keys)) << row.name;
}

// A sequence may arrive in pieces over several polls: every split gives the same keys.
TEST_P(DecodeRow, GivesTheSameKeysSplitAtEveryByte) {
    const decode_row& row = GetParam();
    for (size_t cut = 1; cut < row.bytes.size(); ++cut) {
        const auto keys =
            key_strings(decode_parts({row.bytes.substr(0, cut), row.bytes.substr(cut)}));
        EXPECT_EQ(show(keys), show(row.keys)) << row.name << " split at " << cut;
    }
    std::vector<std::string> bytes;
    for (char c : row.bytes) {
        bytes.emplace_back(1, c);
    }
    EXPECT_EQ(show(key_strings(decode_parts(bytes))), show(row.keys)) << row.name << " bytewise";
}

std::string row_name(const testing::TestParamInfo<decode_row>& info) {
    std::string name;
    for (const char* p = info.param.name; *p != '\0'; ++p) {
        const bool alnum =
            (*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') || (*p >= '0' && *p <= '9');
        name += alnum ? *p : '_';
    }
    return name + "_" + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(Terminals, DecodeRow, testing::ValuesIn(rows), row_name);

// Complete sequences that are no key: consumed whole, no key at all (so never 27 or 3), and
// the key after them still decodes.
const std::vector<decode_row> junk_rows = {
    {"focus in", "\x1b[I", {}},
    {"focus out", "\x1b[O", {}},
    {"SGR mouse press", "\x1b[<0;10;20M", {}},
    {"SGR mouse release", "\x1b[<0;10;20m", {}},
    {"X10 mouse", "\x1b[M !!", {}},
    {"X10 mouse with control bytes", "\x1b[M\x03\x03\x03", {}},
    {"paste start", "\x1b[200~", {}},
    {"paste end", "\x1b[201~", {}},
    {"OSC colour reply by BEL", "\x1b]11;rgb:0000/0000/0000\x07", {}},
    {"OSC title by ST", "\x1b]0;title\x1b\\", {}},
    {"OSC holding ESC and 3", "\x1b]0;\x03\x03\x07", {}},
    {"DCS reply", "\x1bP1$r0m\x1b\\", {}},
    {"APC string", "\x1b_junk\x1b\\", {}},
    {"device attributes reply", "\x1b[?1;2c", {}},
    {"cursor position report", "\x1b[12;40R", {}},
    {"mode report", "\x1b[?1;2$y", {}},
    {"huge parameter", "\x1b[99999999999A", {}},
    {"huge key number", "\x1b[99999999999~", {}},
    {"modifier 0", "\x1b[1;0A", {}},
    {"modifier 17", "\x1b[1;17A", {}},
    {"unknown key number", "\x1b[25~", {}},
    {"zero key number", "\x1b[0~", {}},
    {"key number missing", "\x1b[~", {}},
    {"sub-parameters", "\x1b[1:2A", {}},
    {"too many parameters", "\x1b[1;2;3;4;5A", {}},
    {"two intermediates", "\x1b[1 !A", {}},
    {"unknown final", "\x1b[5z", {}},
    {"unknown SS3", "\x1bOz", {}},
    {"linux unknown", "\x1b[[Z", {}},
    {"intermediate before the final", "\x1b[1;2$~", {}},
};

class JunkRow : public testing::TestWithParam<decode_row> {};

TEST_P(JunkRow, GivesNoKeyAndLeavesTheNextKeyIntact) {
    const decode_row& row = GetParam();
    EXPECT_EQ(show(decode(row.bytes)), "") << row.name;
    EXPECT_EQ(show(decode(row.bytes + "x")), show({ch('x')})) << row.name;
    EXPECT_EQ(show(decode(row.bytes + "\x1b")), show({ch(27)})) << row.name;
    for (size_t cut = 1; cut < row.bytes.size(); ++cut) {
        const auto keys =
            key_strings(decode_parts({row.bytes.substr(0, cut), row.bytes.substr(cut) + "x"}));
        EXPECT_EQ(show(keys), show({ch('x')})) << row.name << " split at " << cut;
    }
}

INSTANTIATE_TEST_SUITE_P(Reports, JunkRow, testing::ValuesIn(junk_rows), row_name);

// The ESC deadline, from both sides, with the injected clock.
TEST(EscapeDeadline, LoneEscWaitsUntilTheDeadlineAndNoLonger) {
    key_decoder decoder{};
    key_event events[KEY_DECODER_MAX_EVENTS];
    EXPECT_EQ(key_decoder_feed(decoder, 0x1b, START, events), 0u);
    EXPECT_TRUE(key_decoder_waiting(decoder));
    EXPECT_EQ(key_decoder_tick(decoder, START, events), 0u);
    EXPECT_EQ(key_decoder_tick(decoder, START + KEY_ESCAPE_DEADLINE_NS - 1, events), 0u);
    ASSERT_EQ(key_decoder_tick(decoder, START + KEY_ESCAPE_DEADLINE_NS, events), 2u);
    EXPECT_TRUE(events[0].key_down);
    EXPECT_EQ(events[0].character, 27);
    EXPECT_EQ(events[0].virtual_key, VK_ESCAPE);
    EXPECT_EQ(events[0].scan_code, 1);
    EXPECT_EQ(events[0].control_state, 0u);
    EXPECT_FALSE(events[1].key_down);
    EXPECT_FALSE(key_decoder_waiting(decoder));
}

TEST(EscapeDeadline, ContinuationJustBeforeTheDeadlineMakesASequence) {
    key_decoder decoder{};
    key_event events[KEY_DECODER_MAX_EVENTS];
    key_decoder_feed(decoder, 0x1b, START, events);
    EXPECT_EQ(key_decoder_tick(decoder, START + KEY_ESCAPE_DEADLINE_NS - 1, events), 0u);
    EXPECT_EQ(key_decoder_feed(decoder, '[', START + KEY_ESCAPE_DEADLINE_NS - 1, events), 0u);
    // The deadline counts from the latest byte.
    EXPECT_EQ(key_decoder_tick(decoder, START + KEY_ESCAPE_DEADLINE_NS + 1, events), 0u);
    ASSERT_EQ(key_decoder_feed(decoder, 'A', START + KEY_ESCAPE_DEADLINE_NS + 2, events), 2u);
    EXPECT_EQ(events[0].virtual_key, VK_UP);
    EXPECT_EQ(events[0].control_state, ENHANCED_KEY);
}

TEST(EscapeDeadline, LetterAfterTheDeadlineIsAKeyOfItsOwn) {
    key_decoder decoder{};
    key_event events[KEY_DECODER_MAX_EVENTS];
    std::vector<key_event> all;
    key_decoder_feed(decoder, 0x1b, START, events);
    size_t n = key_decoder_tick(decoder, START + KEY_ESCAPE_DEADLINE_NS, events);
    all.insert(all.end(), events, events + n);
    n = key_decoder_feed(decoder, 'x', START + KEY_ESCAPE_DEADLINE_NS + 1, events);
    all.insert(all.end(), events, events + n);
    EXPECT_EQ(show(key_strings(all)), show({ch(27), ch('x')}));
}

TEST(EscapeDeadline, ClockGoingBackDoesNotSettle) {
    key_decoder decoder{};
    key_event events[KEY_DECODER_MAX_EVENTS];
    key_decoder_feed(decoder, 0x1b, START, events);
    EXPECT_EQ(key_decoder_tick(decoder, 0, events), 0u);
    EXPECT_TRUE(key_decoder_waiting(decoder));
}

TEST(EscapeDeadline, UnfinishedSequenceIsDroppedNotTurnedIntoKeys) {
    EXPECT_EQ(show(decode("\x1b[1;5")), "");
    EXPECT_EQ(show(decode("\x1b]0;title")), "");
    EXPECT_EQ(show(decode("\x1b[M!")), "");
    // An ESC in an unfinished string that nothing follows is the Esc key.
    EXPECT_EQ(show(decode("\x1b]0;title\x1b")), show({ch(27)}));
}

// The events themselves: a US PC keyboard's virtual keys and scan codes, press then release.
struct event_row {
    const char* name;
    std::string bytes;
    key_event press;
};

const std::vector<event_row> event_rows = {
    {"a", "a", {true, 1, 'A', 30, 'a', 0}},
    {"A", "A", {true, 1, 'A', 30, 'A', SHIFT_PRESSED}},
    {"1", "1", {true, 1, '1', 2, '1', 0}},
    {"!", "!", {true, 1, '1', 2, '!', SHIFT_PRESSED}},
    {"backslash", "\\", {true, 1, VK_OEM_5, 43, '\\', 0}},
    {"slash", "/", {true, 1, VK_OEM_2, 53, '/', 0}},
    {"question", "?", {true, 1, VK_OEM_2, 53, '?', SHIFT_PRESSED}},
    {"tilde", "~", {true, 1, VK_OEM_3, 41, '~', SHIFT_PRESSED}},
    {"blank", " ", {true, 1, VK_SPACE, 57, ' ', 0}},
    {"ctrl a", "\x01", {true, 1, 'A', 30, 1, LEFT_CTRL_PRESSED}},
    {"ctrl z", "\x1a", {true, 1, 'Z', 44, 26, LEFT_CTRL_PRESSED}},
    {"enter", "\r", {true, 1, VK_RETURN, 28, 13, 0}},
    {"backspace", "\x7f", {true, 1, VK_BACK, 14, 8, 0}},
    {"high byte", "\xe9", {true, 1, 0, 0, 0xe9, 0}},
    {"esc", "\x1b", {true, 1, VK_ESCAPE, 1, 27, 0}},
    {"alt esc", "\x1b\x1b", {true, 1, VK_ESCAPE, 1, 27, LEFT_ALT_PRESSED}},
    {"alt a",
     "\x1b"
     "a",
     {true, 1, 'A', 30, 'a', LEFT_ALT_PRESSED}},
    {"up", "\x1b[A", {true, 1, VK_UP, 72, 0, ENHANCED_KEY}},
    {"ctrl up", "\x1b[1;5A", {true, 1, VK_UP, 72, 0, ENHANCED_KEY | LEFT_CTRL_PRESSED}},
    {"delete", "\x1b[3~", {true, 1, VK_DELETE, 83, 0, ENHANCED_KEY}},
    {"F1", "\x1bOP", {true, 1, VK_F1, 59, 0, 0}},
    {"F10", "\x1b[21~", {true, 1, VK_F1 + 9, 68, 0, 0}},
    {"F11", "\x1b[23~", {true, 1, VK_F1 + 10, 87, 0, 0}},
    {"F12", "\x1b[24~", {true, 1, VK_F1 + 11, 88, 0, 0}},
    {"shift tab", "\x1b[Z", {true, 1, VK_TAB, 15, 9, SHIFT_PRESSED}},
    {"keypad 7", "\x1bOw", {true, 1, VK_NUMPAD0 + 7, 71, '7', 0}},
    {"alt keypad 2", "\x1b\x1bOr", {true, 1, VK_NUMPAD0 + 2, 80, 0, LEFT_ALT_PRESSED}},
    {"keypad 5", "\x1b[E", {true, 1, VK_CLEAR, 76, 0, 0}},
    {"keypad enter", "\x1bOM", {true, 1, VK_RETURN, 28, 13, ENHANCED_KEY}},
};

TEST(KeyEvents, CarryUsKeyboardCodesPressThenRelease) {
    for (const event_row& row : event_rows) {
        const std::vector<key_event> events = decode_parts({row.bytes});
        ASSERT_EQ(events.size(), 2u) << row.name;
        for (int i = 0; i < 2; ++i) {
            const key_event& e = events[static_cast<size_t>(i)];
            EXPECT_EQ(e.key_down, i == 0) << row.name;
            EXPECT_EQ(e.repeat_count, 1) << row.name;
            EXPECT_EQ(e.virtual_key, row.press.virtual_key) << row.name;
            EXPECT_EQ(e.scan_code, row.press.scan_code) << row.name;
            EXPECT_EQ(e.character, row.press.character) << row.name;
            EXPECT_EQ(e.control_state, row.press.control_state) << row.name;
        }
    }
}

// Terminals report no key releases; the release of Alt is implied by the next key without
// Alt, and reported before it.
TEST(KeyEvents, AltReleaseComesBeforeTheNextKeyWithoutAlt) {
    const std::vector<key_event> events =
        decode_parts({"\x1b"
                      "a",
                      "\x1b"
                      "b",
                      "c"});
    ASSERT_EQ(events.size(), 7u);
    EXPECT_TRUE(events[0].key_down);
    EXPECT_TRUE(events[2].key_down);
    EXPECT_EQ(events[2].virtual_key, 'B');
    EXPECT_FALSE(events[4].key_down);
    EXPECT_EQ(events[4].virtual_key, VK_MENU);
    EXPECT_EQ(events[4].control_state, 0u);
    EXPECT_TRUE(events[5].key_down);
    EXPECT_EQ(events[5].character, 'c');
}

// Every printable key's virtual key maps back, through the layout stand-in, to the character
// the key gives without Shift: the decoder and the layout agree about the keyboard.
TEST(KeyEvents, DecoderAndLayoutAgree) {
    const std::string plain = "1234567890-=qwertyuiop[]asdfghjkl;'`\\zxcvbnm,./ ";
    const std::string shifted = "!@#$%^&*()_+QWERTYUIOP{}ASDFGHJKL:\"~|ZXCVBNM<>? ";
    for (size_t i = 0; i < plain.size(); ++i) {
        for (char c : {plain[i], shifted[i]}) {
            const std::vector<key_event> events = decode_parts({std::string(1, c)});
            ASSERT_EQ(events.size(), 2u) << c;
            const int expected = std::toupper(static_cast<unsigned char>(plain[i]));
            EXPECT_EQ(layout_character(events[0].virtual_key), expected) << c;
            EXPECT_EQ(events[0].character, static_cast<uint8_t>(c));
        }
    }
}

}  // namespace
