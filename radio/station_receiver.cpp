#include "station_receiver.h"

#include <liquid/liquid.h>

#include <algorithm>
#include <cmath>

#include "channelizer.h"
#include "mpx_meter.h"

namespace varnak::radio {

namespace {

constexpr double kFullScaleKHz = 75.0;  // the deviation the multiplex's full scale stands for
// The half-band filter that halves the multiplex's rate: RDS ends at
// 59.4 kHz, far inside its passband at the rates channels come at.
constexpr unsigned kHalfBandSemiLength = 8;
constexpr float kHalfBandStopDb = 60.0f;

}  // namespace

struct StationReceiver::Impl {
    FmDiscriminator discriminator;
    resamp2_rrrf halfBand = nullptr;
    std::vector<float> mpx, half;
    float pending = 0;  // a multiplex sample waiting for its pair
    bool hasPending = false;
    // Channel power, summed over the last second.
    double powerSum = 0;
    std::size_t powerCount = 0;
    double level = 0;  // mean power of the last full second
    std::size_t secondLength;
    // Deviation and multiplex power, measured on the multiplex band the RDS
    // demodulator takes (up to about 75 kHz): beyond it lies only the
    // discriminator's noise.
    MpxMeter meter;

    Impl(double rate, bool halve, double mpxRate)
        : discriminator(rate), secondLength(std::size_t(rate)), meter(mpxRate, kFullScaleKHz)
    {
        if (halve) halfBand = resamp2_rrrf_create(kHalfBandSemiLength, 0.0f, kHalfBandStopDb);
    }
    ~Impl()
    {
        if (halfBand) resamp2_rrrf_destroy(halfBand);
    }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    void measurePower(const std::complex<float>* samples, std::size_t count)
    {
        for (std::size_t i = 0; i < count; ++i) {
            powerSum += std::norm(samples[i]);
            if (++powerCount == secondLength) {
                level = powerSum / double(powerCount);
                powerSum = 0;
                powerCount = 0;
            }
        }
    }
};

StationReceiver::StationReceiver(double channelRate)
    : mpxRate_(channelRate / 2 >= RdsDemodulator::kMinRate ? channelRate / 2 : channelRate),
      d_(std::make_unique<Impl>(channelRate, mpxRate_ != channelRate, mpxRate_)),
      rds_(std::make_unique<RdsDemodulator>(mpxRate_))
{
}

StationReceiver::~StationReceiver() = default;

void StationReceiver::push(const std::complex<float>* samples, std::size_t count, std::string& bits)
{
    Impl& d = *d_;
    d.mpx.clear();
    d.discriminator.push(samples, count, d.mpx);
    d.measurePower(samples, count);
    if (!d.halfBand) {
        d.meter.push(d.mpx.data(), d.mpx.size());
        rds_->push(d.mpx.data(), d.mpx.size(), bits);
        return;
    }
    // Pairs of samples in, one out; an odd sample waits for its pair.
    d.half.resize(d.mpx.size() / 2 + 1);
    std::size_t out = 0, i = 0;
    if (d.hasPending && !d.mpx.empty()) {
        float pair[2] = {d.pending, d.mpx[0]};
        resamp2_rrrf_decim_execute(d.halfBand, pair, &d.half[out++]);
        d.hasPending = false;
        i = 1;
    }
    for (; i + 1 < d.mpx.size(); i += 2) resamp2_rrrf_decim_execute(d.halfBand, &d.mpx[i], &d.half[out++]);
    // The half-band filter passes its band at twice the level.
    for (std::size_t k = 0; k < out; ++k) d.half[k] *= 0.5f;
    d.meter.push(d.half.data(), out);
    if (i < d.mpx.size()) {
        d.pending = d.mpx[i];
        d.hasPending = true;
    }
    rds_->push(d.half.data(), out, bits);
}

void StationReceiver::finish(std::string& bits) { rds_->finish(bits); }

StationSignal StationReceiver::signal() const
{
    StationSignal s;
    const double power = d_->level > 0 ? d_->level : d_->powerCount ? d_->powerSum / double(d_->powerCount) : 0;
    s.levelDbfs = power > 0 ? 10 * std::log10(power) : -200;
    s.peakDeviationKHz = d_->meter.peakDeviationKHz().value_or(0);
    s.mpxPowerDbr = d_->meter.mpxPowerDbr();
    s.rds = rds_->report();
    s.pilotKHz = s.rds.pilotPresent ? s.rds.pilotLevel * kFullScaleKHz : 0;
    s.rdsKHz = s.rds.rdsFound ? s.rds.rdsLevel * kFullScaleKHz : 0;
    return s;
}

}  // namespace varnak::radio
