#include "rds_demodulator.h"

#include "block_decoder.h"

// <complex> before liquid.h: its complex type is then std::complex.
#include <complex>

#include <liquid/liquid.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <utility>
#include <vector>

namespace varnak::radio {

namespace {

using cf = std::complex<float>;
constexpr double kTwoPi = 6.283185307179586;
constexpr double kBitRate = 1187.5;
constexpr double kPilotHz = 19000;
constexpr double kCarrierHz = 57000;
constexpr double kFirstRate = 40000;       // about the rate after the first decimation
constexpr unsigned kSecondDecimation = 4;  // RDS: to about 10 kHz
constexpr unsigned kPilotDecimation = 16;  // pilot: to about 2.5 kHz
// RDS samples per pilot sample.
constexpr unsigned kSecondPerPilot = kPilotDecimation / kSecondDecimation;
static_assert(kPilotDecimation % kSecondDecimation == 0);
constexpr float kStopband = 60;  // dB
// RDS2's extra streams: their filters keep stream 0 (and each other) out by
// this much. A station without RDS2 leaves nothing but that leak in their
// bands, and the level is normalised, so 60 dB would let a clean stream 0
// through as groups on an extra stream (at 171 kHz the image of 57 kHz
// folds onto 71.25 kHz exactly).
constexpr float kExtraStopband = 100;  // dB
// Symbols given no reliability at the start: the loops settle and the
// biphase pairing is checked once (after 250 symbols).
constexpr uint64_t kSettleSymbols = 260;
// Carrier loop gains per symbol: following the pilot (only the offset to it
// left to track), and on the RDS signal alone once settled.
constexpr double kPilotLoopGain = 0.01;
constexpr double kOwnLoopGain = 0.03;
// The pilot coherence (see checkPilotLock) is averaged over about 0.4 s
// and trusted after the first kCoherenceSymbols (0.5 s: earlier, a carrier
// a few hertz off has not yet turned the average down far enough); the
// carrier follows the pilot above kFollowPilot and leaves it below
// kLeavePilot. A carrier 1 Hz off 3 x pilot turns the average down to
// about 0.2 of its locked value.
constexpr double kCoherenceAverage = 1.0 / 500;
constexpr uint64_t kCoherenceSymbols = 600;
constexpr double kFollowPilot = 0.35, kLeavePilot = 0.2;
// Impulses (FM clicks when the carrier fades): a symbol further than
// kOutlier standard deviations from both points counts as hit; the share of
// hit symbols is averaged over about two seconds and taken as at least
// kMinImpulseShare. An impulse lands anywhere within kImpulseReach times
// the symbol's amplitude plus the noise.
constexpr double kOutlier = 4.5;
constexpr double kImpulseAverage = 1.0 / 2500;
constexpr double kMinImpulseShare = 1e-4;
constexpr double kImpulseReach = 4;

// The data shaping of one impulse of the biphase pair, spectrum cos(pi f t/4)
// up to |f| = 2/t; x in bits, 1 at x = 0.
double ShapedImpulse(double x)
{
    const double d = 1 - 64 * x * x;
    if (std::abs(d) < 1e-9) return M_PI / 4;
    return std::cos(4 * M_PI * x) / d;
}

// The biphase symbol (impulse pair half a bit apart, shaped), x in bits from
// the first impulse.
double ShapedSymbol(double x) { return ShapedImpulse(x) - ShapedImpulse(x - 0.5); }

// Lowpass taps with unit gain at DC.
std::vector<float> Lowpass(unsigned taps, double cutoff, float stopband)
{
    std::vector<float> h(taps);
    liquid_firdes_kaiser(taps, float(cutoff), stopband, 0, h.data());
    double sum = 0;
    for (float v : h) sum += v;
    for (float& v : h) v = float(v / sum);
    return h;
}

unsigned OddLength(double transition, float stopband)
{
    return std::max(3u, estimate_req_filter_len(float(transition), stopband) | 1u);
}

// Cubic (Catmull-Rom) interpolation between p1 and p2 at fraction f.
template <class T>
T Cubic(const T& p0, const T& p1, const T& p2, const T& p3, float f)
{
    const T a = (p3 - p0) * 0.5f + (p1 - p2) * 1.5f;
    const T b = p0 - p1 * 2.5f + p2 * 2.0f - p3 * 0.5f;
    const T c = (p2 - p0) * 0.5f;
    return ((a * f + b) * f + c) * f + p1;
}

// Keeps the phase of a complex rotation within one turn.
double Wrap(double phase) { return phase - kTwoPi * std::floor(phase / kTwoPi + 0.5); }

// First stage: two bands of the real input (the RDS subcarrier and the
// pilot), each mixed down to complex baseband and decimated. The filter is
// the lowpass moved up to the band's centre, so only the decimated outputs
// are computed, as four real dot products over the same input history; the
// mixing then rotates just the outputs. This is the one loop that runs at the
// full input rate. liquid's dot product is built without SIMD in the
// distribution's package, so the four products are written with vector types
// here, reading the input once for all four.
class FirstStage {
public:
    using Vec = float __attribute__((vector_size(16)));
    static constexpr unsigned kLanes = 4;

    FirstStage(double sampleRate, double carrierHz, unsigned decimation, const std::vector<float>& lowpass)
    {
        const unsigned n = unsigned(lowpass.size());
        length_ = (n + kLanes - 1) / kLanes * kLanes;
        taps_.assign(4 * length_ / kLanes, Vec{0, 0, 0, 0});
        const double centres[2] = {carrierHz, kPilotHz};
        for (int band = 0; band < 2; ++band) {
            const double w = kTwoPi * centres[band] / sampleRate;
            // y = sum_k h[k] e^{jwk} x[n-k]; the history is read oldest
            // first, so the taps go in reversed, zeros in front.
            for (unsigned k = 0; k < n; ++k) {
                const unsigned at = length_ - 1 - k;
                setTap(2 * band, at, float(lowpass[k] * std::cos(w * k)));
                setTap(2 * band + 1, at, float(lowpass[k] * std::sin(w * k)));
            }
            const double cycles = std::fmod(centres[band] / sampleRate * decimation, 1.0);
            mixers_[band].cyclesPerOutput = cycles;
            mixers_[band].step = std::polar(1.0, -kTwoPi * cycles);
        }
    }

    // Taps (a multiple of four) the history must hold before its newest sample.
    unsigned length() const { return length_; }

    // `history` holds length() samples, the newest last.
    void execute(const float* history, cf& rds, cf& pilot)
    {
        Vec acc[4] = {};
        const Vec* t = taps_.data();
        for (unsigned k = 0; k < length_; k += kLanes, t += 4) {
            Vec x;
            std::memcpy(&x, history + k, sizeof x);
            acc[0] += t[0] * x;
            acc[1] += t[1] * x;
            acc[2] += t[2] * x;
            acc[3] += t[3] * x;
        }
        float sum[4];
        for (int i = 0; i < 4; ++i) sum[i] = acc[i][0] + acc[i][1] + acc[i][2] + acc[i][3];
        rds = mixers_[0].apply(cf(sum[0], sum[1]));
        pilot = mixers_[1].apply(cf(sum[2], sum[3]));
    }

private:
    // A lane of a vector is assigned in place (clang binds no reference to one).
    void setTap(int product, unsigned at, float value)
    {
        taps_[at / kLanes * 4 + unsigned(product)][at % kLanes] = value;
    }

    // The mixer's phase from an exact running fraction of a turn (so it does
    // not drift over hours), stepped by multiplication in between. It counts
    // from the first output; the fixed offset that leaves is the carrier
    // loop's to take up.
    struct Mixer {
        double cyclesPerOutput = 0, turn = 0;
        std::complex<double> rotation{1, 0}, step{1, 0};
        unsigned count = 0;
        cf apply(cf v)
        {
            if ((count++ & 255) == 0) rotation = std::polar(1.0, -kTwoPi * turn);
            turn += cyclesPerOutput;
            turn -= std::floor(turn);
            const cf out = v * cf(rotation);
            rotation *= step;
            return out;
        }
    };

    unsigned length_ = 0;
    std::vector<Vec> taps_;  // per group of four taps: RDS re, RDS im, pilot re, pilot im
    Mixer mixers_[2];
};

// Single-pole average.
struct Average {
    double value = 0;
    void add(double x, double k) { value += k * (x - value); }
};

}  // namespace

struct RdsDemodulator::Impl {
    Impl(double sampleRate, double carrierHz);
    ~Impl();
    void input(const float* samples, std::size_t count, std::string& bits);
    void pilotStep(cf pilot);
    // Switches the carrier to follow 3 x pilot plus an offset, or back to
    // the RDS loop alone; pilotNow is the pilot's phase at this instant.
    void followPilot(bool on, double pilotNow);
    void second(cf rds, std::string& bits);
    void symbol(std::string& bits);
    // The log-likelihood ratio of a symbol whose matched output is x + jq,
    // for BPSK at ±mu in Gaussian noise of variance sigma2 per part, hit now
    // and then by an impulse (an FM click in a fade).
    double softValue(double x, double q, double mu, double sigma2);
    // The soft values' point (amplitude) and noise variance, from their moments.
    std::pair<double, double> pointAndNoise() const;
    // Measures whether the RDS carrier keeps to 3 x pilot and switches the
    // carrier loop accordingly.
    void checkPilotLock(cf square);
    cf interpolate(double t) const;

    double fs;
    // The subcarrier as a multiple of the pilot (3 for 57 kHz). The carrier
    // follows the pilot only for a whole multiple: the pilot loop's phase is
    // kept within one turn, and a fraction of it would jump at every wrap.
    double harmonic = 3;
    bool pilotAid = true;
    unsigned decimation;  // first stage
    double rate2;         // after the second stage
    double samplesPerBit;

    // First stage: input history (the last taps - 1 samples lead the buffer).
    std::vector<float> history;
    std::size_t filled = 0;
    unsigned taps1 = 0;
    unsigned phase1 = 0;  // input samples since the last first-stage output
    std::unique_ptr<FirstStage> first;

    // Second stage.
    firdecim_crcf rdsDecim = nullptr, pilotDecim = nullptr;
    cf rdsPending[kSecondDecimation], pilotPending[kPilotDecimation];
    unsigned pending = 0, pilotPendingCount = 0;

    // Pilot loop (phase in radians, frequency in radians per pilot sample);
    // the RDS samples since its last step extrapolate its phase.
    double ratePilot;
    nco_crcf pilotNco = nullptr;
    double pilotPhase = 0, pilotFreq = 0;
    unsigned sincePilot = 0;
    uint64_t pilotSamples = 0;
    Average pilotInPhase, pilotMagnitude;
    bool pilotLocked = false;

    // Carrier: phase = 3 * pilot phase + offset while the RDS carrier is
    // measured to be locked to the pilot, else the offset alone (the RDS
    // signal's own loop). Frequency in radians per second-stage sample.
    double carrierOffset = 0, carrierFreq = 0;
    bool onPilot = false;  // the carrier follows the pilot
    // The squared symbols turned back by the phase of 3 x pilot, averaged,
    // over the average symbol power: near 1 for a strong RDS carrier locked
    // to the pilot, near 0 when the two run apart.
    std::complex<double> pilotCoherence{0, 0};
    Average symbolPower;
    firfilt_crcf matched = nullptr;
    double matchedGain = 1;  // sum of the matched filter's squared taps
    double peakPerImpulse = 0;

    // Symbol timing: history of the matched filter's output at the second rate.
    static constexpr unsigned kHistory = 64;
    cf out[kHistory];
    uint64_t n2 = 0;        // samples at the second rate so far
    double strobe = 0;      // position of the next bit centre, in samples
    double timingFreq = 0;  // correction of the bit period, samples
    uint64_t symbolCount = 0;
    Average energyMain, energyHalf;
    uint64_t lastHalfCheck = 0;
    cf previousSquare{0, 0};

    // Soft values: moments of the real part at the strobes.
    Average m2, m4, lockMeasure;
    Average impulses;  // share of symbols hit by an impulse

    SoftBlockDecoder blocks;
    uint64_t samples = 0, bitCount = 0;
};

RdsDemodulator::Impl::Impl(double sampleRate, double carrierHz)
    : fs(sampleRate),
      harmonic(carrierHz / kPilotHz),
      pilotAid(harmonic == std::floor(harmonic)),
      blocks(carrierHz == kCarrierHz ? SoftBlockDecoder::Groups::AB : SoftBlockDecoder::Groups::TypeC)
{
    decimation = std::max(1u, unsigned(std::lround(fs / kFirstRate)));
    const double rate1 = fs / decimation;
    rate2 = rate1 / kSecondDecimation;
    samplesPerBit = rate2 / kBitRate;

    // First stage: pass the band ± 4 kHz, stop what would fold onto it.
    const double pass = 4000, stop = rate1 - 4000;
    const float stopband = carrierHz == kCarrierHz ? kStopband : kExtraStopband;
    const std::vector<float> lowpass =
        Lowpass(OddLength((stop - pass) / fs, stopband), (pass + stop) / 2 / fs, stopband);
    first = std::make_unique<FirstStage>(fs, carrierHz, decimation, lowpass);
    taps1 = first->length();
    history.assign(taps1 - 1 + 4096, 0.0f);
    filled = taps1 - 1;

    // Second stage. RDS: pass ± 2.4 kHz, stop before the fold at the next rate.
    {
        const double p = 2400, s = rate2 - 2400;
        const std::vector<float> h = Lowpass(OddLength((s - p) / rate1, stopband), (p + s) / 2 / rate1, stopband);
        rdsDecim = firdecim_crcf_create(kSecondDecimation, const_cast<float*>(h.data()), unsigned(h.size()));
    }
    ratePilot = rate1 / kPilotDecimation;
    {
        const double p = 400, s = ratePilot - 400;
        const std::vector<float> h = Lowpass(OddLength((s - p) / rate1, kStopband), (p + s) / 2 / rate1, kStopband);
        pilotDecim = firdecim_crcf_create(kPilotDecimation, const_cast<float*>(h.data()), unsigned(h.size()));
    }

    // Pilot loop: liquid's second-order loop (frequency gain bw, phase gain
    // sqrt(bw)); a natural frequency of about 10 Hz.
    {
        const double wn = kTwoPi * 10 / ratePilot;
        pilotNco = nco_crcf_create(LIQUID_VCO);
        nco_crcf_pll_set_bandwidth(pilotNco, float(wn * wn));
    }

    // Matched filter: the biphase symbol reversed, over [-1, 1.5] bits.
    {
        std::vector<float> g;
        const double first = -1.0, last = 1.5;
        const int n0 = int(std::ceil(first * samplesPerBit)), n1 = int(std::floor(last * samplesPerBit));
        double energy = 0;
        const unsigned length = unsigned(n1 - n0 + 1);
        for (int n = n1; n >= n0; --n) {
            const double w = liquid_kaiser(unsigned(n - n0), length, 6);
            g.push_back(float(ShapedSymbol(n / samplesPerBit) * w));
            energy += double(g.back()) * g.back();
        }
        matchedGain = energy;
        matched = firfilt_crcf_create(g.data(), unsigned(g.size()));
    }
    // The worst-case peak of the shaped biphase signal for unit impulses: all
    // neighbouring symbols adding up.
    for (int step = 0; step < 64; ++step) {
        double sum = 0;
        for (int k = -8; k <= 8; ++k) sum += std::abs(ShapedSymbol(step / 64.0 + k));
        peakPerImpulse = std::max(peakPerImpulse, sum);
    }
    for (cf& v : out) v = 0;
    strobe = 8 * samplesPerBit;
}

RdsDemodulator::Impl::~Impl()
{
    firdecim_crcf_destroy(rdsDecim);
    firdecim_crcf_destroy(pilotDecim);
    nco_crcf_destroy(pilotNco);
    firfilt_crcf_destroy(matched);
}

void RdsDemodulator::Impl::input(const float* data, std::size_t count, std::string& bits)
{
    while (count > 0) {
        if (filled == history.size()) {
            std::copy(history.end() - (taps1 - 1), history.end(), history.begin());
            filled = taps1 - 1;
        }
        const std::size_t take = std::min(count, history.size() - filled);
        for (std::size_t i = 0; i < take; ++i) {
            const float x = data[i];
            history[filled++] = std::isfinite(x) ? x : 0.0f;
            if (++phase1 == decimation) {
                phase1 = 0;
                const float* h = history.data() + filled - taps1;
                first->execute(h, rdsPending[pending], pilotPending[pilotPendingCount]);
                if (++pilotPendingCount == kPilotDecimation) {
                    pilotPendingCount = 0;
                    cf p;
                    firdecim_crcf_execute(pilotDecim, pilotPending, &p);
                    pilotStep(p);
                }
                if (++pending == kSecondDecimation) {
                    pending = 0;
                    cf r;
                    firdecim_crcf_execute(rdsDecim, rdsPending, &r);
                    second(r, bits);
                }
            }
        }
        data += take;
        count -= take;
        samples += take;
    }
}

void RdsDemodulator::Impl::pilotStep(cf pilot)
{
    const double previous = pilotPhase + pilotFreq * sincePilot / double(kSecondPerPilot);
    cf rotated;
    nco_crcf_mix_down(pilotNco, pilot, &rotated);
    nco_crcf_pll_step(pilotNco, std::arg(rotated));
    nco_crcf_step(pilotNco);
    pilotPhase = nco_crcf_get_phase(pilotNco);
    pilotFreq = nco_crcf_get_frequency(pilotNco);
    sincePilot = 0;
    ++pilotSamples;
    constexpr double kPilotAverage = 0.008;
    pilotInPhase.add(rotated.real(), kPilotAverage);
    pilotMagnitude.add(std::abs(rotated), kPilotAverage);
    const double quality = pilotInPhase.value / (pilotMagnitude.value + 1e-30);
    if (double(pilotSamples) > ratePilot / 5) pilotLocked = pilotLocked ? quality > 0.5 : quality > 0.7;
    // A carrier on a pilot that went away runs on by itself.
    if (onPilot && !pilotLocked) followPilot(false, previous);
}

void RdsDemodulator::Impl::followPilot(bool on, double pilotNow)
{
    // Keep the carrier's phase and frequency continuous across the switch.
    const double sign = on ? -1 : 1;
    carrierOffset = Wrap(carrierOffset + sign * harmonic * pilotNow);
    carrierFreq += sign * harmonic * pilotFreq / kSecondPerPilot;
    onPilot = on;
}

void RdsDemodulator::Impl::second(cf rds, std::string& bits)
{
    // Carrier and matched filter.
    firfilt_crcf_push(matched, rds);
    cf y;
    firfilt_crcf_execute(matched, &y);
    carrierOffset = Wrap(carrierOffset + carrierFreq);
    const double pilotNow = pilotPhase + pilotFreq * sincePilot++ / double(kSecondPerPilot);
    const double carrier = carrierOffset + (onPilot ? harmonic * pilotNow : 0);
    out[n2 % kHistory] = y * std::polar(1.0f, float(-carrier));
    ++n2;

    // A bit centre is handled once the samples half a bit beyond it are in.
    while (double(n2) >= strobe + samplesPerBit / 2 + 3) symbol(bits);
}

cf RdsDemodulator::Impl::interpolate(double t) const
{
    const double base = std::floor(t);
    const auto i = int64_t(base);
    const float f = float(t - base);
    auto at = [&](int64_t k) { return k < 0 ? cf(0) : out[uint64_t(k) % kHistory]; };
    return Cubic(at(i - 1), at(i), at(i + 1), at(i + 2), f);
}

std::pair<double, double> RdsDemodulator::Impl::pointAndNoise() const
{
    // For BPSK in Gaussian noise mu^4 = (3 m2^2 - m4) / 2.
    const double mu4 = (3 * m2.value * m2.value - m4.value) / 2;
    const double mu = mu4 > 0 ? std::sqrt(std::sqrt(mu4)) : 0;
    return {mu, std::max(m2.value - mu * mu, m2.value * 1e-4) + 1e-30};
}

double RdsDemodulator::Impl::softValue(double x, double q, double mu, double sigma2)
{
    // Outliers: symbols further from both points (and from the carrier's
    // axis) than Gaussian noise goes. Their share is the chance that an
    // impulse hit a symbol.
    const double spread = std::min((x - mu) * (x - mu), (x + mu) * (x + mu)) + q * q;
    // A running mean at first, so that the share is right from the start.
    const double k = std::max(kImpulseAverage, 1.0 / double(symbolCount));
    impulses.add(spread > kOutlier * kOutlier * sigma2 ? 1.0 : 0.0, k);
    const double share = std::clamp(impulses.value, kMinImpulseShare, 0.5);
    // The likelihoods of +mu and -mu: Gaussian noise in both parts, or an
    // impulse spread evenly over a square of half-side `reach` in x and q.
    const double reach = kImpulseReach * (mu + std::sqrt(sigma2));
    const double a = -((x - mu) * (x - mu) + q * q) / (2 * sigma2);
    const double b = -((x + mu) * (x + mu) + q * q) / (2 * sigma2);
    const double c = std::log(share / (1 - share) * kTwoPi * sigma2 / (4 * reach * reach));
    auto logAdd = [](double u, double v) { return std::max(u, v) + std::log1p(std::exp(-std::abs(u - v))); };
    return logAdd(a, c) - logAdd(b, c);
}

void RdsDemodulator::Impl::checkPilotLock(cf square)
{
    if (!pilotLocked || !pilotAid) {
        pilotCoherence = 0;
        return;
    }
    // The squared symbol's phase against 3 x pilot: the carrier applied
    // less 3 x pilot, plus what the symbol is still off.
    const double pilotNow = pilotPhase + pilotFreq * sincePilot / double(kSecondPerPilot);
    const double toPilot = onPilot ? carrierOffset : carrierOffset - harmonic * pilotNow;
    const std::complex<double> turned = std::complex<double>(square) * std::polar(1.0, 2 * toPilot);
    pilotCoherence += kCoherenceAverage * (turned - pilotCoherence);
    symbolPower.add(std::norm(square) > 0 ? std::abs(square) : 0, kCoherenceAverage);
    if (symbolCount < kCoherenceSymbols) return;
    const double coherence = std::abs(pilotCoherence) / (symbolPower.value + 1e-30);
    if (!onPilot && coherence > kFollowPilot) {
        // The average's phase is the RDS carrier's against 3 x pilot, twice:
        // of the two phases it allows, the one nearer the carrier now keeps
        // the symbols' sign (a sign flip would cost a group). The own loop
        // may have been off in frequency at low CNR.
        onPilot = true;
        const double measured = std::arg(pilotCoherence) / 2;
        carrierOffset = std::abs(Wrap(measured - toPilot)) <= M_PI / 2 ? measured : Wrap(measured + M_PI);
        carrierFreq = 0;
    } else if (onPilot && coherence < kLeavePilot)
        followPilot(false, pilotNow);
}

void RdsDemodulator::Impl::symbol(std::string& bits)
{
    const double t = strobe;
    const cf y = interpolate(t);
    const double quarter = samplesPerBit / 4;
    const float early = interpolate(t - quarter).real(), late = interpolate(t + quarter).real();
    const float half = interpolate(t + samplesPerBit / 2).real();
    ++symbolCount;

    // Moments of the soft value, for its scale and the noise. Once they
    // have settled, a value beyond the points' reach (an impulse) counts
    // only up to that reach: the fourth moment would take it far too much.
    const double x = y.real();
    const double k = symbolCount < 200 ? 1.0 / double(symbolCount) : 1.0 / 200;
    double xm = x;
    if (symbolCount > 200) {
        const auto [mu, sigma2] = pointAndNoise();
        const double reach = mu + kOutlier * std::sqrt(sigma2);
        xm = std::clamp(x, -reach, reach);
    }
    m2.add(xm * xm, k);
    m4.add(xm * xm * xm * xm, k);
    const double power = m2.value + 1e-30;

    // Timing: early-late on the matched output, second-order loop whose
    // bandwidth narrows after the start.
    const double te = x * (late - early) / power;
    const double gain = std::max(0.006, 0.05 * std::exp(-double(symbolCount) / 800));
    // The detector's slope is about 4 pi / samplesPerBit per sample of error.
    const double detectorSlope = 4 * M_PI / samplesPerBit;
    const double correction = std::clamp(te / detectorSlope, -samplesPerBit / 8, samplesPerBit / 8);
    timingFreq += gain * gain / 4 * correction;
    strobe = t + samplesPerBit + timingFreq + gain * correction;

    // Biphase pairing: the bit centre has more energy than the point half a
    // bit away; if not, the strobe sits between two bits.
    energyMain.add(x * x, 0.01);
    energyHalf.add(double(half) * half, 0.01);
    if (symbolCount - lastHalfCheck > 250) {
        lastHalfCheck = symbolCount;
        if (energyHalf.value > 1.3 * energyMain.value) {
            strobe += samplesPerBit / 2;
            std::swap(energyMain.value, energyHalf.value);
        }
    }

    // Carrier: Costas error from the squared symbol. Following the pilot,
    // only a narrow second-order loop for the offset runs; on its own, a
    // frequency-aided loop.
    const cf square = y * y;
    const double ce = std::arg(square) / 2;
    // The loops start wide and narrow over the first seconds; the frequency
    // detector (phase step between squared symbols) helps the start but is
    // noisy at low CNR, so it fades almost out.
    const double start = std::exp(-double(symbolCount) / 1500);
    const double cgain = onPilot ? kPilotLoopGain : std::max(kOwnLoopGain, 0.15 * start);
    carrierOffset = Wrap(carrierOffset + cgain * ce);
    double fstep = cgain * cgain / 4 * ce;
    if (!onPilot) {
        const double fe = std::arg(square * std::conj(previousSquare)) / 2;  // radians per bit
        fstep += std::norm(previousSquare) > 0 ? std::max(0.0003, 0.003 * start) * fe : 0;
    }
    carrierFreq += fstep / samplesPerBit;
    previousSquare = square;
    checkPilotLock(square);
    lockMeasure.add(std::cos(2 * ce), 0.005);

    const auto [mu, sigma2] = pointAndNoise();
    // While the loops settle (and the pairing is checked once) the symbols
    // count as unknown, so no block is taken from them.
    const double llr =
        symbolCount <= kSettleSymbols ? 0.0 : std::clamp(softValue(x, y.imag(), mu, sigma2), -50.0, 50.0);
    const std::size_t before = bits.size();
    blocks.push(float(llr), bits);
    bitCount += bits.size() - before;
}

RdsDemodulator::RdsDemodulator(double sampleRate, double subcarrierHz)
{
    if (!(sampleRate >= kMinRate && sampleRate <= kMaxRate))
        throw std::invalid_argument("sample rate " + std::to_string(sampleRate) +
                                    " Hz: the RDS demodulator takes 128 kHz to 384 kHz");
    if (!(subcarrierHz >= kCarrierHz && subcarrierHz <= 76000) || !CarriesSubcarrier(sampleRate, subcarrierHz))
        throw std::invalid_argument("a subcarrier at " + std::to_string(subcarrierHz) + " Hz cannot be taken from " +
                                    std::to_string(sampleRate) + " Hz sampling");
    d_ = std::make_unique<Impl>(sampleRate, subcarrierHz);
}

bool RdsDemodulator::CarriesSubcarrier(double sampleRate, double subcarrierHz)
{
    // The first stage passes the subcarrier ± 4 kHz; all of it must lie
    // below half the sample rate.
    return subcarrierHz + 4000 <= sampleRate / 2;
}

RdsDemodulator::~RdsDemodulator() = default;

void RdsDemodulator::push(const float* samples, std::size_t count, std::string& bits)
{
    if (count > 0) d_->input(samples, count, bits);
}

void RdsDemodulator::finish(std::string& bits)
{
    const std::size_t before = bits.size();
    d_->blocks.finish(bits);
    d_->bitCount += bits.size() - before;
}

SignalReport RdsDemodulator::report() const
{
    const Impl& d = *d_;
    SignalReport r;
    r.pilotPresent = d.pilotLocked;
    // The bands' filters pass their centre with gain 1 and the mixing halves
    // a real tone's amplitude.
    r.pilotLevel = d.pilotLocked ? 2 * d.pilotInPhase.value : 0;
    const double mu4 = (3 * d.m2.value * d.m2.value - d.m4.value) / 2;
    const double mu = mu4 > 0 ? std::sqrt(std::sqrt(mu4)) : 0;
    const double sigma2 = std::max(d.m2.value - mu * mu, 1e-30);
    r.rdsLevel = 2 * mu / d.matchedGain * d.peakPerImpulse;
    // Eb/N0 = mu^2 / (2 sigma^2) at the matched filter; CNR in 4.8 kHz is
    // Eb/N0 times 1187.5 / 4800.
    r.cnrDb = mu > 0 ? 10 * std::log10(mu * mu / (2 * sigma2) * kBitRate / 4800) : -99;
    // Locked: the carrier loop settled (its squared phase error small on
    // average) on symbols that stand out of the noise; a loop also settles
    // on noise alone, where the symbols' spread gives about -12 dB or less.
    r.locked = d.symbolCount > 1000 && d.lockMeasure.value > 0.3 && r.cnrDb > -8;
    r.rdsFound = d.blocks.blocksClean() > 0;
    r.samples = d.samples;
    r.bits = d.bitCount;
    return r;
}

void RdsDemodulator::setMarkSure(bool on) { d_->blocks.setMarkSure(on); }
uint64_t RdsDemodulator::blocksClean() const { return d_->blocks.blocksClean(); }
uint64_t RdsDemodulator::blocksDamaged() const { return d_->blocks.blocksDamaged(); }

}  // namespace varnak::radio
