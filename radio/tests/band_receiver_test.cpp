// The band receiver on generated captures: every station found where it
// is, each decoding its own bits; nothing taken for a station on the DC
// spike, an image or a strong station's shoulder; one station by frequency;
// stations that come and go on live input.
#include "band_receiver.h"
#include "band_signal.h"
#include "rds_encoder.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

using namespace varnak::radio;

namespace {

using Sample = std::complex<float>;

std::string RandomGroups(std::size_t groups, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::string bits;
    for (std::size_t g = 0; g < groups; ++g)
        rdsenc::AppendGroup(bits, uint16_t(0x6200 + seed), uint16_t(rng() & 0xF7FF), uint16_t(rng()), uint16_t(rng()));
    return bits;
}

BandSignalStation Station(double offsetHz, double levelDb, uint32_t seed)
{
    BandSignalStation s;
    s.offsetHz = offsetHz;
    s.levelDb = levelDb;
    s.bits = RandomGroups(40, seed);
    s.mpx.stereo = true;
    return s;
}

// Runs a receiver over the capture made of `parts` (seconds, stations) in
// turn and returns each station's bits by frequency (MHz x 10).
struct Reception {
    std::map<int, std::string> bits;
    std::vector<BandStation> stations;
};
Reception Receive(const BandConfig& config, const std::vector<std::pair<double, std::vector<BandSignalStation>>>& parts,
                  const std::function<void(std::vector<Sample>&)>& impair = nullptr)
{
    BandReceiver receiver(config);
    std::map<int, std::string> byId;
    receiver.setBitsSink([&](int id, const std::string& bits) { byId[id] += bits; });
    uint64_t seed = 1;
    for (const auto& [seconds, stations] : parts) {
        BandSignal signal(config.rate, stations, 30.0, seed++);
        for (std::size_t left = std::size_t(seconds * config.rate); left > 0;) {
            std::vector<Sample> piece;
            const std::size_t n = std::min<std::size_t>(left, 100000);
            signal.generate(n, piece);
            if (impair) impair(piece);
            receiver.push(piece.data(), piece.size());
            left -= n;
        }
    }
    receiver.finish();
    Reception run;
    run.stations = receiver.stations();
    for (const BandStation& s : run.stations) run.bits[int(std::lround(s.frequencyHz / 1e5))] = byId[s.id];
    return run;
}

// The received stream holds the sent one from its fifth group on.
bool HoldsSent(const std::string& sent, const std::string& received, std::size_t groups, std::size_t from = 4)
{
    const std::string probe = sent.substr(from * 104, groups * 104);
    return received.find(probe) != std::string::npos;
}

TEST(BandReceiver, FindsAndDecodesEveryStationAndNothingElse)
{
    // Three stations of different levels; the receiver's DC offset and an
    // image of every station 30 dB down, as an RTL-SDR has: neither is a
    // station.
    auto mono = Station(-200e3, 6, 2);
    mono.mpx.stereo = false;
    const auto stations = {Station(-600e3, -6, 1), mono, Station(400e3, 12, 3)};
    BandConfig config;
    config.rate = 2.4e6;
    config.centerHz = 98.0e6;
    config.keepLooking = true;
    const Reception run = Receive(config, {{1.5, stations}}, [](std::vector<Sample>& piece) {
        for (Sample& x : piece) x += 0.03f * std::conj(x) + Sample(0.02f, -0.01f);
    });
    ASSERT_EQ(run.stations.size(), 3u);
    const int expected[] = {974, 978, 984};
    uint32_t seed = 1;
    for (const int tenth : expected) {
        SCOPED_TRACE(tenth);
        ASSERT_TRUE(run.bits.count(tenth));
        EXPECT_TRUE(HoldsSent(RandomGroups(40, seed++), run.bits.at(tenth), 8));
    }
    const std::map<double, double> levels = {{97.4e6, -6}, {97.8e6, 6}, {98.4e6, 12}};
    for (const BandStation& s : run.stations) {
        // The capture's C/N is that of a 0-dB station.
        EXPECT_NEAR(s.cnDb, 30 + levels.at(s.frequencyHz), 1.5) << s.frequencyHz;
        EXPECT_NEAR(s.signal.pilotKHz, 0.09 * 75, 1.0) << s.frequencyHz;
        EXPECT_NEAR(s.signal.rdsKHz, 0.04 * 75, 0.8) << s.frequencyHz;
        // The stereo programme peaks at 90 % of 75 kHz; the mono station's
        // deviation is its pilot's and RDS's, 9.75 kHz at most, and a little
        // noise.
        if (s.frequencyHz == 97.8e6) {
            EXPECT_NEAR(s.signal.peakDeviationKHz, 10.5, 1.5);
        } else {
            EXPECT_GT(s.signal.peakDeviationKHz, 40) << s.frequencyHz;
            EXPECT_LT(s.signal.peakDeviationKHz, 70) << s.frequencyHz;
        }
    }
    EXPECT_NEAR(run.stations[2].signal.levelDbfs - run.stations[0].signal.levelDbfs, 18, 1);
}

TEST(BandReceiver, OneStationByFrequency)
{
    BandConfig config;
    config.rate = 1.024e6;
    config.centerHz = 100e6;
    config.frequencies = {100.2e6};
    const Reception run = Receive(config, {{1.2, {Station(200e3, 0, 7), Station(-200e3, 10, 8)}}});
    ASSERT_EQ(run.stations.size(), 1u);
    EXPECT_TRUE(HoldsSent(RandomGroups(40, 7), run.bits.at(1002), 6));

    for (const double outside : {100.45e6, 99.5e6}) {
        config.frequencies = {outside};
        try {
            BandReceiver receiver(config);
            ADD_FAILURE() << outside << " was taken";
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find("is outside the capture: a station's channel fits between"),
                      std::string::npos)
                << e.what();
        }
    }
}

TEST(BandReceiver, LiveStationsComeAndGo)
{
    // One station throughout; a second comes after a second and goes again
    // two seconds later. Searches every half second; lost after three misses.
    BandConfig config;
    config.rate = 1.024e6;
    config.centerHz = 90e6;
    config.keepLooking = true;
    config.searchSeconds = 0.5;
    config.missesBeforeLost = 3;
    const auto a = Station(-200e3, 0, 4), b = Station(300e3, 0, 5);
    const Reception run = Receive(config, {{1.0, {a}}, {2.0, {a, b}}, {2.0, {a}}});
    ASSERT_EQ(run.stations.size(), 2u);
    EXPECT_TRUE(run.stations[0].active);
    EXPECT_FALSE(run.stations[1].active);
    EXPECT_DOUBLE_EQ(run.stations[1].frequencyHz, 90.3e6);
    // Found at the first search that averaged it, seen last at the last
    // search before it went.
    EXPECT_EQ(run.stations[1].firstSample, uint64_t(1.25 * config.rate));
    EXPECT_EQ(run.stations[1].lastSeenSample, uint64_t(3.25 * config.rate));
    EXPECT_TRUE(HoldsSent(RandomGroups(40, 5), run.bits.at(903), 6, 10));
}

}  // namespace
