// A band run: an IQ capture (a recording, standard input or an SDR) read
// and taken apart into its stations by a BandReceiver on a worker thread;
// each station's RDS bits, the stations found and lost, and the spectrum are
// handed to the window in batches. The class holds no widgets.
//
// Bits waiting for the window are bounded: a worker that runs ahead (a
// recording read faster than real time) waits for the window rather than
// drop anything.
#pragma once

#include <chrono>
#include <complex>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "band_receiver.h"
#include "iq_source.h"
#include "sdr_source.h"
#include "worker_handoff.h"

namespace varnak {

struct BandInput {
    std::string path;                       // "-" is standard input; unused with an SDR
    radio::IqSettings iq;                   // format, rate and centre of a recording
    std::optional<radio::SdrSettings> sdr;  // read live from an SDR instead
    bool realtime = false;                  // a recording read at its own pace
};

class BandRun {
public:
    using Clock = WorkerHandoff::Clock;
    using Wake = WorkerHandoff::Wake;

    // Bits held for the window at most (all stations) before the worker waits.
    static constexpr std::size_t kPendingLimit = std::size_t(1) << 20;
    // How often the stations' signal and the spectrum are handed over.
    static constexpr std::chrono::milliseconds kReportEvery{100};

    // Opens the input and sets up the receiver; nullptr with `error` (one
    // line naming the input and the reason) when it cannot be used.
    static std::unique_ptr<BandRun> open(const BandInput& input, std::string& error);
    ~BandRun();  // stops the worker and waits for it
    BandRun(const BandRun&) = delete;
    BandRun& operator=(const BandRun&) = delete;

    void start(Wake wake);
    // Ends the run: the worker reads nothing more and is gone on return.
    void stop();

    struct Batch {
        // Bits per station id, in order.
        std::map<int, std::string> bits;
        // Stations found (true) or lost (false) since the last take, in order.
        std::vector<std::pair<radio::BandStation, bool>> events;
        // Every station so far with its signal, and the spectrum (both empty
        // when nothing new came).
        std::vector<radio::BandStation> stations;
        std::vector<double> spectrum;
        bool ended = false;             // the input has ended, or could not be read further
        std::string error;              // why reading failed, empty if it did not
        std::string truncation;         // the input ended before it should have
        uint64_t samples = 0;           // read so far
        std::optional<uint64_t> total;  // samples the input holds, when known
    };
    // Moves what waits into `batch` (whose bits and events must be empty).
    void take(Batch& batch);

    const std::string& name() const { return name_; }
    double sampleRate() const { return rate_; }
    double centerHz() const { return center_; }
    double lowestHz() const { return receiver_->lowestHz(); }
    double highestHz() const { return receiver_->highestHz(); }
    // An SDR, standard input or a pipe: samples come over time.
    bool isLive() const { return live_; }

private:
    BandRun() = default;
    void work();
    void hand(bool last);

    std::string name_;
    double rate_ = 0;
    double center_ = 0;
    bool live_ = false;
    bool realtime_ = false;
    std::unique_ptr<radio::IqSource> source_;
    std::unique_ptr<radio::BandReceiver> receiver_;
    std::map<int, std::string> bits_;  // the worker's, until handed over
    std::vector<std::pair<radio::BandStation, bool>> events_;
    Clock::time_point lastReport_{};

    // What waits for the window (under the hand-over's lock).
    std::size_t pendingBits_ = 0;
    Batch pending_;
    WorkerHandoff handoff_;  // last: the worker ends before the rest goes
};

}  // namespace varnak
