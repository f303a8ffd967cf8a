// The block layer of the RDS demodulator: turns soft channel symbols into
// the data bit stream for the decoder library.
//
// The transmitter codes each data bit differentially (symbol = bit XOR the
// previous symbol), so one wrong symbol makes two neighbouring wrong data
// bits. This decoder works on the symbols' reliabilities: it finds the block
// boundaries by the offset words, and decodes every 26-bit block by trying
// flips of the least reliable symbols (Chase decoding: up to four of the
// twenty least reliable, any combination of up to eleven erased ones, and
// any single symbol or pair of neighbours, for the bursts of fades and FM
// clicks) and keeping the candidate with the expected offset that needs
// the least reliability flipped. A block it is sure of goes on as a clean block (so the library
// accepts it without repair); a doubtful one goes on with its check word
// damaged so that the library's burst repair rejects it rather than
// mis-repairs it. Words accepted before (the programme identification, the
// repeated group types, the cycling texts) weigh more than unknown ones, as
// often as they came.
//
// Bits are held back for about three blocks; finish() hands on the rest.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace varnak::radio {

class SoftBlockDecoder {
public:
    // AB: the third block of a group has offset C or C' by the version bit
    // of block B. TypeC: block 2 of RDS2's type C groups is data, so the
    // third block may have either offset.
    enum class Groups { AB, TypeC };
    explicit SoftBlockDecoder(Groups groups = Groups::AB);

    // One channel symbol: its log-likelihood ratio (positive: more likely
    // +1). Appends the data bits that are ready, '0'/'1'.
    void push(float llr, std::string& bits);
    // Appends every bit still held back.
    void finish(std::string& bits);

    // Hand on the bits of a block the soft decisions leave no doubt about
    // as 'I' and 'O' instead of '1' and '0' (off by default): a block whose
    // own symbols make any other block than the one decided less likely
    // than kSureDoubt, outside deep fades. A reader that knows the marks may
    // take such a block's content as confirmed at once. On the radio channel
    // model no block marked sure was wrong (bench/radio/text_trust.sh).
    void setMarkSure(bool on) { markSure_ = on; }
    static constexpr double kSureDoubt = 1e-4;
    uint64_t blocksSure() const { return sure_; }

    bool synchronised() const { return synced_; }
    uint64_t blocksClean() const { return clean_; }
    uint64_t blocksDamaged() const { return damaged_; }

    // The check-word bit flipped in a doubtful block: with it the library
    // neither repairs the block nor takes it for another block position.
    static constexpr int kDamageBit = 0;

private:
    struct Decision {
        bool found = false;
        uint32_t word = 0;     // the 26-bit block, first bit in bit 25
        int position = -1;     // 0 A, 1 B, 2 C, 3 C', 4 D
        float metric = 0;      // reliability flipped for the best candidate
        float confidence = 0;  // estimated chance that the best candidate is the block sent
        double weight = 0;     // the best candidate's likelihood, relative to the hard decisions
        double mass = 0;       // the likelihood of all valid blocks, estimated
        int erased = 0;        // symbols of next to no reliability
        // Estimated chance that the block sent was another, from the
        // block's own symbols (before the words seen earlier weigh in).
        double ownDoubt = 1;
    };

    float llrAt(uint64_t symbol) const { return llr_[symbol % kRing]; }
    bool hardAt(uint64_t symbol) const { return llrAt(symbol) < 0; }
    bool dataBit(uint64_t j) const { return hardAt(j) != hardAt(j - 1); }
    // Chase decoding of the block whose last data bit is `end`, against the
    // block positions in `positions` (bit mask).
    // Gives up early when the confidence cannot reach minConfidence.
    Decision chase(uint64_t end, unsigned positions, int leastReliable, int maxFlips, float minConfidence = 0) const;
    // The reliability to flip so that the block ending at `end` reads as
    // `word`; its first and last symbols then go to *firstSymbol and
    // *lastSymbol (if given).
    float wordMetric(uint64_t end, uint32_t word, bool* firstSymbol = nullptr, bool* lastSymbol = nullptr) const;
    // The block ending at `end`: found only when sure enough.
    Decision decide(uint64_t end, unsigned positions) const;
    void accepted(const Decision& d, uint64_t end);
    void setKnown(uint64_t symbol, bool value);
    void searchAt(uint64_t end, std::string& bits);
    void decodeBlock(std::string& bits);
    void emitPending(std::string& bits);
    void emitRaw(uint64_t upTo, std::string& bits);
    void emitWord(uint32_t word, std::string& bits, bool sure = false);
    // A block decided that is sure enough to be marked.
    static bool sure(const Decision& d);
    // How much likelier than an unknown word `info` is at `position`, from
    // the words accepted there so far; 0 for a word never seen.
    double prior(int position, uint16_t info) const;
    void learn(int position, uint16_t info);

    static constexpr uint64_t kRing = 256;   // symbols kept
    static constexpr uint64_t kRawLag = 60;  // data bits held back while not synchronised
    bool typeC_ = false;
    std::vector<float> llr_;
    std::vector<double> weight_;  // e^-|llr|, the likelihood of the symbol being the other way
    uint64_t symbols_ = 0;        // symbols received
    uint64_t emitted_ = 1;        // index of the next data bit to hand on (bit j needs symbols j-1 and j)

    bool synced_ = false;
    uint64_t blockEnd_ = 0;  // last data bit of the next block to decode
    int expected_ = 0;       // its position: 0 A, 1 B, 2 C or C', 3 D
    int failedRun_ = 0;      // doubtful blocks in a row
    uint16_t lastB_ = 0;     // block B of the current group, when known
    bool haveB_ = false;
    // The last block decided is handed on only after the next one: a sure
    // next block may make a doubtful one sure.
    struct Pending {
        bool active = false;
        uint64_t end = 0;
        unsigned positions = 0;  // block positions it may have
        int damagePosition = 0;  // the position its check word is damaged against
        Decision decision;
    };
    Pending pending_;

    // Search: per alignment (data bit index mod 26) the last block found there.
    struct Found {
        uint64_t end = 0;
        int position = -1;
    };
    std::array<Found, 26> found_{};

    // Words accepted per block position, with their counts.
    static constexpr std::size_t kSeenWords = 64;
    struct Seen {
        uint16_t info;
        double count;
    };
    struct Stats {
        double accepted = 0, novel = 0;
    };
    std::array<std::vector<Seen>, 5> seen_;
    std::array<Stats, 5> stats_{};
    uint64_t clean_ = 0, damaged_ = 0, sure_ = 0;
    bool markSure_ = false;
};

}  // namespace varnak::radio
