// Sensitivity of the RDS demodulator: groups of a station description go
// through the test-signal modulator at a given CNR, the demodulator and the
// real decoder library (through the frame processing path); decoded groups
// are compared with the transmitted ones around the same place in the stream.
//
//   bench_demod_sensitivity [--seconds S] [--rate HZ] [--ppm P] [--stereo]
//                           [--no-pilot] [--seeds N] [--why] [--random]
//                           [--rds-offset HZ] [--rds-drift HZ_PER_MIN] [--rds-phase DEG] CNR...
// --random sends random blocks B, C and D (block A a fixed PI) instead of a
// station's groups, so nothing repeats but the PI.
// Prints one line per CNR: groups sent, groups correct (%), wrong groups.
#include "frame_processor.h"
#include "generator.h"
#include "mpx_modulator.h"
#include "radio_channel.h"
#include "rds_demodulator.h"
#include "rds_encoder.h"
#include "station.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

struct Counter : varnak::FrameListener {
    const varnak::FrameProcessor* processor = nullptr;
    std::vector<std::pair<std::size_t, rdsgen::GroupWords>> groups;
    void onGroup(const varnak::DecodedGroup& g) override
    {
        // The bits before the one that completed the group.
        const std::size_t position = std::size_t(processor->position()) - 1;
        groups.push_back({position, {g.blockWords[0], g.blockWords[1], g.blockWords[2], g.blockWords[3]}});
    }
};

bool Same(const rdsgen::GroupWords& a, const rdsgen::GroupWords& b)
{
    return a.a == b.a && a.b == b.b && a.c == b.c && a.d == b.d;
}

}  // namespace

int main(int argc, char** argv)
{
    double seconds = 60, rate = 171000, ppm = 0, rdsOffset = 0, rdsDrift = 0, rdsPhase = 0;
    bool stereo = false, pilot = true, why = false, random = false;
    int seeds = 1;
    double rdsLevel = 0.04;
    // Through the radio channel: the CNR arguments are RF C/N in 200 kHz.
    bool channel = false;
    varnak::radio::ChannelConfig channelConfig;
    std::string stationPath = VARNAK_STATION;
    std::vector<double> cnrs;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--seconds" && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (a == "--rate" && i + 1 < argc)
            rate = std::atof(argv[++i]);
        else if (a == "--ppm" && i + 1 < argc)
            ppm = std::atof(argv[++i]);
        else if (a == "--rds-offset" && i + 1 < argc)
            rdsOffset = std::atof(argv[++i]);
        else if (a == "--rds-drift" && i + 1 < argc)
            rdsDrift = std::atof(argv[++i]);
        else if (a == "--rds-phase" && i + 1 < argc)
            rdsPhase = std::atof(argv[++i]);
        else if (a == "--rds-level" && i + 1 < argc)
            rdsLevel = std::atof(argv[++i]);
        else if (a == "--channel")
            channel = true;
        else if (a == "--fading" && i + 1 < argc)
            channelConfig.fading =
                varnak::radio::FadingModelByName(argv[++i]).value_or(varnak::radio::FadingModel::None);
        else if (a == "--doppler" && i + 1 < argc)
            channelConfig.dopplerHz = std::atof(argv[++i]);
        else if (a == "--echo" && i + 3 < argc) {
            channelConfig.echoes.push_back({std::atof(argv[i + 1]), std::atof(argv[i + 2]), std::atof(argv[i + 3])});
            i += 3;
        } else if (a == "--interferer" && i + 2 < argc) {
            channelConfig.interferer = varnak::radio::ChannelInterferer{std::atof(argv[i + 1]), std::atof(argv[i + 2])};
            i += 2;
        } else if (a == "--seeds" && i + 1 < argc)
            seeds = std::atoi(argv[++i]);
        else if (a == "--station" && i + 1 < argc)
            stationPath = argv[++i];
        else if (a == "--stereo")
            stereo = true;
        else if (a == "--no-pilot")
            pilot = false;
        else if (a == "--why")
            why = true;
        else if (a == "--random")
            random = true;
        else
            cnrs.push_back(std::atof(a.c_str()));
    }
    std::string error;
    const varnak::MurlinApi* api = varnak::murlin(&error);
    if (!api) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const rdsgen::Station station = rdsgen::LoadStation(stationPath);
    std::printf("%8s %8s %9s %7s %7s %8s\n", "CNR dB", "groups", "correct%", "wrong", "wrong%", "est.CNR");
    for (double cnr : cnrs) {
        std::size_t sent = 0, correct = 0, wrong = 0, decoded = 0;
        double estimate = 0;
        for (int seed = 1; seed <= seeds; ++seed) {
            rdsgen::Transmitter tx(station);
            std::mt19937 rng{uint32_t(seed)};
            std::vector<rdsgen::GroupWords> truth;
            std::string bits;
            const auto groups = std::size_t(seconds * 1187.5 / 104);
            for (std::size_t g = 0; g < groups; ++g) {
                if (random)
                    truth.push_back({0x6201, uint16_t(rng()), uint16_t(rng()), uint16_t(rng())});
                else
                    truth.push_back(tx.next(double(g) * 104 / 1187.5));
                const auto& w = truth.back();
                rdsenc::AppendGroup(bits, w.a, w.b, w.c, w.d);
            }
            varnak::radio::MpxConfig config;
            config.sampleRate = rate;
            if (!channel) config.cnrDb = cnr;
            config.rdsLevel = rdsLevel;
            config.ppm = ppm;
            config.stereo = stereo;
            config.pilot = pilot;
            config.seed = uint64_t(seed);
            config.rdsOffsetHz = rdsOffset;
            config.rdsDriftHzPerMinute = rdsDrift;
            config.rdsPhaseDeg = rdsPhase;
            varnak::radio::MpxModulator modulator(config);
            varnak::radio::RdsDemodulator demodulator(rate);
            std::unique_ptr<varnak::radio::RadioChannel> radio;
            if (channel) {
                varnak::radio::ChannelConfig c = channelConfig;
                c.mpxRate = rate;
                c.cnDb = cnr;
                c.seed = uint64_t(seed);
                radio = std::make_unique<varnak::radio::RadioChannel>(c);
            }
            std::vector<float> samples, received;
            std::string out;
            auto push = [&] {
                if (radio) {
                    received.clear();
                    radio->process(samples.data(), samples.size(), received);
                    demodulator.push(received.data(), received.size(), out);
                } else {
                    demodulator.push(samples.data(), samples.size(), out);
                }
            };
            for (std::size_t at = 0; at < bits.size(); at += 4096) {
                samples.clear();
                modulator.modulate(std::string_view(bits).substr(at, 4096), samples);
                push();
            }
            samples.clear();
            modulator.finish(samples);
            push();
            demodulator.finish(out);
            estimate += demodulator.report().cnrDb / seeds;

            api->RDSInit();
            varnak::FrameProcessor processor(*api);
            Counter counter;
            processor.setListener(&counter);
            counter.processor = &processor;
            processor.process(out, true);
            std::vector<bool> used(truth.size(), false);
            for (const auto& [position, words] : counter.groups) {
                ++decoded;
                const long centre = long(position / 104);
                bool match = false;
                for (long k = std::max(0L, centre - 3); k <= centre + 3 && k < long(truth.size()); ++k)
                    if (!used[size_t(k)] && Same(truth[size_t(k)], words)) {
                        used[size_t(k)] = match = true;
                        break;
                    }
                if (match) {
                    ++correct;
                } else {
                    ++wrong;
                    if (why) {
                        // Which blocks differ from the closest group sent there.
                        int bestBlocks = 0;
                        for (long k = std::max(0L, centre - 3); k <= centre + 3 && k < long(truth.size()); ++k) {
                            const auto& t = truth[size_t(k)];
                            const int mask = (t.a != words.a) | (t.b != words.b) << 1 | (t.c != words.c) << 2 |
                                             (t.d != words.d) << 3;
                            if (k == std::max(0L, centre - 3) ||
                                __builtin_popcount(unsigned(mask)) < __builtin_popcount(unsigned(bestBlocks)))
                                bestBlocks = mask;
                        }
                        std::fprintf(stderr, "wrong group %04X %04X %04X %04X at bit %zu: blocks differing %s%s%s%s\n",
                                     words.a, words.b, words.c, words.d, position, bestBlocks & 1 ? "A" : "",
                                     bestBlocks & 2 ? "B" : "", bestBlocks & 4 ? "C" : "", bestBlocks & 8 ? "D" : "");
                    }
                }
            }
            if (why)
                for (std::size_t k = 0; k < truth.size(); ++k)
                    if (!used[k]) std::fprintf(stderr, "lost group %zu (bits %zu..%zu)\n", k, k * 104, k * 104 + 103);
            sent += truth.size();
        }
        std::printf("%8.1f %8zu %8.2f%% %7zu %6.3f%% %8.1f\n", cnr, sent, 100.0 * double(correct) / double(sent), wrong,
                    decoded ? 100.0 * double(wrong) / double(decoded) : 0.0, estimate);
        std::fflush(stdout);
    }
    return 0;
}
