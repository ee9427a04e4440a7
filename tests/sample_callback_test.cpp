// The callback's conversions, driven directly with the real pass-through effect.
#include "audio/sample_callback.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>

namespace {

int16_t run_callback(int16_t in, std::atomic<int64_t>* count) {
    int16_t out = 12345;
    EXPECT_EQ(audio_callback(&in, &out, 1, nullptr, 0, count), paContinue);
    return out;
}

TEST(SampleCallback, PassThroughReproducesEverySample) {
    std::atomic<int64_t> count{0};
    const int64_t before = sample_count;
    for (int v = -32768; v <= 32767; ++v) {
        ASSERT_EQ(run_callback(static_cast<int16_t>(v), &count), v);
    }
    EXPECT_EQ(sample_count - before, 65536);
    EXPECT_EQ(count.load(), sample_count);
}

struct OutputCase {
    float effect_output;
    int16_t played;
};

TEST(SampleCallback, OutputConversionTable) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const OutputCase cases[] = {
        {0.5f, 16384},
        {-0.5f, -16384},
        {1.0f, -32768},
        {-1.0f, -32768},
        {0.00001f, 0},
        {-0.00001f, -1},
        {0.0f, 0},
        {-0.0f, 0},
        {nan, 0},
        {-nan, 0},
        {inf, 0},
        {-inf, 0},
        {1e30f, 0},
        {-1e30f, 0},
        {40000 / 32768.0f, -25536},
        {-32769 / 32768.0f, 32767},
        {65536.0f, 0},
        {65535.98828125f, -384},
        // Just inside and just outside the 32-bit range after scaling.
        {65535.0f, -32768},
        {-65536.0f, 0},
        {-65536.01f, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(output_sample(c.effect_output), c.played) << c.effect_output;
    }
}

// Independent oracle: floor in long double and a wrap by modular arithmetic on int64.
int16_t wrapped_floor(float v) {
    const long double p = std::floor(static_cast<long double>(v) * 32768.0L);
    if (!(p >= -2147483648.0L && p <= 2147483647.0L)) return 0;
    int64_t wrapped = static_cast<int64_t>(p) & 0xFFFF;
    if (wrapped >= 32768) wrapped -= 65536;
    return static_cast<int16_t>(wrapped);
}

TEST(SampleCallback, OutputConversionAgainstWideArithmetic) {
    for (int64_t k = -3000000; k <= 3000000; k += 7) {
        const float v = static_cast<float>(k) / 1024.0f;
        ASSERT_EQ(output_sample(v), wrapped_floor(v)) << v;
    }
    // Any float at all, subnormals, NaN payloads and the edges of the 32-bit range included.
    std::mt19937 random(20261207);
    for (int i = 0; i < 2000000; ++i) {
        const auto v = std::bit_cast<float>(static_cast<uint32_t>(random()));
        ASSERT_EQ(output_sample(v), wrapped_floor(v)) << v;
    }
    for (const float edge :
         {65536.0f, std::nextafter(65536.0f, 0.0f), -65536.0f, std::nextafter(-65536.0f, -1e9f),
          std::nextafter(-65536.0f, 0.0f), -1e-45f, 1e-45f, -0.0f}) {
        EXPECT_EQ(output_sample(edge), wrapped_floor(edge)) << edge;
    }
}

TEST(SampleCallback, MissingBuffersStillCount) {
    std::atomic<int64_t> count{0};
    const int64_t before = sample_count;
    int16_t out = 777;
    EXPECT_EQ(audio_callback(nullptr, &out, 1, nullptr, 0, &count), paContinue);
    EXPECT_EQ(out, 0);
    int16_t in = 100;
    EXPECT_EQ(audio_callback(&in, nullptr, 1, nullptr, 0, &count), paContinue);
    EXPECT_EQ(sample_count, before + 2);
    EXPECT_EQ(count.load(), sample_count);
}

}  // namespace
