// A radio run: the FM multiplex read and demodulated to RDS bits on a worker
// thread, the bits handed to the window's frame processing in batches.
//
// The input is an audio recording (anything libsndfile reads) or raw s16le
// mono samples at a given rate from a file, a FIFO or standard input, as an
// FM receiver such as rtl_fm writes them. When the rate carries them (160
// kHz for all three), RDS2's extra data streams are demodulated as well and
// the files their RDS file transfer brings (the station logo) handed over
// once their size and CRC check. Demodulation is far heavier than
// decoding the bits it gives (about 144 samples per bit), so it runs beside
// the event loop: the window stays responsive and takes the bits that have
// come whenever the worker tells it so. The class holds no widgets.
//
// A live input is read with short waits, so Stop ends the worker even when
// the input is silent, and the time since the last samples is known. The
// bits waiting are bounded: a worker that runs ahead of the window (a long
// recording, a writer faster than real time) waits for it rather than drop
// anything, which holds back the writer of a pipe in turn.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "input_file.h"
#include "rds2_receiver.h"
#include "rds_demodulator.h"
#include "rft.h"
#include "sample_source.h"
#include "worker_handoff.h"

namespace varnak {

struct RadioInput {
    std::string path;               // "-" is standard input
    std::optional<double> rawRate;  // raw s16le samples at this rate; none: an audio file
    bool realtime = false;          // read at the samples' own pace, as on air
};

class RadioRun {
public:
    using Clock = WorkerHandoff::Clock;
    // Called on the worker thread when bits or news wait for take(); not
    // again until take() was called.
    using Wake = WorkerHandoff::Wake;

    // Bits held for the window at most before the worker waits for it:
    // about a quarter of an hour of air.
    static constexpr std::size_t kPendingLimit = std::size_t(1) << 20;
    // Longest wait for a silent live input before Stop is looked at again.
    static constexpr int kReadWaitMs = 40;

    // Opens the input and sets up the demodulator; nullptr with `error`
    // (one line naming the input and the reason) when it cannot be used.
    static std::unique_ptr<RadioRun> open(const RadioInput& input, std::string& error);
    ~RadioRun();  // stops the worker and waits for it
    RadioRun(const RadioRun&) = delete;
    RadioRun& operator=(const RadioRun&) = delete;

    void start(Wake wake);
    // Ends the run: the worker reads nothing more and is gone on return.
    void stop();

    // What the window is shown of the run.
    struct State {
        radio::SignalReport signal;
        bool ended = false;             // the input has ended (or could not be read further)
        std::string error;              // why reading failed, empty if it did not
        std::string truncation;         // the input ended before its header said
        uint64_t samples = 0;           // read so far
        std::optional<uint64_t> total;  // samples the input holds, when known
        Clock::time_point lastSamples;  // when samples last came
        // RDS2: the extra streams the rate carries (0..3), their groups so
        // far, and the files (the station logo) received whole since the
        // last take(), size and CRC checked.
        int rds2Streams = 0;
        uint64_t rds2Groups = 0;
        std::vector<rdsformats::RftReceivedFile> files;
    };
    // Appends the bits waiting to `bits` and returns the run's state.
    State take(std::string& bits);

    const std::string& name() const { return name_; }
    double sampleRate() const { return rate_; }
    // Standard input, a FIFO or a device: samples come over time.
    bool isLive() const { return live_; }

private:
    RadioRun() = default;
    void work();
    // Reads the next samples into samples_; 0 at the end, or when stopped.
    std::size_t readSamples();
    void pace(uint64_t samples, Clock::time_point start);
    // Under the hand-over's lock: the RDS2 figures and files for take().
    void handOverRds2();

    std::string name_;
    double rate_ = 0;
    bool live_ = false;
    bool realtime_ = false;
    std::unique_ptr<radio::SampleSource> audio_;
    InputFile raw_;
    std::optional<unsigned char> carry_;  // the first byte of a sample split between reads
    std::unique_ptr<radio::RdsDemodulator> demodulator_;
    // RDS2's extra streams whenever the rate carries them, and the files
    // they bring (worker thread).
    std::unique_ptr<radio::Rds2Receiver> rds2_;
    rdsformats::RftReceiver rft_;
    uint64_t rds2Groups_ = 0;
    std::vector<rdsformats::RftReceivedFile> files_;
    std::vector<float> samples_;
    std::vector<char> bytes_;
    std::string truncation_;

    // What waits for the window (under the hand-over's lock).
    std::string pending_;
    State state_;
    WorkerHandoff handoff_;  // last: the worker ends before the rest goes
};

// The signal as a user judges a station by it: "pilot 9.0 %, RDS 4.5 %,
// CNR about 14.2 dB", "no pilot, no RDS signal found".
std::string SignalText(const radio::SignalReport& report);

}  // namespace varnak
