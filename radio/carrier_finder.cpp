#include "carrier_finder.h"

#include <algorithm>
#include <cmath>

namespace varnak::radio {

namespace {

// The station's channel reaches this far from its carrier; the capture's own
// filters leave this share of its band usable.
constexpr double kChannelHalfWidthHz = 120e3;
constexpr double kUsableShare = 0.9;
// Bins this close to DC carry the receiver's own offset, not a signal.
constexpr double kDcMaskHz = 3e3;
// The noise floor: this percentile of the spectrum's bins.
constexpr double kFloorPercentile = 0.2;
constexpr double kCoreHalfWidthHz = 50e3;   // a station's power is judged here
constexpr double kFullHalfWidthHz = 100e3;  // and its level and C/N here

double Db(double ratio) { return ratio > 0 ? 10 * std::log10(ratio) : -200; }

}  // namespace

CarrierFinder::CarrierFinder(double rate, double centerHz, std::size_t bins, double rasterHz)
    : rate_(rate), center_(centerHz), raster_(rasterHz), bins_(bins), sum_(bins, 0.0)
{
}

void CarrierFinder::add(const std::vector<float>& power)
{
    if (power.size() != bins_) return;
    for (std::size_t i = 0; i < bins_; ++i) sum_[i] += power[i];
    ++count_;
}

double CarrierFinder::lowestHz() const { return center_ - kUsableShare * rate_ / 2 + kChannelHalfWidthHz; }
double CarrierFinder::highestHz() const { return center_ + kUsableShare * rate_ / 2 - kChannelHalfWidthHz; }
bool CarrierFinder::fits(double frequencyHz) const { return frequencyHz >= lowestHz() && frequencyHz <= highestHz(); }

double CarrierFinder::windowPower(const std::vector<double>& spectrum, double offsetHz, double halfWidthHz,
                                  double floor) const
{
    const double binWidth = rate_ / double(bins_);
    const long middle = long(bins_ / 2);
    const long from = std::max(0L, middle + std::lround((offsetHz - halfWidthHz) / binWidth));
    const long to = std::min(long(bins_) - 1, middle + std::lround((offsetHz + halfWidthHz) / binWidth));
    const long dc = std::lround(kDcMaskHz / binWidth);
    double sum = 0;
    for (long i = from; i <= to; ++i) sum += std::abs(i - middle) <= dc ? floor : spectrum[std::size_t(i)];
    return sum;
}

std::vector<Carrier> CarrierFinder::find()
{
    std::vector<Carrier> found;
    if (count_ == 0) return found;
    last_.resize(bins_);
    for (std::size_t i = 0; i < bins_; ++i) last_[i] = sum_[i] / double(count_);
    std::fill(sum_.begin(), sum_.end(), 0.0);
    count_ = 0;

    // The floor from the usable band only: the capture's edges are filtered.
    const double binWidth = rate_ / double(bins_);
    const std::size_t edge = std::size_t((1 - kUsableShare) / 2 * double(bins_));
    std::vector<double> usable(last_.begin() + std::ptrdiff_t(edge), last_.end() - std::ptrdiff_t(edge));
    const auto at = usable.begin() + std::ptrdiff_t(double(usable.size()) * kFloorPercentile);
    std::nth_element(usable.begin(), at, usable.end());
    const double floor = std::max(*at, 1e-30);

    // Raster points in the usable band: every raster step, on odd tenths of
    // a MHz for the 200 kHz raster.
    const double phase = raster_ > 150e3 ? 100e3 : 0;
    const double first = std::ceil((lowestHz() - phase) / raster_) * raster_ + phase;
    const auto core = [&](double offset) { return windowPower(last_, offset, kCoreHalfWidthHz, floor); };
    const double coreBins = 2 * kCoreHalfWidthHz / binWidth + 1;
    for (double f = first; f <= highestHz(); f += raster_) {
        const double offset = f - center_;
        const double power = core(offset);
        if (Db(power / (floor * coreBins)) < kThresholdDb) continue;
        // Above both neighbours on the finer of the two rasters.
        if (power < core(offset - 100e3) || power < core(offset + 100e3)) continue;
        // An image of a far stronger station across the centre.
        if (Db(core(-offset) / power) > kImageDb) continue;
        const double full = windowPower(last_, offset, kFullHalfWidthHz, floor);
        const double noise = floor * (2 * kFullHalfWidthHz / binWidth + 1);
        const double cn = Db(std::max(full - noise, 0.0) / noise);
        // A narrow spur (a receiver's own product of a strong signal) stands
        // out of the core but carries no station's power over its channel.
        if (cn < kMinimumCnDb) continue;
        found.push_back({f, offset, cn, Db(full)});
    }
    return found;
}

}  // namespace varnak::radio
