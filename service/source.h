// Sources of a service: each runs on a worker thread of its own, reads its
// input and demodulates it where needed, and hands text for the frame
// processor (bit text or hexadecimal text) through a bounded queue to the
// decoding thread. Sources know nothing of stations beyond the name a chunk
// carries: a band receiver yields the chunks of many stations.
//
// Kinds are pluggable: a kind is a factory in a table (FindSourceKind). The
// band kind is added by service/band_source.cpp when the band receiver is
// built in (VARNAK_HAVE_BAND); without it, `band = yes` is refused when the
// configuration is checked.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include <QThread>

#include "config.h"
#include "events.h"
#include "rds_demodulator.h"
#include "station_state.h"

namespace varnakd {

// One piece of a station's stream.
struct SourceChunk {
    std::string station;  // empty: the source's own station (its frequency or name)
    std::string text;     // '0'/'1' per bit, or hexadecimal pairs when `hex`
    bool hex = false;
    bool restart = false;  // the input was (re)opened: decoding starts afresh
    bool ended = false;    // the station is gone (a band receiver lost it)
    // For recordings: bits of the stream after this chunk, the clock of
    // the recording (times are start + bits / 1187.5 s).
    uint64_t bits = 0;
    // Group logs: the time stamp of the group in `text`, 1/100 s UTC.
    std::optional<int64_t> stamp;
    // What the demodulator measured at the end of this chunk.
    std::optional<rdsformats::SignalFigures> signal;
    // Band recordings: seconds of the capture at this chunk, the clock of
    // every station of the capture (one found late or lost meanwhile too).
    std::optional<double> clock;
    bool tick = false;  // nothing but the clock: a second of the capture went by
};

// Where a source delivers; push() blocks while the queue is full for
// recordings (they are read as fast as decoding takes them) and drops the
// chunk for live inputs, counting it. False once the service stops.
class ChunkSink {
public:
    virtual ~ChunkSink() = default;
    virtual bool push(SourceChunk&& chunk) = 0;
    virtual bool stopping() const = 0;
};

class Source {
public:
    virtual ~Source() = default;
    // Reads the input to its end or until the sink stops, pushing chunks.
    // False with `error` (one line) when it could not be opened or read.
    virtual bool run(ChunkSink& sink, std::string& error) = 0;
};

using SourceFactory = std::function<std::unique_ptr<Source>(const SourceConfig&)>;

// Reads a recording at `factor` times real time (the `realtime` setting);
// 0 reads as fast as decoding takes it.
class Pacer {
public:
    explicit Pacer(double factor);
    // Waits until `seconds` of signal are due; false once the sink stops.
    bool wait(double seconds, const ChunkSink& sink) const;

private:
    double factor_;
    std::chrono::steady_clock::time_point start_;
};

// What a chunk says of the signal, from the RDS demodulator's report.
rdsformats::SignalFigures FiguresOf(const varnak::radio::SignalReport& report);

// The factory of a kind, nullptr when this build cannot receive it.
const SourceFactory* FindSourceKind(const std::string& kind);

#ifdef VARNAK_HAVE_BAND
// service/band_source.cpp: every station of an SDR or IQ capture. Its
// settings are in config.options (all keys of its section); its chunks
// name their station ("98.5"), carry the station's signal figures, and one
// with `ended` set says the station was lost.
std::unique_ptr<Source> MakeBandSource(const SourceConfig& config);
#endif

// service/card_source.cpp: a DC1 card through its server, set up for the
// RDS bit stream; its hexadecimal data as chunks.
std::unique_ptr<Source> MakeCardSource(const SourceConfig& config);

// Runs one source on its own thread: opens it, and for live sources opens
// it again after `retry` seconds when it fails or ends, reporting each
// failure. The decoding thread takes the chunks with take().
class SourceRunner : public ChunkSink {
public:
    static constexpr std::size_t kQueueChunks = 64;

    SourceRunner(SourceConfig config, std::function<void()> wake);
    ~SourceRunner() override;
    void start();
    void stop();

    // Called on the decoding thread: the next chunk, if any.
    std::optional<SourceChunk> take();
    // Failures to report since the last call (one line each).
    std::vector<std::string> takeErrors();
    // The source ended for good (recordings) and its queue is empty.
    bool finished() const;
    uint64_t dropped() const { return dropped_; }
    const SourceConfig& config() const { return config_; }
    SourceStatus status() const;

    bool push(SourceChunk&& chunk) override;
    bool stopping() const override { return stop_; }

private:
    void runLoop();

    SourceConfig config_;
    std::function<void()> wake_;
    // A QThread, so that a source with Qt objects (the card client) has an
    // event dispatcher of its own.
    std::unique_ptr<QThread> thread_;
    mutable std::mutex mutex_;
    std::condition_variable space_, stopWait_;
    std::deque<SourceChunk> queue_;
    std::vector<std::string> errors_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> done_{false};
    std::atomic<uint64_t> dropped_{0};
    std::atomic<uint64_t> bits_{0};
    bool retrying_ = false;  // under mutex_
    std::string lastError_;  // under mutex_
};

}  // namespace varnakd
