// Cuts FM channels out of an IQ capture: any number of channels, each at its
// own offset from the capture's centre, filtered and decimated to a rate
// that holds a fully modulated FM station (about 300 kHz), all from one FFT
// of the capture (fast convolution, overlap-save).
//
// Every block of input is transformed once; a channel then costs only the
// small inverse transform of the bins around its frequency, multiplied by
// the channel filter. The filter passes ±115 kHz (±75 kHz deviation plus the
// multiplex's 57 kHz RDS and its sidebands at full modulation, Carson's
// width less the weak outer sidebands) and stops before half the output rate,
// so nothing aliases. The same transform gives the capture's power spectrum.
//
// Not thread-safe: one thread pushes. Channel outputs are continuous across
// blocks (their phase runs on), as an FM discriminator needs.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace varnak::radio {

class Channelizer {
public:
    using Sample = std::complex<float>;
    // A channel's new output samples.
    using Sink = std::function<void(int channel, const Sample* samples, std::size_t count)>;
    // The power of each FFT bin of every fourth block through a Hann window, lowest
    // frequency first (DC in the middle), scaled so that the bins of a
    // full-scale tone add up to 1.
    using SpectrumSink = std::function<void(const std::vector<float>& power)>;

    // `inputRate`: the capture's sample rate in Hz (at least kMinIqRate).
    explicit Channelizer(double inputRate);
    ~Channelizer();
    Channelizer(const Channelizer&) = delete;
    Channelizer& operator=(const Channelizer&) = delete;

    // The rate of every channel's output.
    double outputRate() const { return inputRate_ / double(decimation_); }
    double inputRate() const { return inputRate_; }
    // Size of the transform: the spectrum has this many bins.
    std::size_t fftSize() const { return fftSize_; }

    // Adds a channel centred `offsetHz` from the capture's centre (rounded
    // to the transform's bin spacing, inputRate / fftSize); returns its
    // number, never reused. Its output starts with the next block.
    int addChannel(double offsetHz);
    void removeChannel(int channel);
    // The frequency the channel is really centred on, after rounding.
    double channelOffset(int channel) const;

    void setSink(Sink sink) { sink_ = std::move(sink); }
    void setSpectrumSink(SpectrumSink sink) { spectrumSink_ = std::move(sink); }

    // Pushes capture samples; every completed block hands each channel's
    // output to the sink.
    void push(const Sample* samples, std::size_t count);
    // End of input: completes the block in hand with silence, so the last
    // samples reach the channels too.
    void flush();

private:
    struct Plans;
    struct Channel {
        int id;
        long bin;            // centre bin, 0..fftSize-1
        Sample rotation;     // phase step per block that keeps the output continuous
        Sample phase{1, 0};  // the phase of the current block
        std::vector<Sample> out;
    };

    void runBlock();

    double inputRate_;
    std::size_t decimation_ = 1;
    std::size_t fftSize_ = 0;     // N
    std::size_t smallSize_ = 0;   // N / decimation
    std::size_t overlap_ = 0;     // filter length - 1, a multiple of the decimation
    std::vector<Sample> filter_;  // the filter's response at the small transform's bins, scaled by 1/N
    std::vector<Sample> block_;   // the input of the next transform
    std::size_t filled_ = 0;      // samples in block_
    std::vector<Channel> channels_;
    int nextId_ = 0;
    std::unique_ptr<Plans> plans_;
    Sink sink_;
    SpectrumSink spectrumSink_;
    std::vector<float> power_;
    uint64_t blocks_ = 0;
};

// Turns a channel's complex baseband into the FM multiplex: the phase step
// between samples, scaled so that ±75 kHz deviation is full scale (±1.0), as
// the RDS demodulator takes it. No de-emphasis (the multiplex has none).
class FmDiscriminator {
public:
    explicit FmDiscriminator(double sampleRate);
    // Appends one multiplex sample per input sample to `mpx`.
    void push(const std::complex<float>* in, std::size_t count, std::vector<float>& mpx);

private:
    float scale_;
    std::complex<float> last_{1, 0};
};

}  // namespace varnak::radio
