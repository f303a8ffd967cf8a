// A radio channel to test the receiver against: the FM multiplex is frequency
// modulated (±75 kHz for full scale) into complex baseband, goes through a
// channel (static echoes, flat Rayleigh or Rician fading, the COST 207
// typical-urban and rural-area multipath profiles with a Doppler spread,
// white noise at an RF carrier-to-noise ratio, an interfering FM station),
// and comes out of a receiver built as an rtl_fm-style one at the multiplex
// rate: channel low-pass, decimation to the multiplex rate, polar
// discriminator, no de-emphasis.
//
// The channel runs at an integer multiple of the multiplex rate of about
// 1 MHz (6 x 171 kHz = 1.026 MHz, as rtl_fm captures for -s 171k). Every
// random process (noise, fading, the interferer's programme) comes from the
// seed, so the output depends only on the configuration and the input, not
// on how the input is divided between calls.
#pragma once

#include <complex>
#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace varnak::radio {

enum class FadingModel {
    None,
    Rayleigh,      // one path, no line of sight
    Rician,        // one path with a line of sight (ricianKDb)
    TypicalUrban,  // COST 207 typical urban, six paths over 5 us
    RuralArea,     // COST 207 rural area, four paths over 0.6 us, the first with a line of sight
};

// "rayleigh", "rician", "tu", "ra" (also "none"); empty when unknown.
std::optional<FadingModel> FadingModelByName(const std::string& name);

struct ChannelEcho {
    double delayUs = 0;   // after the direct signal
    double levelDb = 0;   // against the direct signal
    double phaseDeg = 0;  // of its carrier against the direct signal's
};

struct ChannelInterferer {
    double offsetKHz = 200;  // its carrier from the wanted one
    double levelDb = 0;      // its power against the wanted signal's
};

struct ChannelConfig {
    double mpxRate = 171000;  // of the multiplex in and out
    // Carrier power (the mean power of the wanted signal: the paths' and
    // echoes' powers added) over the noise power in 200 kHz, dB; none: no
    // noise.
    std::optional<double> cnDb;
    FadingModel fading = FadingModel::None;
    double dopplerHz = 0;  // maximum Doppler shift of the fading
    double ricianKDb = 6;  // line of sight over the scattered power (Rician)
    std::vector<ChannelEcho> echoes;
    std::optional<ChannelInterferer> interferer;
    uint64_t seed = 1;
};

// One fading path: a complex gain of mean power 1 whose Doppler spectrum is
// the classic U shape up to ±dopplerHz (Rayleigh), as a sum of sinusoids
// with random directions and phases; with a line of sight of power
// K / (K + 1) at losDopplerFraction x dopplerHz (Rician).
class FadingPath {
public:
    FadingPath(double dopplerHz, double updateRate, std::mt19937_64& rng, double ricianK = 0,
               double losDopplerFraction = 1);
    // The gain now; advances by one update period.
    std::complex<double> next();

private:
    static constexpr int kSinusoids = 32;
    std::complex<double> rotation_[kSinusoids], step_[kSinusoids];
    std::complex<double> los_{0, 0}, losStep_{1, 0};
    double scatteredScale_ = 1, losAmplitude_ = 0;
    uint64_t count_ = 0;
};

class RadioChannel {
public:
    // Throws std::invalid_argument for a multiplex rate outside 128..400 kHz,
    // a Doppler outside 0..1000 Hz, an echo beyond 500 us or an interferer
    // beyond ±1 MHz, or any value that is not a number.
    explicit RadioChannel(const ChannelConfig& config);
    ~RadioChannel();
    RadioChannel(const RadioChannel&) = delete;
    RadioChannel& operator=(const RadioChannel&) = delete;

    // The channel's sample rate.
    double rfRate() const;
    // Transmits `count` multiplex samples (full scale ±1.0 = ±75 kHz) and
    // appends the receiver's multiplex (same scale and rate) to out.
    void process(const float* mpx, std::size_t count, std::vector<float>& out);
    // The same, but appends the complex baseband at the receiver's antenna
    // (rfRate(), the wanted carrier at 0 Hz) instead of demodulating it.
    void transmit(const float* mpx, std::size_t count, std::vector<std::complex<float>>& rf);
    // Mean power of the wanted signal at the antenna and of the noise per
    // channel sample.
    double carrierPower() const;
    double noiseVariance() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

}  // namespace varnak::radio
