#include "mpx_meter.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace varnak::radio {

namespace {

constexpr double kPeakQuantile = 0.9999;

}  // namespace

MpxMeter::MpxMeter(double rate, double fullScaleKHz, int powerSeconds)
    : fullScale_(fullScaleKHz), secondLength_(std::size_t(std::lround(rate))), powers_(std::size_t(powerSeconds), 0.0)
{
    if (!(rate >= 1000) || !(fullScaleKHz > 0) || powerSeconds < 1)
        throw std::invalid_argument("MpxMeter: bad rate, full scale or window");
    magnitudes_.reserve(secondLength_ / 2 + 1);
}

void MpxMeter::push(const float* mpx, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        const float v = mpx[i];
        squares_ += double(v) * double(v);
        // Every other sample is enough for the percentile and halves its cost.
        if ((odd_ = !odd_)) magnitudes_.push_back(std::abs(v));
        if (++inSecond_ == secondLength_) closeSecond();
    }
}

void MpxMeter::closeSecond()
{
    if (!magnitudes_.empty()) {
        const auto at = magnitudes_.begin() + std::ptrdiff_t(double(magnitudes_.size() - 1) * kPeakQuantile);
        std::nth_element(magnitudes_.begin(), at, magnitudes_.end());
        peak_ = double(*at) * fullScale_;
    }
    const std::size_t window = powers_.size();
    double& slot = powers_[std::size_t(seconds_ % window)];
    powerSum_ -= slot;
    slot = squares_ / double(inSecond_);
    powerSum_ += slot;
    ++seconds_;
    // The running sum is made afresh once a window so rounding cannot creep.
    if (seconds_ % window == 0) {
        powerSum_ = 0;
        for (const double p : powers_) powerSum_ += p;
    }
    magnitudes_.clear();
    squares_ = 0;
    inSecond_ = 0;
}

std::optional<double> MpxMeter::mpxPowerDbr() const
{
    if (seconds_ < powers_.size()) return std::nullopt;
    const double reference = kReferenceKHz / fullScale_;
    const double referencePower = reference * reference / 2;  // a sine of that peak
    const double power = std::max(powerSum_ / double(powers_.size()), 1e-30);
    return 10 * std::log10(power / referencePower);
}

}  // namespace varnak::radio
