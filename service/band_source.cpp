// The band source: every FM station of an SDR or an IQ capture, through the
// band receiver. Its section's keys:
//   path = FILE | -           an IQ capture (raw with iq = FORMAT, SigMF, IQ audio)
//   iq = cu8|cs8|cs16|cf32    raw samples' format
//   rate = 2.4M               the capture's sample rate (raw and SDR)
//   center = 98M              its centre frequency
//   sdr = driver=rtlsdr       a live SoapySDR device instead of a path
//   gain = 30 | auto, ppm = 0 for the SDR
//   raster = 100k | 200k      the stations' spacing
//   freq = 98.5M, 99.1M       only these stations (else every one found)
//   realtime = 20             a capture read at 20 times real time
// Chunks name their station by its frequency ("98.5"), as profiles do.
#include <cmath>
#include <memory>
#include <sstream>

#include "band_receiver.h"
#include "config.h"
#include "iq_source.h"
#include "json_text.h"
#include "sdr_source.h"
#include "source.h"

namespace varnakd {

namespace {

using varnak::radio::ParseFrequency;

constexpr std::size_t kReadSamples = 1 << 15;

// What the band receiver measured of a station: its RDS demodulator's
// report, and from the RF signal its level, peak deviation and MPX power.
rdsformats::SignalFigures BandFigures(const varnak::radio::StationSignal& signal)
{
    rdsformats::SignalFigures figures = FiguresOf(signal.rds);
    if (signal.levelDbfs > -200) figures.levelDbfs = signal.levelDbfs;
    if (signal.peakDeviationKHz > 0) figures.deviationKHz = signal.peakDeviationKHz;
    figures.mpxPowerDbr = signal.mpxPowerDbr;
    return figures;
}

class BandSource : public Source {
public:
    explicit BandSource(const SourceConfig& c) : config_(c) {}

    bool run(ChunkSink& sink, std::string& error) override
    {
        using namespace varnak::radio;
        try {
            std::unique_ptr<IqSource> source = open();
            BandConfig band;
            band.rate = source->sampleRate();
            if (!source->centerFrequency()) throw std::invalid_argument("no centre frequency: give center = HZ");
            band.centerHz = *source->centerFrequency();
            band.rasterHz = frequency("raster").value_or(100e3);
            band.frequencies = frequencies();
            band.keepLooking = true;
            BandReceiver receiver(band);

            struct Stream {
                std::string name;
                uint64_t bits = 0;
                bool restart = true;
            };
            std::vector<Stream> streams;
            const auto stream = [&](int id, double hz) -> Stream& {
                if (std::size_t(id) >= streams.size()) streams.resize(std::size_t(id) + 1);
                Stream& s = streams[std::size_t(id)];
                if (s.name.empty()) s.name = rdsformats::FrequencyText(hz / 1e6);
                return s;
            };
            bool open = true;
            const bool recording = !option("sdr");
            // The capture's clock, for recordings: stations found late or lost
            // meanwhile keep the time of the capture.
            const auto clock = [&]() -> std::optional<double> {
                if (!recording) return std::nullopt;
                return double(receiver.samples()) / band.rate;
            };
            std::vector<double> hzOf(band.frequencies);
            receiver.setStationSink([&](const BandStation& st, bool found) {
                if (std::size_t(st.id) >= hzOf.size()) hzOf.resize(std::size_t(st.id) + 1);
                hzOf[std::size_t(st.id)] = st.frequencyHz;
                Stream& s = stream(st.id, st.frequencyHz);
                if (found) {
                    s.restart = true;
                    return;
                }
                SourceChunk chunk;
                chunk.station = s.name;
                chunk.ended = true;
                chunk.clock = clock();
                open = open && sink.push(std::move(chunk));
            });
            receiver.setBitsSink([&](int id, const std::string& bits) {
                Stream& s = stream(id, hzOf[std::size_t(id)]);
                SourceChunk chunk;
                chunk.station = s.name;
                chunk.text = bits;
                chunk.restart = s.restart;
                s.restart = false;
                chunk.bits = s.bits += bits.size();
                chunk.signal = BandFigures(receiver.signalOf(id));
                chunk.clock = clock();
                open = open && sink.push(std::move(chunk));
            });
            std::vector<std::complex<float>> samples(kReadSamples);
            const Pacer pacer(recording ? config_.realtime : 0);
            uint64_t read = 0;
            while (open && !sink.stopping()) {
                const std::size_t n = source->read(samples.data(), samples.size());
                if (n == 0) break;
                read += n;
                if (!pacer.wait(double(read) / band.rate, sink)) break;
                // Every second of a capture, its clock: lost stations' alarms
                // come on time even when no station sends anything.
                if (recording && read / std::size_t(band.rate) != (read - n) / std::size_t(band.rate)) {
                    SourceChunk tick;
                    tick.tick = true;
                    tick.clock = clock();
                    open = sink.push(std::move(tick));
                }
                receiver.push(samples.data(), n);
            }
            if (open && !sink.stopping()) receiver.finish();
            if (!source->truncation().empty()) {
                error = source->truncation();
                return false;
            }
            return true;
        } catch (const std::exception& e) {
            error = e.what();
            return false;
        }
    }

private:
    std::optional<std::string> option(const char* key) const
    {
        const auto it = config_.options.find(key);
        if (it == config_.options.end() || it->second.empty()) return std::nullopt;
        return it->second;
    }
    std::optional<double> frequency(const char* key) const
    {
        const auto text = option(key);
        if (!text) return std::nullopt;
        const auto hz = ParseFrequency(*text);
        if (!hz || *hz <= 0) throw std::invalid_argument(std::string(key) + ": '" + *text + "' is not a frequency");
        return hz;
    }
    std::vector<double> frequencies() const
    {
        std::vector<double> list;
        const auto text = option("freq");
        if (!text) return list;
        std::stringstream in(*text);
        std::string item;
        while (std::getline(in, item, ',')) {
            item.erase(0, item.find_first_not_of(" \t"));
            item.erase(item.find_last_not_of(" \t") + 1);
            const auto hz = ParseFrequency(item);
            if (!hz) throw std::invalid_argument("freq: '" + item + "' is not a frequency");
            list.push_back(*hz);
        }
        return list;
    }

    std::unique_ptr<varnak::radio::IqSource> open() const
    {
        using namespace varnak::radio;
        if (const auto args = option("sdr")) {
            SdrSettings s;
            s.args = *args;
            s.rate = frequency("rate").value_or(2.4e6);
            const auto center = frequency("center");
            if (!center) throw std::invalid_argument("an SDR needs center = HZ");
            s.center = *center;
            if (const auto gain = option("gain"); gain && *gain != "auto") s.gain = std::stod(*gain);
            if (const auto ppm = option("ppm")) s.ppm = std::stod(*ppm);
            return SdrSource::open(s);
        }
        IqSettings settings;
        if (const auto format = option("iq")) {
            settings.format = ParseIqFormat(*format);
            if (!settings.format) throw std::invalid_argument("iq: unknown sample format '" + *format + "'");
        }
        settings.rate = frequency("rate");
        settings.center = frequency("center");
        if (config_.path.empty()) throw std::invalid_argument("no path and no sdr");
        return IqSource::open(config_.path, settings);
    }

    SourceConfig config_;
};

}  // namespace

std::unique_ptr<Source> MakeBandSource(const SourceConfig& config) { return std::make_unique<BandSource>(config); }

}  // namespace varnakd
