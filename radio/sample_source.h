// Multiplex samples from a recording: an audio file libsndfile reads (WAV,
// FLAC, ...) at its own sample rate, or raw signed 16-bit little-endian mono
// PCM at a given rate from a file, a FIFO or standard input, as FM receivers
// such as rtl_fm write it. Samples come out as floats in bounded chunks.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace varnak::radio {

// A recording that cannot be used; what() is one line naming the file.
class SampleSourceError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class SampleSource {
public:
    // An audio file. channel is 1-based. Throws SampleSourceError when the
    // file cannot be read as audio, its sample rate is below 128 kHz, it has
    // no such channel or holds no samples.
    [[nodiscard]] static std::unique_ptr<SampleSource> openAudio(const std::string& path, int channel = 1);
    // Raw s16le mono PCM at sampleRate; path "-" is standard input. Throws
    // SampleSourceError when the file cannot be opened and std::invalid_argument
    // for a sample rate below 128 kHz.
    [[nodiscard]] static std::unique_ptr<SampleSource> openRaw(const std::string& path, double sampleRate);

    virtual ~SampleSource();

    // Reads up to max samples into out (full scale ±1.0); 0 at the end.
    // Throws SampleSourceError when reading fails.
    virtual size_t read(float* out, size_t max) = 0;

    const std::string& name() const { return name_; }  // as given; "-" is standard input
    double sampleRate() const { return rate_; }
    // The samples the file holds, when it tells (audio files).
    std::optional<uint64_t> frames() const { return frames_; }
    // After the end: the file ended before what its header promised, or in
    // the middle of a sample. Empty if it was complete.
    const std::string& truncation() const { return truncation_; }

protected:
    SampleSource(std::string name, double rate) : name_(std::move(name)), rate_(rate) {}

    std::string name_;
    double rate_;
    std::optional<uint64_t> frames_;
    std::string truncation_;
};

// A sample rate as users write it: "171000", "171000.5", or with a k suffix
// "171k" (as rtl_fm writes rates). Nothing when it is not a finite number;
// the range is the caller's to check.
std::optional<double> ParseSampleRate(std::string_view text);

}  // namespace varnak::radio
