// What a station's multiplex says of its modulation, in absolute units:
// the peak deviation of each second, and the multiplex power of ITU-R
// BS.412 (the mean power over 60 s against that of a sine deviating the
// carrier by ±19 kHz: 0 dBr is the usual limit). Samples are the FM
// discriminator's output, `fullScaleKHz` the deviation that 1.0 stands for.
// A push object of bounded memory: a second of sampled magnitudes and 60
// per-second powers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace varnak::radio {

class MpxMeter {
public:
    static constexpr double kReferenceKHz = 19.0;  // the 0-dBr sine's peak deviation
    static constexpr int kPowerSeconds = 60;

    // `powerSeconds`: the power's window (tests shorten it).
    explicit MpxMeter(double rate, double fullScaleKHz = 75.0, int powerSeconds = kPowerSeconds);

    void push(const float* mpx, std::size_t count);

    // The peak deviation of the last whole second: the 99.99th percentile
    // of the multiplex's magnitude (every other sample), so that a few
    // clicks of a weak signal do not count. Nothing before a second.
    std::optional<double> peakDeviationKHz() const { return peak_; }
    // The multiplex power over the last 60 whole seconds, dBr. Nothing
    // until 60 s were measured.
    std::optional<double> mpxPowerDbr() const;
    // Whole seconds measured so far.
    uint64_t seconds() const { return seconds_; }

private:
    void closeSecond();

    double fullScale_;
    std::size_t secondLength_;
    std::size_t inSecond_ = 0;
    bool odd_ = false;
    std::vector<float> magnitudes_;  // of the current second
    double squares_ = 0;             // of the current second
    std::vector<double> powers_;     // mean square of each second of the window, a ring
    double powerSum_ = 0;
    uint64_t seconds_ = 0;
    std::optional<double> peak_;
};

}  // namespace varnak::radio
