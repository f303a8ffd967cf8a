// How far confirmed characters can be trusted on radio input, and how soon
// the PS is confirmed. A station description (a fixed PS) goes through the
// test-signal modulator, the radio channel model, the RDS demodulator and
// the real decoder library, and its texts are gathered as the monitor and
// murlin-decode gather them (BlockQuality, StationTexts). Two ways of
// confirming are compared on the same bits: a character confirmed when it
// came twice the same in clean blocks ("repeat"), and in addition when it
// came once in a block the demodulator's soft decisions were sure of
// ("soft", what the radio runs use).
//
//   bench_text_trust [--seconds S] [--seeds N] [--trials T] [--trial-seconds S]
//                    [--fading rayleigh|tu|ra|none] [--doppler HZ] [--station FILE] CN...
//
// Per RF C/N (dB in 200 kHz), one line:
// - groups: share of the groups sent that the library decoded,
//   over the long runs (S seconds, N seeds);
// - wrong: PS characters that became confirmed with a value that was not
//   sent, over the long runs, for soft and repeat confirmation;
// - PS time: from the start of the signal to the first complete
//   confirmed PS, median and worst of T short runs (each a new seed and a
//   new place in the station's group cycle), for soft and repeat.
#include "frame_processor.h"
#include "generator.h"
#include "mpx_modulator.h"
#include "radio_channel.h"
#include "rds_demodulator.h"
#include "rds_encoder.h"
#include "station.h"
#include "station_texts.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using varnak::radio::ChannelConfig;

// Gathers the texts the way the faces do and checks the PS after every group.
struct TextWatch : varnak::FrameListener {
    const varnak::FrameProcessor* processor = nullptr;
    std::string sentPs;
    rdsformats::BlockQuality quality;
    rdsformats::StationTexts texts;
    const std::vector<rdsgen::GroupWords>* truth = nullptr;
    std::size_t groups = 0, wrongConfirmed = 0, sureBlocks = 0, wrongSure = 0;
    double firstComplete = -1;  // seconds
    std::vector<bool> wrongNow = std::vector<bool>(8, false);

    void onStatus(uint16_t status) override { quality.onStatus(status); }
    void onSureStatus(uint16_t status) override { quality.onStatus(status, true); }
    void onGroup(const varnak::DecodedGroup& g) override
    {
        ++groups;
        const rdsformats::GroupRecord record = quality.take(g.blockWords);
        // A sure block must be one sent around there.
        const long centre = long((processor->position() - 1) / 104);
        for (int n = 0; n < 4; ++n) {
            if (!((record.sure >> n) & 1)) continue;
            ++sureBlocks;
            bool sent = false;
            for (long k = std::max(0L, centre - 3); k <= centre + 3 && k < long(truth->size()); ++k) {
                const auto& t = (*truth)[size_t(k)];
                const uint16_t words[4] = {t.a, t.b, t.c, t.d};
                sent = sent || words[n] == record.blocks[n];
            }
            if (!sent) ++wrongSure;
        }
        texts.feed(record);
        const rdsformats::ConfidentText& ps = texts.ps();
        for (std::size_t i = 0; i < 8; ++i) {
            const bool wrong =
                ps.state(i) == rdsformats::CharState::Confirmed && ps.byte(i) != static_cast<uint8_t>(sentPs[i]);
            if (wrong && !wrongNow[i]) ++wrongConfirmed;  // counted once each time it turns wrong
            wrongNow[i] = wrong;
        }
        if (firstComplete < 0 && ps.complete()) firstComplete = double(processor->position()) / 1187.5;
    }
};

struct Outcome {
    std::size_t decoded = 0, wrong = 0, sureBlocks = 0, wrongSure = 0;
    double firstComplete = -1;
};

// The demodulator's bits for `seconds` of the station from group `skip` of
// its cycle on, through the radio channel at `cn` dB.
std::string Receive(const rdsgen::Station& station, const ChannelConfig& base, double cn, double seconds, int seed,
                    std::size_t skip, std::vector<rdsgen::GroupWords>& truth)
{
    rdsgen::Transmitter tx(station);
    for (std::size_t k = 0; k < skip; ++k) tx.next(0);
    std::string bits;
    const auto groups = std::size_t(seconds * 1187.5 / 104);
    for (std::size_t g = 0; g < groups; ++g) {
        const auto w = tx.next(double(g) * 104 / 1187.5);
        rdsenc::AppendGroup(bits, w.a, w.b, w.c, w.d);
        truth.push_back(w);
    }
    const double rate = 171000;
    varnak::radio::MpxConfig config;
    config.sampleRate = rate;
    config.rdsLevel = 0.0533;
    config.stereo = true;
    config.seed = uint64_t(seed);
    varnak::radio::MpxModulator modulator(config);
    ChannelConfig c = base;
    c.mpxRate = rate;
    c.cnDb = cn;
    c.seed = uint64_t(seed);
    varnak::radio::RadioChannel channel(c);
    varnak::radio::RdsDemodulator demodulator(rate);
    demodulator.setMarkSure(true);
    std::vector<float> samples, received;
    std::string out;
    for (std::size_t at = 0; at <= bits.size(); at += 4096) {
        samples.clear();
        if (at < bits.size())
            modulator.modulate(std::string_view(bits).substr(at, 4096), samples);
        else
            modulator.finish(samples);
        received.clear();
        channel.process(samples.data(), samples.size(), received);
        demodulator.push(received.data(), received.size(), out);
    }
    demodulator.finish(out);
    return out;
}

Outcome Decode(const varnak::MurlinApi& api, const std::string& bits, const std::vector<rdsgen::GroupWords>& truth,
               const std::string& ps, bool soft)
{
    api.RDSInit();
    varnak::FrameProcessor processor(api);
    TextWatch watch;
    watch.processor = &processor;
    watch.sentPs = ps;
    watch.truth = &truth;
    processor.setListener(&watch);
    if (soft) {
        processor.setSureMarks(true);
        processor.process(bits, true);
    } else {
        std::string plain = bits;
        for (char& c : plain) c = c == 'I' ? '1' : c == 'O' ? '0' : c;
        processor.process(plain, true);
    }
    return {watch.groups, watch.wrongConfirmed, watch.sureBlocks, watch.wrongSure, watch.firstComplete};
}

double Median(std::vector<double> v)
{
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    double seconds = 300, trialSeconds = 8;
    int seeds = 2, trials = 20;
    ChannelConfig channel;
    std::string stationPath = VARNAK_STATION;
    std::vector<double> cns;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--seconds" && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (a == "--seeds" && i + 1 < argc)
            seeds = std::atoi(argv[++i]);
        else if (a == "--trials" && i + 1 < argc)
            trials = std::atoi(argv[++i]);
        else if (a == "--trial-seconds" && i + 1 < argc)
            trialSeconds = std::atof(argv[++i]);
        else if (a == "--fading" && i + 1 < argc)
            channel.fading = varnak::radio::FadingModelByName(argv[++i]).value_or(varnak::radio::FadingModel::None);
        else if (a == "--doppler" && i + 1 < argc)
            channel.dopplerHz = std::atof(argv[++i]);
        else if (a == "--station" && i + 1 < argc)
            stationPath = argv[++i];
        else
            cns.push_back(std::atof(a.c_str()));
    }
    std::string error;
    const varnak::MurlinApi* api = varnak::murlin(&error);
    if (!api) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const rdsgen::Station station = rdsgen::LoadStation(stationPath);
    const std::string ps = station.ps;
    std::printf("%6s %8s %8s %7s %7s %9s %9s %9s %9s %7s %9s\n", "C/N", "groups", "groups%", "wrongS", "wrongR",
                "psSmed", "psSmax", "psRmed", "psRmax", "sure%", "wrongSure");
    for (double cn : cns) {
        std::size_t sent = 0, decoded = 0, wrongSoft = 0, wrongRepeat = 0, sureBlocks = 0, wrongSure = 0;
        for (int seed = 1; seed <= seeds; ++seed) {
            std::vector<rdsgen::GroupWords> truth;
            const std::string bits = Receive(station, channel, cn, seconds, seed, 0, truth);
            sent += truth.size();
            const Outcome soft = Decode(*api, bits, truth, ps, true);
            const Outcome repeat = Decode(*api, bits, truth, ps, false);
            decoded += soft.decoded;
            wrongSoft += soft.wrong;
            wrongRepeat += repeat.wrong;
            sureBlocks += soft.sureBlocks;
            wrongSure += soft.wrongSure;
        }
        std::vector<double> timesSoft, timesRepeat;
        for (int t = 0; t < trials; ++t) {
            std::vector<rdsgen::GroupWords> truth;
            const std::string bits = Receive(station, channel, cn, trialSeconds, 1000 + t, std::size_t(t) * 7, truth);
            const Outcome soft = Decode(*api, bits, truth, ps, true);
            const Outcome repeat = Decode(*api, bits, truth, ps, false);
            // A run that never completes the PS counts as its whole length.
            timesSoft.push_back(soft.firstComplete < 0 ? trialSeconds : soft.firstComplete);
            timesRepeat.push_back(repeat.firstComplete < 0 ? trialSeconds : repeat.firstComplete);
        }
        const auto worst = [](const std::vector<double>& v) {
            return v.empty() ? -1.0 : *std::max_element(v.begin(), v.end());
        };
        std::printf("%6.1f %8zu %7.2f%% %7zu %7zu %8.2fs %8.2fs %8.2fs %8.2fs %6.1f%% %9zu\n", cn, sent,
                    100.0 * double(decoded) / double(sent), wrongSoft, wrongRepeat, Median(timesSoft), worst(timesSoft),
                    Median(timesRepeat), worst(timesRepeat), 100.0 * double(sureBlocks) / double(4 * sent), wrongSure);
        std::fflush(stdout);
    }
    return 0;
}
