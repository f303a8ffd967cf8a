#include "radio_channel.h"

#include "mpx_modulator.h"

// <complex> before liquid.h: its complex type is then std::complex.
#include <complex>

#include <liquid/liquid.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace varnak::radio {

namespace {

using cf = std::complex<float>;
using cd = std::complex<double>;
constexpr double kTwoPi = 6.283185307179586;
constexpr double kPeakDeviationHz = 75000;  // full scale of the multiplex
constexpr double kNoiseBandHz = 200000;     // the band the C/N is given in
constexpr unsigned kFadingUpdate = 32;      // channel samples per fading gain update
constexpr unsigned kHistory = 1024;         // channel samples kept for the echoes (power of two)
constexpr double kMaxEchoUs = 500;
// The receiver's channel filter: the FM signal's ±75 kHz passes, what would
// fold onto it at the multiplex rate is stopped.
constexpr double kReceiverPassHz = 80000, kReceiverStopHz = 100000;
constexpr float kStopbandDb = 60;

// A path of a multipath profile: delay, mean power, Doppler spectrum.
struct ProfilePath {
    double delayUs, powerDb;
    bool lineOfSight;
};
// COST 207 typical urban (six paths) and rural area (four paths). The
// profiles give the long-delay paths of typical urban Gaussian Doppler
// spectra; here every scattered path has the classic one. The rural area's
// first path has a line of sight at 0.7 x the maximum Doppler, 0.91 of
// power against 0.41 scattered.
constexpr ProfilePath kTypicalUrban[] = {{0, -3, false},   {0.2, 0, false},  {0.5, -2, false},
                                         {1.6, -6, false}, {2.3, -8, false}, {5.0, -10, false}};
constexpr ProfilePath kRuralArea[] = {{0, 0, true}, {0.2, -2, false}, {0.4, -10, false}, {0.6, -20, false}};
constexpr double kRuralLosK = 0.91 / 0.41, kRuralLosDoppler = 0.7;

// Cubic (Catmull-Rom) interpolation between p1 and p2 at fraction f.
cf Cubic(cf p0, cf p1, cf p2, cf p3, float f)
{
    const cf a = (p3 - p0) * 0.5f + (p1 - p2) * 1.5f;
    const cf b = p0 - p1 * 2.5f + p2 * 2.0f - p3 * 0.5f;
    const cf c = (p2 - p0) * 0.5f;
    return ((a * f + b) * f + c) * f + p1;
}

// Gaussian numbers, fast and reproducible: xoshiro256+ and the polar method.
class Gauss {
public:
    explicit Gauss(uint64_t seed)
    {
        std::seed_seq seq{uint32_t(seed), uint32_t(seed >> 32), 0x5eedu};
        uint32_t words[8];
        seq.generate(words, words + 8);
        for (int i = 0; i < 4; ++i) s_[i] = uint64_t(words[2 * i]) << 32 | words[2 * i + 1];
    }
    // A complex number of variance 1 (1/2 per part).
    cf pair()
    {
        for (;;) {
            const double u = uniform() * 2 - 1, v = uniform() * 2 - 1;
            const double r = u * u + v * v;
            if (r >= 1 || r == 0) continue;
            const double k = std::sqrt(-std::log(r) / r);
            return {float(u * k), float(v * k)};
        }
    }

private:
    double uniform()
    {
        const uint64_t result = s_[0] + s_[3];
        const uint64_t t = s_[1] << 17;
        s_[2] ^= s_[0];
        s_[3] ^= s_[1];
        s_[1] ^= s_[2];
        s_[0] ^= s_[3];
        s_[2] ^= t;
        s_[3] = s_[3] << 45 | s_[3] >> 19;
        return double(result >> 11) * 0x1.0p-53;
    }
    uint64_t s_[4];
};

// Frequency modulation of a multiplex at the channel's rate.
class FmModulator {
public:
    FmModulator(unsigned factor, double rfRate) : factor_(factor), buffer_(factor)
    {
        interp_ = firinterp_rrrf_create_kaiser(factor, 12, kStopbandDb);
        radiansPerUnit_ = kTwoPi * kPeakDeviationHz / rfRate;
    }
    ~FmModulator() { firinterp_rrrf_destroy(interp_); }
    FmModulator(const FmModulator&) = delete;
    FmModulator& operator=(const FmModulator&) = delete;

    // The factor channel samples of one multiplex sample, times `gain`.
    void modulate(float mpx, cf* out, double gain = 1)
    {
        firinterp_rrrf_execute(interp_, mpx, buffer_.data());
        for (unsigned i = 0; i < factor_; ++i) {
            phase_ += radiansPerUnit_ * buffer_[i];
            if (std::abs(phase_) > kTwoPi) phase_ = std::fmod(phase_, kTwoPi);
            out[i] = cf(std::polar(gain, phase_));
        }
    }

private:
    unsigned factor_;
    std::vector<float> buffer_;
    firinterp_rrrf interp_ = nullptr;
    double radiansPerUnit_ = 0, phase_ = 0;
};

}  // namespace

std::optional<FadingModel> FadingModelByName(const std::string& name)
{
    if (name == "none") return FadingModel::None;
    if (name == "rayleigh") return FadingModel::Rayleigh;
    if (name == "rician") return FadingModel::Rician;
    if (name == "tu") return FadingModel::TypicalUrban;
    if (name == "ra") return FadingModel::RuralArea;
    return std::nullopt;
}

FadingPath::FadingPath(double dopplerHz, double updateRate, std::mt19937_64& rng, double ricianK,
                       double losDopplerFraction)
{
    std::uniform_real_distribution<double> turn(0, kTwoPi);
    const double scale = std::sqrt(1.0 / kSinusoids);
    for (int m = 0; m < kSinusoids; ++m) {
        // Arrivals from all around: each sinusoid the Doppler of its direction.
        const double direction = (kTwoPi * m + turn(rng) / 2) / kSinusoids;
        const double hz = dopplerHz * std::cos(direction);
        rotation_[m] = std::polar(scale, turn(rng));
        step_[m] = std::polar(1.0, kTwoPi * hz / updateRate);
    }
    scatteredScale_ = std::sqrt(1 / (1 + ricianK));
    if (ricianK > 0) {
        losAmplitude_ = std::sqrt(ricianK / (1 + ricianK));
        los_ = std::polar(losAmplitude_, turn(rng));
        losStep_ = std::polar(1.0, kTwoPi * dopplerHz * losDopplerFraction / updateRate);
    }
}

cd FadingPath::next()
{
    cd sum = 0;
    for (const cd& r : rotation_) sum += r;
    const cd gain = sum * scatteredScale_ + los_;
    for (int m = 0; m < kSinusoids; ++m) rotation_[m] *= step_[m];
    los_ *= losStep_;
    // Keep the rotations on their circles over hours of steps.
    if ((++count_ & 1023) == 0) {
        const double scale = std::sqrt(1.0 / kSinusoids);
        for (cd& r : rotation_) r *= scale / std::abs(r);
        if (losAmplitude_ > 0) los_ *= losAmplitude_ / std::abs(los_);
    }
    return gain;
}

struct RadioChannel::Impl {
    explicit Impl(const ChannelConfig& c);
    ~Impl() { firdecim_crcf_destroy(decimator); }
    void transmitOne(float mpx, cf* out);

    ChannelConfig cfg;
    unsigned factor = 6;
    double rfRate = 0;

    FmModulator wanted;
    struct Path {
        double delay = 0;  // channel samples
        cd fixed{1, 0};    // static gain (amplitude and phase)
        std::unique_ptr<FadingPath> fading;
        cd from{0, 0}, to{0, 0};  // gains at the last and the next update
    };
    std::vector<Path> paths;
    bool single = true;  // one path without delay: no history needed
    std::vector<cf> history;
    uint64_t n = 0;  // channel samples so far

    double power = 1, noiseSigma = 0;
    Gauss gauss;

    // The interferer: its own multiplex (stereo programme, pilot, RDS of
    // random data), frequency modulated and moved to its offset.
    std::unique_ptr<MpxModulator> otherMpx;
    std::unique_ptr<FmModulator> other;
    std::vector<float> otherSamples;
    std::size_t otherUsed = 0;
    std::mt19937_64 otherBits;
    cd otherRotation{1, 0}, otherStep{1, 0};
    double otherGain = 0;

    firdecim_crcf decimator = nullptr;
    std::vector<cf> rfBuffer;
    cf previous{1, 0};
    double discriminatorScale = 0;
};

RadioChannel::Impl::Impl(const ChannelConfig& c)
    : cfg(c),
      factor(std::max(2u, unsigned(1000000 / unsigned(c.mpxRate)) + 1)),
      rfRate(c.mpxRate * factor),
      wanted(factor, rfRate),
      gauss(c.seed * 3 + 1),
      otherBits(c.seed * 3 + 2)
{
    std::mt19937_64 rng(c.seed * 3);
    const double update = rfRate / kFadingUpdate;
    auto addPath = [&](double delayUs, double powerDb, double phaseDeg, bool fading, double k, double losFraction) {
        Path p;
        p.delay = delayUs * 1e-6 * rfRate;
        p.fixed = std::polar(std::pow(10.0, powerDb / 20), phaseDeg * kTwoPi / 360);
        if (fading) {
            p.fading = std::make_unique<FadingPath>(cfg.dopplerHz, update, rng, k, losFraction);
            p.to = p.fixed * p.fading->next();
        } else {
            p.to = p.fixed;
        }
        p.from = p.to;
        paths.push_back(std::move(p));
    };
    switch (cfg.fading) {
        case FadingModel::None:
            addPath(0, 0, 0, false, 0, 1);
            break;
        case FadingModel::Rayleigh:
            addPath(0, 0, 0, true, 0, 1);
            break;
        case FadingModel::Rician:
            addPath(0, 0, 0, true, std::pow(10.0, cfg.ricianKDb / 10), 1);
            break;
        case FadingModel::TypicalUrban:
        case FadingModel::RuralArea: {
            const bool urban = cfg.fading == FadingModel::TypicalUrban;
            const ProfilePath* begin = urban ? std::begin(kTypicalUrban) : std::begin(kRuralArea);
            const ProfilePath* end = urban ? std::end(kTypicalUrban) : std::end(kRuralArea);
            double total = 0;
            for (const ProfilePath* p = begin; p != end; ++p) total += std::pow(10.0, p->powerDb / 10);
            for (const ProfilePath* p = begin; p != end; ++p)
                addPath(p->delayUs, p->powerDb - 10 * std::log10(total), 0, true, p->lineOfSight ? kRuralLosK : 0,
                        kRuralLosDoppler);
            break;
        }
    }
    // Static echoes on top of the direct signal (or of the first path of a
    // profile), fading with it when it fades.
    for (const ChannelEcho& e : cfg.echoes) addPath(e.delayUs, e.levelDb, e.phaseDeg, false, 0, 1);
    power = 0;
    for (const Path& p : paths) power += std::norm(p.fixed);
    single = paths.size() == 1 && paths.front().delay == 0;
    history.assign(kHistory, cf(0));

    if (cfg.cnDb) {
        // White noise over the channel's band: the share 200 kHz / rfRate
        // falls in the band the C/N is given in.
        const double bandNoise = power / std::pow(10.0, *cfg.cnDb / 10);
        noiseSigma = std::sqrt(bandNoise * rfRate / kNoiseBandHz);
    }

    if (cfg.interferer) {
        MpxConfig m;
        m.sampleRate = cfg.mpxRate;
        m.stereo = true;
        m.programmeLevel = 0.9;
        m.rdsLevel = 4.0 / 75;
        m.seed = c.seed * 3 + 3;
        otherMpx = std::make_unique<MpxModulator>(m);
        other = std::make_unique<FmModulator>(factor, rfRate);
        otherStep = std::polar(1.0, kTwoPi * cfg.interferer->offsetKHz * 1000 / rfRate);
        otherGain = std::sqrt(power * std::pow(10.0, cfg.interferer->levelDb / 10));
    }

    std::vector<float> h(
        std::max(3u, estimate_req_filter_len(float((kReceiverStopHz - kReceiverPassHz) / rfRate), kStopbandDb) | 1u));
    liquid_firdes_kaiser(unsigned(h.size()), float((kReceiverPassHz + kReceiverStopHz) / 2 / rfRate), kStopbandDb, 0,
                         h.data());
    double sum = 0;
    for (float v : h) sum += v;
    for (float& v : h) v = float(v / sum);
    decimator = firdecim_crcf_create(factor, h.data(), unsigned(h.size()));
    rfBuffer.resize(factor);
    discriminatorScale = cfg.mpxRate / (kTwoPi * kPeakDeviationHz);
}

void RadioChannel::Impl::transmitOne(float mpx, cf* out)
{
    wanted.modulate(mpx, out);
    for (unsigned i = 0; i < factor; ++i, ++n) {
        if (n % kFadingUpdate == 0)
            for (Path& p : paths)
                if (p.fading) {
                    p.from = p.to;
                    p.to = p.fixed * p.fading->next();
                }
        const float f = float(n % kFadingUpdate) / kFadingUpdate;
        const cf x = out[i];
        cf y;
        if (single) {
            const Path& p = paths.front();
            y = x * cf(p.from + (p.to - p.from) * double(f));
        } else {
            history[n & (kHistory - 1)] = x;
            y = 0;
            for (const Path& p : paths) {
                const double at = double(n) - p.delay;
                const double base = std::floor(at);
                const auto k = int64_t(base);
                auto h = [&](int64_t j) { return j < 0 ? cf(0) : history[uint64_t(j) & (kHistory - 1)]; };
                // The newest sample stands in for the one after it (delays
                // under a sample read a hair early).
                const cf delayed = p.delay == 0 ? x
                                                : Cubic(h(k - 1), h(k), k + 1 > int64_t(n) ? x : h(k + 1),
                                                        k + 2 > int64_t(n) ? x : h(k + 2), float(at - base));
                y += delayed * cf(p.from + (p.to - p.from) * double(f));
            }
        }
        out[i] = y;
    }
    if (other) {
        if (otherUsed == otherSamples.size()) {
            otherSamples.clear();
            otherUsed = 0;
            std::string bits(64, '0');
            for (char& b : bits) b = char('0' + (otherBits() & 1));
            otherMpx->modulate(bits, otherSamples);
        }
        cf o[16];
        other->modulate(otherSamples[otherUsed++], o, otherGain);
        for (unsigned i = 0; i < factor; ++i) {
            out[i] += o[i] * cf(otherRotation);
            otherRotation *= otherStep;
        }
        otherRotation /= std::abs(otherRotation);
    }
    if (noiseSigma > 0)
        for (unsigned i = 0; i < factor; ++i) out[i] += gauss.pair() * float(noiseSigma);
}

RadioChannel::RadioChannel(const ChannelConfig& config)
{
    const ChannelConfig& c = config;
    if (!(c.mpxRate >= 128000 && c.mpxRate <= 400000))
        throw std::invalid_argument("channel: multiplex rate " + std::to_string(c.mpxRate) +
                                    " Hz is outside 128..400 kHz");
    if (c.cnDb && !std::isfinite(*c.cnDb)) throw std::invalid_argument("channel: the C/N is not a number");
    if (!(c.dopplerHz >= 0 && c.dopplerHz <= 1000))
        throw std::invalid_argument("channel: Doppler " + std::to_string(c.dopplerHz) + " Hz is outside 0..1000");
    if (!std::isfinite(c.ricianKDb)) throw std::invalid_argument("channel: the Rician K is not a number");
    for (const ChannelEcho& e : c.echoes)
        if (!(e.delayUs >= 0 && e.delayUs <= kMaxEchoUs) || !std::isfinite(e.levelDb) || !std::isfinite(e.phaseDeg))
            throw std::invalid_argument("channel: an echo's delay is outside 0..500 us or a value is not a number");
    if (c.interferer && (!(std::abs(c.interferer->offsetKHz) <= 1000) || !std::isfinite(c.interferer->levelDb)))
        throw std::invalid_argument("channel: the interferer's offset is beyond ±1000 kHz or not a number");
    d_ = std::make_unique<Impl>(config);
}

RadioChannel::~RadioChannel() = default;

double RadioChannel::rfRate() const { return d_->rfRate; }
double RadioChannel::carrierPower() const { return d_->power; }
double RadioChannel::noiseVariance() const { return d_->noiseSigma * d_->noiseSigma; }

void RadioChannel::transmit(const float* mpx, std::size_t count, std::vector<cf>& rf)
{
    const std::size_t at = rf.size();
    rf.resize(at + count * d_->factor);
    for (std::size_t i = 0; i < count; ++i) d_->transmitOne(mpx[i], rf.data() + at + i * d_->factor);
}

void RadioChannel::process(const float* mpx, std::size_t count, std::vector<float>& out)
{
    Impl& d = *d_;
    out.reserve(out.size() + count);
    for (std::size_t i = 0; i < count; ++i) {
        d.transmitOne(mpx[i], d.rfBuffer.data());
        cf z;
        firdecim_crcf_execute(d.decimator, d.rfBuffer.data(), &z);
        // Polar discriminator: the phase step between samples is the
        // instantaneous frequency.
        out.push_back(float(std::arg(z * std::conj(d.previous)) * d.discriminatorScale));
        d.previous = z;
    }
}

}  // namespace varnak::radio
