// Real audio without a sound card, for tests that run the real PortAudio and ALSA.
//
// A private ALSA configuration makes the default device an `asym` pair of `file` plugins:
// playback writes every played frame, raw, to a file; capture reads raw frames from a file.
// Their slave sets the pace: the `null` slave has no clock (the stream free-runs, millions
// of callbacks a second: for exact-sample checks), the `pulse` slave connected to a private
// PulseAudio runs at the real 8000 samples a second. Output starts after a latency offset
// of silence (PortAudio fills the device buffer first); find it with find_sample_offset.
//
// Processes run under a watchdog: run_watched kills a child that outlives its time limit,
// and every child (and the private PulseAudio) dies with the test process.
#ifndef DSPHOST_TESTS_SUPPORT_AUDIO_ENV_H
#define DSPHOST_TESTS_SUPPORT_AUDIO_ENV_H

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/test_util.h"

// Environment settings for a child, each "NAME=value".
using env_list = std::vector<std::string>;

// Raw native-endian 16-bit mono files, as the ALSA file plugins read and write them.
bool write_raw_samples(const std::string& path, const std::vector<int16_t>& samples);
std::vector<int16_t> read_raw_samples(const std::string& path);

// Writes dir/asound.conf with the default device described above and returns the variables
// a child needs: ALSA_CONFIG_PATH (always set it: the system's own configuration routes the
// default device to PulseAudio) and JACK_NO_START_SERVER. output_file receives the played
// samples, input_file supplies the captured ones (it must be longer than the run consumes:
// past its end the plugin hands out stale data). An empty pulse_socket selects the null
// slave; otherwise the pulse slave on that socket (see start_private_pulse), and then also
// TSAN_OPTIONS with suppressions for the uninstrumented PulseAudio client library.
env_list write_alsa_config(const std::string& dir, const std::string& output_file,
                           const std::string& input_file, const std::string& pulse_socket);

// Writes dir/asound.conf with `text` as the whole configuration, for odd set-ups. Keep one
// usable pcm in it: with none, PortAudio aborts on an assertion at initialisation.
env_list write_alsa_config_text(const std::string& dir, const std::string& text);

// The system's own ALSA configuration on a machine without a sound card, with no sound server
// to find or spawn: a private HOME and runtime directory under dir, a PulseAudio client
// configuration without autospawn and a server address that leads nowhere.
env_list system_without_sound_server(const std::string& dir);

// TSAN_OPTIONS for a child that loads the PulseAudio client library: it is not instrumented,
// and ThreadSanitizer takes its hand-overs between threads for races.
std::string pulse_tsan_options();

// A private PulseAudio in user mode: 8000 Hz mono s16le null sink and source as defaults,
// the native protocol on `socket` without authentication.
struct private_pulse {
    pid_t pid = -1;
    std::string dir;     // its HOME, runtime directory and script; removed by stop
    std::string socket;  // the unix socket path
    std::string log;     // its standard output and error
};

// Starts the daemon and waits (at most timeout_seconds) until its socket accepts
// connections, which happens only after the sink, the source and the loopback are loaded.
// On failure the daemon is stopped and false is returned; pulse->log may tell why.
bool start_private_pulse(private_pulse* pulse, double timeout_seconds);
// Stops the daemon by its process id (SIGTERM, then SIGKILL after a grace period) and
// removes its directory. Safe to call twice.
void stop_private_pulse(private_pulse* pulse);
// The daemon's log, for failure messages.
std::string pulse_log(const private_pulse& pulse);

struct watched_run {
    bool started = false;    // the child was created
    bool timed_out = false;  // the watchdog killed it
    bool exited = false;     // it ended by exit (exit_code valid)
    int exit_code = -1;
    int term_signal = 0;  // the signal that ended it, if any
    std::string out;      // its standard output
    std::string err;      // its standard error
};

// Runs argv (argv[0] looked up on PATH when it has no slash) with the current environment,
// minus `unset`, plus `set` (see child_environment); standard input is /dev/null. Kills it with
// SIGKILL after timeout_seconds.
watched_run run_watched(const std::vector<std::string>& argv, const env_list& set,
                        const std::vector<std::string>& unset, double timeout_seconds);

// A one-line account of how a watched child ended, for failure messages.
std::string describe_run(const watched_run& run);

// The smallest offset k in [0, max_offset] with output[k + i] == expected[i] for every i
// below compare_count (output must hold k + compare_count samples); -1 if there is none.
int64_t find_sample_offset(const std::vector<int16_t>& output, const std::vector<int16_t>& expected,
                           int64_t compare_count, int64_t max_offset);

// The value of `key=` in a line of `key=value` words (as audio_probe prints), or "".
std::string probe_field(const std::string& line, const std::string& key);

#endif
