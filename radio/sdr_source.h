// Live IQ samples from an SDR receiver through SoapySDR, one library for
// RTL-SDR, Airspy, HackRF, SDRplay, LimeSDR and the others. The device is
// read as the consumer asks; when the consumer falls behind, the driver's
// buffers overflow and the samples lost are counted, never queued without
// bound.
#pragma once

#include <optional>
#include <string>

#include "iq_source.h"

namespace varnak::radio {

struct SdrSettings {
    std::string args;            // a SoapySDR device string: "driver=rtlsdr", "driver=airspy,serial=..."
    double rate = 2.4e6;         // samples per second
    double center = 0;           // Hz
    std::optional<double> gain;  // dB; nothing for the device's automatic gain
    double ppm = 0;              // frequency correction of the receiver's clock
};

class SdrSource final : public IqSource {
public:
    // Opens and starts the device. Throws SampleSourceError with one line
    // ("no SDR device matches 'driver=rtlsdr'", or what the device refused).
    [[nodiscard]] static std::unique_ptr<SdrSource> open(const SdrSettings& settings);
    ~SdrSource() override;

    std::size_t read(std::complex<float>* out, std::size_t max) override;

    // Times the device reported lost samples because they were not read in time.
    uint64_t overruns() const { return overruns_; }

private:
    struct Device;
    SdrSource(const SdrSettings& settings, std::unique_ptr<Device> device);

    std::unique_ptr<Device> device_;
    uint64_t overruns_ = 0;
};

}  // namespace varnak::radio
