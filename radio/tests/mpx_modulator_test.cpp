// The test-signal modulator: its noise really has the CNR asked for, the RDS
// signal stays in its band, the clock error shows, and the output does not
// depend on how the bits are divided between calls.
#include "mpx_modulator.h"
#include "modulate.h"

#include <gtest/gtest.h>
// <complex> before liquid.h: its complex type is then std::complex.
#include <complex>

#include <liquid/liquid.h>

#include <cmath>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

using namespace varnak::radio;

namespace {

std::string RandomBits(size_t count, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::string bits;
    for (size_t i = 0; i < count; ++i) bits.push_back(char('0' + (rng() & 1)));
    return bits;
}

// Power spectrum averaged over Hann-windowed blocks (Welch), one value per bin
// of fs / kFft.
constexpr unsigned kFft = 8192;

std::vector<double> PowerSpectrum(const std::vector<float>& x)
{
    std::vector<liquid_float_complex> in(kFft), out(kFft);
    fftplan plan = fft_create_plan(kFft, in.data(), out.data(), LIQUID_FFT_FORWARD, 0);
    std::vector<double> psd(kFft / 2 + 1, 0.0);
    for (size_t start = 0; start + kFft <= x.size(); start += kFft / 2) {
        for (unsigned i = 0; i < kFft; ++i) in[i] = x[start + i] * liquid_hann(i, kFft);
        fft_execute(plan);
        for (unsigned i = 0; i <= kFft / 2; ++i) psd[i] += std::norm(out[i]);
    }
    fft_destroy_plan(plan);
    return psd;
}

// Power of the bins whose frequency lies within [lo, hi] Hz, or outside it.
double BandPower(const std::vector<double>& psd, double fs, double lo, double hi, bool inside = true)
{
    double sum = 0;
    for (size_t i = 0; i < psd.size(); ++i) {
        const double f = double(i) * fs / kFft;
        if ((f >= lo && f <= hi) == inside) sum += psd[i];
    }
    return sum;
}

}  // namespace

TEST(MpxModulator, NoiseHasTheCarrierToNoiseRatioAsked)
{
    struct Case {
        double rate;
        double cnr;
        bool stereo;
    };
    for (const Case c : {Case{171000, -1, false}, Case{228000, -8, true}, Case{171000, 4, false}}) {
        SCOPED_TRACE("rate " + std::to_string(c.rate) + " CNR " + std::to_string(c.cnr));
        const std::string bits = RandomBits(2400, 7);  // about 2 s
        MpxConfig rdsOnly;
        rdsOnly.sampleRate = c.rate;
        rdsOnly.pilot = false;
        MpxConfig clean = rdsOnly;
        clean.pilot = true;
        clean.stereo = c.stereo;
        MpxConfig noisy = clean;
        noisy.cnrDb = c.cnr;

        const auto signal = Modulate(rdsOnly, bits);
        const auto withNoise = Modulate(noisy, bits);
        const auto without = Modulate(clean, bits);
        ASSERT_EQ(withNoise.size(), without.size());
        std::vector<float> noise(without.size());
        for (size_t i = 0; i < noise.size(); ++i) noise[i] = withNoise[i] - without[i];

        const double lo = kRdsCarrierHz - kRdsHalfBandHz, hi = kRdsCarrierHz + kRdsHalfBandHz;
        const double measured = 10 * std::log10(BandPower(PowerSpectrum(signal), c.rate, lo, hi) /
                                                BandPower(PowerSpectrum(noise), c.rate, lo, hi));
        EXPECT_NEAR(measured, c.cnr, 0.3);
    }
}

TEST(MpxModulator, RdsSignalStaysWithinItsBand)
{
    for (double ppm : {0.0, 150.0}) {
        MpxConfig config;
        config.pilot = false;
        config.ppm = ppm;
        const auto psd = PowerSpectrum(Modulate(config, RandomBits(2400, 3)));
        // The edges move with the clock error; one bin of window leakage is allowed.
        const double edge = kRdsHalfBandHz / (1 + ppm * 1e-6) + 2 * config.sampleRate / kFft;
        const double inside = BandPower(psd, config.sampleRate, kRdsCarrierHz - edge, kRdsCarrierHz + edge);
        const double outside = BandPower(psd, config.sampleRate, kRdsCarrierHz - edge, kRdsCarrierHz + edge, false);
        EXPECT_LT(10 * std::log10(outside / inside), -50) << "ppm " << ppm;
    }
}

TEST(MpxModulator, ClockErrorShiftsEveryFrequency)
{
    for (double ppm : {-400.0, 0.0, 400.0}) {
        MpxConfig config;
        config.rdsLevel = 0;
        config.ppm = ppm;
        MpxModulator m(config);
        std::vector<float> out;
        m.modulate(std::string(2375, '0'), out);  // 2 s of pilot
        // Rising zero crossings of the pilot, timed to a fraction of a sample.
        double first = -1, last = -1;
        int cycles = -1;
        for (size_t i = 1; i < out.size(); ++i)
            if (out[i - 1] < 0 && out[i] >= 0) {
                const double t = double(i - 1) + out[i - 1] / (out[i - 1] - out[i]);
                if (first < 0) first = t;
                last = t;
                ++cycles;
            }
        const double hz = cycles / ((last - first) / config.sampleRate);
        EXPECT_NEAR(hz, kPilotHz / (1 + ppm * 1e-6), 0.05) << "ppm " << ppm;
    }
}

TEST(MpxModulator, FreeRunningRdsCarrierAndBitClockKeepTheirOffset)
{
    // The squared RDS signal has a line at twice its carrier: its strength
    // at a frequency, by one DFT bin over the whole signal.
    auto line = [](const std::vector<float>& x, double fs, double hz) {
        std::complex<double> sum = 0;
        for (size_t i = 0; i < x.size(); ++i)
            sum += double(x[i]) * x[i] * std::polar(1.0, -2 * M_PI * hz * double(i) / fs);
        return std::abs(sum) / double(x.size());
    };
    const std::string bits = RandomBits(2375, 5);  // 2 s
    for (double offset : {-50.0, 0.0, 10.0}) {
        SCOPED_TRACE(offset);
        MpxConfig config;
        config.sampleRate = 250000;
        config.pilot = false;
        config.rdsOffsetHz = offset;
        config.rdsPhaseDeg = 30;
        const auto x = Modulate(config, bits);
        const double carrier = kRdsCarrierHz + offset;
        EXPECT_GT(line(x, config.sampleRate, 2 * carrier), 10 * line(x, config.sampleRate, 2 * carrier + 3));
        // The bit clock runs with the carrier: the signal is that much shorter or longer.
        const double expected = (2375 + 13) / (kRdsBitRate * carrier / kRdsCarrierHz) * config.sampleRate;
        EXPECT_NEAR(double(x.size()), expected, 3);
    }
}

TEST(MpxModulator, OutputIsTheSameHoweverTheBitsAreDivided)
{
    MpxConfig config;
    config.cnrDb = 0;
    config.stereo = true;
    config.ppm = 33;
    const std::string bits = RandomBits(300, 11);

    const auto whole = Modulate(config, bits);
    MpxModulator m(config);
    std::vector<float> pieces;
    for (char b : bits) m.modulate(std::string(1, b), pieces);
    m.finish(pieces);
    EXPECT_EQ(pieces, whole);
    // About the signal's length, plus the tails of the last symbols.
    EXPECT_NEAR(double(whole.size()), (300 + 13) / kRdsBitRate * config.sampleRate, 200);

    config.seed = 2;
    EXPECT_NE(Modulate(config, bits), whole);
}

TEST(MpxModulator, RefusesImpossibleSettings)
{
    auto with = [](auto change) {
        MpxConfig c;
        change(c);
        return c;
    };
    const MpxConfig bad[] = {
        with([](MpxConfig& c) { c.sampleRate = 96000; }),
        with([](MpxConfig& c) { c.sampleRate = NAN; }),
        with([](MpxConfig& c) { c.ppm = 5000; }),
        with([](MpxConfig& c) { c.rdsLevel = 1.5; }),
        with([](MpxConfig& c) { c.cnrDb = INFINITY; }),
        with([](MpxConfig& c) { c.rdsOffsetHz = 1500; }),
        with([](MpxConfig& c) { c.rdsDriftHzPerMinute = NAN; }),
        with([](MpxConfig& c) { c.rdsPhaseDeg = INFINITY; }),
        with([](MpxConfig& c) {
            c.stereo = true;
            c.programmeLevel = 0.1;
        }),
    };
    for (const MpxConfig& c : bad) EXPECT_THROW(MpxModulator{c}, std::invalid_argument);
}
