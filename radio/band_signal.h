// A test capture of a slice of the FM band: several stations, each its own
// multiplex (RDS bits, pilot, optionally a stereo programme) FM-modulated at
// ±75 kHz for full scale and placed at its frequency and level, plus white
// noise at an RF carrier-to-noise ratio, as complex baseband. What `rdsgen
// --iq` writes, and what the band receiver's tests and benchmarks decode.
//
// Levels: a station at 0 dB has an amplitude of 0.1 (-20 dBFS), so ten of
// them and the noise fit an 8-bit capture. The C/N is that of a 0-dB
// station: its carrier power over the noise power in 200 kHz.
//
// Deterministic for a seed; generated in pieces, so memory stays bounded
// whatever the length.
#pragma once

#include <complex>
#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "mpx_modulator.h"

namespace varnak::radio {

struct BandSignalStation {
    double offsetHz = 0;  // from the capture's centre
    double levelDb = 0;   // against a 0-dB station
    std::string bits;     // its RDS bit stream ('0'/'1'); repeated when the capture is longer
    MpxConfig mpx;        // sample rate and seed are the capture's
};

class BandSignal {
public:
    static constexpr double kReferenceAmplitude = 0.1;

    // Throws std::invalid_argument for a rate out of range or a station
    // outside the capture.
    BandSignal(double rate, const std::vector<BandSignalStation>& stations, std::optional<double> cnDb, uint64_t seed);
    ~BandSignal();
    BandSignal(const BandSignal&) = delete;
    BandSignal& operator=(const BandSignal&) = delete;

    // Appends the next `count` samples.
    void generate(std::size_t count, std::vector<std::complex<float>>& out);
    double rate() const { return rate_; }

private:
    struct Transmitter;
    double rate_;
    double noiseSigma_ = 0;  // per component
    std::mt19937_64 rng_;
    std::normal_distribution<float> normal_{0.0f, 1.0f};
    std::vector<std::unique_ptr<Transmitter>> transmitters_;
};

}  // namespace varnak::radio
