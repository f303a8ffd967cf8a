#include "mpx_modulator.h"

// <complex> before liquid.h: its complex type is then std::complex.
#include <complex>

#include <liquid/liquid.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace varnak::radio {

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr int kSpan = 6;          // the pulse is kept over ±kSpan symbols
constexpr int kTableSteps = 512;  // table points per symbol
constexpr double kKaiserBeta = 8;
constexpr double kProgrammeHz = 15000;   // audio bandwidth of the programme
constexpr double kProgrammeCrest = 4.5;  // programme peak over its RMS

// One impulse of the biphase pair after the data-shaping filter
// H(f) = cos(pi f t/4) for |f| <= 2/t: its inverse transform, x in symbols,
// up to a constant factor.
double ShapedImpulse(double x)
{
    const double d = 1 - 64 * x * x;
    if (std::abs(d) < 1e-9) return 4 * M_PI;  // the limit at x = ±1/8
    return 16 * std::cos(4 * M_PI * x) / d;
}

double Fraction(double x) { return x - std::floor(x); }

// The tabulated pulse at x symbols, linearly interpolated; 0 outside its span.
double PulseAt(const std::vector<float>& table, double x)
{
    const double pos = (x + kSpan) * kTableSteps;
    if (pos < 0 || pos >= double(table.size() - 1)) return 0;
    const auto i = size_t(pos);
    const double f = pos - double(i);
    return table[i] * (1 - f) + table[i + 1] * f;
}

}  // namespace

// The stereo programme: two channels of band-limited noise.
struct MpxModulator::Programme {
    firfilt_rrrf left = nullptr, right = nullptr;
    double gain = 0;      // programme peak, full scale
    double noiseRms = 0;  // of the raw noise after the filter, before scaling
    ~Programme()
    {
        if (left) firfilt_rrrf_destroy(left);
        if (right) firfilt_rrrf_destroy(right);
    }
};

MpxModulator::MpxModulator(const MpxConfig& config) : cfg_(config)
{
    if (!(cfg_.sampleRate >= kMinSampleRate && cfg_.sampleRate <= 10e6))
        throw std::invalid_argument("sample rate " + std::to_string(cfg_.sampleRate) +
                                    " Hz: the multiplex needs 128 kHz to 10 MHz");
    if (!(std::abs(cfg_.ppm) <= 1000))
        throw std::invalid_argument("clock error of " + std::to_string(cfg_.ppm) + " ppm is beyond ±1000");
    for (double level : {cfg_.rdsLevel, cfg_.pilotLevel})
        if (!(level >= 0 && level <= 1)) throw std::invalid_argument("a signal level is outside 0..1");
    // A programme may over-modulate (up to twice full scale): the signal of
    // a transmitter beyond its licence, for testing deviation alarms.
    if (!(cfg_.programmeLevel >= 0 && cfg_.programmeLevel <= 2))
        throw std::invalid_argument("the programme level is outside 0..2");
    if (cfg_.cnrDb && !std::isfinite(*cfg_.cnrDb)) throw std::invalid_argument("the CNR is not a number");
    if (!(std::abs(cfg_.rdsOffsetHz) <= 1000))
        throw std::invalid_argument("RDS carrier offset of " + std::to_string(cfg_.rdsOffsetHz) +
                                    " Hz is beyond ±1000 Hz");
    if (!(std::abs(cfg_.rdsDriftHzPerMinute) <= 60))
        throw std::invalid_argument("RDS carrier drift of " + std::to_string(cfg_.rdsDriftHzPerMinute) +
                                    " Hz per minute is beyond ±60");
    if (!std::isfinite(cfg_.rdsPhaseDeg)) throw std::invalid_argument("the RDS carrier phase is not a number");
    if (cfg_.rds2Streams < 0 || cfg_.rds2Streams > 3) throw std::invalid_argument("RDS2 has 1 to 3 extra streams");
    if (!(cfg_.rds2Level >= 0 && cfg_.rds2Level <= 1)) throw std::invalid_argument("a signal level is outside 0..1");
    if (cfg_.rds2Streams > 0 && !(cfg_.sampleRate / 2 > kRds2CarrierHz[cfg_.rds2Streams] + kRdsHalfBandHz))
        throw std::invalid_argument("sample rate " + std::to_string(cfg_.sampleRate) +
                                    " Hz is too low for the RDS2 subcarrier at " +
                                    std::to_string(kRds2CarrierHz[cfg_.rds2Streams]) + " Hz");
    symbols_.resize(1 + static_cast<std::size_t>(cfg_.rds2Streams));
    lastCoded_.assign(symbols_.size(), false);

    cyclesPerSample_ = kPilotHz / (cfg_.sampleRate * (1 + cfg_.ppm * 1e-6));

    // The shaped impulse, Kaiser-windowed to its span.
    const unsigned length = 2 * kSpan * kTableSteps + 1;
    pulse_.resize(length);
    for (unsigned i = 0; i < length; ++i) {
        const double x = double(int(i) - kSpan * kTableSteps) / kTableSteps;
        pulse_[i] = float(ShapedImpulse(x) * liquid_kaiser(i, length, kKaiserBeta));
    }

    // Over one symbol period of positions: the worst-case peak (all symbols
    // adding up) and the mean power for random symbols.
    double peak = 0, power = 0;
    for (int step = 0; step < kTableSteps; ++step) {
        const double s = 2 * kSpan + 1 + double(step) / kTableSteps;
        double sumAbs = 0, sumSquares = 0;
        for (int64_t k = int64_t(std::ceil(s - 2 * kSpan - 0.5)); k <= int64_t(std::floor(s)); ++k) {
            const double x = s - kSpan - double(k);
            const double p = PulseAt(pulse_, x) - PulseAt(pulse_, x - 0.5);
            sumAbs += std::abs(p);
            sumSquares += p * p;
        }
        peak = std::max(peak, sumAbs);
        power += sumSquares / kTableSteps;
    }
    rdsScale_ = 1 / peak;
    // The carrier halves the baseband's power.
    rdsPower_ = cfg_.rdsLevel * cfg_.rdsLevel * rdsScale_ * rdsScale_ * power / 2;

    if (cfg_.cnrDb) {
        // White noise over 0..fs/2: the share 4800 / (fs/2) of its variance
        // falls in the RDS band.
        const double bandNoise = rdsPower_ / std::pow(10.0, *cfg_.cnrDb / 10);
        noiseSigma_ = std::sqrt(bandNoise * (cfg_.sampleRate / 2) / (2 * kRdsHalfBandHz));
    }

    noiseRng_.seed(cfg_.seed * 2 + 1);
    programmeRng_.seed(cfg_.seed * 2 + 2);
    if (cfg_.stereo) {
        programme_ = std::make_unique<Programme>();
        Programme& p = *programme_;
        p.gain = cfg_.programmeLevel - (cfg_.pilot ? cfg_.pilotLevel : 0) - cfg_.rdsLevel -
                 cfg_.rds2Streams * cfg_.rds2Level;
        if (p.gain <= 0) throw std::invalid_argument("the programme level leaves no room for a programme");
        // Sharp enough that the L-R sidebands (23..53 kHz) leave the pilot
        // and the RDS band clean.
        const double df = 2000 / cfg_.sampleRate;
        const unsigned taps = std::max(3u, estimate_req_filter_len(float(df), 70) | 1u);
        const float fc = float((kProgrammeHz + 1000) / cfg_.sampleRate);
        p.left = firfilt_rrrf_create_kaiser(taps, fc, 70, 0);
        p.right = firfilt_rrrf_create_kaiser(taps, fc, 70, 0);
        // White unit noise through the filter has the variance sum(h^2).
        const float* h = firfilt_rrrf_get_coefficients(p.left);
        double energy = 0;
        for (unsigned i = 0; i < taps; ++i) energy += double(h[i]) * h[i];
        p.noiseRms = std::sqrt(energy);
    }
}

MpxModulator::~MpxModulator() = default;

double MpxModulator::rdsCycles(uint64_t n) const
{
    const double u = double(n) * cyclesPerSample_;  // pilot cycles
    const double t = u / kPilotHz;                  // seconds by the transmitter's clock
    return 3 * u + t * (cfg_.rdsOffsetHz + t * cfg_.rdsDriftHzPerMinute / 120);
}

double MpxModulator::baseband(int stream, double s) const
{
    // The pulse is delayed by kSpan symbols so that a sample needs no symbol
    // later than its own position.
    const int64_t first = std::max<int64_t>(firstSymbol_, int64_t(std::ceil(s - 2 * kSpan - 0.5)));
    const int64_t last = std::min<int64_t>(symbolCount_ - 1, int64_t(std::floor(s)));
    double sum = 0;
    for (int64_t k = first; k <= last; ++k) {
        const double x = s - kSpan - double(k);
        sum +=
            symbols_[std::size_t(stream)][size_t(k - firstSymbol_)] * (PulseAt(pulse_, x) - PulseAt(pulse_, x - 0.5));
    }
    return sum * rdsScale_;
}

void MpxModulator::emitUpTo(double symbolEnd, std::vector<float>& out)
{
    const bool stereo = programme_ != nullptr;
    for (;;) {
        const double u = double(n_) * cyclesPerSample_;  // pilot cycles
        const double r = rdsCycles(n_);
        const double s = r / 48;  // symbol position: 48 carrier cycles per bit
        if (s >= symbolEnd) break;
        double v = cfg_.rdsLevel * baseband(0, s) * std::sin(kTwoPi * Fraction(r + cfg_.rdsPhaseDeg / 360));
        // RDS2's carriers: 3.5, 3.75 and 4 times the pilot, that is 7/6,
        // 5/4 and 4/3 of the 57 kHz carrier's cycles.
        for (int k = 1; k <= cfg_.rds2Streams; ++k)
            v += cfg_.rds2Level * baseband(k, s) * std::sin(kTwoPi * Fraction(r * kRds2CarrierHz[k] / kRdsCarrierHz));
        if (cfg_.pilot) v += cfg_.pilotLevel * std::sin(kTwoPi * Fraction(u));
        if (stereo) {
            Programme& p = *programme_;
            firfilt_rrrf_push(p.left, programmeGauss_(programmeRng_));
            firfilt_rrrf_push(p.right, programmeGauss_(programmeRng_));
            float l = 0, r = 0;
            firfilt_rrrf_execute(p.left, &l);
            firfilt_rrrf_execute(p.right, &r);
            const double scale = 1 / (kProgrammeCrest * p.noiseRms);
            const double left = std::clamp(l * scale, -1.0, 1.0);
            const double right = std::clamp(r * scale, -1.0, 1.0);
            v += p.gain * ((left + right) / 2 + (left - right) / 2 * std::sin(kTwoPi * Fraction(2 * u)));
        }
        if (noiseSigma_ > 0) v += noiseSigma_ * noiseGauss_(noiseRng_);
        out.push_back(float(v));
        ++n_;
    }
    // Forget the symbols no later sample reaches.
    const double s = rdsCycles(n_) / 48;
    const int64_t needed = int64_t(std::ceil(s - 2 * kSpan - 0.5));
    if (needed - firstSymbol_ > 4096) {
        const int64_t drop = std::min<int64_t>(needed, symbolCount_) - firstSymbol_;
        for (auto& list : symbols_) list.erase(list.begin(), list.begin() + drop);
        firstSymbol_ += drop;
    }
}

void MpxModulator::modulate(std::string_view bits, std::vector<float>& out) { modulate(bits, {}, out); }

void MpxModulator::modulate(std::string_view bits, const std::vector<std::string_view>& extra, std::vector<float>& out)
{
    if (finished_) throw std::logic_error("MpxModulator: modulate after finish");
    const auto streams = std::size_t(cfg_.rds2Streams);
    if (extra.size() < streams) throw std::invalid_argument("the bits of an RDS2 stream are missing");
    for (std::size_t k = 0; k < streams; ++k)
        if (extra[k].size() != bits.size())
            throw std::invalid_argument("RDS2 stream " + std::to_string(k + 1) + " has " +
                                        std::to_string(extra[k].size()) + " bits for " + std::to_string(bits.size()));
    // Symbol positions are whole bits, so a long call is cut into pieces to
    // keep the symbol buffer short.
    for (std::size_t at = 0; at < bits.size(); at += 1024) {
        const size_t take = std::min<size_t>(bits.size() - at, 1024);
        for (std::size_t k = 0; k <= streams; ++k) {
            const std::string_view piece = (k == 0 ? bits : extra[k - 1]).substr(at, take);
            for (char c : piece) {
                lastCoded_[k] = lastCoded_[k] != (c == '1');  // differential coding
                symbols_[k].push_back(lastCoded_[k] ? 1 : -1);
            }
        }
        symbolCount_ += int64_t(take);
        emitUpTo(double(symbolCount_), out);
    }
}

void MpxModulator::finish(std::vector<float>& out)
{
    if (finished_) return;
    finished_ = true;
    emitUpTo(double(symbolCount_ + 2 * kSpan + 1), out);
}

}  // namespace varnak::radio
