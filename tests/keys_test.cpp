// Keys: console key records through the translation tables and the Alt + keypad entry, the
// key queue and poll_key, the control handler, and a terminal's bytes through the decoder.
// Expected keys are written as text: "97" a character, "x72" the extended key 255, 72.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "console/keyboard.h"
#ifndef _WIN32
#include "platform/posix/key_decoder.h"  // the terminal's own unit: bytes to key records
#endif

namespace {

constexpr uint32_t ALT = LEFT_ALT_PRESSED, CTRL = RIGHT_CTRL_PRESSED, SHIFT = SHIFT_PRESSED;
constexpr int64_t MS = 1'000'000;

// Every key poll_key hands out now, as text.
std::string polled() {
    std::string text;
    for (std::string key = poll_key(); !key.empty(); key = poll_key()) {
        text += std::string(text.empty() ? "" : " ") + (key.size() == 2 ? "x" : "") +
                std::to_string(char_code(key, static_cast<int64_t>(key.size())));
    }
    return text;
}

void queue(const key_event* events, size_t count) {
    for (size_t i = 0; i < count; ++i) queue_key_record(events[i]);
}

key_event press(uint16_t vk, uint16_t scan, uint8_t c, uint32_t state = 0, uint16_t repeat = 1) {
    return key_event{true, repeat, vk, scan, c, state};
}

key_event release(uint16_t vk, uint16_t scan, uint32_t state = 0) {
    return key_event{false, 1, vk, scan, 0, state};
}

const key_event alt_down = press(VK_MENU, 56, 0, ALT), alt_up = release(VK_MENU, 56);
key_event pad(int digit) {
    return press(static_cast<uint16_t>(VK_NUMPAD0 + digit), 82, 0, ALT);
}

TEST(Keys, RecordsBecomeKeys) {
    // Only 27 and 3 act; no other key may turn into either (extended keys start with 255).
    const std::pair<std::vector<key_event>, const char*> rows[] = {
        {{press(VK_ESCAPE, 1, 27), press(VK_ESCAPE, 1, 27, ALT)}, "27 x1"},
        {{press('A', 30, 'a', 0, 3), press('A', 30, 'a', 0, 0), release('A', 30)}, "97 97 97"},
        {{press('C', 46, 3, CTRL), press('2', 3, '2', CTRL), press('2', 3, 0, CTRL)}, "3 x3"},
        {{press(VK_F1 + 3, 62, 0), press(VK_F1 + 3, 62, 0, SHIFT), press(VK_F1 + 3, 62, 0, CTRL),
          press(VK_F1 + 3, 62, 0, ALT | CTRL)},
         "x62 x87 x97 x107"},
        {{press('A', 30, 'A', ALT), press('A', 30, 0xe1, ALT), press(0xFF, 89, 'q')},
         "x30 225 113"},
        {{press(VK_OEM_PERIOD, 52, 'n', ALT)}, "110"},  // layout U+044E is no N
        {{press(VK_UP, 72, 0, ENHANCED_KEY | ALT), press(VK_RETURN, 28, 0, ENHANCED_KEY | CTRL),
          press(VK_CLEAR, 76, 0, ENHANCED_KEY)},
         "x152 10"},
        {{alt_down, pad(2), release(VK_NUMPAD0 + 2, 80, ALT), pad(7), alt_up}, "27"},
        {{alt_down, pad(2), pad(5), pad(9), alt_up}, "3"},  // 259
        {{alt_down, pad(2), press('A', 30, 'a', ALT), alt_up}, "x30"},
    };
    for (const auto& [records, keys] : rows) {
        queue(records.data(), records.size());
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

TEST(Keys, ControlEventsQueueTheCloseKey) {
    for (int event = -1; event <= 8; ++event) {
        const bool closes = event == 2 || event == 5 || event == 6;
        EXPECT_EQ(console_ctrl_handler(event), closes) << event;
        EXPECT_EQ(polled(), closes ? "x107" : "") << event;
    }
}

#ifndef _WIN32
// Terminal bytes, fed at once and then one byte per poll 1 ms apart, give the same keys; a
// lone ESC only once 25 ms have passed since it came.
TEST(Keys, TerminalBytesBecomeKeys) {
    const std::pair<std::string, const char*> rows[] = {
        {"a!\t\r\n\x7f\x08\x01\x03", "97 33 9 13 13 8 8 1 3"},
        {std::string("\0\xc3\xa9", 3), "195 169"},
        {"\x1b", "27"},
        {"\x1b\x1b\x1b\x7f\x1b\t\x1b \x1b\x01", "x1 x224 x15 32 1"},
        {"\033a\033A\0331\033:", "x30 x30 x120 58"},
        {"\x1b[A\x1b[1;3S\x1b[3;5~\x1bO2P\x1b[2$\x1b[a\x1bOd\x1bOq",
         "x72 x107 x147 x84 x82 x72 x115 49"},
        {"\x1b[M !!\x1b[<0;1;1M\x1b[I\x1b[O\x1b[200~x\x1b[201~", "120"},
        // No Alt + keypad entry: Alt with keypad 3, 3, 2, 7 is Alt+3, ...; ESC [ M, then Ctrl+C.
        {"\x1b\x1bOs\x1bO3s\x1b\x1bOr\x1bO3w\x1b[M\x03", "x122 x122 x121 x126 3"},
        {"\x1b]0;title\x07\x1bP1$r\x1b\\\x1b[99999999A\x1b[1;2;3;4;5A\x1b[?1;2c", ""},
    };
    for (const auto& [bytes, keys] : rows) {
        for (const bool split : {false, true}) {
            key_decoder decoder{};
            key_event events[KEY_DECODER_MAX_EVENTS];
            int64_t now = 5000 * MS;
            for (const char byte : bytes) {
                now += split ? MS : 0;
                queue(events, key_decoder_feed(decoder, static_cast<uint8_t>(byte), now, events));
            }
            EXPECT_EQ(key_decoder_tick(decoder, now + 25 * MS - 1, events), 0u);
            queue(events, key_decoder_tick(decoder, now + 25 * MS, events));
            EXPECT_FALSE(key_decoder_waiting(decoder));
            EXPECT_EQ(polled(), keys) << (split ? "split " : "") << bytes.substr(1);
        }
    }
}

#endif

}  // namespace
