#include "iq_source.h"

#include "raw_reader.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace varnak::radio {

namespace {

std::string Lower(std::string_view text)
{
    std::string s(text);
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool EndsWith(std::string_view text, std::string_view end)
{
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

std::string Hz(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", value);
    return text;
}

void CheckRate(const std::string& name, double rate)
{
    if (!std::isfinite(rate) || rate < kMinIqRate || rate > kMaxIqRate)
        throw SampleSourceError(name + ": the sample rate " + Hz(rate) + " Hz is out of range; an IQ capture needs " +
                                Hz(kMinIqRate) + " Hz to " + Hz(kMaxIqRate) + " Hz");
}

// Interleaved I/Q values in one of the raw formats to complex floats.
void Convert(IqFormat format, const unsigned char* in, std::size_t samples, std::complex<float>* out)
{
    switch (format) {
        case IqFormat::Cu8:
            for (std::size_t i = 0; i < samples; ++i)
                out[i] = {(float(in[2 * i]) - 127.5f) / 127.5f, (float(in[2 * i + 1]) - 127.5f) / 127.5f};
            break;
        case IqFormat::Cs8:
            for (std::size_t i = 0; i < samples; ++i)
                out[i] = {float(int8_t(in[2 * i])) / 128.0f, float(int8_t(in[2 * i + 1])) / 128.0f};
            break;
        case IqFormat::Cs16:
            for (std::size_t i = 0; i < samples; ++i) {
                const unsigned char* p = in + 4 * i;
                const auto re = int16_t(uint16_t(p[0] | p[1] << 8)), im = int16_t(uint16_t(p[2] | p[3] << 8));
                out[i] = {float(re) / 32768.0f, float(im) / 32768.0f};
            }
            break;
        case IqFormat::Cf32:
            for (std::size_t i = 0; i < samples; ++i) {
                float v[2];
                std::memcpy(v, in + 8 * i, sizeof v);
                out[i] = {v[0], v[1]};
            }
            break;
    }
}

// Raw samples from a file, a FIFO or standard input.
class RawIq final : public IqSource {
public:
    RawIq(const std::string& path, IqFormat format, double rate, std::optional<double> center)
        : IqSource(path == "-" ? "standard input" : path, rate, center),
          format_(format),
          reader_(CheckedPath(path), IqSampleBytes(format))
    {
        frames_ = reader_.samples();
    }

    // The data must hold `samples`; fewer is noted as a truncation.
    void expect(uint64_t samples, std::string what)
    {
        expected_ = samples;
        expectedBy_ = std::move(what);
    }

    void setStopQuery(const std::function<bool()>& stopped) override { reader_.setStopQuery(stopped); }

    std::size_t read(std::complex<float>* out, std::size_t max) override
    {
        const unsigned char* bytes = nullptr;
        const std::size_t samples = reader_.read(std::min(max, kChunk), bytes);
        if (samples == 0) {
            if (reader_.partial() > 0)
                truncation_ = name_ + " is truncated: it ends in the middle of a sample (" +
                              std::to_string(reader_.partial()) + " of " + std::to_string(IqSampleBytes(format_)) +
                              " bytes)";
            else if (reader_.read() < expected_)
                truncation_ = name_ + " is truncated: " + expectedBy_ + " names sample " + std::to_string(expected_) +
                              ", the data holds " + std::to_string(reader_.read());
            return 0;
        }
        Convert(format_, bytes, samples, out);
        return samples;
    }

private:
    static const std::string& CheckedPath(const std::string& path)
    {
        struct stat st {};
        if (path != "-" && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            throw SampleSourceError(path + ": is a directory");
        return path;
    }

    static constexpr std::size_t kChunk = 65536;  // samples per read
    IqFormat format_;
    RawSampleReader reader_;
    uint64_t expected_ = 0;
    std::string expectedBy_;
};

// Two-channel audio (I left, Q right) through libsndfile.
class AudioIq final : public IqSource {
public:
    AudioIq(const std::string& path, const IqSettings& settings)
        : IqSource(path, 0, settings.center ? settings.center : FrequencyFromName(path))
    {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0)
            throw SampleSourceError("cannot open " + path + ": " + std::strerror(errno));
        if (S_ISDIR(st.st_mode)) throw SampleSourceError(path + ": is a directory");
        SF_INFO info{};
        file_ = sf_open(path.c_str(), SFM_READ, &info);
        if (!file_)
            throw SampleSourceError(path +
                                    ": not an IQ recording: neither SigMF nor an audio file (give raw samples' "
                                    "format with --iq)");
        if (info.channels != 2) {
            sf_close(file_);
            throw SampleSourceError(path + ": has " + std::to_string(info.channels) +
                                    (info.channels == 1 ? " channel" : " channels") +
                                    "; an IQ recording has two (I and Q)");
        }
        rate_ = settings.rate.value_or(double(info.samplerate));
        try {
            CheckRate(path, rate_);
        } catch (...) {
            sf_close(file_);
            throw;
        }
        if (info.frames > 0) frames_ = uint64_t(info.frames);
    }
    ~AudioIq() override { sf_close(file_); }

    std::size_t read(std::complex<float>* out, std::size_t max) override
    {
        if (max == 0 || done_) return 0;
        const std::size_t frames = std::min<std::size_t>(max, kChunk);
        buffer_.resize(2 * frames);
        const sf_count_t got = sf_readf_float(file_, buffer_.data(), sf_count_t(frames));
        if (got < 0 || sf_error(file_) != SF_ERR_NO_ERROR)
            throw SampleSourceError(name_ + ": read error: " + sf_strerror(file_));
        for (sf_count_t i = 0; i < got; ++i) out[i] = {buffer_[2 * std::size_t(i)], buffer_[2 * std::size_t(i) + 1]};
        read_ += uint64_t(got);
        if (got == 0) {
            done_ = true;
            if (frames_ && read_ < *frames_)
                truncation_ = name_ + " is truncated: its header promises " + std::to_string(*frames_) + " samples, " +
                              std::to_string(read_) + " could be read";
        }
        return std::size_t(got);
    }

private:
    static constexpr std::size_t kChunk = 32768;
    SNDFILE* file_ = nullptr;
    std::vector<float> buffer_;
    uint64_t read_ = 0;
    bool done_ = false;
};

std::unique_ptr<IqSource> OpenSigmf(const std::string& path, const IqSettings& settings)
{
    std::string base = path;
    for (const char* end : {".sigmf-meta", ".sigmf-data", ".sigmf"})
        if (EndsWith(Lower(path), end)) {
            base = path.substr(0, path.size() - std::strlen(end));
            break;
        }
    const std::string metaPath = base + ".sigmf-meta", dataPath = base + ".sigmf-data";
    std::ifstream metaFile(metaPath, std::ios::binary);
    if (!metaFile) throw SampleSourceError("cannot open " + metaPath + ": " + std::strerror(errno));
    // Metadata is a few kilobytes; a larger file is not SigMF metadata.
    constexpr std::size_t kMaxMeta = std::size_t(16) << 20;
    std::string json(kMaxMeta + 1, '\0');
    metaFile.read(json.data(), std::streamsize(json.size()));
    json.resize(std::size_t(metaFile.gcount()));
    if (json.size() > kMaxMeta) throw SampleSourceError(metaPath + ": too large for SigMF metadata");
    std::string error;
    const std::optional<SigmfMeta> meta = ParseSigmfMeta(json, error);
    if (!meta) throw SampleSourceError(metaPath + ": " + error);

    const IqFormat format = settings.format.value_or(meta->format);
    const double rate = settings.rate.value_or(meta->rate);
    CheckRate(metaPath, rate);
    struct stat st {};
    if (::stat(dataPath.c_str(), &st) != 0)
        throw SampleSourceError(metaPath + ": its samples " + dataPath + " are missing: " + std::strerror(errno));
    auto source = std::make_unique<RawIq>(dataPath, format, rate, settings.center ? settings.center : meta->center);
    if (meta->samplesNamed > 0) source->expect(meta->samplesNamed, "its metadata");
    return source;
}

}  // namespace

IqSource::~IqSource() = default;

std::optional<IqFormat> ParseIqFormat(std::string_view name)
{
    const std::string n = Lower(name);
    if (n == "cu8") return IqFormat::Cu8;
    if (n == "cs8") return IqFormat::Cs8;
    if (n == "cs16") return IqFormat::Cs16;
    if (n == "cf32") return IqFormat::Cf32;
    return std::nullopt;
}

const char* IqFormatName(IqFormat format)
{
    switch (format) {
        case IqFormat::Cu8:
            return "cu8";
        case IqFormat::Cs8:
            return "cs8";
        case IqFormat::Cs16:
            return "cs16";
        case IqFormat::Cf32:
            return "cf32";
    }
    return "?";
}

std::size_t IqSampleBytes(IqFormat format)
{
    switch (format) {
        case IqFormat::Cu8:
        case IqFormat::Cs8:
            return 2;
        case IqFormat::Cs16:
            return 4;
        case IqFormat::Cf32:
            return 8;
    }
    return 2;
}

std::optional<double> ParseFrequency(std::string_view text)
{
    std::string s = Lower(text);
    if (EndsWith(s, "hz")) s.resize(s.size() - 2);
    double scale = 1;
    if (!s.empty()) {
        switch (s.back()) {
            case 'k':
                scale = 1e3;
                break;
            case 'm':
                scale = 1e6;
                break;
            case 'g':
                scale = 1e9;
                break;
            default:
                break;
        }
        if (scale != 1) s.pop_back();
    }
    double v = 0;
    const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc() || p != s.data() + s.size() || !std::isfinite(v * scale)) return std::nullopt;
    return v * scale;
}

std::optional<double> FrequencyFromName(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    const std::string name = Lower(slash == std::string_view::npos ? path : path.substr(slash + 1));
    for (std::size_t at = name.find("hz"); at != std::string::npos; at = name.find("hz", at + 2)) {
        std::size_t start = at;
        while (start > 0 && std::isdigit(static_cast<unsigned char>(name[start - 1]))) --start;
        // Only a whole word of digits: "_98500000Hz_", not "kHz" or "2Hz" in a date.
        const bool wordStart = start == 0 || name[start - 1] == '_' || name[start - 1] == '-';
        if (at - start >= 5 && wordStart) return ParseFrequency(name.substr(start, at - start));
    }
    return std::nullopt;
}

std::optional<SigmfMeta> ParseSigmfMeta(std::string_view json, std::string& error)
{
    QJsonParseError parseError{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray(json.data(), qsizetype(json.size())), &parseError);
    if (doc.isNull()) {
        error = "not JSON: " + parseError.errorString().toStdString() + " at byte " + std::to_string(parseError.offset);
        return std::nullopt;
    }
    const QJsonObject global = doc.object().value("global").toObject();
    if (global.isEmpty()) {
        error = "no \"global\" object: not SigMF metadata";
        return std::nullopt;
    }
    SigmfMeta meta;
    // Complex samples only: c, then i (signed), u (unsigned) or f (float),
    // the bits, and the byte order beyond 8 bits.
    const std::string type = global.value("core:datatype").toString().toStdString();
    static const std::pair<const char*, IqFormat> kTypes[] = {
        {"cu8", IqFormat::Cu8}, {"ci8", IqFormat::Cs8}, {"ci16_le", IqFormat::Cs16}, {"cf32_le", IqFormat::Cf32}};
    bool known = false;
    for (const auto& [name, format] : kTypes)
        if (type == name) {
            meta.format = format;
            known = true;
        }
    if (!known) {
        error = type.empty() ? "no core:datatype"
                : type.front() != 'c'
                    ? "core:datatype '" + type + "' is not complex (IQ) samples"
                    : "core:datatype '" + type + "' is not supported (cu8, ci8, ci16_le and cf32_le are)";
        return std::nullopt;
    }
    const int channels = global.value("core:num_channels").toInt(1);
    if (channels != 1) {
        error = "core:num_channels is " + std::to_string(channels) + "; only one channel is supported";
        return std::nullopt;
    }
    const QJsonValue rate = global.value("core:sample_rate");
    if (!rate.isDouble()) {
        error = "no core:sample_rate";
        return std::nullopt;
    }
    meta.rate = rate.toDouble();

    auto end = [&](const QJsonValue& item, const char* length) {
        const QJsonObject o = item.toObject();
        const double start = o.value("core:sample_start").toDouble(0);
        const double count = length ? o.value(length).toDouble(0) : 0;
        if (start >= 0 && count >= 0 && start + count < 1e18)
            meta.samplesNamed = std::max(meta.samplesNamed, uint64_t(start + count));
    };
    for (const QJsonValue capture : doc.object().value("captures").toArray()) {
        end(capture, nullptr);
        const QJsonValue f = capture.toObject().value("core:frequency");
        if (!f.isDouble()) continue;
        if (meta.center && *meta.center != f.toDouble()) {
            error = "its captures are at several frequencies; only one is supported";
            return std::nullopt;
        }
        meta.center = f.toDouble();
    }
    for (const QJsonValue annotation : doc.object().value("annotations").toArray())
        end(annotation, "core:sample_count");
    return meta;
}

std::unique_ptr<IqSource> IqSource::open(const std::string& path, const IqSettings& settings)
{
    const std::string lower = Lower(path);
    if (EndsWith(lower, ".sigmf-meta") || EndsWith(lower, ".sigmf-data") || EndsWith(lower, ".sigmf"))
        return OpenSigmf(path, settings);
    if (settings.format) {
        const std::string name = path == "-" ? "standard input" : path;
        if (!settings.rate) throw SampleSourceError(name + ": raw IQ samples need their rate (--rate)");
        CheckRate(name, *settings.rate);
        return std::make_unique<RawIq>(path, *settings.format, *settings.rate, settings.center);
    }
    if (path == "-") throw SampleSourceError("standard input: give the raw samples' format with --iq");
    return std::make_unique<AudioIq>(path, settings);
}

}  // namespace varnak::radio
