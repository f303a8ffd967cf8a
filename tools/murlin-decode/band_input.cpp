#include "band_input.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

#include "band_receiver.h"
#include "decode_log.h"
#include "frame_processor.h"
#include "group_output.h"
#include "mpx_input.h"
#include "output_file.h"
#include "rbds.h"
#include "sdr_source.h"
#include "station_files.h"
#include "stop_signals.h"

namespace murlindecode {

using varnak::radio::BandReceiver;
using varnak::radio::BandStation;
using varnak::radio::IqSource;

const char kBandHelp[] =
    "IQ captures (complex baseband of a slice of the band, from an SDR):\n"
    "      --iq FORMAT    raw interleaved I/Q samples: cu8 (rtl_sdr), cs8\n"
    "                     (hackrf_transfer), cs16 (16-bit little-endian) or cf32\n"
    "                     (32-bit float); SigMF recordings (FILE.sigmf-meta or\n"
    "                     FILE.sigmf-data) and two-channel IQ audio files need none\n"
    "      --rate HZ      the capture's sample rate (\"2.4M\", \"2400000\")\n"
    "      --center HZ    the capture's centre frequency (\"98M\", \"98000000\")\n"
    "      --freq HZ      decode the station at HZ (\"98.5M\"); may be repeated\n"
    "      --band         decode every station found in the capture (the default\n"
    "                     for IQ input without --freq)\n"
    "      --raster HZ    stations' spacing: 100k (the default) or 200k (odd tenths\n"
    "                     of a MHz, as in the Americas)\n"
    "      --sdr ARGS     read live from an SDR through SoapySDR, ARGS a device\n"
    "                     string such as \"driver=rtlsdr\"; with --center, --rate\n"
    "                     (default 2.4M), --gain DB|auto and --ppm N\n";

namespace {

constexpr double kDefaultSdrRate = 2.4e6;
// A live band run writes a JSON summary of every station this often.
constexpr auto kLiveSummaryEvery = std::chrono::seconds(10);
constexpr std::size_t kChunk = 1 << 15;

void Error(const char* program, const std::string& message)
{
    std::fprintf(stderr, "%s: %s\n", program, message.c_str());
}

std::string Number(const char* format, double value)
{
    char text[48];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Pi(uint16_t pi)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04X", pi);
    return text;
}

// One station of the band: its frame processor (with a decoder of its own),
// its outputs, what it decoded.
class StationRun : public varnak::FrameListener {
public:
    StationRun(const varnak::MurlinApi& api, double hz, OutputFormat format, std::FILE* shared, bool rbds)
        : api(api), hz(hz), processor(api), format(format), shared(shared), rbds(rbds)
    {
        processor.useOwnDecoder();
        processor.setListener(this);
    }

    // Opens the station's own file (for a log or group lines), or writes to
    // the shared stream (JSON, or the one station of --freq).
    bool open(const std::string& path, std::string& error)
    {
        std::FILE* stream = shared;
        if (!path.empty()) {
            if (!file.create(path)) {
                error = file.error();
                return false;
            }
            stream = file.stream();
        }
        const bool logFormat = format == OutputFormat::Log;
        if (logFormat) log.attach(stream, path.empty() ? std::string("standard output") : file.name());
        output = std::make_unique<GroupOutput>(api, format, logFormat ? nullptr : stream, rbds);
        output->setFrequency(hz / 1e6);
        processor.setLog(logFormat ? &log : nullptr);
        flushTo = FlushTarget(stream);
        processor.beginStream(true);
        return true;
    }

    void onStatus(uint16_t status) override { output->onStatus(status); }
    void onGroup(const varnak::DecodedGroup& group) override
    {
        ++groups;
        output->onGroup(group);
        if (flushTo) std::fflush(flushTo);
    }

    const varnak::MurlinApi& api;
    double hz;
    varnak::FrameProcessor processor;
    OutputFormat format;
    std::FILE* shared;
    bool rbds;
    varnak::OutputFile file;
    varnak::DecodeLog log;
    std::unique_ptr<GroupOutput> output;
    std::FILE* flushTo = nullptr;
    std::size_t groups = 0;
    uint64_t bits = 0;
};

// What a station's decoder holds: its record, and its blocks checked (the
// accepted ones and those whose check failed without repair) and failed.
struct Decoded {
    DecoderState state{};
    long long checked = 0, failed = 0;
};
Decoded ReadDecoded(StationRun& run)
{
    const auto selection = run.processor.select();
    Decoded d;
    run.api.RDSStruct(&d.state);
    const long long accepted = run.api.RDSStat(0), repaired = run.api.RDSStat(2);
    d.failed = run.api.RDSStat(1);
    d.checked = accepted + d.failed - repaired;
    return d;
}

// The JSON summary object of a station: its signal and what it sent.
std::string SummaryJson(const BandStation& s, StationRun& run, double rate)
{
    const auto [state, checked, failed] = ReadDecoded(run);
    std::string json = "{\"freq\":" + rdsformats::FrequencyText(s.frequencyHz / 1e6) + ",\"station\":{";
    if (run.groups > 0) {
        json += "\"pi\":\"" + Pi(state.pi) + "\",";
        json += "\"ps\":";
        rdsformats::AppendRdsJsonString(json, state.ps, 8);
        json += Number(",\"pty\":%.0f,", state.pty);
    }
    json += "\"groups\":" + std::to_string(run.groups);
    if (checked > 0) json += Number(",\"blockErrorRate\":%.4f", double(failed) / double(checked));
    json += Number(",\"levelDbfs\":%.1f", s.signal.levelDbfs);
    if (std::isfinite(s.cnDb)) json += Number(",\"cnDb\":%.1f", s.cnDb);
    json += Number(",\"peakDeviationKHz\":%.1f", s.signal.peakDeviationKHz);
    if (s.signal.pilotKHz > 0) json += Number(",\"pilotKHz\":%.2f", s.signal.pilotKHz);
    if (s.signal.rdsKHz > 0) json += Number(",\"rdsKHz\":%.2f", s.signal.rdsKHz);
    json += Number(",\"firstSeen\":%.3f", double(s.firstSample) / rate);
    json += Number(",\"lastSeen\":%.3f", double(s.lastSeenSample) / rate);
    json += std::string(",\"active\":") + (s.active ? "true" : "false") + "}}\n";
    return json;
}

// One line of the summary table.
std::string SummaryLine(const BandStation& s, StationRun& run, bool rbds)
{
    const auto [state, checked, failed] = ReadDecoded(run);
    std::string line = Number("  %7.2f", s.frequencyHz / 1e6) + Number(" %6.1f", s.signal.levelDbfs) +
                       (std::isfinite(s.cnDb) ? Number(" %5.1f", s.cnDb) : std::string("     -")) +
                       Number(" %5.1f", s.signal.peakDeviationKHz) + Number(" %5.2f", s.signal.pilotKHz) +
                       Number(" %5.2f", s.signal.rdsKHz);
    if (run.groups == 0) return line + "  no RDS" + (s.active ? "" : " (lost)") + "\n";
    const char* pty = rbds ? rdsformats::RbdsPtyName(state.pty) : run.api.RDSPTYDesc(state.pty);
    const bool rtA = state.groupsSeen & (1u << 4), rtB = state.groupsSeen & (1u << 5);
    const std::string rt = rtA   ? SummaryText(state.radioText, sizeof state.radioText)
                           : rtB ? SummaryText(state.radioTextB, sizeof state.radioTextB)
                                 : std::string();
    char ps[16];
    std::snprintf(ps, sizeof ps, "%-10s", ("'" + SummaryText(state.ps, 8) + "'").c_str());
    line += "  " + Pi(state.pi) + "  " + ps + "  ";
    char ptyText[24];
    std::snprintf(ptyText, sizeof ptyText, "%-16.16s", pty ? pty : "");
    line += ptyText;
    line += Number(" %6.0f", double(run.groups));
    line += checked > 0 ? Number(" %5.1f %%", 100.0 * double(failed) / double(checked)) : std::string("      -");
    if (!rt.empty()) line += "  '" + rt + "'";
    if (!s.active) line += "  (lost)";
    return line + "\n";
}

}  // namespace

bool WantsIq(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") break;
        for (const char* option : {"--iq", "--freq", "--band", "--center", "--sdr", "--raster"})
            if (arg == option || arg.rfind(std::string(option) + "=", 0) == 0) return true;
        if (!arg.empty() && arg[0] != '-' && varnak::IsSigmfPath(arg)) return true;
    }
    return false;
}

int ParseBandArgument(int argc, char** argv, int& i, bool iq, BandOptions& options, std::string& error)
{
    const std::string arg = argv[i];
    if (arg == "--band") {
        options.band = options.enabled = true;
        return 1;
    }
    std::string name, value;
    const int taken =
        iq ? TakeOptionValue(argc, argv, i,
                             {"--iq", "--rate", "--center", "--freq", "--raster", "--sdr", "--gain", "--ppm"}, name,
                             value, error)
           : TakeOptionValue(argc, argv, i, {"--iq", "--center", "--freq", "--raster", "--sdr", "--gain", "--ppm"},
                             name, value, error);
    if (taken < 0) return -1;
    if (name.empty()) return 0;
    options.enabled = true;
    const auto frequency = [&](std::optional<double>& into) {
        const auto hz = varnak::radio::ParseFrequency(value);
        if (!hz || *hz <= 0) {
            error = name + ": '" + value + "' is not a frequency in Hz (\"98.5M\", \"98500000\")";
            return -1;
        }
        into = *hz;
        return 1;
    };
    if (name == "--iq") {
        options.format = varnak::radio::ParseIqFormat(value);
        if (!options.format) {
            error = "--iq: unknown sample format '" + value + "' (cu8, cs8, cs16 or cf32)";
            return -1;
        }
        return 1;
    }
    if (name == "--rate") {
        options.rate = varnak::radio::ParseFrequency(value);
        if (!options.rate) {
            error = "--rate: '" + value + "' is not a sample rate (\"2.4M\", \"2400000\")";
            return -1;
        }
        if (*options.rate < varnak::radio::kMinIqRate || *options.rate > varnak::radio::kMaxIqRate) {
            error = "--rate: " + value + " is out of range; an IQ capture needs 192k to 100M samples per second";
            return -1;
        }
        return 1;
    }
    if (name == "--center") return frequency(options.center);
    if (name == "--freq") {
        std::optional<double> hz;
        if (frequency(hz) < 0) return -1;
        options.frequencies.push_back(*hz);
        return 1;
    }
    if (name == "--raster") {
        const auto hz = varnak::radio::ParseFrequency(value);
        if (!hz || (*hz != 100e3 && *hz != 200e3)) {
            error = "--raster: '" + value + "' is neither 100k nor 200k";
            return -1;
        }
        options.raster = *hz;
        return 1;
    }
    if (name == "--sdr") {
        options.sdr = value;
        return 1;
    }
    if (name == "--gain") {
        if (value == "auto") {
            options.gain.reset();
            return 1;
        }
        char* end = nullptr;
        const double db = std::strtod(value.c_str(), &end);
        if (value.empty() || *end != '\0' || !std::isfinite(db) || db < -20 || db > 100) {
            error = "--gain: '" + value + "' is not a gain in dB (or \"auto\")";
            return -1;
        }
        options.gain = db;
        return 1;
    }
    char* end = nullptr;
    const double ppm = std::strtod(value.c_str(), &end);
    if (value.empty() || *end != '\0' || !std::isfinite(ppm) || std::abs(ppm) > 1000) {
        error = "--ppm: '" + value + "' is not a frequency correction in ppm (-1000 to 1000)";
        return -1;
    }
    options.ppm = ppm;
    return 1;
}

std::string CheckBandOptions(const BandOptions& options, const FormatOptions& formats, const std::string& output,
                             const std::vector<std::string>& files)
{
    if (!options.enabled) return {};
    if (options.band && !options.frequencies.empty()) return "--band and --freq cannot both be given";
    if (formats.groups) return "--groups and IQ input cannot both be given";
    if (options.sdr) {
        if (!files.empty()) return "--sdr reads the device, not a file: leave out the file";
        if (!options.center) return "--sdr needs the frequency to tune to: give --center";
        if (options.format) return "--iq is for recordings; --sdr gives its own samples";
    } else {
        if (files.size() > 1) return "IQ input: one capture at a time";
        if (options.gain || options.ppm != 0) return "--gain and --ppm are for --sdr";
        const bool sigmf = !files.empty() && varnak::IsSigmfPath(files[0]);
        if (options.format && sigmf) return "--iq is for raw samples; a SigMF recording names its own format";
        if (options.format && !options.rate) return "raw IQ samples need their rate: give --rate";
        if (!options.format && !sigmf && !files.empty() && files[0] == "-")
            return "standard input carries raw IQ samples: give their format with --iq";
        if (options.format && !options.center && !options.frequencies.empty())
            return "--freq needs the capture's centre frequency: give --center";
    }
    // Several stations cannot share one decode log or group log.
    const bool several = options.frequencies.size() != 1;
    const bool toStdout = output == "-" || (output.empty() && !files.empty() && files[0] == "-");
    if (several && toStdout && formats.format != OutputFormat::Json)
        return "every station of a band needs its own decode log: give -o NAME (station files NAME-98.50...) or "
               "use --json";
    return {};
}

bool DecodeBand(const std::string& input, const BandOptions& options, const BandRun& run, const varnak::MurlinApi& api,
                const char* program)
{
    // The source.
    std::unique_ptr<IqSource> source;
    try {
        if (options.sdr) {
            varnak::radio::SdrSettings sdr;
            sdr.args = *options.sdr;
            sdr.rate = options.rate.value_or(kDefaultSdrRate);
            sdr.center = *options.center;
            sdr.gain = options.gain;
            sdr.ppm = options.ppm;
            source = varnak::radio::SdrSource::open(sdr);
        } else {
            source = IqSource::open(input, {options.format, options.rate, options.center});
        }
    } catch (const varnak::radio::SampleSourceError& e) {
        Error(program, e.what());
        return false;
    }
    const std::string name = options.sdr ? source->name() : input == "-" ? "standard input" : input;
    if (!source->centerFrequency()) {
        Error(program, name + ": its centre frequency is not known: give --center");
        return false;
    }

    varnak::radio::BandConfig config;
    config.rate = source->sampleRate();
    config.centerHz = *source->centerFrequency();
    config.rasterHz = options.raster;
    config.frequencies = options.frequencies;
    config.keepLooking = true;
    std::unique_ptr<BandReceiver> receiver;
    try {
        receiver = std::make_unique<BandReceiver>(config);
    } catch (const std::invalid_argument& e) {
        Error(program, name + ": " + e.what());
        return false;
    }

    // Where the stations' outputs go.
    const OutputFormat format = run.formats.format;
    const bool single = options.frequencies.size() == 1;
    const bool live = options.sdr || source->frames() == std::nullopt;
    const std::string base = !run.output.empty()            ? run.output
                             : input == "-" && !options.sdr ? std::string("-")
                                                            : varnak::BandOutputBase(input, options.sdr.has_value());
    const bool sharedStream = format == OutputFormat::Json || single;
    varnak::OutputFile shared;
    if (sharedStream && !shared.create(base)) {
        Error(program, shared.error());
        return false;
    }
    varnak::StopSignals::setGraceful(live);
    struct EndGraceful {
        ~EndGraceful() { varnak::StopSignals::setGraceful(false); }
    } endGraceful;

    std::map<int, std::unique_ptr<StationRun>> stations;
    bool failed = false;
    const auto stationRun = [&](int id, double hz) -> StationRun* {
        auto& slot = stations[id];
        if (slot) return slot.get();
        slot =
            std::make_unique<StationRun>(api, hz, format, sharedStream ? shared.stream() : nullptr, run.formats.rbds);
        std::string error;
        if (!slot->open(sharedStream ? std::string() : varnak::StationPath(base, varnak::StationLabel(hz)), error)) {
            Error(program, error);
            failed = true;
        }
        slot->output->setLive(live);
        if (run.formats.history) slot->output->enableHistory(run.formats.historyLimit);
        slot->output->setPositionSource(&slot->processor, 1);
        return slot.get();
    };
    // Stations by frequency are there from the start; found ones when found.
    for (std::size_t i = 0; i < options.frequencies.size(); ++i) stationRun(int(i), options.frequencies[i]);
    receiver->setStationSink([&](const BandStation& s, bool found) {
        if (found) stationRun(s.id, s.frequencyHz);
    });
    receiver->setBitsSink([&](int id, const std::string& bits) {
        const auto at = stations.find(id);
        if (at == stations.end() || !at->second->output) return;
        StationRun* s = at->second.get();
        s->bits += bits.size();
        const auto selection = s->processor.select();
        s->processor.feed(bits.data(), bits.size());
    });

    // Read until the end, a stop signal or a read error.
    std::vector<std::complex<float>> samples(kChunk);
    std::string readError;
    auto nextSummary = std::chrono::steady_clock::now() + kLiveSummaryEvery;
    try {
        while (const std::size_t n = source->read(samples.data(), samples.size())) {
            receiver->push(samples.data(), n);
            if (varnak::StopSignals::requested()) break;
            if (live && format == OutputFormat::Json && std::chrono::steady_clock::now() >= nextSummary) {
                nextSummary += kLiveSummaryEvery;
                for (const BandStation& s : receiver->stations())
                    if (stations.count(s.id)) {
                        const std::string json = SummaryJson(s, *stations[s.id], config.rate);
                        std::fputs(json.c_str(), shared.stream());
                    }
                std::fflush(shared.stream());
            }
        }
    } catch (const varnak::radio::SampleSourceError& e) {
        readError = e.what();
    }
    receiver->finish();

    // Every station's outputs, then the summary.
    const std::vector<BandStation> found = receiver->stations();
    std::size_t groups = 0;
    for (const BandStation& s : found) {
        StationRun* r = stationRun(s.id, s.frequencyHz);
        {
            const auto selection = r->processor.select();
            r->processor.endStream();
        }
        r->output->finish();
        groups += r->groups;
        if (format == OutputFormat::Json) {
            const std::string json = SummaryJson(s, *r, config.rate);
            std::fputs(json.c_str(), shared.stream());
        }
        if (sharedStream) continue;
        // A station that sent no group leaves no empty file behind.
        if (r->groups == 0) {
            r->file.discard();
            continue;
        }
        const bool logOk = format != OutputFormat::Log || r->log.close();
        if (!logOk || r->output->failed() || !r->file.commit()) {
            Error(program, !logOk                    ? r->log.error()
                           : r->file.error().empty() ? "cannot write " + r->file.name()
                                                     : r->file.error());
            failed = true;
        }
    }
    if (sharedStream) {
        if (format == OutputFormat::Log && single && !stations.empty()) {
            StationRun& r = *stations.begin()->second;
            if (!r.log.close()) {
                Error(program, r.log.error());
                failed = true;
            }
        }
        if (groups == 0 && base != "-") {
            shared.discard();
        } else if (!shared.commit()) {
            Error(program, shared.error());
            failed = true;
        }
    }

    if (run.formats.stats || run.formats.history)
        for (const BandStation& s : found) {
            StationRun& r = *stations[s.id];
            if (r.groups == 0) continue;
            const std::string label = varnak::StationLabel(s.frequencyHz) + " MHz";
            const std::string table =
                (run.formats.stats ? StatsText(label, r.output->stats(), format == OutputFormat::Json) : "") +
                (run.formats.history ? HistoryText(label, r.output->history(), format == OutputFormat::Json) : "");
            std::fputs(table.c_str(), stdout);
        }

    if (!run.quiet) {
        std::fprintf(stderr, "%s: %.3g MS/s at %.3f MHz, %.1f s; %zu station%s, %zu groups decoded\n", name.c_str(),
                     config.rate / 1e6, config.centerHz / 1e6, double(receiver->samples()) / config.rate, found.size(),
                     found.size() == 1 ? "" : "s", groups);
        if (!found.empty())
            std::fputs("      MHz   dBFS   C/N   dev pilot   RDS    PI  PS          PTY              groups  BLER\n",
                       stderr);
        for (const BandStation& s : found)
            std::fputs(SummaryLine(s, *stations[s.id], run.formats.rbds).c_str(), stderr);
        if (found.empty())
            std::fprintf(stderr, "  no station found between %.3f and %.3f MHz\n", receiver->lowestHz() / 1e6,
                         receiver->highestHz() / 1e6);
        if (!source->truncation().empty())
            Error(program, "warning: " + source->truncation() + "; decoded what is there");
        if (const int signal = varnak::StopSignals::requested())
            std::fprintf(stderr, "  stopped by signal %d\n", signal);
        if (!sharedStream && groups > 0)
            std::fprintf(stderr, "  logs: %s\n", varnak::StationPath(base, "<MHz>").c_str());
    }
    if (!readError.empty()) {
        Error(program, readError);
        return false;
    }
    if (groups == 0) {
        Error(program, name + ": no group decoded" + (found.empty() ? "; no station found" : ""));
        return false;
    }
    return !failed;
}

}  // namespace murlindecode
