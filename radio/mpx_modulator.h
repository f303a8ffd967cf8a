// The FM multiplex signal of an RDS transmitter, as test signal: RDS data on
// the 57 kHz subcarrier, the 19 kHz stereo pilot, optionally a stereo
// programme, white noise at a chosen carrier-to-noise ratio and a sampling
// clock that runs off by some ppm.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <string_view>
#include <vector>

#include "rds2_carriers.h"

namespace varnak::radio {

constexpr double kRdsBitRate = 1187.5;  // bit/s, the pilot frequency / 16
constexpr double kPilotHz = 19000;
constexpr double kRdsCarrierHz = 57000;  // third harmonic of the pilot
constexpr double kRdsHalfBandHz = 2400;  // the RDS signal lies within 57 kHz ± this
constexpr double kMinSampleRate = 128000;

struct MpxConfig {
    double sampleRate = 171000;  // nominal samples per second
    // RDS carrier-to-noise ratio in dB: RDS subcarrier power over the power of
    // the white noise in 4.8 kHz (the 57 ± 2.4 kHz band). None: no noise.
    std::optional<double> cnrDb;
    double ppm = 0;       // the sampling clock runs fast by this much (negative: slow)
    bool stereo = false;  // a stereo programme besides pilot and RDS
    bool pilot = true;
    uint64_t seed = 1;       // of the noise and the programme
    double rdsLevel = 0.04;  // peak of the RDS signal, full scale 1.0 = ±75 kHz deviation
    double pilotLevel = 0.09;
    // With a programme: peak of the whole multiplex (programme, pilot and
    // RDS); above 1 it over-deviates.
    double programmeLevel = 0.9;
    // An RDS encoder on its own clock: its carrier runs this far from three
    // times the pilot (Hz at the start), its bit clock in proportion
    // (carrier / 48), and the offset drifts by rdsDriftHzPerMinute. 0 and 0:
    // locked to the pilot.
    double rdsOffsetHz = 0;
    double rdsDriftHzPerMinute = 0;
    // Phase of the RDS carrier against the pilot's third harmonic, degrees.
    double rdsPhaseDeg = 0;
    // RDS2: data streams 1..rds2Streams on 66.5, 71.25 and 76 kHz (3.5, 3.75
    // and 4 times the pilot), each at rds2Level (peak). Their carriers and
    // bit clocks run with the 57 kHz one: every carrier starts at phase 0
    // with the pilot (all are sines at sample 0) and a bit begins on all
    // streams at once. At 0.03 each (2.25 kHz deviation) the four RDS
    // streams together stay below 10 kHz of deviation.
    int rds2Streams = 0;
    double rds2Level = 0.03;
};

// Turns data bits into multiplex samples. The bits are differentially coded
// and sent as biphase symbols with the standard data shaping: the spectrum of
// one symbol is that of an impulse pair times cos(pi f t/4) up to |f| = 2/t
// (t the bit period) and nothing beyond, so the RDS signal stays within
// 57 ± 2.4 kHz. The subcarrier is in phase with the pilot's third harmonic
// unless the configuration sets it free (rdsOffsetHz, rdsPhaseDeg).
//
// The output depends only on the bits and the configuration, not on how the
// bits are divided between calls: modulate() writes the samples up to the
// end of the last bit given, finish() the tails of the last symbols.
class MpxModulator {
public:
    // Throws std::invalid_argument for a sample rate below 128 kHz or above
    // 10 MHz, a clock error beyond ±1000 ppm, a level outside 0..1 or an RDS
    // offset beyond ±1 kHz (drift beyond ±60 Hz per minute); the programme
    // level may reach 2.
    explicit MpxModulator(const MpxConfig& config);
    ~MpxModulator();
    MpxModulator(const MpxModulator&) = delete;
    MpxModulator& operator=(const MpxModulator&) = delete;

    // Appends to out the samples (full scale ±1.0 = ±75 kHz) up to the end of
    // the last of bits ('1' a one bit, any other character a zero bit).
    void modulate(std::string_view bits, std::vector<float>& out);
    // The same with RDS2's streams: extra[k] holds the bits of stream k + 1,
    // as many as `bits` has, for each of the configured rds2Streams. Throws
    // std::invalid_argument when a stream's bits are missing or of another
    // length.
    void modulate(std::string_view bits, const std::vector<std::string_view>& extra, std::vector<float>& out);
    // Appends the rest of the signal after the last bit (the symbols' tails,
    // a few milliseconds). Nothing more may be modulated after it.
    void finish(std::vector<float>& out);

    // Mean power of the RDS subcarrier for random data, and the variance of
    // the added white noise per sample (0 without noise).
    double rdsPower() const { return rdsPower_; }
    double noiseVariance() const { return noiseSigma_ * noiseSigma_; }
    // Samples written so far.
    uint64_t samples() const { return n_; }

private:
    void emitUpTo(double symbolEnd, std::vector<float>& out);
    // RDS carrier cycles from the start to sample n.
    double rdsCycles(uint64_t n) const;
    double baseband(int stream, double symbolPosition) const;

    MpxConfig cfg_;
    double cyclesPerSample_;  // pilot cycles per sample, clock error included
    // The shaped pulse h (one impulse of a pair), tabulated over
    // [-kSpan, kSpan] symbols at kTableSteps points per symbol.
    std::vector<float> pulse_;
    double rdsScale_ = 1;  // makes the baseband's worst-case peak 1
    double rdsPower_ = 0;
    double noiseSigma_ = 0;
    // Symbol amplitudes (+1/-1) from symbol firstSymbol_ on; older ones are
    // dropped once no sample needs them.
    // One list per stream (0 the 57 kHz one), all of the same length.
    std::vector<std::vector<int8_t>> symbols_;
    int64_t firstSymbol_ = 0;
    int64_t symbolCount_ = 0;
    std::vector<bool> lastCoded_;  // per stream, the previous differentially coded bit
    bool finished_ = false;
    uint64_t n_ = 0;  // index of the next sample
    std::mt19937_64 noiseRng_, programmeRng_;
    std::normal_distribution<float> noiseGauss_, programmeGauss_;
    struct Programme;
    std::unique_ptr<Programme> programme_;
};

}  // namespace varnak::radio
