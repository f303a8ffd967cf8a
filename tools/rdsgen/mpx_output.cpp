#include "mpx_output.h"

#include "mpx_modulator.h"
#include "numbers.h"
#include "options.h"
#include "output_file.h"
#include "rft.h"

#include <QCommandLineParser>
#include <QFileInfo>

#include <sndfile.h>

#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <thread>

namespace rdsgen {

namespace {

constexpr int kMinRate = 128000, kMaxRate = 2000000;

// Where the samples go: a 16-bit WAV file through libsndfile, or raw s16le,
// through the programs' output file (a regular file appears only once
// complete; a device, a pipe or standard output is written in place).
class Sink {
public:
    Sink(const std::string& path, const MpxOptions& options)
    {
        if (!output_.create(path)) throw std::runtime_error(output_.error());
        if (!options.raw) {
            SF_INFO info{};
            info.samplerate = options.rate;
            info.channels = 1;
            info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
            // libsndfile writes to the descriptor itself; the stream's
            // buffer stays empty.
            wav_ = sf_open_fd(::fileno(output_.stream()), SFM_WRITE, &info, SF_FALSE);
            if (!wav_) throw std::runtime_error("cannot write " + output_.name() + " as WAV: " + sf_strerror(nullptr));
        }
    }

    ~Sink()
    {
        if (wav_) sf_close(wav_);
    }

    void write(const std::vector<float>& samples)
    {
        if (wav_) {
            const auto n = sf_count_t(samples.size());
            if (sf_write_float(wav_, samples.data(), n) != n)
                throw std::runtime_error("cannot write " + output_.name() + ": " + sf_strerror(wav_));
            return;
        }
        bytes_.resize(samples.size() * 2);
        for (size_t i = 0; i < samples.size(); ++i) {
            const auto v = uint16_t(int16_t(std::lrint(samples[i] * 32767.0f)));
            bytes_[2 * i] = char(v & 0xFF);
            bytes_[2 * i + 1] = char(v >> 8);
        }
        if (std::fwrite(bytes_.data(), 1, bytes_.size(), output_.stream()) != bytes_.size())
            throw std::runtime_error("cannot write " + output_.name() + ": " + std::strerror(errno));
    }

    // Pushes buffered samples on (for pacing in real time).
    void flush()
    {
        if (!wav_) std::fflush(output_.stream());
    }

    // Completes the output: the WAV header, the file in its place.
    void commit()
    {
        if (wav_) {
            const int err = sf_close(wav_);
            wav_ = nullptr;
            if (err != 0) throw std::runtime_error("cannot write " + output_.name() + ": " + sf_error_number(err));
        }
        if (!output_.commit()) throw std::runtime_error(output_.error());
    }

private:
    varnak::OutputFile output_;
    SNDFILE* wav_ = nullptr;
    std::vector<char> bytes_;
};

double Decimal(const QCommandLineParser& parser, const char* name)
{
    const std::string text = parser.value(name).toStdString();
    const auto v = ParseDecimal(text);
    if (!v) throw UsageError(std::string("--") + name + ": '" + text + "' is not a number");
    return *v;
}

// The number given to option `name`, which must lie within lo..hi.
double Within(const QCommandLineParser& parser, const char* name, double lo, double hi, const char* unit)
{
    const double v = Decimal(parser, name);
    if (v < lo || v > hi) {
        char range[64];
        std::snprintf(range, sizeof range, "%g..%g", lo, hi);
        throw UsageError(std::string("--") + name + ": must be within " + range + unit);
    }
    return v;
}

// "a:b" or "a:b:c" as numbers, for the option `name`.
std::vector<double> Fields(const std::string& text, const char* name, std::size_t least, std::size_t most,
                           const char* form)
{
    std::vector<double> values;
    std::size_t from = 0;
    for (;;) {
        const std::size_t colon = text.find(':', from);
        const std::string field = text.substr(from, colon == std::string::npos ? std::string::npos : colon - from);
        const auto v = ParseDecimal(field);
        if (!v) throw UsageError(std::string("--") + name + ": '" + text + "' is not " + form);
        values.push_back(*v);
        if (colon == std::string::npos) break;
        from = colon + 1;
    }
    if (values.size() < least || values.size() > most)
        throw UsageError(std::string("--") + name + ": '" + text + "' is not " + form);
    return values;
}

void ParseChannelOptions(const QCommandLineParser& parser, MpxOptions& m)
{
    varnak::radio::ChannelConfig& c = m.radio;
    const bool any =
        parser.isSet("rf-cn") || parser.isSet("fading") || parser.isSet("echo") || parser.isSet("interferer");
    if (!any) {
        for (const char* only : {"doppler", "rician-k"})
            if (parser.isSet(only)) throw UsageError(std::string("--") + only + " needs the radio channel (--fading)");
        return;
    }
    m.channel = true;
    if (parser.isSet("rf-cn")) c.cnDb = Within(parser, "rf-cn", -20, 100, " dB");
    c.dopplerHz = 10;
    if (parser.isSet("fading")) {
        const std::string name = parser.value("fading").toStdString();
        const auto model = varnak::radio::FadingModelByName(name);
        if (!model) throw UsageError("--fading: '" + name + "' is not one of none, rayleigh, rician, tu, ra");
        c.fading = *model;
    }
    if (parser.isSet("doppler")) c.dopplerHz = Within(parser, "doppler", 0, 1000, " Hz");
    if (parser.isSet("rician-k")) c.ricianKDb = Within(parser, "rician-k", -40, 40, " dB");
    for (const QString& text : parser.values("echo")) {
        const auto v = Fields(text.toStdString(), "echo", 2, 3, "us:db or us:db:deg");
        if (v[0] < 0 || v[0] > 500) throw UsageError("--echo: the delay must be within 0..500 us");
        if (v[1] < -60 || v[1] > 20) throw UsageError("--echo: the level must be within -60..20 dB");
        c.echoes.push_back({v[0], v[1], v.size() > 2 ? v[2] : 0});
    }
    if (parser.isSet("interferer")) {
        const auto v = Fields(parser.value("interferer").toStdString(), "interferer", 2, 2, "khz:db");
        if (std::abs(v[0]) > 1000) throw UsageError("--interferer: the offset must be within -1000..1000 kHz");
        if (v[1] < -60 || v[1] > 40) throw UsageError("--interferer: the level must be within -60..40 dB");
        c.interferer = varnak::radio::ChannelInterferer{v[0], v[1]};
    }
}

}  // namespace

QList<QCommandLineOption> MpxCommandLineOptions()
{
    return {
        {"mpx",
         "Write the FM multiplex signal (pilot and RDS on 57 kHz) instead of bits: "
         "a 16-bit mono WAV file, or raw samples with --raw."},
        {"rate", "Multiplex sample rate in Hz (default 171000, at least 128000).", "hz"},
        {"cnr", "Add white noise: RDS carrier-to-noise ratio in dB in 57 +-2.4 kHz (default: no noise).", "db"},
        {"ppm", "Sampling clock error in ppm, positive fast (default 0).", "ppm"},
        {"rds-offset",
         "RDS encoder on its own clock: its 57 kHz carrier (and bit clock with it) this many Hz "
         "off 3 x pilot, within +-1000 (default 0: locked).",
         "hz"},
        {"rds-drift", "The RDS carrier's offset drifts by this many Hz per minute, within +-60 (default 0).", "hz"},
        {"rds-phase", "Phase of the RDS carrier to the pilot's third harmonic in degrees (default 0).", "deg"},
        {"rf-cn",
         "Send the multiplex through an FM radio channel and a receiver at the same rate (as rtl_fm -s): "
         "carrier-to-noise ratio in dB in 200 kHz.",
         "db"},
        {"fading", "Fading in the radio channel: rayleigh, rician, tu (COST 207 typical urban), ra (rural area).",
         "model"},
        {"doppler", "Maximum Doppler shift of the fading in Hz (default 10).", "hz"},
        {"rician-k", "Line of sight over scattered power for --fading rician, dB (default 6).", "db"},
        {"echo", "A static echo in the radio channel: delay in us, level and phase to the direct signal. Repeatable.",
         "us:db[:deg]"},
        {"interferer", "An FM station in the radio channel at this offset and level to the wanted one.", "khz:db"},
        {"stereo", "Add a stereo programme (band-limited noise on L+R and on the 38 kHz L-R subcarrier)."},
        {"no-pilot", "Leave out the 19 kHz pilot."},
        {"raw", "Raw signed 16-bit little-endian mono samples instead of WAV (to standard output with -o -)."},
        {"realtime", "Write the multiplex at the pace of its sample rate, as a receiver would."},
        {"list-groups", "Also write the transmitted groups to <file>, one per line as four hex block words.", "file"},
        {"rds2-logo",
         "RDS2: send <file> (a PNG or JPEG station logo, at most 163840 bytes) by RDS file transfer on the "
         "extra data streams at 66.5, 71.25 and 76 kHz (needs --rate of at least 160000).",
         "file"},
    };
}

MpxOptions ParseMpxOptions(const QCommandLineParser& parser)
{
    for (const char* once : {"rate", "cnr", "ppm", "rds-offset", "rds-drift", "rds-phase", "rf-cn", "fading", "doppler",
                             "rician-k", "interferer", "list-groups", "rds2-logo"})
        if (parser.values(once).size() > 1) throw UsageError(std::string("--") + once + " given more than once");
    MpxOptions m;
    m.enabled = parser.isSet("mpx");
    if (!m.enabled) {
        for (const char* only :
             {"rate", "cnr", "ppm", "rds-offset", "rds-drift", "rds-phase", "rf-cn", "fading", "doppler", "rician-k",
              "echo", "interferer", "stereo", "no-pilot", "raw", "realtime", "rds2-logo"})
            if (parser.isSet(only)) throw UsageError(std::string("--") + only + " needs --mpx");
        return m;
    }
    if (parser.isSet("hex")) throw UsageError("--mpx and --hex cannot both be given");
    if (parser.isSet("rate")) {
        const std::string text = parser.value("rate").toStdString();
        const auto v = ParseInteger(text);
        if (!v) throw UsageError("--rate: '" + text + "' is not a whole number of Hz");
        if (*v < kMinRate || *v > kMaxRate)
            throw UsageError("--rate: " + text + " is out of range " + std::to_string(kMinRate) + ".." +
                             std::to_string(kMaxRate) + " (RDS sits at 57 kHz)");
        m.rate = int(*v);
    }
    if (parser.isSet("cnr")) m.cnrDb = Within(parser, "cnr", -40, 80, " dB");
    if (parser.isSet("ppm")) m.ppm = Within(parser, "ppm", -1000, 1000, "");
    if (parser.isSet("rds-offset")) m.rdsOffsetHz = Within(parser, "rds-offset", -1000, 1000, " Hz");
    if (parser.isSet("rds-drift")) m.rdsDriftHzPerMinute = Within(parser, "rds-drift", -60, 60, " Hz per minute");
    if (parser.isSet("rds-phase")) m.rdsPhaseDeg = Within(parser, "rds-phase", -360, 360, " degrees");
    ParseChannelOptions(parser, m);
    if (m.channel && m.rate > 400000) throw UsageError("--rate: the radio channel takes at most 400000 Hz");
    if (parser.isSet("rds2-logo")) {
        m.rds2Logo = parser.value("rds2-logo").toStdString();
        if (m.rds2Logo.empty()) throw UsageError("--rds2-logo needs a file");
        if (m.rate < 160000)
            throw UsageError("--rds2-logo: the RDS2 subcarrier at 76 kHz needs --rate of at least 160000");
    }
    m.stereo = parser.isSet("stereo");
    m.pilot = !parser.isSet("no-pilot");
    m.raw = parser.isSet("raw");
    m.realtime = parser.isSet("realtime");
    return m;
}

bool WriteMpx(const std::string& bits, const MpxOptions& options, uint64_t seed, const std::string& path,
              std::string& error, uint64_t& clipped)
{
    varnak::radio::MpxConfig config;
    config.sampleRate = options.rate;
    config.cnrDb = options.cnrDb;
    config.ppm = options.ppm;
    config.rdsOffsetHz = options.rdsOffsetHz;
    config.rdsDriftHzPerMinute = options.rdsDriftHzPerMinute;
    config.rdsPhaseDeg = options.rdsPhaseDeg;
    config.stereo = options.stereo;
    config.pilot = options.pilot;
    config.seed = seed;
    clipped = 0;
    try {
        std::vector<std::string> extra;
        if (!options.rds2Logo.empty()) {
            extra = Rds2LogoBits(options.rds2Logo, bits.size());
            config.rds2Streams = int(extra.size());
        }
        varnak::radio::MpxModulator modulator(config);
        std::unique_ptr<varnak::radio::RadioChannel> channel;
        std::vector<float> received;
        if (options.channel) {
            varnak::radio::ChannelConfig c = options.radio;
            c.mpxRate = options.rate;
            c.seed = seed;
            channel = std::make_unique<varnak::radio::RadioChannel>(c);
        }
        Sink sink(path, options);
        std::vector<float> samples;
        uint64_t written = 0;
        const auto start = std::chrono::steady_clock::now();
        auto put = [&] {
            if (channel) {
                received.clear();
                channel->process(samples.data(), samples.size(), received);
                samples.swap(received);
            }
            for (float& v : samples)
                if (std::abs(v) > 1.0f) {
                    v = std::clamp(v, -1.0f, 1.0f);
                    ++clipped;
                }
            sink.write(samples);
            written += samples.size();
            samples.clear();
            if (options.realtime) {
                sink.flush();
                std::this_thread::sleep_until(start + std::chrono::duration<double>(double(written) / options.rate));
            }
        };
        // About a tenth of a second at a time: bounded memory, smooth pacing.
        constexpr size_t kBitsPerChunk = 128;
        std::vector<std::string_view> pieces(extra.size());
        for (size_t at = 0; at < bits.size(); at += kBitsPerChunk) {
            for (size_t k = 0; k < extra.size(); ++k) pieces[k] = std::string_view(extra[k]).substr(at, kBitsPerChunk);
            modulator.modulate(std::string_view(bits).substr(at, kBitsPerChunk), pieces, samples);
            put();
        }
        modulator.finish(samples);
        put();
        sink.commit();
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
    return true;
}

namespace {

std::vector<std::vector<rdsformats::TypeCGroup>> LogoCycle(const std::string& path)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) throw std::runtime_error(path + ": cannot read: " + std::strerror(errno));
    rdsformats::RftSendFile file;
    std::vector<uint8_t> buffer(4096);
    for (;;) {
        const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), f);
        file.bytes.insert(file.bytes.end(), buffer.begin(), buffer.begin() + std::ptrdiff_t(n));
        if (n < buffer.size() || file.bytes.size() > rdsformats::kRftMaxFileBytes) break;
    }
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) throw std::runtime_error(path + ": cannot read");
    try {
        return rdsformats::RftGroupCycle(file, 3);
    } catch (const std::invalid_argument& e) {
        throw std::runtime_error(path + ": " + e.what());
    }
}

}  // namespace

std::vector<std::string> Rds2LogoBits(const std::string& path, std::size_t length)
{
    const auto cycle = LogoCycle(path);
    std::vector<std::string> out;
    out.reserve(cycle.size());
    for (const auto& groups : cycle) out.push_back(rdsformats::TypeCGroupBits(groups, length));
    return out;
}

double Rds2LogoCycleSeconds(const std::string& path)
{
    std::size_t longest = 0;
    for (const auto& groups : LogoCycle(path)) longest = std::max(longest, groups.size());
    return double(longest) * 104 / 1187.5;
}

std::string GroupListClash(const CommandLine& cl)
{
    if (cl.groupList.empty()) return {};
    if (cl.groupList == "-") {
        if (cl.output == "-") return "--list-groups and the output cannot both be standard output";
        return {};
    }
    // The same file: by identity when both exist, else by absolute path.
    auto same = [](const std::string& a, const std::string& b) {
        const QFileInfo x(QString::fromStdString(a)), y(QString::fromStdString(b));
        if (x.exists() && y.exists()) return x.canonicalFilePath() == y.canonicalFilePath();
        return x.absoluteFilePath() == y.absoluteFilePath();
    };
    if (same(cl.groupList, cl.description))
        return cl.groupList + ": --list-groups would write over the description file; choose another file";
    if (cl.output != "-" && same(cl.groupList, cl.output))
        return cl.groupList + ": --list-groups would write over the output; choose another file";
    return {};
}

std::string GroupListText(const std::vector<GroupWords>& groups)
{
    std::string text;
    char line[24];
    for (const GroupWords& g : groups) {
        std::snprintf(line, sizeof line, "%04X %04X %04X %04X\n", g.a, g.b, g.c, g.d);
        text += line;
    }
    return text;
}

}  // namespace rdsgen
