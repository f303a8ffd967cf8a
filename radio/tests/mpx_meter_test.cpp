#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "mpx_meter.h"
#include "mpx_modulator.h"

namespace varnak::radio {
namespace {

// The meter does not care for the rate: a low one keeps the minute cheap.
constexpr double kRate = 12000;

// Feeds `seconds` of `signal` to a meter in pieces of uneven length.
template <typename Signal>
MpxMeter Measure(double seconds, Signal signal)
{
    MpxMeter meter(kRate);
    std::vector<float> piece;
    const auto total = std::size_t(seconds * kRate);
    for (std::size_t n = 0; n < total;) {
        piece.clear();
        for (std::size_t k = 0; k < 7919 && n < total; ++k, ++n) piece.push_back(signal(n));
        meter.push(piece.data(), piece.size());
    }
    return meter;
}

// A tone at the peak deviation `khz`: its peak is that deviation, and its
// power against the ±19 kHz reference sine is 20 log(khz / 19) dBr.
TEST(MpxMeterTest, SineGivesItsPeakAndItsPowerAgainstTheReference)
{
    for (const double khz : {19.0, 38.0, 9.5, 75.0}) {
        const MpxMeter meter = Measure(
            61, [khz](std::size_t n) { return float(khz / 75.0 * std::sin(2 * M_PI * 1009.0 * double(n) / kRate)); });
        ASSERT_TRUE(meter.peakDeviationKHz() && meter.mpxPowerDbr()) << khz;
        EXPECT_NEAR(*meter.peakDeviationKHz(), khz, khz * 0.002) << khz;
        EXPECT_NEAR(*meter.mpxPowerDbr(), 20 * std::log10(khz / 19.0), 0.01) << khz;
    }
}

TEST(MpxMeterTest, PowerWaitsForAWholeMinuteAndFollowsIt)
{
    // Loud for 60 s, then quiet: the average leaves the loud minute behind.
    const auto tone = [](double khz) {
        return [khz](std::size_t n) { return float(khz / 75.0 * std::sin(2 * M_PI * 997.0 * double(n) / kRate)); };
    };
    MpxMeter meter(kRate);
    std::vector<float> second(static_cast<std::size_t>(kRate));
    const auto feed = [&](double khz, int seconds) {
        const auto f = tone(khz);
        for (int s = 0; s < seconds; ++s) {
            for (std::size_t i = 0; i < second.size(); ++i) second[i] = f(i);
            meter.push(second.data(), second.size());
        }
    };
    EXPECT_FALSE(meter.peakDeviationKHz());
    feed(38, 59);
    EXPECT_FALSE(meter.mpxPowerDbr());  // 59 s are not a minute
    feed(38, 1);
    EXPECT_NEAR(meter.mpxPowerDbr().value_or(-99), 6.02, 0.01);
    feed(19, 30);  // half the window each: 10 log((4 + 1) / 2) dBr
    EXPECT_NEAR(meter.mpxPowerDbr().value_or(-99), 3.98, 0.01);
    feed(19, 30);
    EXPECT_NEAR(meter.mpxPowerDbr().value_or(-99), 0.0, 0.01);
    EXPECT_NEAR(meter.peakDeviationKHz().value_or(0), 19, 0.1);
}

// A stereo programme clipped at its nominal peak, and one that
// over-deviates: band-limited noise reaches near its clip level only now
// and then, so the peak measured (a percentile) lies a little under it; the
// louder programme is the more powerful, by the square of the levels.
TEST(MpxMeterTest, ProgrammeDeviationAndPowerFollowItsLevel)
{
    constexpr double kMpxRate = 171000;
    constexpr int kSeconds = 4;
    std::vector<double> peaks, powers;
    for (const double peakKHz : {67.5, 120.0}) {
        MpxConfig config;
        config.sampleRate = kMpxRate;
        config.stereo = true;
        config.programmeLevel = peakKHz / 75.0;
        MpxModulator modulator(config);
        MpxMeter meter(kMpxRate, 75.0, kSeconds);
        std::vector<float> samples;
        const std::string bits(1188, '1');  // a second at a time
        for (int s = 0; s <= kSeconds; ++s) {
            samples.clear();
            modulator.modulate(bits, samples);
            meter.push(samples.data(), samples.size());
        }
        ASSERT_TRUE(meter.peakDeviationKHz() && meter.mpxPowerDbr()) << peakKHz;
        EXPECT_GT(*meter.peakDeviationKHz(), peakKHz * 0.65) << peakKHz;
        EXPECT_LE(*meter.peakDeviationKHz(), peakKHz) << peakKHz;
        peaks.push_back(*meter.peakDeviationKHz());
        powers.push_back(*meter.mpxPowerDbr());
    }
    EXPECT_LT(powers[0], 0) << "a nominal programme stays under 0 dBr";
    EXPECT_GT(powers[1], 0) << "an over-deviating one exceeds it";
    EXPECT_GT(peaks[1], 75);
}

}  // namespace
}  // namespace varnak::radio
