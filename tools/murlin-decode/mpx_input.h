// murlin-decode --mpx: the input is the FM multiplex signal (an audio file,
// or raw s16le samples from a receiver), demodulated to RDS bits that take
// the same road through the frame processor as the bits of a bit file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "frame_processor.h"
#include "rds2_receiver.h"
#include "rds_demodulator.h"
#include "sample_source.h"

namespace murlindecode {

struct MpxOptions {
    bool enabled = false;
    std::optional<double> rate;  // raw s16le at this rate instead of an audio file
    std::optional<int> channel;  // 1-based channel of an audio file
    bool rds2 = false;           // also RDS2's extra data streams
    std::string saveFiles;       // folder for the files RDS2 brings, or empty
};

// Looks at argv[i] for one of `options` with a value, given separately
// ("--rate 171k", i moves past it) or joined ("--rate=171k"): 1 with `name`
// and `value` set, 0 when it is none of them, -1 with `error` set when the
// value is missing.
int TakeOptionValue(int argc, char** argv, int& i, std::initializer_list<const char*> options, std::string& name,
                    std::string& value, std::string& error);

// Looks at argv[i]: --mpx, --rate HZ (or --rate=HZ), --channel N, --rds2
// and --save-files DIR are taken
// (i moves past a separate value) and 1 is returned; 0 for any other
// argument; -1 with `error` set for a bad value.
int ParseMpxArgument(int argc, char** argv, int& i, MpxOptions& options, std::string& error);
// The options taken together, once all are read: empty if they fit.
std::string CheckMpxOptions(const MpxOptions& options, bool hex, const std::vector<std::string>& files);

// stream if it is a pipe, terminal or device (to be flushed group by group),
// nullptr for a regular file.
std::FILE* FlushTarget(std::FILE* stream);

class MpxInput {
public:
    // Opens the input; nullptr with `error` (one line naming the file) when
    // it cannot be used.
    static std::unique_ptr<MpxInput> open(const std::string& path, const MpxOptions& options, std::string& error);

    // Reads the whole input and feeds the demodulated bits to `processor` as
    // one stream of bit text; `listener` gets the processor's events. When
    // the input's length is known, progress(samples read, samples in all) is
    // called after every piece. With flushEachGroup the output stream is
    // flushed after every group, so a pipe or terminal sees each group as it
    // is decoded. False with `error` set when reading fails (what was decoded
    // so far has gone through).
    bool decode(varnak::FrameProcessor& processor, varnak::FrameListener& listener, std::FILE* flushEachGroup,
                const std::function<void(uint64_t, uint64_t)>& progress, std::string& error);

    // Demodulates RDS2's extra streams as well (those the sample rate
    // carries) and hands their groups to `handler` as they are decoded.
    void enableRds2(varnak::radio::Rds2Receiver::Handler handler);
    // The extra streams' figures; empty without enableRds2() or when the rate carries none.
    std::vector<varnak::radio::Rds2Receiver::StreamReport> rds2Report() const;
    double sampleRate() const { return source_->sampleRate(); }

    std::optional<uint64_t> frames() const { return source_->frames(); }
    uint64_t bits() const { return bits_; }
    // Set after decode() when the input ended early.
    const std::string& truncation() const { return source_->truncation(); }
    // What a radio user needs besides the groups: duration, pilot, RDS level,
    // CNR estimate and block error rate (from the decoder's counters).
    void printSummary(std::FILE* to, const varnak::MurlinApi& api) const;

private:
    MpxInput(std::unique_ptr<varnak::radio::SampleSource> source,
             std::unique_ptr<varnak::radio::RdsDemodulator> demodulator)
        : source_(std::move(source)), demodulator_(std::move(demodulator))
    {
    }

    std::unique_ptr<varnak::radio::SampleSource> source_;
    std::unique_ptr<varnak::radio::RdsDemodulator> demodulator_;
    std::unique_ptr<varnak::radio::Rds2Receiver> rds2_;
    uint64_t bits_ = 0;
};

}  // namespace murlindecode
