// RDS2's extra streams through the modulator and the receiver: each stream
// gives back exactly its own groups, whichever of C and C' its third blocks
// carry, and a sample rate carries the streams whose band fits below half
// of it.
#include "rds2_receiver.h"
#include "mpx_modulator.h"
#include "rds_encoder.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

namespace varnak::radio {
namespace {

using Group = Rds2Receiver::Group;

TEST(Rds2ReceiverTest, RatesCarryTheStreamsThatFit)
{
    const struct {
        double rate;
        int streams;
    } cases[] = {{128000, 0}, {141000, 1}, {150000, 1}, {152500, 2}, {159000, 2}, {160000, 3}, {228000, 3}};
    for (const auto& c : cases) {
        EXPECT_EQ(Rds2Receiver::Carried(c.rate), c.streams) << c.rate;
        EXPECT_EQ(Rds2Receiver(c.rate).streams(), c.streams) << c.rate;
    }
}

TEST(Rds2ReceiverTest, EachStreamGivesItsOwnGroups)
{
    constexpr double kRate = 171000;
    constexpr int kGroups = 60;
    std::mt19937 random(5);
    // Stream k: random groups; the third block with offset C on stream 1,
    // C' whenever block 2's bit 11 is set on stream 2 (as an encoder that
    // follows the version bit would send it), C on stream 3.
    std::vector<std::vector<Group>> sent(4);
    std::vector<std::string> bits(4);
    for (int k = 0; k < 4; ++k)
        for (int g = 0; g < kGroups; ++g) {
            Group w{uint16_t(random()), uint16_t(random()), uint16_t(random()), uint16_t(random())};
            sent[std::size_t(k)].push_back(w);
            if (k == 2) {
                rdsenc::AppendGroup(bits[2], w[0], w[1], w[2], w[3]);
                continue;
            }
            rdsenc::AppendBlock(bits[std::size_t(k)], w[0], rdsenc::Block::A);
            rdsenc::AppendBlock(bits[std::size_t(k)], w[1], rdsenc::Block::B);
            rdsenc::AppendBlock(bits[std::size_t(k)], w[2], rdsenc::Block::C);
            rdsenc::AppendBlock(bits[std::size_t(k)], w[3], rdsenc::Block::D);
        }
    MpxConfig config;
    config.sampleRate = kRate;
    config.cnrDb = 15;
    config.stereo = true;
    config.rds2Streams = 3;
    MpxModulator modulator(config);
    std::vector<float> samples;
    modulator.modulate(bits[0], {bits[1], bits[2], bits[3]}, samples);
    modulator.finish(samples);

    Rds2Receiver receiver(kRate);
    std::map<int, std::vector<Group>> received;
    receiver.setHandler([&](int stream, const Group& w) { received[stream].push_back(w); });
    for (std::size_t at = 0; at < samples.size(); at += 5000)
        receiver.push(samples.data() + at, std::min<std::size_t>(5000, samples.size() - at));
    receiver.finish();

    for (int k = 1; k <= 3; ++k) {
        const auto& got = received[k];

        // The first groups go while the loops settle and the block
        // decoder finds the blocks (up to 0.6 s, by content); the rest
        // come, in order.
        ASSERT_GE(got.size(), std::size_t(kGroups - 7)) << "stream " << k;
        const auto& all = sent[std::size_t(k)];
        const std::vector<Group> tail(all.end() - std::ptrdiff_t(got.size()), all.end());
        EXPECT_EQ(got, tail) << "stream " << k;
    }
}

// A clean multiplex without RDS2 gives no group on the extra streams (its
// stream 0 must not leak through as one), and they are let go after the
// time given.
TEST(Rds2ReceiverTest, NoRds2NoGroupsAndTheStreamsAreDropped)
{
    MpxConfig config;
    config.sampleRate = 171000;
    MpxModulator modulator(config);
    std::vector<float> samples;
    std::string bits;
    for (int g = 0; g < 30; ++g) rdsenc::AppendGroup(bits, 0xC2A1, 0x0400, 0xE0CD, 0x4142);
    modulator.modulate(bits, samples);
    Rds2Receiver receiver(config.sampleRate);
    int groups = 0;
    receiver.setHandler([&groups](int, const Group&) { ++groups; });
    receiver.dropSilentAfter(1.0);
    receiver.push(samples.data(), samples.size());
    EXPECT_EQ(groups, 0);
    EXPECT_EQ(receiver.streams(), 0);
}

}  // namespace
}  // namespace varnak::radio
