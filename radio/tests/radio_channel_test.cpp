// The radio channel: it delivers the C/N and the fading statistics it
// claims, the receiver gives the multiplex back, and the output depends only
// on the seed, not on how the input is divided.
#include "radio_channel.h"

#include <gtest/gtest.h>
// <complex> before liquid.h: its complex type is then std::complex.
#include <complex>

#include <liquid/liquid.h>

#include <cmath>
#include <stdexcept>
#include <vector>

using namespace varnak::radio;

namespace {

using cf = std::complex<float>;

// The channel's output for an unmodulated carrier of `seconds`; its sample
// rate goes to rfRate.
std::vector<cf> Carrier(const ChannelConfig& config, double seconds, double& rfRate)
{
    RadioChannel channel(config);
    const std::vector<float> silence(std::size_t(seconds * config.mpxRate), 0.0f);
    std::vector<cf> rf;
    channel.transmit(silence.data(), silence.size(), rf);
    rfRate = channel.rfRate();
    return rf;
}

}  // namespace

TEST(RadioChannel, NoiseHasTheCarrierToNoiseRatioAsked)
{
    for (double cn : {0.0, 10.0, 25.0}) {
        SCOPED_TRACE(cn);
        ChannelConfig config;
        config.cnDb = cn;
        double rfRate = 0;
        const std::vector<cf> rf = Carrier(config, 0.2, rfRate);
        // The carrier: the mean (the unmodulated carrier stands still). The
        // noise: the power of what is left within ±100 kHz, by FFT.
        cf mean = 0;
        for (cf v : rf) mean += v;
        mean /= float(rf.size());
        constexpr unsigned kFft = 4096;
        std::vector<cf> in(kFft), out(kFft);
        fftplan plan = fft_create_plan(kFft, in.data(), out.data(), LIQUID_FFT_FORWARD, 0);
        double band = 0;
        unsigned blocks = 0;
        for (std::size_t at = kFft; at + kFft <= rf.size(); at += kFft, ++blocks) {
            for (unsigned i = 0; i < kFft; ++i) in[i] = rf[at + i] - mean;
            fft_execute(plan);
            for (unsigned i = 0; i < kFft; ++i) {
                const double hz = (i < kFft / 2 ? double(i) : double(i) - kFft) * rfRate / kFft;
                if (std::abs(hz) <= 100000) band += std::norm(out[i]);
            }
        }
        fft_destroy_plan(plan);
        const double noise = band / blocks / kFft / kFft;
        EXPECT_NEAR(std::norm(mean), 1, 0.01);
        EXPECT_NEAR(10 * std::log10(std::norm(mean) / noise), cn, 0.3);
    }
}

TEST(RadioChannel, FadingHasTheStatisticsOfItsModel)
{
    // |g|^4 / |g|^2^2 is 2 for Rayleigh fading and 2 - (K / (K + 1))^2 with
    // a line of sight K times the scattered power. The classic Doppler
    // spectrum makes the gains' correlation J0(2 pi fd tau): near 1 at a
    // twentieth of 1/fd, near 0 at its first zero (0.383 / fd).
    struct Case {
        FadingModel model;
        double kurtosis;
    };
    for (const Case c : {Case{FadingModel::Rayleigh, 2.0}, Case{FadingModel::Rician, 2 - std::pow(3.98 / 4.98, 2)}}) {
        ChannelConfig config;
        config.mpxRate = 128000;
        config.fading = c.model;
        config.ricianKDb = 6;
        config.dopplerHz = 200;
        double rfRate = 0;
        const std::vector<cf> rf = Carrier(config, 2.0, rfRate);
        double m2 = 0, m4 = 0, below = 0;
        for (cf v : rf) {
            const double p = std::norm(v);
            m2 += p;
            m4 += p * p;
            below += p < 0.1;
        }
        const double n = double(rf.size());
        m2 /= n;
        m4 /= n;
        EXPECT_NEAR(m2, 1, 0.1);
        EXPECT_NEAR(m4 / (m2 * m2), c.kurtosis, 0.15);
        if (c.model == FadingModel::Rayleigh) {
            EXPECT_NEAR(below / n, 1 - std::exp(-0.1), 0.03);
        }
        auto correlation = [&](double tau) {
            const auto lag = std::size_t(tau * rfRate);
            std::complex<double> sum = 0;
            for (std::size_t i = 0; i + lag < rf.size(); i += 7)
                sum += std::complex<double>(rf[i] * std::conj(rf[i + lag]));
            return std::abs(sum) / (double(rf.size() - lag) / 7) / m2;
        };
        if (c.model == FadingModel::Rayleigh) {
            EXPECT_GT(correlation(0.05 / config.dopplerHz), 0.9);
            EXPECT_LT(correlation(0.383 / config.dopplerHz), 0.15);
        }
    }
}

TEST(RadioChannel, OutputDependsOnlyOnTheSeed)
{
    ChannelConfig config;
    config.cnDb = 15;
    config.fading = FadingModel::TypicalUrban;
    config.dopplerHz = 10;
    config.interferer = ChannelInterferer{200, -10};
    std::vector<float> mpx(20000);
    for (std::size_t i = 0; i < mpx.size(); ++i) mpx[i] = float(0.5 * std::sin(double(i) * 0.05));
    auto run = [&](const ChannelConfig& c, std::size_t chunk) {
        RadioChannel channel(c);
        std::vector<float> out;
        for (std::size_t at = 0; at < mpx.size(); at += chunk)
            channel.process(mpx.data() + at, std::min(chunk, mpx.size() - at), out);
        return out;
    };
    const std::vector<float> whole = run(config, mpx.size());
    ASSERT_EQ(whole.size(), mpx.size());
    EXPECT_EQ(run(config, 333), whole);
    config.seed = 2;
    EXPECT_NE(run(config, mpx.size()), whole);
}

TEST(RadioChannel, ReceiverGivesTheMultiplexBack)
{
    // A clean channel: the discriminator's output is the multiplex, delayed
    // by the filters. A 1 kHz tone at 60 % (45 kHz deviation).
    ChannelConfig config;
    std::vector<float> mpx(17100);
    for (std::size_t i = 0; i < mpx.size(); ++i) mpx[i] = float(0.6 * std::sin(2 * M_PI * 1000 * double(i) / 171000));
    RadioChannel channel(config);
    std::vector<float> out;
    channel.process(mpx.data(), mpx.size(), out);
    // The best delay, and the error there.
    double best = 1e9;
    for (std::size_t delay = 0; delay < 200; ++delay) {
        double error = 0;
        for (std::size_t i = 1000; i < mpx.size(); ++i) error += std::pow(out[i] - mpx[i - delay], 2);
        best = std::min(best, error / double(mpx.size() - 1000));
    }
    EXPECT_LT(best, 1e-5);
}

TEST(RadioChannel, RefusesImpossibleSettings)
{
    auto with = [](auto change) {
        ChannelConfig c;
        change(c);
        return c;
    };
    const ChannelConfig bad[] = {
        with([](ChannelConfig& c) { c.mpxRate = 96000; }),
        with([](ChannelConfig& c) { c.cnDb = NAN; }),
        with([](ChannelConfig& c) { c.dopplerHz = -1; }),
        with([](ChannelConfig& c) {
            c.echoes = {{600, -3, 0}};
        }),
        with([](ChannelConfig& c) {
            c.echoes = {{5, NAN, 0}};
        }),
        with([](ChannelConfig& c) {
            c.interferer = ChannelInterferer{2000, 0};
        }),
    };
    for (const ChannelConfig& c : bad) EXPECT_THROW(RadioChannel{c}, std::invalid_argument);
}
