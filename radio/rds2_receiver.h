// RDS2's extra data streams: the subcarriers at 66.5, 71.25 and 76 kHz
// beside RDS on 57 kHz, each with the same modulation (differential BPSK,
// biphase symbols, 1187.5 bit/s). Each stream the multiplex's sample rate
// carries gets an RDS demodulator of its own on its subcarrier, and its
// bits are framed into groups by the offset words. The groups on these
// streams are of type C (no programme identification; block 2 is data), so
// the third block may carry offset C or C' whatever block 2 holds; a group
// is handed on only when all four blocks check, and only from a stream
// whose level is a fair share of the pilot's (far weaker, it is stream 0
// leaking through the filters).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "rds_demodulator.h"

namespace varnak::radio {

// Bits to groups by the offset words A, B, C or C', D. Searches for a block
// A, then takes a block every 26 bits; a group goes out when all four
// blocks check. Twelve failing blocks in a row restart the search.
class GroupFramer {
public:
    using Group = std::array<uint16_t, 4>;
    // Takes '0'/'1' characters; appends the groups completed.
    void push(const std::string& bits, std::vector<Group>& groups);
    uint64_t blocksChecked() const { return checked_; }
    uint64_t blocksFailed() const { return failed_; }

private:
    uint32_t register_ = 0;
    uint64_t bits_ = 0;
    bool synced_ = false;
    int next_ = 0;   // slot of the next block: 0 A, 1 B, 2 C/C', 3 D
    int count_ = 0;  // bits since the last block while synchronised
    int failedRun_ = 0;
    bool groupGood_ = true;
    Group words_{};
    uint64_t checked_ = 0, failed_ = 0;
};

class Rds2Receiver {
public:
    using Group = GroupFramer::Group;
    // Called for every group: its stream (1..3) and its four words.
    using Handler = std::function<void(int stream, const Group& words)>;

    // Demodulates the streams `sampleRate` carries (see Carried()).
    // Throws std::invalid_argument as RdsDemodulator does.
    explicit Rds2Receiver(double sampleRate);
    ~Rds2Receiver();
    // The extra streams a multiplex at `sampleRate` carries: 0 below 141
    // kHz, all three from 160 kHz.
    static int Carried(double sampleRate);

    void setHandler(Handler handler) { handler_ = std::move(handler); }
    // Stops demodulating a stream that has given no group in its first
    // `seconds` of signal: a station without RDS2 then costs only that
    // much. Off (0) by default.
    void dropSilentAfter(double seconds) { dropAfter_ = uint64_t(seconds * rate_); }
    // Multiplex samples as the stream-0 demodulator takes them.
    void push(const float* samples, std::size_t count);
    // End of input: the bits still held back.
    void finish();

    // The streams demodulated (fewer once silent ones were dropped).
    int streams() const { return int(streams_.size()); }
    struct StreamReport {
        int stream = 0;
        uint64_t groups = 0;
        uint64_t blocksChecked = 0, blocksFailed = 0;
        SignalReport signal;
    };
    std::vector<StreamReport> report() const;

private:
    struct Stream;
    void deliver(Stream& s);
    std::vector<std::unique_ptr<Stream>> streams_;
    Handler handler_;
    double rate_ = 0;
    uint64_t samples_ = 0;
    uint64_t dropAfter_ = 0;  // samples; 0: never
};

}  // namespace varnak::radio
