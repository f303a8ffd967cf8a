#include "sdr_source.h"

#include <SoapySDR/Device.hpp>
#include <SoapySDR/Errors.hpp>
#include <SoapySDR/Formats.hpp>
#include <SoapySDR/Logger.hpp>

#include <cmath>

namespace varnak::radio {

struct SdrSource::Device {
    SoapySDR::Device* device = nullptr;
    SoapySDR::Stream* stream = nullptr;
    ~Device()
    {
        if (!device) return;
        if (stream) {
            device->deactivateStream(stream);
            device->closeStream(stream);
        }
        SoapySDR::Device::unmake(device);
    }
};

namespace {

// SoapySDR and its modules write their own log lines; only warnings and
// worse reach standard error, below ours.
void QuietLogs() { SoapySDR::setLogLevel(SOAPY_SDR_WARNING); }

constexpr long kReadTimeoutUs = 500000;
// A device that delivers nothing for this many reads in a row (5 s) is gone.
constexpr int kTimeoutsBeforeError = 10;

}  // namespace

std::unique_ptr<SdrSource> SdrSource::open(const SdrSettings& settings)
{
    QuietLogs();
    const std::string name = "SDR '" + settings.args + "'";
    if (!std::isfinite(settings.rate) || settings.rate < kMinIqRate || settings.rate > kMaxIqRate)
        throw SampleSourceError(name + ": the sample rate is out of range");
    auto device = std::make_unique<Device>();
    try {
        device->device = SoapySDR::Device::make(settings.args);
    } catch (const std::exception& e) {
        throw SampleSourceError("no SDR device matches '" + settings.args + "' (" + e.what() + ")");
    }
    if (!device->device) throw SampleSourceError("no SDR device matches '" + settings.args + "'");
    try {
        SoapySDR::Device& d = *device->device;
        d.setSampleRate(SOAPY_SDR_RX, 0, settings.rate);
        d.setFrequency(SOAPY_SDR_RX, 0, settings.center);
        if (settings.ppm != 0) d.setFrequencyCorrection(SOAPY_SDR_RX, 0, settings.ppm);
        if (settings.gain) {
            if (d.hasGainMode(SOAPY_SDR_RX, 0)) d.setGainMode(SOAPY_SDR_RX, 0, false);
            d.setGain(SOAPY_SDR_RX, 0, *settings.gain);
        } else if (d.hasGainMode(SOAPY_SDR_RX, 0)) {
            d.setGainMode(SOAPY_SDR_RX, 0, true);
        }
        device->stream = d.setupStream(SOAPY_SDR_RX, SOAPY_SDR_CF32);
        if (const int r = d.activateStream(device->stream); r != 0)
            throw SampleSourceError(name + ": cannot start the stream: " + SoapySDR::errToStr(r));
    } catch (const SampleSourceError&) {
        throw;
    } catch (const std::exception& e) {
        throw SampleSourceError(name + ": " + e.what());
    }
    return std::unique_ptr<SdrSource>(new SdrSource(settings, std::move(device)));
}

SdrSource::SdrSource(const SdrSettings& settings, std::unique_ptr<Device> device)
    : IqSource("SDR '" + settings.args + "'", device->device->getSampleRate(SOAPY_SDR_RX, 0), settings.center),
      device_(std::move(device))
{
}

SdrSource::~SdrSource() = default;

std::size_t SdrSource::read(std::complex<float>* out, std::size_t max)
{
    if (max == 0) return 0;
    const std::size_t limit = std::min<std::size_t>(max, device_->device->getStreamMTU(device_->stream) * 4);
    for (int timeouts = 0;;) {
        void* buffers[] = {out};
        int flags = 0;
        long long time = 0;
        const int n = device_->device->readStream(device_->stream, buffers, limit, flags, time, kReadTimeoutUs);
        if (n > 0) return std::size_t(n);
        if (n == SOAPY_SDR_OVERFLOW) {
            ++overruns_;
            continue;
        }
        if (n == 0 || n == SOAPY_SDR_TIMEOUT) {
            if (++timeouts < kTimeoutsBeforeError) continue;
            throw SampleSourceError(name_ + ": no samples for 5 seconds (is the device still there?)");
        }
        throw SampleSourceError(name_ + ": read error: " + SoapySDR::errToStr(n));
    }
}

}  // namespace varnak::radio
