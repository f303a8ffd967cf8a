// The RDS demodulator: a multiplex made by the test-signal modulator comes
// back as the same data bits at every supported rate and under the usual
// impairments, whatever the chunking; and the block decoder hands doubtful
// blocks on so damaged that the decoder library cannot take them.
#include "block_decoder.h"
#include "modulate.h"
#include "mpx_modulator.h"
#include "radio_channel.h"
#include "rds_demodulator.h"
#include "rds_encoder.h"

#include <gtest/gtest.h>
#include <algorithm>

#include <cmath>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

using namespace varnak::radio;

namespace {

// Whole groups of random blocks with valid check words, as a transmitter sends them.
std::string RandomGroups(size_t groups, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::string bits;
    for (size_t g = 0; g < groups; ++g)
        rdsenc::AppendGroup(bits, 0x6201, uint16_t(rng() & 0xF7FF), uint16_t(rng()), uint16_t(rng()));
    return bits;
}

std::string Demodulate(RdsDemodulator& demod, const std::vector<float>& samples, size_t chunk)
{
    std::string bits;
    for (size_t at = 0; at < samples.size(); at += chunk)
        demod.push(samples.data() + at, std::min(chunk, samples.size() - at), bits);
    demod.finish(bits);
    return bits;
}

// The demodulated stream holds the sent one from its fifth group on (the
// loops settle for about a fifth of a second), up to the last group, bit
// for bit.
void ExpectSameBits(const std::string& sent, const std::string& received)
{
    constexpr size_t kFrom = 4 * 104;
    const std::string probe = sent.substr(kFrom, 104);
    const size_t at = received.find(probe);
    ASSERT_NE(at, std::string::npos) << "the sent bits are not in the demodulated stream";
    const size_t length = sent.size() - kFrom - 104;
    ASSERT_GE(received.size(), at + length);
    EXPECT_EQ(received.substr(at, length), sent.substr(kFrom, length));
}

// The symbols of `bits` as reliabilities of 8 into the block decoder, each
// changed by `change` (symbol index, reliability) first.
template <class Change>
std::string DecodeSymbols(SoftBlockDecoder& decoder, const std::string& bits, Change change)
{
    std::string out;
    bool symbol = false;
    decoder.push(1, out);
    for (size_t i = 0; i < bits.size(); ++i) {
        symbol = symbol != (bits[i] == '1');
        decoder.push(change(i, symbol ? -8.0f : 8.0f), out);
    }
    decoder.finish(out);
    return out;
}

}  // namespace

TEST(RdsDemodulator, RejectsRatesOutsideItsRange)
{
    for (double rate : {0.0, 127999.0, 384001.0, 1e6, std::nan("")})
        EXPECT_THROW(RdsDemodulator{rate}, std::invalid_argument) << rate;
    EXPECT_NO_THROW(RdsDemodulator{RdsDemodulator::kMinRate});
    EXPECT_NO_THROW(RdsDemodulator{RdsDemodulator::kMaxRate});
}

TEST(RdsDemodulator, DecodesEveryBitAtEachRate)
{
    const std::string bits = RandomGroups(24, 1);
    for (double rate : {128000.0, 171000.0, 192000.0, 228000.0, 250000.0, 384000.0}) {
        SCOPED_TRACE(rate);
        MpxConfig config;
        config.sampleRate = rate;
        config.cnrDb = 15;
        RdsDemodulator demod(rate);
        const std::string out = Demodulate(demod, Modulate(config, bits), 4096);
        ExpectSameBits(bits, out);
        const SignalReport r = demod.report();
        EXPECT_EQ(r.bits, out.size());
        EXPECT_TRUE(r.locked);
        EXPECT_TRUE(r.pilotPresent);
        EXPECT_EQ(demod.blocksDamaged(), 0u);
    }
}

TEST(RdsDemodulator, KeepsLockUnderImpairments)
{
    struct Case {
        const char* name;
        double ppm;
        bool pilot, stereo, invert;
        float scale;
    };
    const Case cases[] = {
        {"clock fast", 500, true, false, false, 1},     {"clock slow", -500, true, false, false, 1},
        {"no pilot", 0, false, false, false, 1},        {"no pilot, clock slow", -500, false, false, false, 1},
        {"stereo programme", 0, true, true, false, 1},  {"no pilot, stereo, clock fast", 500, false, true, false, 1},
        {"inverted polarity", 0, true, false, true, 1}, {"receiver's own scale", 0, true, true, false, 2500},
    };
    const std::string bits = RandomGroups(30, 2);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MpxConfig config;
        config.cnrDb = 10;
        config.ppm = c.ppm;
        config.pilot = c.pilot;
        config.stereo = c.stereo;
        std::vector<float> samples = Modulate(config, bits);
        for (float& x : samples) x *= c.invert ? -c.scale : c.scale;
        RdsDemodulator demod(config.sampleRate);
        ExpectSameBits(bits, Demodulate(demod, samples, 4096));
        const SignalReport r = demod.report();
        EXPECT_EQ(r.pilotPresent, c.pilot);
        EXPECT_NEAR(r.pilotLevel, c.pilot ? 0.09 * c.scale : 0, 0.01 * c.scale);
        EXPECT_NEAR(r.rdsLevel, 0.04 * c.scale, 0.008 * c.scale);
        EXPECT_NEAR(r.cnrDb, 10, 3);
    }
}

TEST(RdsDemodulator, RecoversACarrierNotLockedToThePilot)
{
    // An RDS encoder on its own clock: carrier and bit clock off 3 x pilot,
    // at any phase to it, drifting, or with no pilot at all.
    struct Case {
        double offsetHz, phaseDeg, driftHzPerMinute;
        bool pilot;
    };
    const Case cases[] = {
        {0, 0, 0, true},   {0, 90, 0, true},   {0, 137, 0, true}, {2, 0, 0, true},     {-2, 45, 0, true},
        {5, 0, 0, true},   {-5, 0, 0, true},   {10, 0, 0, true},  {-10, 200, 0, true}, {50, 0, 0, true},
        {-50, 0, 0, true}, {0.3, 0, 0, true},  {-1, 0, 60, true}, {2, 0, 0, false},    {-10, 0, 0, false},
        {50, 0, 0, false}, {-50, 0, 0, false},
    };
    const std::string bits = RandomGroups(30, 7);
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.offsetHz << " Hz, " << c.phaseDeg << " deg, drift " << c.driftHzPerMinute
                                          << (c.pilot ? "" : ", no pilot"));
        MpxConfig config;
        config.cnrDb = 6;
        config.stereo = true;
        config.pilot = c.pilot;
        config.rdsOffsetHz = c.offsetHz;
        config.rdsPhaseDeg = c.phaseDeg;
        config.rdsDriftHzPerMinute = c.driftHzPerMinute;
        RdsDemodulator demod(config.sampleRate);
        ExpectSameBits(bits, Demodulate(demod, Modulate(config, bits), 4096));
        EXPECT_EQ(demod.report().pilotPresent, c.pilot);
        EXPECT_TRUE(demod.report().locked);
    }
}

TEST(RdsDemodulator, DecodesThroughAFadingRadioChannel)
{
    // A car at about 250 km/h: flat Rayleigh fading at 50 Hz Doppler, good
    // C/N, the multiplex through FM, the channel and a 171 kHz receiver.
    // Clicks in the fades hit single symbols hard; the groups still come
    // through whole (no more than one lost).
    const std::string bits = RandomGroups(40, 8);
    MpxConfig config;
    config.stereo = true;
    config.rdsLevel = 4.0 / 75;
    const std::vector<float> mpx = Modulate(config, bits);
    ChannelConfig channelConfig;
    channelConfig.cnDb = 30;
    channelConfig.fading = FadingModel::Rayleigh;
    channelConfig.dopplerHz = 50;
    RadioChannel channel(channelConfig);
    std::vector<float> received;
    channel.process(mpx.data(), mpx.size(), received);
    RdsDemodulator demod(config.sampleRate);
    const std::string out = Demodulate(demod, received, 4096);
    int whole = 0;
    for (size_t g = 4; g < 40; ++g) whole += out.find(bits.substr(g * 104, 104)) != std::string::npos;
    EXPECT_GE(whole, 35) << "of 36 groups";
    EXPECT_TRUE(demod.report().locked);
}

TEST(RdsDemodulator, FindsNothingInSilenceOrNoise)
{
    const double rate = 171000;
    std::mt19937 rng(6);
    std::normal_distribution<float> gauss(0, 0.1f);
    std::vector<float> noise(size_t(rate * 3));
    for (float& x : noise) x = gauss(rng);
    for (const auto& samples : {std::vector<float>(noise.size(), 0.0f), noise}) {
        RdsDemodulator demod(rate);
        const std::string bits = Demodulate(demod, samples, 4096);
        const SignalReport r = demod.report();
        // One bit per bit period all the same, but no block taken for sure.
        EXPECT_NEAR(double(bits.size()), 3 * 1187.5, 30);
        EXPECT_EQ(demod.blocksClean(), 0u);
        EXPECT_FALSE(r.rdsFound);
        EXPECT_FALSE(r.locked);
        EXPECT_FALSE(r.pilotPresent);
        EXPECT_EQ(r.pilotLevel, 0);
        EXPECT_LT(r.cnrDb, -5);
    }
}

// A full-scale square wave leaves harmonics near 57 kHz whose steady level
// reads as a high CNR: without RDS blocks it is no RDS signal. A real one is.
TEST(RdsDemodulator, FindsRdsOnlyWhereBlocksAre)
{
    const struct {
        double rate, frequency;
    } squares[] = {{171000, 9500}, {192000, 2000}, {228000, 9500}};
    for (const auto& c : squares) {
        SCOPED_TRACE(c.frequency);
        const auto period = static_cast<std::size_t>(c.rate / c.frequency);
        std::vector<float> samples(std::size_t(c.rate * 3));
        for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = i % period < period / 2 ? 1.0f : -1.0f;
        RdsDemodulator demod(c.rate);
        Demodulate(demod, samples, 4096);
        EXPECT_FALSE(demod.report().rdsFound);
    }
    MpxConfig config;
    config.cnrDb = 10;
    RdsDemodulator demod(config.sampleRate);
    Demodulate(demod, Modulate(config, RandomGroups(10, 4)), 4096);
    EXPECT_TRUE(demod.report().rdsFound);
}

TEST(RdsDemodulator, BitsDoNotDependOnChunking)
{
    MpxConfig config;
    config.cnrDb = 0;  // noisy, so that doubtful blocks and raw bits occur too
    config.stereo = true;
    const std::vector<float> samples = Modulate(config, RandomGroups(20, 3));
    RdsDemodulator whole(config.sampleRate);
    const std::string reference = Demodulate(whole, samples, samples.size());
    for (size_t chunk : {size_t(1), size_t(7), size_t(4096)}) {
        RdsDemodulator demod(config.sampleRate);
        EXPECT_EQ(Demodulate(demod, samples, chunk), reference) << "chunks of " << chunk;
        EXPECT_EQ(demod.report().samples, samples.size());
    }
}

TEST(SoftBlockDecoder, PassesSureBlocksCleanAndDamagesDoubtfulOnes)
{
    // Symbols of eight groups; in group 5 block C is drowned: its symbols'
    // reliabilities are near zero and half of them wrong.
    const std::string bits = RandomGroups(8, 4);
    std::mt19937 rng(5);
    SoftBlockDecoder decoder;
    const std::string out = DecodeSymbols(
        decoder, bits, [&](size_t i, float llr) { return i / 26 == 5 * 4 + 2 ? ((rng() & 1) ? 0.1f : -0.1f) : llr; });
    ASSERT_EQ(out.size(), bits.size());
    EXPECT_EQ(decoder.blocksDamaged(), 1u);
    const size_t damaged = (5 * 4 + 2) * 26;
    EXPECT_EQ(out.substr(0, damaged), bits.substr(0, damaged));
    EXPECT_EQ(out.substr(damaged + 26), bits.substr(damaged + 26));
    // The damaged block carries no offset and is one check bit away from a
    // block C: the library's burst repair never touches the check word.
    uint32_t word = 0;
    for (int b = 0; b < 26; ++b) word = word << 1 | uint32_t(out[damaged + size_t(b)] == '1');
    const uint16_t info = uint16_t(word >> 10);
    EXPECT_EQ(word ^ (1u << SoftBlockDecoder::kDamageBit), rdsenc::EncodeBlock(info, rdsenc::Block::C));
    for (int p = 0; p < 5; ++p) EXPECT_NE(word & 0x3FF, rdsenc::CheckWord(info, static_cast<rdsenc::Block>(p)));
}

TEST(SoftBlockDecoder, MarksOnlyBlocksItHasNoDoubtAbout)
{
    const std::string bits = RandomGroups(8, 7);
    const size_t block = 22;
    const struct {
        const char* name;
        size_t first, count;  // symbols of the block given `llr` (with their own sign)
        float llr;
        bool marked;
    } cases[] = {
        {"reliable symbols", 0, 0, 8, true},
        {"one weak symbol among reliable ones", 10, 1, 2, true},
        {"every symbol weak", 0, 26, 1.6f, false},
        {"a fade: ten symbols erased", 8, 10, 0.3f, false},
    };
    for (const auto& c : cases) {
        SoftBlockDecoder decoder;
        decoder.setMarkSure(true);
        std::string out = DecodeSymbols(decoder, bits, [&](size_t i, float llr) {
            const size_t at = block * 26 + c.first;
            return i >= at && i < at + c.count ? (llr > 0 ? c.llr : -c.llr) : llr;
        });
        ASSERT_EQ(out.size(), bits.size()) << c.name;
        const auto marked = [&](size_t b) {
            return std::all_of(out.begin() + long(b * 26), out.begin() + long(b * 26 + 26),
                               [](char x) { return x == 'I' || x == 'O'; });
        };
        EXPECT_EQ(marked(block), c.marked) << c.name;
        EXPECT_TRUE(marked(block + 8)) << c.name;
        for (char& x : out) x = x == 'I' ? '1' : x == 'O' ? '0' : x;
        if (decoder.blocksDamaged() == 0) {
            EXPECT_EQ(out, bits) << c.name;
        }
    }
    // Unasked, the decoder marks nothing.
    SoftBlockDecoder plain;
    const std::string out = DecodeSymbols(plain, bits, [](size_t, float llr) { return llr; });
    EXPECT_EQ(out, bits);
}

TEST(SoftBlockDecoder, CorrectsTheBurstsOfFadesAndClicks)
{
    // A click leaves a symbol wrong and more reliable than its neighbours
    // (the least reliable symbols do not include it); a fade erases a run
    // of symbols (next to no reliability, half of them wrong). Either way the
    // block is decoded, and only it is changed.
    struct Case {
        size_t from, length;
        bool click;
    };
    const Case cases[] = {{3 * 104 + 30, 1, true},
                          {3 * 104 + 51, 1, true},
                          {4 * 104 + 77, 1, true},
                          {3 * 104 + 28, 7, false},
                          {4 * 104 + 60, 8, false}};
    const std::string bits = RandomGroups(6, 9);
    std::mt19937 rng(10);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.from);
        SoftBlockDecoder decoder;
        const std::string out = DecodeSymbols(decoder, bits, [&](size_t i, float llr) {
            if (i < c.from || i >= c.from + c.length) return llr;
            return c.click ? -llr * 1.1f : ((rng() & 1) ? 0.2f : -0.2f);
        });
        EXPECT_EQ(decoder.blocksDamaged(), 0u);
        EXPECT_EQ(out.substr(2 * 104), bits.substr(2 * 104));
    }
}
