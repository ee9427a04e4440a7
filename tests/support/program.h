// The whole program on a pseudo-terminal of its own, as a user runs it: started, watched
// until it polls keys and prints lines, and ended, with the terminal's modes compared with
// those it found. Most cases run the program built over the stand-in audio library
// (tests/fake_portaudio.cpp), which records every audio call in a log.
//
//   scratch_dir dir;
//   program p;
//   ASSERT_TRUE(start(&p, DSPHOST_FAKE_AUDIO_BINARY, fake_audio_options(dir)));
//   ASSERT_TRUE(wait_polling(p)) << state_of(&p);
//   ASSERT_TRUE(wait_lines(&p, 1)) << state_of(&p);
//   end_with_esc(&p);
//
// Every wait has a watchdog, and a program still running at the end is killed.
#ifndef DSPHOST_TESTS_SUPPORT_PROGRAM_H
#define DSPHOST_TESTS_SUPPORT_PROGRAM_H

#include <termios.h>

#include <cstddef>
#include <string>
#include <vector>

#include "tests/support/pty.h"
#include "tests/support/test_util.h"

constexpr int watchdog_ms = 20000;

struct program {
    pty_session pty;
    termios before{};    // the terminal's modes as the program found them
    std::string screen;  // everything the terminal showed
    bool ended = false;
    int status = -1;  // the wait status, once ended
    program() = default;
    program(const program&) = delete;
    program& operator=(const program&) = delete;
    ~program() { pty_close(&pty); }
};

// Settings for the program over the stand-in audio library: its call log in dir, the time
// zone UTC, and `extra`.
pty_spawn_options fake_audio_options(const scratch_dir& dir,
                                     const std::vector<std::string>& extra = {});

// The lines of the stand-in library's call log in dir that are exactly `call`.
size_t calls_logged(const scratch_dir& dir, const std::string& call);

// The stand-in library's calls, in order (the lines that start with "Pa_").
std::vector<std::string> calls_made(const scratch_dir& dir);

// Opens a fresh terminal, notes its modes and starts binary on it.
bool start(program* p, const std::string& binary, const pty_spawn_options& options);

// Whether the modes are the program's: the terminal no longer edits lines.
bool program_modes_on(const termios& t);

// Waits until the program has switched the terminal to its modes: its first key poll.
bool wait_polling(const program& p);

// Waits until the screen shows at least n status lines.
bool wait_lines(program* p, size_t n, int timeout_ms = watchdog_ms);

// Whether the program still runs; reaps it (and keeps its status) when it has ended.
bool still_running(program* p);

// Waits for the end (the watchdog kills a program that outlives it), takes the rest of the
// screen and, while the terminal is still there, compares its modes with those found.
void finish(program* p);

// Ends the program with a lone ESC, as the user does, and checks status 0.
void end_with_esc(program* p);

// How the program ended, for failure messages and checks.
std::string how_it_ended(const program& p);
bool exited_with(const program& p, int code);
bool killed_by(const program& p, int sig);

// For failure messages: how the program stands now, and what the terminal showed.
std::string state_of(program* p);

#endif
