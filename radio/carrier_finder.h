// Finds the FM stations in an IQ capture from its averaged power spectrum.
//
// Stations sit on a raster (every 100 kHz in Europe; every 200 kHz on odd
// tenths of a MHz in the Americas). A raster point holds a station when the
// power within ±50 kHz of it stands clearly above the noise floor and above
// its raster neighbours' (so the shoulders of a strong station, or the gap
// between two, are not taken for stations). The noise floor is a low
// percentile of the spectrum, so a crowded band does not raise it. The DC
// spike of direct-conversion receivers is masked, and a point that mirrors a
// far stronger station across the centre is an image of it, not a station.
// Only raster points whose channel fits inside the capture's usable band
// are looked at; the others can be listed.
#pragma once

#include <cstddef>
#include <vector>

namespace varnak::radio {

struct Carrier {
    double frequencyHz;  // absolute, on the raster
    double offsetHz;     // from the capture's centre
    double cnDb;         // power in 200 kHz over the noise in 200 kHz
    double levelDbfs;    // power in 200 kHz, dB against a full-scale carrier
};

class CarrierFinder {
public:
    // `bins`: the spectra's size (DC in the middle); `rasterHz`: 100e3 or
    // 200e3.
    CarrierFinder(double rate, double centerHz, std::size_t bins, double rasterHz);

    // Adds one spectrum (power per bin, DC in the middle) to the average.
    void add(const std::vector<float>& power);
    // Spectra averaged since the last find().
    std::size_t averaged() const { return count_; }
    // The stations in the average, lowest first; starts a new average.
    std::vector<Carrier> find();
    // The last average (empty before the first find()), for display.
    const std::vector<double>& lastAverage() const { return last_; }

    // Whether a station at `frequencyHz` fits inside the usable band.
    bool fits(double frequencyHz) const;
    // The usable band's edges, absolute.
    double lowestHz() const;
    double highestHz() const;

    // A station must stand this far above the noise floor (dB, power in
    // ±50 kHz against the noise in as much), its power in 200 kHz this far
    // above the noise in 200 kHz (a narrow spur does not), and images this
    // far below the station they mirror are dropped.
    static constexpr double kThresholdDb = 4;
    static constexpr double kMinimumCnDb = 2;
    static constexpr double kImageDb = 20;

private:
    double windowPower(const std::vector<double>& spectrum, double offsetHz, double halfWidthHz, double floor) const;

    double rate_, center_, raster_;
    std::size_t bins_;
    std::vector<double> sum_, last_;
    std::size_t count_ = 0;
};

}  // namespace varnak::radio
