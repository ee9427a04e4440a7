// Keyboard polling that never waits: key events become key values in a small queue, and
// poll_key hands out the oldest as a key string (empty, one character, or 255 followed by an
// extended code). Hang-up and termination signals queue the close key.
#ifndef DSPHOST_CONSOLE_KEYBOARD_H
#define DSPHOST_CONSOLE_KEYBOARD_H

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/console_types.h"

// Key values: 0 to 255 a character; extended code * 256 + 255 an extended key; NO_KEY none.
constexpr int32_t NO_KEY = -1;
// The close key: extended code 107, the value of Alt+F4.
constexpr int32_t CLOSE_KEY = 27647;

constexpr int KEY_QUEUE_SLOTS = 512;

// A ring of key values; empty when both positions are equal, so at most 511 are pending.
struct key_ring {
    int32_t slots[KEY_QUEUE_SLOTS];
    int64_t read_position;
    int64_t write_position;
};

// Process-wide keyboard state, touched by the main thread only.
extern key_ring key_queue;
extern bool handler_installed;
// The number typed so far in an Alt + keypad entry, wrapping modulo 2^32.
extern uint32_t alt_keypad_value;

// Translation tables. An entry of 256 or more is an extended key (extended code in the high
// byte); below 256 a character. scan_code_table: by scan code, columns plain, Shift, Ctrl,
// Alt; only its extended entries are used. enhanced_key_table: scan code, then plain, Shift,
// Ctrl and Alt entries of the grey keys.
extern const uint16_t scan_code_table[89][4];
extern const uint16_t enhanced_key_table[12][5];

// Appends a key value; when the queue is full the oldest pending value is dropped.
void push_key(int32_t value);

// The key value of a key event by the two tables, or NO_KEY.
int32_t lookup_key_value(const key_event& event);

// Turns one key event into at most one pushed key value, and runs the Alt + keypad entry.
void translate_key_event(const key_event& event);

// Queues one key record: a press as often as its repeat count says (not at all for 0), a
// release once.
void queue_key_record(const key_event& event);

// Installs the platform's control handler on the first call in the process only, after
// registering remove_ctrl_handler to run at exit.
void install_ctrl_handler();

// Handles a console control event: close, log-off and shut-down queue the close key and are
// handled (true); every other event is declined (false). Safe to call from a signal handler
// or another thread: it only counts the request, and the next refill queues the key.
bool console_ctrl_handler(int event);

// Removes the control handler, if it was installed.
void remove_ctrl_handler();

// Moves every key pending now into the queue: close keys asked for by the control handler,
// then the console's key records. Reads only what is there.
void refill_key_queue();

// The oldest pending key as a key string; the empty text when none is pending. Never waits.
std::string poll_key();

// The code (0 to 255) of the character at a 1-based position, 0 outside the text.
uint32_t char_code(std::string_view text, int64_t position);

#endif
