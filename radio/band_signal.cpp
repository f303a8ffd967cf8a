#include "band_signal.h"

#include <liquid/liquid.h>

#include <cmath>
#include <stdexcept>

#include "iq_source.h"

namespace varnak::radio {

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kFullScaleDeviationHz = 75e3;
constexpr double kNoiseBandwidthHz = 200e3;
constexpr std::size_t kBitsPerPiece = 64;  // about 54 ms of multiplex at a time
// The multiplex is made at about this rate, a whole fraction of the
// capture's, and interpolated up: its programme filters would cost far more
// at the capture's rate.
constexpr double kMpxRate = 250e3;
constexpr unsigned kInterpolatorSemiLength = 6;
constexpr float kInterpolatorStopDb = 60.0f;

unsigned Interpolation(double rate) { return std::max(1u, unsigned(rate / kMpxRate)); }

// The carrier's phase runs as a 32-bit fraction of a turn (it wraps by
// itself); its top 16 bits pick a unit phasor from a table: a phase error
// of at most 1e-4 rad, spurs below -80 dB, and no sine per sample.
constexpr int kTableBits = 16;
constexpr double kTurn = 4294967296.0;  // 2^32

const std::vector<std::complex<float>>& PhasorTable()
{
    static const std::vector<std::complex<float>> table = [] {
        std::vector<std::complex<float>> t(std::size_t(1) << kTableBits);
        for (std::size_t i = 0; i < t.size(); ++i)
            t[i] = std::polar(1.0f, float(kTwoPi * (double(i) + 0.5) / double(t.size())));
        return t;
    }();
    return table;
}

}  // namespace

// One station: its multiplex, made a few bits at a time at a fraction of the
// capture's rate and interpolated, and the phase of its FM carrier.
struct BandSignal::Transmitter {
    MpxModulator modulator;
    unsigned interpolation;
    firinterp_rrrf interpolator;
    std::string bits;
    std::size_t nextBit = 0;
    std::vector<float> low;  // at the multiplex's own rate
    std::vector<float> mpx;  // at the capture's rate, made, not yet sent
    std::size_t used = 0;
    uint32_t phase = 0;    // fraction of a turn
    double carrierStep;    // turns (x 2^32) per sample at the station's offset
    double deviationStep;  // turns (x 2^32) per sample per unit of multiplex
    float amplitude;

    Transmitter(const BandSignalStation& s, double rate, unsigned interpolation)
        : modulator(s.mpx),
          interpolation(interpolation),
          interpolator(firinterp_rrrf_create_kaiser(interpolation, kInterpolatorSemiLength, kInterpolatorStopDb)),
          bits(s.bits.empty() ? std::string(104, '0') : s.bits),
          carrierStep(kTurn * s.offsetHz / rate),
          deviationStep(kTurn * kFullScaleDeviationHz / rate),
          amplitude(float(BandSignal::kReferenceAmplitude * std::pow(10.0, s.levelDb / 20)))
    {
    }
    ~Transmitter() { firinterp_rrrf_destroy(interpolator); }
    Transmitter(const Transmitter&) = delete;
    Transmitter& operator=(const Transmitter&) = delete;

    void add(std::complex<float>* out, std::size_t count)
    {
        const std::vector<std::complex<float>>& table = PhasorTable();
        for (std::size_t i = 0; i < count; ++i) {
            if (used == mpx.size()) refill();
            phase += uint32_t(int64_t(std::llround(carrierStep + deviationStep * double(mpx[used++]))));
            out[i] += amplitude * table[phase >> (32 - kTableBits)];
        }
    }

    void refill()
    {
        mpx.clear();
        used = 0;
        low.clear();
        while (low.empty()) {
            const std::size_t take = std::min(kBitsPerPiece, bits.size() - nextBit);
            modulator.modulate(std::string_view(bits).substr(nextBit, take), low);
            nextBit = (nextBit + take) % bits.size();
        }
        mpx.resize(low.size() * interpolation);
        firinterp_rrrf_execute_block(interpolator, low.data(), unsigned(low.size()), mpx.data());
    }
};

BandSignal::BandSignal(double rate, const std::vector<BandSignalStation>& stations, std::optional<double> cnDb,
                       uint64_t seed)
    : rate_(rate), rng_(seed)
{
    if (!std::isfinite(rate) || rate < kMinIqRate || rate > kMaxIqRate)
        throw std::invalid_argument("band signal: the sample rate is out of range");
    uint64_t stationSeed = seed;
    for (const BandSignalStation& s : stations) {
        if (std::abs(s.offsetHz) > rate / 2)
            throw std::invalid_argument("band signal: a station lies outside the capture");
        BandSignalStation own = s;
        const unsigned interpolation = Interpolation(rate);
        own.mpx.sampleRate = rate / interpolation;
        own.mpx.seed = ++stationSeed * 7919;
        transmitters_.push_back(std::make_unique<Transmitter>(own, rate, interpolation));
    }
    if (cnDb) {
        // Noise power in 200 kHz = carrier power / C/N; spread over the whole
        // capture's bandwidth, split between I and Q.
        const double carrier = kReferenceAmplitude * kReferenceAmplitude;
        const double total = carrier / std::pow(10.0, *cnDb / 10) * rate / kNoiseBandwidthHz;
        noiseSigma_ = std::sqrt(total / 2);
    }
}

BandSignal::~BandSignal() = default;

void BandSignal::generate(std::size_t count, std::vector<std::complex<float>>& out)
{
    const std::size_t start = out.size();
    out.resize(start + count);
    std::complex<float>* samples = out.data() + start;
    if (noiseSigma_ > 0) {
        const auto sigma = float(noiseSigma_);
        for (std::size_t i = 0; i < count; ++i) samples[i] = {sigma * normal_(rng_), sigma * normal_(rng_)};
    }
    for (auto& t : transmitters_) t->add(samples, count);
}

}  // namespace varnak::radio
