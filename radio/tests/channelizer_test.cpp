// The channeliser and the FM discriminator: a channel's output is the
// capture shifted, filtered and decimated, continuous across blocks, for
// every usual capture rate; what lies outside the channel is stopped; FM
// comes back as the multiplex that went in.
#include "channelizer.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace varnak::radio;

namespace {

constexpr double kTwoPi = 6.283185307179586;
using Sample = std::complex<float>;

// A sum of tones (offset Hz, amplitude) at `rate`.
std::vector<Sample> Tones(double rate, std::size_t n, std::initializer_list<std::pair<double, double>> tones)
{
    std::vector<Sample> x(n);
    for (std::size_t i = 0; i < n; ++i)
        for (const auto& [f, a] : tones)
            x[i] += std::polar(float(a), float(std::fmod(kTwoPi * f * double(i) / rate, kTwoPi)));
    return x;
}

// Everything channel 0 gives for `input`, pushed in odd pieces.
std::vector<Sample> Channel(Channelizer& c, const std::vector<Sample>& input)
{
    std::vector<Sample> out;
    c.setSink([&](int, const Sample* s, std::size_t n) { out.insert(out.end(), s, s + n); });
    for (std::size_t at = 0; at < input.size(); at += 12345)
        c.push(input.data() + at, std::min<std::size_t>(12345, input.size() - at));
    return out;
}

TEST(Channelizer, ShiftsFiltersAndDecimatesAtEveryRate)
{
    for (const double rate : {250e3, 1.024e6, 2.048e6, 2.4e6, 3.2e6, 10e6}) {
        SCOPED_TRACE(rate);
        Channelizer c(rate);
        EXPECT_GE(c.outputRate(), 250e3);
        EXPECT_LT(c.outputRate(), 600e3);
        const double station = rate >= 1e6 ? 400e3 : 0;
        const int id = c.addChannel(station);
        const double centre = c.channelOffset(id);
        EXPECT_NEAR(centre, station, rate / double(c.fftSize()));
        // A wanted tone 20 kHz above the channel's centre, an unwanted one
        // well outside it (where the capture has room for one).
        const double far = rate >= 1e6 ? -300e3 : 0;
        const auto out = Channel(c, Tones(rate, std::size_t(rate / 5), {{centre + 20e3, 0.5}, {far, rate >= 1e6}}));
        ASSERT_GT(out.size(), 1000u);
        const double step = kTwoPi * 20e3 / c.outputRate();
        double worstPhase = 0, minLevel = 1, maxLevel = 0;
        // From the second block on: the first holds the filter's start-up.
        const auto firstValid = std::size_t(double(c.fftSize()) * c.outputRate() / c.inputRate()) + 1;
        for (std::size_t i = firstValid; i < out.size(); ++i) {
            const double d = std::arg(out[i] * std::conj(out[i - 1]));
            worstPhase = std::max(worstPhase, std::abs(d - step));
            minLevel = std::min(minLevel, double(std::abs(out[i])));
            maxLevel = std::max(maxLevel, double(std::abs(out[i])));
        }
        EXPECT_LT(worstPhase, 0.01);  // continuous, also across blocks
        EXPECT_NEAR(minLevel, 0.5, 0.01);
        EXPECT_NEAR(maxLevel, 0.5, 0.01);
    }
}

TEST(Channelizer, StopsWhatLiesOutsideTheChannel)
{
    const double rate = 2.4e6;
    for (const double away : {155e3, 200e3, -200e3, 700e3}) {
        Channelizer c(rate);
        const int id = c.addChannel(-100e3);
        const auto out = Channel(c, Tones(rate, 240000, {{c.channelOffset(id) + away, 1.0}}));
        double peak = 0;
        for (std::size_t i = 1000; i < out.size(); ++i) peak = std::max(peak, double(std::abs(out[i])));
        EXPECT_LT(20 * std::log10(peak), -55) << away;
    }
}

TEST(Channelizer, FmComesBackAsTheMultiplex)
{
    // A multiplex of a 1 kHz tone at 50 % and a 19 kHz pilot at 10 % of
    // ±75 kHz, FM-modulated 500 kHz off the centre, beside a second station.
    const double rate = 2.4e6;
    const std::size_t n = 480000;
    std::vector<Sample> capture(n);
    double phase = 0, other = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double t = double(i) / rate;
        const double mpx = 0.5 * std::sin(kTwoPi * 1e3 * t) + 0.1 * std::sin(kTwoPi * 19e3 * t);
        phase += kTwoPi * (500e3 + 75e3 * mpx) / rate;
        other += kTwoPi * (-300e3 + 75e3 * std::sin(kTwoPi * 3e3 * t)) / rate;
        phase = std::fmod(phase, kTwoPi);
        other = std::fmod(other, kTwoPi);
        capture[i] = std::polar(0.3f, float(phase)) + std::polar(0.3f, float(other));
    }
    Channelizer c(rate);
    c.addChannel(500e3);
    const auto channel = Channel(c, capture);
    FmDiscriminator fm(c.outputRate());
    std::vector<float> mpx;
    fm.push(channel.data(), channel.size(), mpx);
    // The level of each tone in the recovered multiplex, after the start-up.
    const auto level = [&](double f) {
        Sample sum{};
        const std::size_t from = 5000;
        for (std::size_t i = from; i < mpx.size(); ++i)
            sum += mpx[i] * std::polar(1.0f, float(-std::fmod(kTwoPi * f * double(i) / c.outputRate(), kTwoPi)));
        return 2 * std::abs(sum) / double(mpx.size() - from);
    };
    EXPECT_NEAR(level(1e3), 0.5, 0.01);
    EXPECT_NEAR(level(19e3), 0.1, 0.003);
    EXPECT_LT(level(3e3), 0.002);  // nothing of the other station
}

}  // namespace
