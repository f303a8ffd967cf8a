// Complex baseband (IQ) samples of a slice of the band, as SDR receivers
// deliver them: raw interleaved I/Q from a file, a FIFO or standard input in
// the sample formats SDR tools write, SigMF recordings (metadata beside the
// samples), and two-channel audio files (I left, Q right) as SDR desktop
// programs record them. Samples come out as complex floats, full scale ±1.0,
// in bounded chunks, whatever the length of the input.
#pragma once

#include <complex>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sample_source.h"

namespace varnak::radio {

// The raw sample formats: unsigned and signed 8-bit (rtl_sdr and
// hackrf_transfer), signed 16-bit little-endian and 32-bit float (native
// byte order, little-endian here), each an I then a Q value.
enum class IqFormat { Cu8, Cs8, Cs16, Cf32 };

// "cu8", "cs8", "cs16", "cf32" (any case); nothing for anything else.
std::optional<IqFormat> ParseIqFormat(std::string_view name);
const char* IqFormatName(IqFormat format);
// Bytes of one complex sample.
std::size_t IqSampleBytes(IqFormat format);

// A frequency or rate as users write it: "98500000", "98.5M", "98.5MHz",
// "2.4M", "171k", "1.2G" (any case for the suffix). Nothing when it is not a
// finite number; the range is the caller's to check.
std::optional<double> ParseFrequency(std::string_view text);

// Sample rates an IQ capture may have: one FM channel needs about 200 kHz,
// and no receiver delivers more than 100 MHz.
constexpr double kMinIqRate = 192e3;
constexpr double kMaxIqRate = 100e6;

// What the command line says of an IQ input. For raw input, format and rate
// are needed; a SigMF or audio recording brings its own, which given values
// replace.
struct IqSettings {
    std::optional<IqFormat> format;
    std::optional<double> rate;
    std::optional<double> center;  // Hz
};

class IqSource {
public:
    // Opens `path` as settings and content say: a SigMF recording when the
    // name ends in ".sigmf-meta", ".sigmf-data" or ".sigmf" (either file of
    // the pair may be named), raw samples when a format is set ("-" is
    // standard input), else a two-channel audio file. Throws SampleSourceError
    // (one line naming the file) when it cannot be used.
    [[nodiscard]] static std::unique_ptr<IqSource> open(const std::string& path, const IqSettings& settings);

    virtual ~IqSource();

    // Reads up to max samples into out; 0 at the end. Throws
    // SampleSourceError when reading fails.
    virtual std::size_t read(std::complex<float>* out, std::size_t max) = 0;

    // Lets a reader on a worker thread end a read of a silent stream at once
    // (see RawSampleReader::setStopQuery); read() then returns 0. Files of
    // other kinds never wait, and ignore it.
    virtual void setStopQuery(const std::function<bool()>& /*stopped*/) {}

    // As given ("standard input" for "-").
    const std::string& name() const { return name_; }
    double sampleRate() const { return rate_; }
    // The frequency at the capture's centre, when known.
    std::optional<double> centerFrequency() const { return center_; }
    // The samples the input holds, when it tells (files).
    std::optional<uint64_t> frames() const { return frames_; }
    // After the end: why the input ended early (truncated in the middle of a
    // sample, shorter than its metadata says). Empty if it was complete.
    const std::string& truncation() const { return truncation_; }

protected:
    IqSource(std::string name, double rate, std::optional<double> center)
        : name_(std::move(name)), rate_(rate), center_(center)
    {
    }

    std::string name_;
    double rate_;
    std::optional<double> center_;
    std::optional<uint64_t> frames_;
    std::string truncation_;
};

// The metadata of a SigMF recording, read from its ".sigmf-meta" text.
struct SigmfMeta {
    IqFormat format = IqFormat::Cu8;
    double rate = 0;
    std::optional<double> center;
    // The sample index of the last capture or the end of the last annotation:
    // the data must hold at least this many samples.
    uint64_t samplesNamed = 0;
};

// Parses SigMF metadata; on failure returns nothing and sets `error` to what
// is wrong ("core:datatype 'ri16_le' is not complex", ...).
std::optional<SigmfMeta> ParseSigmfMeta(std::string_view json, std::string& error);

// A centre frequency written into an SDR program's recording name, as in
// "SDRSharp_20240101_120000Z_98500000Hz_IQ.wav" or
// "baseband_98500000Hz_12-00-00_01-01-2024.wav": the digits before "Hz".
std::optional<double> FrequencyFromName(std::string_view path);

}  // namespace varnak::radio
