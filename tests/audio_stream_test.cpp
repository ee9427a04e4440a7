// The live audio path through the real PortAudio and ALSA, without a sound card: the
// audio_probe child runs the real start and stop sequences against file-backed devices
// (see tests/support/audio_env.h), and the played samples are compared with independent
// integer arithmetic. Every child runs under a watchdog.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/audio_env.h"
#include "tests/support/test_util.h"

namespace {

constexpr double watchdog_seconds = 30.0;
// Far above the measured latency offset (a few hundred samples), far below a run's length.
constexpr int64_t max_offset = 16384;
// A free-running stream consumes this many input samples in well under a second; the
// input file is this long so that even a late stop finds real samples, not stale ones.
constexpr size_t input_length = size_t{1} << 19;
constexpr int64_t all_values = 65536;

int16_t wrap16(int64_t v) {
    int64_t m = ((v % 65536) + 65536) % 65536;
    if (m >= 32768) m -= 65536;
    return static_cast<int16_t>(m);
}

int64_t floor_div(int64_t a, int64_t b) {
    int64_t q = a / b;
    if (a % b != 0 && ((a < 0) != (b < 0))) --q;
    return q;
}

// Every 16-bit value once in each block of 65536 (40503 is odd, so i -> 40503 i is a
// permutation modulo 2^16), in an order where neighbours differ widely.
std::vector<int16_t> stream_input() {
    std::vector<int16_t> samples(input_length);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = wrap16(static_cast<int64_t>((i * 40503 + 12345) % 65536) - 32768);
    }
    return samples;
}

std::vector<int16_t> identity(const std::vector<int16_t>& in) {
    return in;
}

std::vector<int16_t> constant_quarter(const std::vector<int16_t>& in) {
    return std::vector<int16_t>(in.size(), 8192);
}

// -1.0 negated is 1.0, which the host folds to -32768.
std::vector<int16_t> negated(const std::vector<int16_t>& in) {
    std::vector<int16_t> out(in.size());
    for (size_t i = 0; i < in.size(); ++i) out[i] = wrap16(-static_cast<int64_t>(in[i]));
    return out;
}

// 32768 (x[n] - 0.95 x[n-1]) = (100 s[n] - 95 s[n-1]) / 100 exactly; floored, clamped to
// the 16-bit range; the filter starts from a previous input of 0.
std::vector<int16_t> preemphasised(const std::vector<int16_t>& in) {
    std::vector<int16_t> out(in.size());
    int64_t previous = 0;
    for (size_t i = 0; i < in.size(); ++i) {
        const int64_t y = floor_div(100 * static_cast<int64_t>(in[i]) - 95 * previous, 100);
        out[i] = static_cast<int16_t>(std::clamp<int64_t>(y, -32768, 32767));
        previous = in[i];
    }
    return out;
}

struct probe_run {
    watched_run run;
    std::vector<int16_t> output;
    int64_t count = 0;
};

// Runs audio_probe on the file-backed, free-running default device with `input` as the
// captured signal, until every 16-bit value has been processed.
probe_run run_probe(const std::string& dir, const std::vector<int16_t>& input, env_list set,
                    const std::vector<std::string>& unset) {
    const std::string in_path = dir + "/in.raw";
    const std::string out_path = dir + "/out.raw";
    write_raw_samples(in_path, input);
    const env_list alsa = write_alsa_config(dir, out_path, in_path, "");
    set.insert(set.end(), alsa.begin(), alsa.end());
    probe_run result;
    result.run = run_watched({DSPHOST_AUDIO_PROBE, std::to_string(all_values), "10"}, set, unset,
                             watchdog_seconds);
    result.output = read_raw_samples(out_path);
    result.count = std::atoll(probe_field(result.run.out, "count").c_str());
    return result;
}

// The played output must be silence up to the latency offset and then exactly `expected`,
// for every sample the stream processed (up to the input's length); nothing may reach
// standard error. Returns the offset, -1 after a failure.
int64_t check_processed(const probe_run& r, const std::vector<int16_t>& expected) {
    EXPECT_TRUE(r.run.exited && r.run.exit_code == 0) << describe_run(r.run);
    EXPECT_EQ(r.run.err, "");
    EXPECT_GE(r.count, all_values) << describe_run(r.run);
    const int64_t compare = std::min<int64_t>(r.count, static_cast<int64_t>(expected.size()));
    if (compare < all_values) return -1;
    const int64_t offset = find_sample_offset(r.output, expected, compare, max_offset);
    EXPECT_GE(offset, 0) << "no offset up to " << max_offset << " makes " << compare
                         << " samples match; output has " << r.output.size() << " samples";
    if (offset < 0) return offset;
    const auto first_sound =
        std::find_if(r.output.begin(), r.output.begin() + offset, [](int16_t v) { return v != 0; });
    EXPECT_EQ(first_sound - r.output.begin(), offset) << "sound before the first sample";
    return offset;
}

struct effect_row {
    const char* name;
    const char* library_dir;  // first on LD_LIBRARY_PATH; nullptr: the variable unset
    std::vector<int16_t> (*oracle)(const std::vector<int16_t>&);
};

void PrintTo(const effect_row& row, std::ostream* out) {
    *out << row.name;
}

class EffectLibrary : public testing::TestWithParam<effect_row> {};

// The stream free-runs (no clock under the null slave): every 16-bit value passes through the
// real PortAudio and ALSA and the effect library and is played as the oracle says. With no
// setting at all the host finds its own pass-through beside itself; a libmix_c.so first on
// LD_LIBRARY_PATH replaces it without a rebuild. The paced run at the real 8000 samples a
// second is the whole program's (program_test.cpp).
TEST_P(EffectLibrary, PlaysEverySampleAsTheEffectMakesIt) {
    const effect_row& row = GetParam();
    scratch_dir dir;
    ASSERT_FALSE(dir.path.empty());
    env_list set;
    std::vector<std::string> unset;
    if (row.library_dir != nullptr) {
        set.push_back(std::string("LD_LIBRARY_PATH=") + row.library_dir);
    } else {
        unset.emplace_back("LD_LIBRARY_PATH");
    }
    const std::vector<int16_t> input = stream_input();
    const probe_run r = run_probe(dir.path, input, set, unset);
    const int64_t offset = check_processed(r, row.oracle(input));
    std::printf("[ measured ] %lld samples exact, latency offset %lld samples\n",
                static_cast<long long>(std::min<int64_t>(r.count, input_length)),
                static_cast<long long>(offset));
}

const effect_row effect_rows[] = {
    {"own_pass_through", nullptr, identity},
    {"constant_quarter", DSPHOST_EFFECT_CONSTANT_DIR, constant_quarter},
    {"negation", DSPHOST_EFFECT_NEGATE_DIR, negated},
    {"example_preemphasis", DSPHOST_EXAMPLE_PREEMPHASIS_DIR, preemphasised},
};

INSTANTIATE_TEST_SUITE_P(AudioStream, EffectLibrary, testing::ValuesIn(effect_rows), row_names());

}  // namespace
