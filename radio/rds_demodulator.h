// Demodulates RDS from the FM multiplex signal (the composite baseband an FM
// receiver's discriminator gives: mono audio, 19 kHz pilot, stereo difference
// on 38 kHz, RDS on 57 kHz) into the RDS data bits, ready for the decoder.
//
// The 57 kHz subcarrier and the 19 kHz pilot are each mixed down and
// decimated early to about 10 kHz. A Costas loop with frequency aid
// recovers the carrier from the RDS signal itself. Not every station locks
// its RDS carrier to the pilot (an RDS encoder on its own clock runs a few
// hertz off), so the pilot is used only while it is measured to be locked:
// while the squared symbols keep a steady phase to three times the pilot,
// the carrier follows the pilot with a narrow loop for the offset between
// the two, which keeps lock at lower CNR. A matched filter for the shaped biphase symbol and an early-late timing
// loop at 1187.5 bit/s give one soft value per symbol; the biphase pairing
// (half a bit off) is checked by comparing the energy at both strobes. The
// soft symbols' reliabilities allow for impulses (FM clicks when a mobile
// signal fades): a symbol far from both points, or off the carrier's axis,
// counts as hit and gets little reliability either way. They go to the
// block decoder (block_decoder.h), which undoes the
// differential coding, finds the block boundaries and hands on blocks it is
// sure of as clean blocks and doubtful ones damaged beyond repair.
//
// Everything runs sample by sample in state, so the bits do not depend on
// how the input is divided between push() calls. Memory is bounded (a few
// tens of kilobytes). For the first 260 bits (0.22 s) the loops settle and
// no block is taken for sure, so the first two or three groups are lost.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "rds2_carriers.h"

namespace varnak::radio {

// What the demodulator sees of the signal. Levels are amplitudes in the
// input's own units: for a multiplex scaled so that ±1.0 is the peak
// deviation (as the test-signal modulator and a calibrated receiver give
// them) they are fractions of the peak deviation (0.09 = 9 %). Input from a
// receiver with an arbitrary scale (rtl_fm) gives levels in that scale; their
// ratio rdsLevel / pilotLevel is meaningful either way.
struct SignalReport {
    bool pilotPresent = false;
    double pilotLevel = 0;  // pilot amplitude; 0 without pilot
    double rdsLevel = 0;    // peak of the RDS signal (the shaped biphase symbols' worst-case peak)
    // Estimated RDS carrier-to-noise ratio in 4.8 kHz (RDS power over the
    // noise power in 57 ± 2.4 kHz), from the spread of the soft symbols. The
    // symbols' own overlap limits it: above about +8 dB it reads low.
    double cnrDb = 0;
    // The block decoder has taken RDS blocks from the signal. Without them
    // rdsLevel and cnrDb measure whatever sits near 57 kHz (a tone, a
    // harmonic, noise), not RDS, and are not to be shown as RDS figures.
    bool rdsFound = false;
    bool locked = false;   // carrier and symbol timing locked
    uint64_t samples = 0;  // samples consumed
    uint64_t bits = 0;     // bits produced
};

class RdsDemodulator {
public:
    static constexpr double kMinRate = 128000, kMaxRate = 384000;
    // Throws std::invalid_argument outside [kMinRate, kMaxRate], or for a
    // subcarrier the rate cannot carry. Streams 1..3 (subcarrier above 57
    // kHz) carry type C groups: their third block may have offset C or C'
    // whatever block 2 holds. Their carrier follows the pilot only at 76 kHz
    // (a whole multiple); at 66.5 and 71.25 kHz the signal's own loop holds it.
    explicit RdsDemodulator(double sampleRate, double subcarrierHz = 57000);
    // Whether `sampleRate` carries the subcarrier with its band (the
    // subcarrier + 4 kHz below half the rate): 160 kHz for all four streams.
    static bool CarriesSubcarrier(double sampleRate, double subcarrierHz);
    ~RdsDemodulator();
    RdsDemodulator(const RdsDemodulator&) = delete;
    RdsDemodulator& operator=(const RdsDemodulator&) = delete;

    // Feeds `count` multiplex samples (any scale: the level is normalised;
    // full scale ±1.0) and appends the data bits decoded so far to `bits` as
    // '0'/'1' characters.
    void push(const float* samples, std::size_t count, std::string& bits);
    // End of input: appends the bits still held back (the last one or two
    // bits, still inside the filters, are not demodulated).
    void finish(std::string& bits);
    SignalReport report() const;
    // Bits of blocks the soft decisions leave no doubt about come as 'I'
    // and 'O' (SoftBlockDecoder::setMarkSure); off by default.
    void setMarkSure(bool on);

    // Blocks the block decoder handed on clean, and those it damaged because
    // it could not be sure of them, since the start.
    uint64_t blocksClean() const;
    uint64_t blocksDamaged() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

}  // namespace varnak::radio
