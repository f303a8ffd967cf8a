// One FM station cut out of an IQ capture (channelizer.h), from its complex
// baseband to RDS bits: FM discriminator, the multiplex halved in rate where
// RDS allows it, then the RDS demodulator. On the way it measures what only
// the RF signal tells in absolute units: the station's level, its peak
// deviation and multiplex power (mpx_meter.h), and from the multiplex the pilot's and RDS's injection in kHz.
#pragma once

#include <complex>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "rds_demodulator.h"

namespace varnak::radio {

struct StationSignal {
    double levelDbfs = -200;  // mean power of the channel, dB against a full-scale carrier
    // Peak deviation in kHz over the last second: the 99.99th percentile of
    // the multiplex's magnitude, so that a few clicks of a weak signal do
    // not count.
    double peakDeviationKHz = 0;
    // The multiplex power of the last 60 s (ITU-R BS.412), dBr; nothing
    // before a minute was measured.
    std::optional<double> mpxPowerDbr;
    double pilotKHz = 0;  // pilot injection (deviation it causes), 0 without pilot
    double rdsKHz = 0;    // RDS injection (peak), 0 without RDS
    SignalReport rds;     // what the RDS demodulator reports (levels in full scale)
};

class StationReceiver {
public:
    // `channelRate`: the rate of the channel's complex samples (at least
    // 256 kHz, to hold a fully modulated station).
    explicit StationReceiver(double channelRate);
    ~StationReceiver();
    StationReceiver(const StationReceiver&) = delete;
    StationReceiver& operator=(const StationReceiver&) = delete;

    // Pushes channel samples and appends the RDS bits decoded ('0'/'1').
    void push(const std::complex<float>* samples, std::size_t count, std::string& bits);
    // End of input: the bits still held back.
    void finish(std::string& bits);

    StationSignal signal() const;
    // The rate the RDS demodulator runs at.
    double mpxRate() const { return mpxRate_; }
    const RdsDemodulator& demodulator() const { return *rds_; }

private:
    struct Impl;
    double mpxRate_;
    std::unique_ptr<Impl> d_;
    std::unique_ptr<RdsDemodulator> rds_;
};

}  // namespace varnak::radio
