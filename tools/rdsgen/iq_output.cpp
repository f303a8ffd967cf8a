#include "iq_output.h"

#include "band_signal.h"
#include "options.h"
#include "output_file.h"
#include "station.h"

#include <QCommandLineParser>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

namespace rdsgen {

namespace {

constexpr std::size_t kChunk = 1 << 16;  // samples generated and written at a time
// An RTL-SDR's own marks on a cu8 capture: a DC offset of about a step and a
// half, I and Q a little unequal in gain and not quite in quadrature.
constexpr float kRtlDcOffset = 0.012f;
constexpr float kRtlGainImbalance = 1.02f;
constexpr float kRtlPhaseImbalanceRad = 0.01f;

double Frequency(const std::string& text, const char* what)
{
    const auto hz = varnak::radio::ParseFrequency(text);
    if (!hz || *hz <= 0) throw UsageError(std::string(what) + ": '" + text + "' is not a frequency (\"98.5M\")");
    return *hz;
}

// FREQ:FILE[:LEVEL_DB]; the file may itself hold colons, so the level is
// the last part only when it reads as a number.
IqStation ParseStation(const std::string& text)
{
    const std::size_t first = text.find(':');
    if (first == std::string::npos || first + 1 >= text.size())
        throw UsageError("--station: '" + text + "' is not FREQ:FILE[:LEVEL_DB]");
    IqStation s;
    s.frequencyHz = Frequency(text.substr(0, first), "--station");
    std::string rest = text.substr(first + 1);
    if (const std::size_t last = rest.rfind(':'); last != std::string::npos) {
        const std::string level = rest.substr(last + 1);
        char* end = nullptr;
        const double db = std::strtod(level.c_str(), &end);
        if (!level.empty() && *end == '\0') {
            if (!std::isfinite(db) || db < -60 || db > 40)
                throw UsageError("--station: level " + level + " dB is outside -60..40");
            s.levelDb = db;
            rest = rest.substr(0, last);
        }
    }
    s.description = rest;
    return s;
}

// One sample in the capture's format.
void Quantise(varnak::radio::IqFormat format, std::complex<float> x, std::string& out)
{
    const auto clamp = [](float v, float lo, float hi) { return std::clamp(v, lo, hi); };
    switch (format) {
        case varnak::radio::IqFormat::Cu8: {
            const float i = x.real() * kRtlGainImbalance + kRtlDcOffset;
            const float q = x.imag() + x.real() * kRtlPhaseImbalanceRad + kRtlDcOffset;
            out += char(uint8_t(std::lround(clamp(i * 127.5f + 127.5f, 0, 255))));
            out += char(uint8_t(std::lround(clamp(q * 127.5f + 127.5f, 0, 255))));
            break;
        }
        case varnak::radio::IqFormat::Cs8:
            out += char(int8_t(std::lround(clamp(x.real() * 128.0f, -128, 127))));
            out += char(int8_t(std::lround(clamp(x.imag() * 128.0f, -128, 127))));
            break;
        case varnak::radio::IqFormat::Cs16:
            for (const float v : {x.real(), x.imag()}) {
                const auto s = uint16_t(int16_t(std::lround(clamp(v * 32768.0f, -32768, 32767))));
                out += char(s & 0xFF);
                out += char(s >> 8);
            }
            break;
        case varnak::radio::IqFormat::Cf32: {
            const float v[2] = {x.real(), x.imag()};
            out.append(reinterpret_cast<const char*>(v), sizeof v);
            break;
        }
    }
}

const char* SigmfType(varnak::radio::IqFormat format)
{
    switch (format) {
        case varnak::radio::IqFormat::Cu8:
            return "cu8";
        case varnak::radio::IqFormat::Cs8:
            return "ci8";
        case varnak::radio::IqFormat::Cs16:
            return "ci16_le";
        case varnak::radio::IqFormat::Cf32:
            return "cf32_le";
    }
    return "cu8";
}

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

QList<QCommandLineOption> IqCommandLineOptions()
{
    return {
        {"iq",
         "Write an IQ capture of several stations (FM-modulated, in noise) instead of bits, in "
         "<format>: cu8, cs8, cs16 or cf32. The stations come from --station.",
         "format"},
        {"center", "With --iq: the capture's centre frequency (\"98M\").", "hz"},
        {"station",
         "With --iq: a station at <freq> described by <file>, <level> dB against a 0-dB station (default 0). "
         "Repeatable.",
         "freq:file[:level]"},
        {"cn", "With --iq: RF carrier-to-noise ratio of a 0-dB station in 200 kHz, dB (default: no noise).", "db"},
        {"sigmf", "With --iq: write the SigMF pair OUT.sigmf-data and OUT.sigmf-meta."},
        {"rds-khz", "With --iq: every station's RDS injection in kHz of deviation (default 3).", "khz"},
        {"peak-khz",
         "With --iq --stereo: the deviation in kHz at which every station's multiplex is clipped (default 67.5; "
         "up to 150, beyond 75 it over-deviates). The noise programme comes near it now and then.",
         "khz"},
    };
}

IqOptions ParseIqOptions(const QCommandLineParser& parser)
{
    IqOptions o;
    o.enabled = parser.isSet("iq");
    if (!o.enabled) {
        for (const char* only : {"center", "station", "cn", "sigmf", "rds-khz", "peak-khz"})
            if (parser.isSet(only)) throw UsageError(std::string("--") + only + " needs --iq");
        return o;
    }
    for (const char* once : {"iq", "rate", "center", "cn"})
        if (parser.values(once).size() > 1) throw UsageError(std::string("--") + once + " given more than once");
    if (parser.isSet("mpx")) throw UsageError("--mpx and --iq cannot both be given");
    if (parser.isSet("hex")) throw UsageError("--hex and --iq cannot both be given");
    const std::string format = parser.value("iq").toStdString();
    const auto f = varnak::radio::ParseIqFormat(format);
    if (!f) throw UsageError("--iq: unknown sample format '" + format + "' (cu8, cs8, cs16 or cf32)");
    o.format = *f;
    if (parser.isSet("rate")) {
        o.rate = Frequency(parser.value("rate").toStdString(), "--rate");
        if (o.rate < varnak::radio::kMinIqRate || o.rate > varnak::radio::kMaxIqRate)
            throw UsageError("--rate: out of range for an IQ capture (192k to 100M)");
    }
    if (!parser.isSet("center")) throw UsageError("--iq needs the capture's centre frequency: give --center");
    o.centerHz = Frequency(parser.value("center").toStdString(), "--center");
    for (const QString& s : parser.values("station")) o.stations.push_back(ParseStation(s.toStdString()));
    if (o.stations.empty()) throw UsageError("--iq needs at least one --station FREQ:FILE");
    for (const IqStation& s : o.stations)
        if (std::abs(s.frequencyHz - o.centerHz) > o.rate / 2)
            throw UsageError("--station: " + std::to_string(s.frequencyHz / 1e6) + " MHz lies outside the capture");
    if (parser.isSet("cn")) {
        bool ok = false;
        const double cn = parser.value("cn").toDouble(&ok);
        if (!ok || cn < -20 || cn > 80) throw UsageError("--cn: must be a number of dB within -20..80");
        o.cnDb = cn;
    }
    if (parser.isSet("rds-khz")) {
        bool ok = false;
        o.rdsKHz = parser.value("rds-khz").toDouble(&ok);
        if (!ok || o.rdsKHz < 0 || o.rdsKHz > 15) throw UsageError("--rds-khz: must be a number of kHz within 0..15");
    }
    o.sigmf = parser.isSet("sigmf");
    o.stereo = parser.isSet("stereo");
    if (parser.isSet("peak-khz")) {
        if (!o.stereo) throw UsageError("--peak-khz is the programme's peak: it needs --stereo");
        bool ok = false;
        o.peakKHz = parser.value("peak-khz").toDouble(&ok);
        if (!ok || o.peakKHz < 10 || o.peakKHz > 150)
            throw UsageError("--peak-khz: must be a number of kHz within 10..150");
    }
    return o;
}

bool WriteIq(const IqOptions& options, const StreamOptions& stream, const std::string& path, std::string& error,
             const std::string& groupList)
{
    try {
        std::vector<varnak::radio::BandSignalStation> stations;
        std::string list;
        for (const IqStation& s : options.stations) {
            varnak::radio::BandSignalStation b;
            b.offsetHz = s.frequencyHz - options.centerHz;
            b.levelDb = s.levelDb;
            StreamOptions own = stream;
            own.seed = stream.seed + stations.size();
            std::vector<GroupWords> sent;
            b.bits = GenerateBits(LoadStation(s.description), own, groupList.empty() ? nullptr : &sent);
            char line[64];
            for (const GroupWords& g : sent) {
                std::snprintf(line, sizeof line, "%g %04X %04X %04X %04X\n", s.frequencyHz / 1e6, g.a, g.b, g.c, g.d);
                list += line;
            }
            b.mpx.stereo = options.stereo;
            b.mpx.rdsLevel = options.rdsKHz / 75.0;
            b.mpx.programmeLevel = options.peakKHz / 75.0;
            stations.push_back(std::move(b));
        }
        // As long as the longest bit stream.
        std::size_t bits = 0;
        for (const auto& s : stations) bits = std::max(bits, s.bits.size());
        const auto total = uint64_t(double(bits) / kBitRate * options.rate);
        varnak::radio::BandSignal signal(options.rate, stations, options.cnDb, stream.seed);

        std::string base = path;
        for (const char* end : {".sigmf-data", ".sigmf-meta", ".sigmf"})
            if (EndsWith(base, end)) base.resize(base.size() - std::strlen(end));
        const std::string dataPath = options.sigmf ? base + ".sigmf-data" : path;
        varnak::OutputFile data;
        if (!data.create(dataPath)) throw std::runtime_error(data.error());
        std::vector<std::complex<float>> samples;
        std::string bytes;
        for (uint64_t done = 0; done < total;) {
            const std::size_t n = std::size_t(std::min<uint64_t>(kChunk, total - done));
            samples.clear();
            signal.generate(n, samples);
            bytes.clear();
            for (const auto& x : samples) Quantise(options.format, x, bytes);
            if (std::fwrite(bytes.data(), 1, bytes.size(), data.stream()) != bytes.size()) break;
            done += n;
        }
        if (!groupList.empty()) {
            varnak::OutputFile file;
            if (!file.create(groupList)) throw std::runtime_error(file.error());
            std::fputs(list.c_str(), file.stream());
            if (!file.commit()) throw std::runtime_error(file.error());
        }
        if (!options.sigmf) {
            if (!data.commit()) throw std::runtime_error(data.error());
            return true;
        }
        varnak::OutputFile meta;
        if (!meta.create(base + ".sigmf-meta")) throw std::runtime_error(meta.error());
        char text[512];
        std::snprintf(text, sizeof text,
                      "{\n  \"global\": {\n    \"core:datatype\": \"%s\",\n    \"core:sample_rate\": %.0f,\n"
                      "    \"core:version\": \"1.0.0\",\n    \"core:description\": \"rdsgen test capture, %zu "
                      "stations\"\n  },\n  \"captures\": [{\"core:sample_start\": 0, \"core:frequency\": %.0f}],\n"
                      "  \"annotations\": []\n}\n",
                      SigmfType(options.format), options.rate, options.stations.size(), options.centerHz);
        std::fputs(text, meta.stream());
        // The samples first: metadata without its data would be a broken pair.
        if (!data.commit()) throw std::runtime_error(data.error());
        if (!meta.commit()) throw std::runtime_error(meta.error());
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
    return true;
}

}  // namespace rdsgen
