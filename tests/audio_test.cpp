// The sample callback with the real pass-through effect: every sample, and the conversion of
// an effect's output against wide arithmetic.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>

#include "audio/sample_callback.h"

namespace {

// Floor in long double, then the low 16 bits; NaN and values outside 32 bits give 0.
int16_t wrapped_floor(float v) {
    const long double p = std::floor(static_cast<long double>(v) * 32768.0L);
    if (!(p >= -2147483648.0L && p <= 2147483647.0L)) return 0;
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<int64_t>(p) & 0xFFFF));
}

TEST(Audio, PassThroughPlaysEverySampleAndCountsIt) {
    std::atomic<int64_t> stream_count{0};
    const int64_t before = sample_count;
    for (int v = -32768; v <= 32767; ++v) {
        const auto in = static_cast<int16_t>(v);
        int16_t out = 12345;
        ASSERT_EQ(audio_callback(&in, &out, 1, nullptr, 0, &stream_count), paContinue);
        ASSERT_EQ(out, v);
    }
    int16_t out = 777;
    audio_callback(nullptr, &out, 1, nullptr, 0, &stream_count);  // no input: silence
    audio_callback(&out, nullptr, 1, nullptr, 0, &stream_count);  // no output: not written
    EXPECT_EQ(out, 0);
    EXPECT_EQ(sample_count - before, 65538);
    EXPECT_EQ(stream_count.load(), sample_count);
}

// Against wide arithmetic: the edges (0.5 gives 16384, 1.0 wraps to -32768, NaN gives 0)
// and any float at all, subnormals and NaN payloads included.
TEST(Audio, EffectOutputConversion) {
    std::mt19937 random(20261207);
    for (int i = 0; i < 2000000; ++i) {
        const auto v = std::bit_cast<float>(static_cast<uint32_t>(random()));
        ASSERT_EQ(output_sample(v), wrapped_floor(v)) << v;
    }
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // clang-format off
    const float edges[] = {0.5f, -0.5f, 1.0f, -1.0f, 0.00001f, -0.00001f, -0.0f, nan, -INFINITY,
                           1e30f, 1.220703125f, -1.000030517578125f, 65535.98828125f, 65535.0f,
                           -65536.0f, 65535.99609375f, -1e-45f, 1e-45f, -65535.99609375f,
                           -65536.0078125f};
    // clang-format on
    for (const float edge : edges) {
        EXPECT_EQ(output_sample(edge), wrapped_floor(edge)) << edge;
    }
}

}  // namespace
