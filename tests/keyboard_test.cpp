// The key queue and the key translation, fed with synthetic console key records, and the
// control handler. Standard input is /dev/null here, so polling never reads a terminal.
#include "console/keyboard.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/posix/key_decoder.h"
#include "tests/support/key_text.h"

namespace {

constexpr uint32_t ALT = LEFT_ALT_PRESSED;
constexpr uint32_t CTRL = LEFT_CTRL_PRESSED;
constexpr uint32_t SHIFT = SHIFT_PRESSED;

key_event press(uint16_t vk, uint16_t scan, uint8_t character, uint32_t state,
                uint16_t repeat = 1) {
    return key_event{true, repeat, vk, scan, character, state};
}

key_event release(uint16_t vk, uint16_t scan, uint8_t character, uint32_t state) {
    return key_event{false, 1, vk, scan, character, state};
}

std::vector<std::string> drain() {
    std::vector<std::string> keys;
    for (std::string key = poll_key(); !key.empty(); key = poll_key()) {
        keys.push_back(key);
    }
    return keys;
}

class Keyboard : public testing::Test {
protected:
    void SetUp() override {
        drain();
        alt_keypad_value = 0;
    }
};

// char_code.
TEST(CharCode, GivesTheByteAtAOneBasedPositionAndZeroOutside) {
    const std::string f1 = ext(59);
    const std::vector<std::tuple<std::string, int64_t, uint32_t>> cases = {
        {"", 1, 0},         {"", 0, 0},      {f1, 1, 255},  {f1, 2, 59},
        {f1, 0, 0},         {f1, 3, 0},      {f1, -1, 0},   {f1, INT64_MIN, 0},
        {f1, INT64_MAX, 0}, {ch(27), 1, 27}, {ch(0), 1, 0}, {ch(0xe9), 1, 0xe9},
    };
    for (const auto& [text, position, code] : cases) {
        EXPECT_EQ(char_code(text, position), code) << position;
    }
}

// The tables, against the extended entries listed for them, written out as rules here.
TEST(Tables, ScanCodeTableHoldsExactlyTheListedExtendedEntries) {
    uint16_t expected[89][4] = {};
    auto set = [&](int scan, int column, int code) {
        expected[scan][column] = static_cast<uint16_t>(code * 256);
    };
    for (int s = 59; s <= 68; ++s) {
        set(s, 0, s);
        set(s, 1, 84 + (s - 59));
        set(s, 2, 94 + (s - 59));
        set(s, 3, 104 + (s - 59));
    }
    for (int s : {71, 72, 73, 75, 76, 77, 79, 80, 81, 82, 83}) {
        set(s, 0, s);
    }
    set(87, 0, 133), set(88, 0, 134), set(15, 1, 15), set(87, 1, 135), set(88, 1, 136);
    set(3, 2, 3), set(15, 2, 148), set(87, 2, 137), set(88, 2, 138);
    const int ctrl_keys[][2] = {{71, 119}, {72, 141}, {73, 132}, {75, 115}, {76, 143}, {77, 116},
                                {79, 117}, {80, 145}, {81, 118}, {82, 146}, {83, 147}};
    for (const auto& [s, code] : ctrl_keys) {
        set(s, 2, code);
    }
    set(1, 3, 1), set(14, 3, 224), set(76, 3, 76), set(87, 3, 139), set(88, 3, 140);
    for (int s = 2; s <= 13; ++s) {
        set(s, 3, 120 + (s - 2));
    }
    for (int s = 15; s <= 53; ++s) {
        if (s != 29 && s != 42 && s != 43) {
            set(s, 3, s);
        }
    }
    for (int s = 0; s < 89; ++s) {
        for (int c = 0; c < 4; ++c) {
            const uint16_t entry = scan_code_table[s][c];
            if (expected[s][c] != 0) {
                EXPECT_EQ(entry, expected[s][c]) << "scan " << s << " column " << c;
            } else {
                EXPECT_LT(entry, 256) << "scan " << s << " column " << c;
            }
        }
    }
}

// The grey keys' rows follow rules: the plain and Shift columns are the key itself, the Ctrl
// column is the main table's, and the Alt column is the scan code plus 80.
TEST(Tables, EnhancedKeyTableRows) {
    const uint16_t keypad_rows[2][5] = {
        {28, 13, 13, 10, 166 * 256},         // keypad Enter
        {53, 47, 63, 149 * 256, 164 * 256},  // keypad slash
    };
    for (int r = 0; r < 12; ++r) {
        const uint16_t s = enhanced_key_table[r][0];
        const std::vector<uint16_t> expected =
            r < 2 ? std::vector<uint16_t>(keypad_rows[r], keypad_rows[r] + 5)
                  : std::vector<uint16_t>{s, static_cast<uint16_t>(s * 256),
                                          static_cast<uint16_t>(s * 256), scan_code_table[s][2],
                                          static_cast<uint16_t>((s + 80) * 256)};
        EXPECT_EQ(std::vector<uint16_t>(enhanced_key_table[r], enhanced_key_table[r] + 5), expected)
            << "row " << r;
    }
    std::vector<int> grey_keys;
    for (int r = 2; r < 12; ++r) grey_keys.push_back(enhanced_key_table[r][0]);
    EXPECT_EQ(grey_keys, (std::vector<int>{71, 72, 73, 75, 77, 79, 80, 81, 82, 83}));
}

// lookup_key_value over synthetic key presses.
struct lookup_row {
    const char* name;
    key_event event;
    int32_t value;
};

int32_t x(int code) {
    return code * 256 + 255;
}

const std::vector<lookup_row> lookup_rows = {
    {"esc", press(VK_ESCAPE, 1, 27, 0), 27},
    {"alt esc", press(VK_ESCAPE, 1, 27, ALT), x(1)},
    {"right alt esc", press(VK_ESCAPE, 1, 27, RIGHT_ALT_PRESSED), x(1)},
    {"F1", press(VK_F1, 59, 0, 0), x(59)},
    {"shift F1", press(VK_F1, 59, 0, SHIFT), x(84)},
    {"F4", press(VK_F1 + 3, 62, 0, 0), x(62)},
    {"shift F4", press(VK_F1 + 3, 62, 0, SHIFT), x(87)},
    {"ctrl F4", press(VK_F1 + 3, 62, 0, CTRL), x(97)},
    {"right ctrl F4", press(VK_F1 + 3, 62, 0, RIGHT_CTRL_PRESSED), x(97)},
    {"alt F4", press(VK_F1 + 3, 62, 0, ALT), x(107)},
    {"alt ctrl F4 takes the Alt column", press(VK_F1 + 3, 62, 0, ALT | CTRL), x(107)},
    {"ctrl shift F4 takes the Ctrl column", press(VK_F1 + 3, 62, 0, CTRL | SHIFT), x(97)},
    {"shift F12", press(VK_F1 + 11, 88, 0, SHIFT), x(136)},
    {"alt F11", press(VK_F1 + 10, 87, 0, ALT), x(139)},
    {"a", press('A', 30, 'a', 0), 'a'},
    {"alt a", press('A', 30, 'a', ALT), x(30)},
    {"alt A", press('A', 30, 'A', ALT), x(30)},
    {"alt a reported as nothing", press('A', 30, 0, ALT), NO_KEY},
    {"ctrl c", press('C', 46, 3, CTRL), 3},
    {"alt c", press('C', 46, 'c', ALT), x(46)},
    {"alt 1", press('1', 2, '1', ALT), x(120)},
    {"alt shift 1 keeps !", press('1', 2, '!', ALT | SHIFT), '!'},
    {"ctrl 2 reported as digit", press('2', 3, '2', CTRL), x(3)},
    {"ctrl 2 reported as 0", press('2', 3, 0, CTRL), NO_KEY},
    {"shift tab", press(VK_TAB, 15, 9, SHIFT), x(15)},
    {"ctrl tab", press(VK_TAB, 15, 9, CTRL), x(148)},
    {"alt backspace", press(VK_BACK, 14, 8, ALT), x(224)},
    {"up", press(VK_UP, 72, 0, ENHANCED_KEY), x(72)},
    {"ctrl up", press(VK_UP, 72, 0, ENHANCED_KEY | CTRL), x(141)},
    {"alt delete", press(VK_DELETE, 83, 0, ENHANCED_KEY | ALT), x(163)},
    {"keypad enter", press(VK_RETURN, 28, 13, ENHANCED_KEY), 13},
    {"ctrl keypad enter reported 0", press(VK_RETURN, 28, 0, ENHANCED_KEY | CTRL), 10},
    {"shift keypad slash reported 0", press(VK_DIVIDE, 53, 0, ENHANCED_KEY | SHIFT), 63},
    {"enhanced key not in the table", press(0, 29, 0, ENHANCED_KEY), NO_KEY},
    {"keypad up with Num Lock off", press(VK_UP, 72, 0, 0), x(72)},
    {"keypad 5", press(VK_CLEAR, 76, 0, 0), x(76)},
    {"shift keypad 5", press(VK_CLEAR, 76, 0, SHIFT), NO_KEY},
    {"scan code above the table", press(0, 100, 'q', ALT), 'q'},
    {"scan code above the table, no character", press(0, 100, 0, 0), NO_KEY},
    {"shift key alone", press(VK_SHIFT, 42, 0, SHIFT), NO_KEY},
    {"high byte", press(0, 0, 0xe9, 0), 0xe9},
};

TEST(Lookup, GivesTheKeyValueOfEachRecord) {
    for (const lookup_row& row : lookup_rows) {
        EXPECT_EQ(lookup_key_value(row.event), row.value) << row.name;
    }
}

// The queue and poll_key.
TEST_F(Keyboard, NothingPendingGivesTheEmptyTextAndKeyCodeZero) {
    const std::string key = poll_key();
    EXPECT_TRUE(key.empty());
    EXPECT_EQ(char_code(key, 1), 0u);
}

TEST_F(Keyboard, KeyStringsOfEachForm) {
    push_key('a');
    push_key(255);
    push_key(x(59));
    push_key(0);
    EXPECT_EQ(drain(), (std::vector<std::string>{ch('a'), ch(255), ext(59), ch(0)}));
}

// An Alt + keypad entry: Alt down, the digits pressed and released under Alt, Alt up.
void alt_keypad_entry(const std::string& digits) {
    queue_key_record(press(VK_MENU, 56, 0, ALT));
    static constexpr uint16_t scans[10] = {82, 79, 80, 81, 75, 76, 77, 71, 72, 73};
    for (char d : digits) {
        const auto digit = static_cast<uint16_t>(d - '0');
        queue_key_record(press(VK_NUMPAD0 + digit, scans[digit], 0, ALT));
        queue_key_record(release(VK_NUMPAD0 + digit, scans[digit], 0, ALT));
    }
    queue_key_record(release(VK_MENU, 56, 0, 0));
}

TEST_F(Keyboard, AltKeypadEntriesGiveTheLowByteOfTheNumber) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> entries = {
        {"27", {ch(27)}},
        {"3", {ch(3)}},
        {"0", {}},
        {"256", {ch(0)}},
        {"259", {ch(3)}},
        {"283", {ch(27)}},
        {"65", {ch('A')}},
        {"0065", {ch('A')}},
        // 4294967296 wraps to 0 in 32 bits: no entry pending, nothing delivered.
        {"4294967296", {}},
        {"4294967299", {ch(3)}},
    };
    for (const auto& [digits, keys] : entries) {
        alt_keypad_entry(digits);
        EXPECT_EQ(drain(), keys) << digits;
        EXPECT_EQ(alt_keypad_value, 0u) << digits;
    }
}

// Records queued at once and the keys they give.
struct records_row {
    const char* name;
    std::vector<key_event> records;
    std::vector<std::string> keys;
};

const key_event alt_down = press(VK_MENU, 56, 0, ALT);
const key_event alt_up = release(VK_MENU, 56, 0, 0);
const key_event alt_keypad_1[] = {press(VK_NUMPAD0 + 1, 79, 0, ALT),
                                  release(VK_NUMPAD0 + 1, 79, 0, ALT)};

const std::vector<records_row> records_rows = {
    {"repeat count 3 gives three keys, 0 none",
     {press('A', 30, 'a', 0, 3), press('B', 48, 'b', 0, 0), release('A', 30, 'a', 0)},
     {ch('a'), ch('a'), ch('a')}},
    {"releases alone give nothing", {release('A', 30, 'a', 0), release(VK_F1, 59, 0, 0)}, {}},
    {"F4 and Alt+F4",
     {press(VK_F1 + 3, 62, 0, 0), press(VK_F1 + 3, 62, 0, ALT)},
     {ext(62), ext(107)}},
    {"Shift pressed under Alt ends the entry at once",
     {alt_down, alt_keypad_1[0], alt_keypad_1[1], press(VK_SHIFT, 42, 0, ALT | SHIFT)},
     {ch(1)}},
    {"and letting Alt go then gives nothing more",
     {alt_down, alt_keypad_1[0], alt_keypad_1[1], press(VK_SHIFT, 42, 0, ALT | SHIFT),
      release(VK_SHIFT, 42, 0, ALT), alt_up},
     {ch(1)}},
    {"a letter under Alt discards the entry",
     {alt_down, alt_keypad_1[0], alt_keypad_1[1], press('A', 30, 'a', ALT),
      release('A', 30, 'a', ALT), alt_up},
     {ext(30)}},
};

TEST_F(Keyboard, RecordsGiveTheirKeys) {
    for (const records_row& row : records_rows) {
        for (const key_event& record : row.records) queue_key_record(record);
        EXPECT_EQ(drain(), row.keys) << row.name;
    }
}

// The whole way from terminal bytes: Alt + keypad 2, 7 in application keypad mode, then the
// next key without Alt implies Alt was let go and delivers the entry first.
TEST_F(Keyboard, EntryFromTerminalBytesEndsAtTheNextKeyWithoutAlt) {
    key_decoder decoder{};
    key_event events[KEY_DECODER_MAX_EVENTS];
    const std::string bytes = "\x1b\x1bOr\x1b\x1bOwx";
    for (char c : bytes) {
        const size_t n = key_decoder_feed(decoder, static_cast<uint8_t>(c), 0, events);
        for (size_t i = 0; i < n; ++i) {
            queue_key_record(events[i]);
        }
    }
    EXPECT_EQ(drain(), (std::vector<std::string>{ch(27), ch('x')}));
}

TEST_F(Keyboard, SixHundredPressesKeepTheNewest511) {
    for (int i = 0; i < 600; ++i) {
        queue_key_record(press(0, 0, static_cast<uint8_t>(i % 250 + 1), 0));
    }
    const std::vector<std::string> keys = drain();
    ASSERT_EQ(keys.size(), 511u);
    for (size_t k = 0; k < keys.size(); ++k) {
        EXPECT_EQ(char_code(keys[k], 1), static_cast<uint32_t>((k + 89) % 250 + 1)) << k;
    }
}

// Control events.
TEST_F(Keyboard, CloseLogOffAndShutDownQueueTheCloseKeyOthersAreDeclined) {
    for (int event = -1; event <= 8; ++event) {
        const bool handled = event == 2 || event == 5 || event == 6;
        EXPECT_EQ(console_ctrl_handler(event), handled) << event;
        EXPECT_EQ(drain(),
                  handled ? std::vector<std::string>{ext(107)} : std::vector<std::string>{})
            << event;
    }
    EXPECT_EQ(CLOSE_KEY, 27647);
}

TEST_F(Keyboard, CloseKeyJoinsKeysAlreadyQueued) {
    push_key('a');
    console_ctrl_handler(CTRL_CLOSE_EVENT);
    EXPECT_EQ(drain(), (std::vector<std::string>{ch('a'), ext(107)}));
}

// The handler runs on another thread (or in a signal handler) while the main thread polls:
// every close key arrives, and ThreadSanitizer sees no race.
TEST_F(Keyboard, CloseEventsFromAnotherThreadWhilePolling) {
    constexpr int events = 200;
    std::atomic<bool> done{false};
    std::thread notifier([&] {
        for (int i = 0; i < events; ++i) {
            console_ctrl_handler(CTRL_CLOSE_EVENT);
            std::this_thread::yield();
        }
        done = true;
    });
    int closes = 0;
    while (!done) {
        const std::string key = poll_key();
        closes += key == ext(107) ? 1 : 0;
    }
    notifier.join();
    for (const std::string& key : drain()) {
        closes += key == ext(107) ? 1 : 0;
    }
    EXPECT_EQ(closes, events);
}

bool has_our_handler(int sig) {
    struct sigaction current {};
    sigaction(sig, nullptr, &current);
    return current.sa_handler != SIG_DFL && current.sa_handler != SIG_IGN;
}

TEST_F(Keyboard, HandlerIsInstalledOnceByTheFirstPoll) {
    poll_key();
    EXPECT_TRUE(handler_installed);
    EXPECT_TRUE(has_our_handler(SIGHUP));
    EXPECT_TRUE(has_our_handler(SIGTERM));
    EXPECT_FALSE(has_our_handler(SIGINT));  // declined: the default action ends the process
    struct sigaction first {};
    sigaction(SIGHUP, nullptr, &first);
    for (int i = 0; i < 10; ++i) {
        poll_key();
    }
    struct sigaction later {};
    sigaction(SIGHUP, nullptr, &later);
    EXPECT_EQ(first.sa_handler, later.sa_handler);
}

// In child processes of their own (a fresh process each: the handler is installed once, by
// the first poll, so these tests do no polling before their statement). That SIGTERM and
// SIGHUP otherwise end the process by their default action is checked on the whole program
// (fault_test.cpp).

TEST(KeyboardDeathTest, HangUpIgnoredAtStartStaysIgnored) {
    EXPECT_EXIT(
        {
            signal(SIGHUP, SIG_IGN);
            poll_key();
            raise(SIGHUP);
            std::_Exit(7);
        },
        testing::ExitedWithCode(7), "");
}

volatile sig_atomic_t earlier_handler_ran = 0;
void earlier_handler(int /*sig*/) {
    earlier_handler_ran = 1;
}

// With a handler found at installation that lets the process go on, the close key that the
// signal queued is there to be polled.
TEST(KeyboardDeathTest, SignalQueuesTheCloseKeyThenPassesTheSignalOn) {
    EXPECT_EXIT(
        {
            signal(SIGTERM, earlier_handler);
            poll_key();
            raise(SIGTERM);
            const bool close_key = poll_key() == ext(107);
            std::_Exit(close_key && earlier_handler_ran == 1 ? 5 : 1);
        },
        testing::ExitedWithCode(5), "");
}

TEST(KeyboardDeathTest, RemovalPutsBackTheHandlingFoundBefore) {
    EXPECT_EXIT(
        {
            signal(SIGHUP, earlier_handler);
            poll_key();
            struct sigaction during {};
            sigaction(SIGHUP, nullptr, &during);
            remove_ctrl_handler();
            struct sigaction after {};
            sigaction(SIGHUP, nullptr, &after);
            const bool ok = during.sa_handler != earlier_handler &&
                            after.sa_handler == earlier_handler && !has_our_handler(SIGTERM);
            std::_Exit(ok ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

}  // namespace

int main(int argc, char** argv) {
    const int null = open("/dev/null", O_RDONLY);
    dup2(null, STDIN_FILENO);
    close(null);
    testing::InitGoogleTest(&argc, argv);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    return RUN_ALL_TESTS();
}
