#include "station_receiver.h"

#include <liquid/liquid.h>

#include <algorithm>
#include <cmath>

#include "channelizer.h"

namespace varnak::radio {

namespace {

constexpr double kFullScaleKHz = 75.0;  // the deviation the multiplex's full scale stands for
// The half-band filter that halves the multiplex's rate: RDS ends at
// 59.4 kHz, far inside its passband at the rates channels come at.
constexpr unsigned kHalfBandSemiLength = 8;
constexpr float kHalfBandStopDb = 60.0f;
// Deviation is measured over a second of every other multiplex sample, on
// the multiplex band the RDS demodulator takes (up to about 75 kHz): beyond
// it lies only the discriminator's noise.
constexpr std::size_t kDeviationStride = 2;
constexpr double kDeviationQuantile = 0.9999;

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
    // |mpx| samples of the current second, and the last second's quantile.
    std::vector<float> magnitudes;
    std::size_t strideCount = 0;
    double peakDeviation = 0;

    Impl(double rate, bool halve) : discriminator(rate), secondLength(std::size_t(rate))
    {
        if (halve) halfBand = resamp2_rrrf_create(kHalfBandSemiLength, 0.0f, kHalfBandStopDb);
        magnitudes.reserve(secondLength / kDeviationStride + 1);
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

    void measureDeviation(const float* band, std::size_t count, std::size_t bandRate)
    {
        for (std::size_t i = 0; i < count; ++i) {
            if (++strideCount < kDeviationStride) continue;
            strideCount = 0;
            magnitudes.push_back(std::abs(band[i]));
            if (magnitudes.size() * kDeviationStride >= bandRate) {
                const auto at = magnitudes.begin() + std::ptrdiff_t(double(magnitudes.size() - 1) * kDeviationQuantile);
                std::nth_element(magnitudes.begin(), at, magnitudes.end());
                peakDeviation = double(*at) * kFullScaleKHz;
                magnitudes.clear();
            }
        }
    }
};

StationReceiver::StationReceiver(double channelRate)
    : mpxRate_(channelRate / 2 >= RdsDemodulator::kMinRate ? channelRate / 2 : channelRate),
      d_(std::make_unique<Impl>(channelRate, mpxRate_ != channelRate)),
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
        d.measureDeviation(d.mpx.data(), d.mpx.size(), std::size_t(mpxRate_));
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
    d.measureDeviation(d.half.data(), out, std::size_t(mpxRate_));
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
    s.peakDeviationKHz = d_->peakDeviation;
    s.rds = rds_->report();
    s.pilotKHz = s.rds.pilotPresent ? s.rds.pilotLevel * kFullScaleKHz : 0;
    s.rdsKHz = s.rds.rdsFound ? s.rds.rdsLevel * kFullScaleKHz : 0;
    return s;
}

}  // namespace varnak::radio
