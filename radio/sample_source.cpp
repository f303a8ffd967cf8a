#include "sample_source.h"

#include "input_file.h"
#include "mpx_modulator.h"
#include "raw_reader.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <sstream>

namespace varnak::radio {

namespace {

std::string RateText(double rate)
{
    std::ostringstream s;
    s << rate;
    return s.str();
}

std::string TooSlow(const std::string& name, double rate)
{
    return name + ": the sample rate is " + RateText(rate) +
           " Hz; RDS sits at 57 kHz; the multiplex needs at least 128 kHz";
}

// A length the header gives when the writer did not know it (streamed WAV).
bool UnknownLength(uint64_t bytes) { return bytes == 0 || bytes >= 0xFFFFFF00u; }

// libsndfile fits the length of a WAV/AIFF whose data chunk runs past the end
// of the file to what is there, and notes it in its log as
// "data : <header> (should be <actual>)". Empty if there is no such note.
std::string ShortDataChunk(SNDFILE* file)
{
    std::vector<char> log(16384, '\0');
    sf_command(file, SFC_GET_LOG_INFO, log.data(), int(log.size() - 1));
    std::istringstream lines(log.data());
    std::string line;
    while (std::getline(lines, line)) {
        unsigned long long header = 0, actual = 0;
        if ((std::sscanf(line.c_str(), "data : %llu (should be %llu)", &header, &actual) == 2 ||
             std::sscanf(line.c_str(), "SSND : %llu (should be %llu)", &header, &actual) == 2) &&
            actual < header && !UnknownLength(header))
            return "its header promises " + std::to_string(header) + " bytes of samples, the file holds " +
                   std::to_string(actual);
    }
    return {};
}

// Why libsndfile could not open a file, in our words: its own texts
// ("Internal error : ...") mean nothing to a user.
std::string OpenFailure(int code)
{
    switch (code) {
        case SF_ERR_UNRECOGNISED_FORMAT:
            return "its format is none of the audio formats read (WAV, FLAC, AIFF, ...)";
        case SF_ERR_SYSTEM:
            return std::string("it cannot be read: ") + std::strerror(errno ? errno : EIO);
        case SF_ERR_UNSUPPORTED_ENCODING:
            return "its samples are in an encoding that is not supported";
        default:  // a malformed header, or one the library gives up on
            return "its header is damaged or incomplete";
    }
}

// Why reading samples failed, in our words.
std::string ReadFailure(int code)
{
    if (code == SF_ERR_SYSTEM) return std::strerror(errno ? errno : EIO);
    return "the audio data is damaged";
}

class AudioFile final : public SampleSource {
public:
    AudioFile(const std::string& path, int channel) : SampleSource(path, 0)
    {
        // The file is opened here, so that a file that cannot be opened is
        // told with the system's reason rather than the library's wording.
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) throw SampleSourceError("cannot open " + path + ": " + std::strerror(errno));
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
            ::close(fd);
            throw SampleSourceError(path + ": is a directory");
        }
        SF_INFO info{};
        file_ = sf_open_fd(fd, SFM_READ, &info, SF_TRUE);  // closes fd, also when it fails
        if (!file_) throw SampleSourceError(path + ": not an audio file: " + OpenFailure(sf_error(nullptr)));
        rate_ = info.samplerate;
        channels_ = info.channels;
        if (rate_ < kMinSampleRate) {
            sf_close(file_);
            throw SampleSourceError(TooSlow(path, rate_));
        }
        if (channel < 1 || channel > channels_) {
            sf_close(file_);
            throw SampleSourceError(path + ": has " + std::to_string(channels_) +
                                    (channels_ == 1 ? " channel" : " channels") + ", no channel " +
                                    std::to_string(channel));
        }
        channel_ = channel - 1;
        if (info.frames <= 0) {
            sf_close(file_);
            throw SampleSourceError(path + ": holds no samples");
        }
        frames_ = uint64_t(info.frames);
        shortChunk_ = ShortDataChunk(file_);
    }
    ~AudioFile() override { sf_close(file_); }

    size_t read(float* out, size_t max) override
    {
        if (max == 0 || done_) return 0;
        const size_t frames = std::min<size_t>(max, kChunk / size_t(channels_));
        buffer_.resize(frames * size_t(channels_));
        sf_count_t got = sf_readf_float(file_, buffer_.data(), sf_count_t(frames));
        // A compressed file (FLAC, Ogg) cut short fails to decode where it
        // breaks off, where a WAV merely ends: either way the samples before
        // are good, and the file counts as truncated. Only a file that
        // yields no sample at all cannot be read.
        const bool failed = got < 0 || sf_error(file_) != SF_ERR_NO_ERROR;
        if (got < 0) got = 0;
        if (failed && read_ + uint64_t(got) == 0)
            throw SampleSourceError(name_ + ": read error: " + ReadFailure(sf_error(file_)));
        for (sf_count_t i = 0; i < got; ++i) out[i] = buffer_[size_t(i) * size_t(channels_) + size_t(channel_)];
        read_ += uint64_t(got);
        if (got == 0 || failed) {
            done_ = true;
            if (!shortChunk_.empty())
                truncation_ = name_ + " is truncated: " + shortChunk_;
            else if (read_ < *frames_)
                truncation_ = name_ + " is truncated: its header promises " + std::to_string(*frames_) + " samples, " +
                              std::to_string(read_) + " could be read";
        }
        return size_t(got);
    }

private:
    static constexpr size_t kChunk = 65536;  // floats per read, all channels
    SNDFILE* file_ = nullptr;
    int channels_ = 1, channel_ = 0;
    std::vector<float> buffer_;
    uint64_t read_ = 0;
    bool done_ = false;
    std::string shortChunk_;
};

class RawPcm final : public SampleSource {
public:
    RawPcm(const std::string& path, double rate) : SampleSource(path, rate), reader_(path, 2)
    {
        name_ = reader_.name();
        frames_ = reader_.samples();
    }

    size_t read(float* out, size_t max) override
    {
        const unsigned char* bytes = nullptr;
        const std::size_t samples = reader_.read(std::min<size_t>(max, kChunk), bytes);
        if (samples == 0 && reader_.partial() > 0)
            truncation_ = name_ + " is truncated: it ends in the middle of a sample (odd byte count)";
        for (size_t i = 0; i < samples; ++i)
            out[i] = float(int16_t(uint16_t(bytes[2 * i] | bytes[2 * i + 1] << 8))) / 32768.0f;
        return samples;
    }

private:
    static constexpr size_t kChunk = 65536;  // samples per read
    RawSampleReader reader_;
};

}  // namespace

SampleSource::~SampleSource() = default;

std::unique_ptr<SampleSource> SampleSource::openAudio(const std::string& path, int channel)
{
    return std::make_unique<AudioFile>(path, channel);
}

std::unique_ptr<SampleSource> SampleSource::openRaw(const std::string& path, double sampleRate)
{
    if (!(sampleRate >= kMinSampleRate) || !std::isfinite(sampleRate))
        throw std::invalid_argument(TooSlow(path == "-" ? "standard input" : path, sampleRate));
    return std::make_unique<RawPcm>(path, sampleRate);
}

std::optional<double> ParseSampleRate(std::string_view text)
{
    double scale = 1;
    if (!text.empty() && (text.back() == 'k' || text.back() == 'K')) {
        scale = 1000;
        text.remove_suffix(1);
    }
    double v = 0;
    const auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || p != text.data() + text.size() || !std::isfinite(v)) return std::nullopt;
    return v * scale;
}

}  // namespace varnak::radio
