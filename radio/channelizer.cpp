#include "channelizer.h"

#include <fftw3.h>
#include <liquid/liquid.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace varnak::radio {

namespace {

// Each channel leaves the capture at about this rate (or the next above it
// that divides evenly): room for ±115 kHz of FM and a transition band.
constexpr double kTargetChannelRate = 300e3;
// The channel filter's passband edge and its stopband attenuation.
constexpr double kPassbandHz = 115e3;
constexpr float kStopbandDb = 60.0f;
// Peak deviation that the discriminator maps to full scale.
constexpr double kFullScaleDeviation = 75e3;

constexpr double kTwoPi = 6.283185307179586;
constexpr std::size_t kSpectrumEvery = 4;

// atan2 to within 2e-6 rad, several times faster than the library's: the
// discriminator's one call per sample and station is the band's hottest
// line. A minimax polynomial on [0, 1], then the octant.
inline float FastAtan2(float y, float x)
{
    const float ax = std::abs(x), ay = std::abs(y);
    const float big = std::max(ax, ay), small = std::min(ax, ay);
    if (big == 0.0f) return 0.0f;
    const float z = small / big, z2 = z * z;
    float a =
        z * (0.99997726f +
             z2 * (-0.33262347f + z2 * (0.19354346f + z2 * (-0.11643287f + z2 * (0.05265332f + z2 * -0.01172120f)))));
    if (ay > ax) a = 1.57079637f - a;
    if (x < 0) a = 3.14159274f - a;
    return y < 0 ? -a : a;
}

std::size_t NextPowerOfTwo(std::size_t n)
{
    std::size_t p = 1;
    while (p < n) p <<= 1;
    return p;
}

}  // namespace

struct Channelizer::Plans {
    fftwf_complex* time = nullptr;
    fftwf_complex* freq = nullptr;
    fftwf_complex* smallFreq = nullptr;
    fftwf_complex* smallTime = nullptr;
    fftwf_plan forward = nullptr;
    fftwf_plan inverse = nullptr;

    Plans(std::size_t n, std::size_t small)
    {
        time = fftwf_alloc_complex(n);
        freq = fftwf_alloc_complex(n);
        smallFreq = fftwf_alloc_complex(small);
        smallTime = fftwf_alloc_complex(small);
        forward = fftwf_plan_dft_1d(int(n), time, freq, FFTW_FORWARD, FFTW_ESTIMATE);
        inverse = fftwf_plan_dft_1d(int(small), smallFreq, smallTime, FFTW_BACKWARD, FFTW_ESTIMATE);
        if (!time || !freq || !smallFreq || !smallTime || !forward || !inverse)
            throw std::runtime_error("the channeliser's transforms could not be set up");
    }
    ~Plans()
    {
        if (forward) fftwf_destroy_plan(forward);
        if (inverse) fftwf_destroy_plan(inverse);
        fftwf_free(time);
        fftwf_free(freq);
        fftwf_free(smallFreq);
        fftwf_free(smallTime);
    }
    Plans(const Plans&) = delete;
    Plans& operator=(const Plans&) = delete;
};

Channelizer::Channelizer(double inputRate) : inputRate_(inputRate)
{
    if (!(inputRate > 0) || !std::isfinite(inputRate)) throw std::invalid_argument("channeliser: bad input rate");
    decimation_ = std::max<std::size_t>(1, std::size_t(inputRate / kTargetChannelRate));
    const double stopEdge = outputRate() / 2;
    const double passEdge = std::min(kPassbandHz, 0.8 * stopEdge);
    const float transition = float((stopEdge - passEdge) / inputRate);
    std::size_t length = estimate_req_filter_len(transition, kStopbandDb);
    overlap_ = (length + decimation_ - 1) / decimation_ * decimation_;  // length - 1, rounded up
    length = overlap_ + 1;
    smallSize_ = std::max<std::size_t>(256, NextPowerOfTwo(8 * overlap_ / decimation_));
    fftSize_ = smallSize_ * decimation_;

    std::vector<float> taps(length);
    liquid_firdes_kaiser(unsigned(length), float((passEdge + stopEdge) / 2 / inputRate), kStopbandDb, 0.0f,
                         taps.data());
    float gain = 0;
    for (const float t : taps) gain += t;

    plans_ = std::make_unique<Plans>(fftSize_, smallSize_);
    // The filter's transform at the bins a channel keeps, with the 1/N of
    // the inverse transform folded in.
    auto* time = reinterpret_cast<Sample*>(plans_->time);
    std::fill(time, time + fftSize_, Sample{});
    for (std::size_t i = 0; i < length; ++i) time[i] = taps[i] / gain;
    fftwf_execute(plans_->forward);
    const auto* freq = reinterpret_cast<const Sample*>(plans_->freq);
    filter_.resize(smallSize_);
    const long half = long(smallSize_ / 2);
    for (long j = -half; j < half; ++j) {
        const std::size_t small = std::size_t((j + long(smallSize_)) % long(smallSize_));
        const std::size_t full = std::size_t((j + long(fftSize_)) % long(fftSize_));
        filter_[small] = freq[full] / float(fftSize_);
    }
    block_.assign(fftSize_, Sample{});
    filled_ = overlap_;
}

Channelizer::~Channelizer() = default;

int Channelizer::addChannel(double offsetHz)
{
    const double binWidth = inputRate_ / double(fftSize_);
    const long n = long(fftSize_);
    const long bin = ((std::lround(offsetHz / binWidth) % n) + n) % n;
    Channel c{nextId_++, bin, {}, {1, 0}, {}};
    const std::size_t step = fftSize_ - overlap_;
    const double turn = -kTwoPi * double(bin) * double(step % fftSize_) / double(fftSize_);
    c.rotation = {float(std::cos(turn)), float(std::sin(turn))};
    channels_.push_back(std::move(c));
    return channels_.back().id;
}

void Channelizer::removeChannel(int channel)
{
    channels_.erase(
        std::remove_if(channels_.begin(), channels_.end(), [&](const Channel& c) { return c.id == channel; }),
        channels_.end());
}

double Channelizer::channelOffset(int channel) const
{
    for (const Channel& c : channels_)
        if (c.id == channel) {
            const long n = long(fftSize_);
            const long signedBin = c.bin >= n / 2 ? c.bin - n : c.bin;
            return double(signedBin) * inputRate_ / double(fftSize_);
        }
    return 0;
}

void Channelizer::push(const Sample* samples, std::size_t count)
{
    while (count > 0) {
        const std::size_t take = std::min(count, fftSize_ - filled_);
        std::copy(samples, samples + take, block_.begin() + std::ptrdiff_t(filled_));
        filled_ += take;
        samples += take;
        count -= take;
        if (filled_ == fftSize_) {
            runBlock();
            std::copy(block_.end() - std::ptrdiff_t(overlap_), block_.end(), block_.begin());
            filled_ = overlap_;
        }
    }
}

void Channelizer::flush()
{
    if (filled_ == overlap_) return;
    std::fill(block_.begin() + std::ptrdiff_t(filled_), block_.end(), Sample{});
    filled_ = fftSize_;
    runBlock();
    std::copy(block_.end() - std::ptrdiff_t(overlap_), block_.end(), block_.begin());
    filled_ = overlap_;
}

void Channelizer::runBlock()
{
    std::copy(block_.begin(), block_.end(), reinterpret_cast<Sample*>(plans_->time));
    fftwf_execute(plans_->forward);
    const auto* freq = reinterpret_cast<const Sample*>(plans_->freq);
    const std::size_t n = fftSize_;
    // The spectrum is for finding stations, which averages a second of it:
    // every fourth block is plenty.
    if (spectrumSink_ && blocks_++ % kSpectrumEvery == 0) {
        // Through a Hann window, applied as its three-bin kernel on the
        // transform: a strong station's leakage would otherwise lift the
        // noise floor far from it. Scaled so that power sums stay right.
        power_.resize(n);
        const float scale = 1.0f / (0.375f * float(n) * float(n));
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t k = i < n / 2 ? i + n / 2 : i - n / 2;
            const Sample below = freq[k == 0 ? n - 1 : k - 1], above = freq[k + 1 == n ? 0 : k + 1];
            const Sample y = 0.5f * freq[k] - 0.25f * (below + above);
            power_[i] = std::norm(y) * scale;
        }
        spectrumSink_(power_);
    }
    auto* smallFreq = reinterpret_cast<Sample*>(plans_->smallFreq);
    const auto* smallTime = reinterpret_cast<const Sample*>(plans_->smallTime);
    const std::size_t first = overlap_ / decimation_;  // outputs before this are not valid
    const std::size_t half = smallSize_ / 2;
    for (Channel& c : channels_) {
        // Bins -half..half-1 around the channel's centre, in the small
        // transform's order (0..half-1, then -half..-1), each a run of the
        // big transform's bins that wraps at most once.
        const auto take = [&](std::size_t to, std::size_t count, std::size_t from) {
            for (std::size_t done = 0; done < count;) {
                const std::size_t run = std::min(count - done, n - from);
                for (std::size_t k = 0; k < run; ++k)
                    smallFreq[to + done + k] = freq[from + k] * filter_[to + done + k];
                done += run;
                from = 0;
            }
        };
        const auto bin = std::size_t(c.bin);
        take(0, half, bin);
        take(half, half, (bin + n - half) % n);
        fftwf_execute(plans_->inverse);
        c.out.resize(smallSize_ - first);
        for (std::size_t i = first; i < smallSize_; ++i) c.out[i - first] = smallTime[i] * c.phase;
        c.phase *= c.rotation;
        c.phase /= std::abs(c.phase);  // keep it on the unit circle over days
        if (sink_) sink_(c.id, c.out.data(), c.out.size());
    }
}

FmDiscriminator::FmDiscriminator(double sampleRate) : scale_(float(sampleRate / (kTwoPi * kFullScaleDeviation))) {}

void FmDiscriminator::push(const std::complex<float>* in, std::size_t count, std::vector<float>& mpx)
{
    const std::size_t start = mpx.size();
    mpx.resize(start + count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::complex<float> step = in[i] * std::conj(last_);
        mpx[start + i] = FastAtan2(step.imag(), step.real()) * scale_;
        last_ = in[i];
    }
}

}  // namespace varnak::radio
