// Keys: console key records through the translation tables and the Alt + keypad entry, the
// key queue and poll_key, the control handler, and a terminal's bytes through the decoder.
// Expected keys are written as text: "97" a character, "x72" the extended key 255, 72.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "console/keyboard.h"
#ifndef _WIN32
#include "platform/posix/key_decoder.h"  // a terminal's bytes become key records
#endif

namespace {

constexpr uint32_t ALT = LEFT_ALT_PRESSED, CTRL = RIGHT_CTRL_PRESSED, SHIFT = SHIFT_PRESSED;
constexpr int64_t MS = 1'000'000;

// Every key poll_key hands out now, as text.
std::string polled() {
    std::string text;
    for (std::string key = poll_key(); !key.empty(); key = poll_key()) {
        const uint32_t code = char_code(key, 1);
        text += (text.empty() ? "" : " ") +
                (key.size() == 2 ? "x" + std::to_string(char_code(key, 2)) : std::to_string(code));
    }
    return text;
}

key_event press(uint16_t vk, uint16_t scan, uint8_t c, uint32_t state = 0, uint16_t repeat = 1) {
    return key_event{true, repeat, vk, scan, c, state};
}

key_event release(uint16_t vk, uint16_t scan, uint32_t state = 0) {
    return key_event{false, 1, vk, scan, 0, state};
}

const key_event alt_down = press(VK_MENU, 56, 0, ALT), alt_up = release(VK_MENU, 56);
key_event pad(int digit, uint32_t state = ALT) {
    return press(static_cast<uint16_t>(VK_NUMPAD0 + digit), 82, 0, state);
}

TEST(Keys, RecordsBecomeKeys) {
    const std::pair<std::vector<key_event>, const char*> rows[] = {
        {{press(VK_ESCAPE, 1, 27)}, "27"},
        {{press(VK_ESCAPE, 1, 27, ALT)}, "x1"},
        {{press('A', 30, 'a', 0, 3)}, "97 97 97"},
        {{press('A', 30, 'a', 0, 0)}, ""},
        {{release('A', 30), release(VK_SHIFT, 42)}, ""},
        {{press(VK_F1 + 3, 62, 0)}, "x62"},
        {{press(VK_F1 + 3, 62, 0, SHIFT), press(VK_F1 + 3, 62, 0, CTRL)}, "x87 x97"},
        {{press(VK_F1 + 3, 62, 0, ALT | CTRL)}, "x107"},
        {{press(VK_F1 + 11, 88, 0, ALT)}, "x140"},
        {{press('A', 30, 'A', ALT), press('A', 30, 'a', ALT), press('A', 30, 0xe1, ALT)},
         "x30 x30 225"},
        {{press('2', 3, '2', CTRL), press('2', 3, 0, CTRL)}, "x3"},
        {{press('C', 46, 3, CTRL)}, "3"},
        {{press(VK_TAB, 15, 9, SHIFT)}, "x15"},
        {{press(VK_OEM_PERIOD, 52, 'n', ALT)}, "110"},  // layout U+044E is no N
        {{press(VK_UP, 72, 0, ENHANCED_KEY), press(VK_UP, 72, 0, ENHANCED_KEY | ALT)}, "x72 x152"},
        {{press(VK_RETURN, 28, 13, ENHANCED_KEY), press(VK_RETURN, 28, 0, ENHANCED_KEY | CTRL)},
         "13 10"},
        {{press(VK_DIVIDE, 53, 0, ENHANCED_KEY | SHIFT), press(VK_CLEAR, 76, 0, ENHANCED_KEY)},
         "63"},
        {{press(0xFF, 89, 0), press(0xFF, 89, 'q')}, "113"},
        {{alt_down, pad(2), pad(7), alt_up}, "27"},
        {{alt_down, pad(2), pad(5), pad(9), alt_up}, "3"},
        {{alt_down, pad(0), alt_up}, ""},
        {{alt_down, pad(2), pad(5), pad(6), alt_up}, "0"},
        {{alt_down, pad(1), press(VK_SHIFT, 42, 0, ALT | SHIFT)}, "1"},
        {{alt_down, pad(2), press('A', 30, 'a', ALT), alt_up}, "x30"},
        {{alt_down, pad(6), release(VK_NUMPAD0 + 6, 77, ALT), pad(5), alt_up}, "65"},
        {{alt_down, pad(4), pad(2), pad(9), pad(4), pad(9), pad(6), pad(7), pad(3), pad(2), pad(9),
          alt_up},
         "33"},  // 4294967329 wraps
    };
    for (const auto& [records, keys] : rows) {
        for (const key_event& record : records) {
            queue_key_record(record);
        }
        EXPECT_EQ(polled(), keys) << keys;
    }
}

TEST(Keys, QueueKeepsTheNewest511) {
    for (int i = 0; i < 600; ++i) {
        push_key(i % 200);
    }
    const std::string keys = polled();
    EXPECT_EQ(keys.substr(0, keys.find(' ')), std::to_string(89 % 200));
    EXPECT_EQ(std::count(keys.begin(), keys.end(), ' '), 510);
}

TEST(Keys, ControlEventsAndCharCode) {
    for (int event = -1; event <= 8; ++event) {
        const bool closes = event == 2 || event == 5 || event == 6;
        EXPECT_EQ(console_ctrl_handler(event), closes) << event;
        EXPECT_EQ(polled(), closes ? "x107" : "") << event;
    }
    const std::string ext = "\xff;";
    EXPECT_EQ(char_code(ext, 0) + char_code(ext, 3) + char_code("", 1), 0u);
    EXPECT_EQ(char_code(ext, 1) * 1000 + char_code(ext, 2), 255059u);
}

#ifndef _WIN32
void queue(const key_event* events, size_t count) {
    for (size_t i = 0; i < count; ++i) queue_key_record(events[i]);
}

// Terminal bytes, fed at once and then one byte per poll 1 ms apart, give the same keys.
TEST(Keys, TerminalBytesBecomeKeys) {
    const std::pair<std::string, const char*> rows[] = {
        {"a!\t\r\n\x7f\x08\x01\x03", "97 33 9 13 13 8 8 1 3"},
        {std::string("\0\xc3\xa9", 3), "195 169"},
        {"\x1b", "27"},
        {"\x1b[A\x1b[B\x1b[C\x1b[D\x1b[H\x1b[F", "x72 x80 x77 x75 x71 x79"},
        {"\x1b[1;2P\x1b[1;5P\x1b[1;3P\x1b[1;4P\x1b[1;3S", "x84 x94 x104 x104 x107"},
        {"\x1b[3;5~\x1b[5;3~\x1b[24;5~\x1b[23;2~\x1bO2P", "x147 x153 x138 x135 x84"},
        {"\x1b[2$\x1b[3^\x1b[5@\x1b[11^\x1b[a\x1bOa\x1bOd", "x82 x147 x132 x94 x72 x141 x115"},
        {"\033a\033A\0331\033=\033;\033:", "x30 x30 x120 x131 x39 58"},
        {"\x1b\x1b\x1b\x7f\x1b\t\x1b\r\x1b \x1b\x01", "x1 x224 x15 x28 32 1"},
        {"\x1b[M !!\x1b[<0;1;1M\x1b[I\x1b[O\x1b[200~x\x1b[201~", "120"},
        {"\x1b]0;title\x07\x1bP1$r\x1b\\\x1b[99999999A\x1b[1;2;3;4;5A\x1b[?1;2c", ""},
    };
    for (const auto& [bytes, keys] : rows) {
        for (const bool split : {false, true}) {
            key_decoder decoder{};
            key_event events[KEY_DECODER_MAX_EVENTS];
            int64_t now = 5000 * MS;
            for (const char byte : bytes) {
                queue(events, key_decoder_feed(decoder, static_cast<uint8_t>(byte), now, events));
                now += split ? MS : 0;
            }
            queue(events, key_decoder_tick(decoder, now + 25 * MS, events));
            EXPECT_FALSE(key_decoder_waiting(decoder));
            EXPECT_EQ(polled(), keys) << (split ? "split " : "") << bytes.substr(1);
        }
    }
}

TEST(Keys, LoneEscWaitsForTheRestOfASequence) {
    key_decoder decoder{};
    key_event events[KEY_DECODER_MAX_EVENTS];
    EXPECT_EQ(key_decoder_feed(decoder, 27, 0, events), 0u);
    EXPECT_EQ(key_decoder_tick(decoder, 25 * MS - 1, events), 0u);
    queue(events, key_decoder_tick(decoder, 25 * MS, events));
    EXPECT_EQ(polled(), "27");
}

#endif

}  // namespace
