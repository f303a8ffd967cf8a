#include "source.h"

#include <chrono>
#include <map>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "group_log.h"
#include "input_file.h"
#include "mpx_meter.h"
#include "rds_demodulator.h"
#include "sample_source.h"

namespace varnakd {
namespace {

using varnak::InputFile;

constexpr std::size_t kReadSize = 8192;
constexpr double kBitRate = 1187.5;

// Text files: bit text or hexadecimal text, as the frame processor takes
// them; hexadecimal white space is the processor's to skip.
class TextSource : public Source {
public:
    TextSource(const SourceConfig& c, bool hex) : config_(c), hex_(hex) {}
    bool run(ChunkSink& sink, std::string& error) override
    {
        InputFile in;
        if (!in.open(config_.path)) {
            error = config_.path + ": " + in.error();
            return false;
        }
        std::vector<char> buffer(kReadSize);
        uint64_t bits = 0;
        bool first = true;
        const Pacer pacer(config_.realtime);
        for (;;) {
            std::size_t got = 0;
            const auto r = in.read(buffer.data(), buffer.size(), got, 200);
            if (sink.stopping() || !pacer.wait(double(bits) / kBitRate, sink)) return true;
            if (r == InputFile::Result::Again) continue;
            if (r == InputFile::Result::End) return true;
            if (r == InputFile::Result::Failed) {
                error = config_.path + ": " + in.error();
                return false;
            }
            SourceChunk chunk;
            chunk.text.assign(buffer.data(), got);
            chunk.hex = hex_;
            chunk.restart = first;
            first = false;
            bits += hex_ ? got * 4 : got;
            chunk.bits = bits;
            if (!sink.push(std::move(chunk))) return true;
        }
    }

private:
    SourceConfig config_;
    bool hex_;
};

// Group logs: each group becomes the bits an encoder sent, with its stamp.
class GroupLogSource : public Source {
public:
    explicit GroupLogSource(const SourceConfig& c) : config_(c) {}
    bool run(ChunkSink& sink, std::string& error) override
    {
        InputFile in;
        if (!in.open(config_.path)) {
            error = config_.path + ": " + in.error();
            return false;
        }
        rdsformats::GroupLogReader reader;
        std::vector<char> buffer(kReadSize);
        uint64_t bits = 0;
        bool first = true, open = true;
        const Pacer pacer(config_.realtime);
        auto onGroup = [&](const rdsformats::GroupRecord& g, const std::string& text) {
            if (!open) return;
            SourceChunk chunk;
            chunk.text = text;
            chunk.stamp = g.time;
            chunk.restart = first;
            first = false;
            chunk.bits = bits += text.size();
            open = pacer.wait(double(bits) / kBitRate, sink) && sink.push(std::move(chunk));
        };
        for (;;) {
            std::size_t got = 0;
            const auto r = in.read(buffer.data(), buffer.size(), got, 200);
            if (sink.stopping() || !open) return true;
            if (r == InputFile::Result::Again) continue;
            if (r == InputFile::Result::Failed) {
                error = config_.path + ": " + in.error();
                return false;
            }
            if (r == InputFile::Result::End) break;
            if (!reader.feed(buffer.data(), got, onGroup)) {
                error = config_.path + ": " + reader.error();
                return false;
            }
        }
        if (!reader.finish(onGroup)) {
            error = config_.path + ": " + (reader.error().empty() ? "empty file" : reader.error());
            return false;
        }
        return true;
    }

private:
    SourceConfig config_;
};

// One station's multiplex: an audio file, or raw s16le samples from a file
// or a pipe (rtl_fm), demodulated here on the source's thread.
class MpxSource : public Source {
public:
    explicit MpxSource(const SourceConfig& c) : config_(c) {}
    bool run(ChunkSink& sink, std::string& error) override
    {
        using namespace varnak::radio;
        try {
            std::unique_ptr<SampleSource> source = config_.rate ? SampleSource::openRaw(config_.path, *config_.rate)
                                                                : SampleSource::openAudio(config_.path);
            RdsDemodulator demodulator(source->sampleRate());
            // A calibrated multiplex tells its deviation and power too.
            std::optional<MpxMeter> meter;
            if (config_.fullScaleKHz) meter.emplace(source->sampleRate(), *config_.fullScaleKHz);
            std::vector<float> samples(kReadSize);
            uint64_t bits = 0, read = 0;
            bool first = true;
            const Pacer pacer(config_.realtime);
            for (;;) {
                const std::size_t n = source->read(samples.data(), samples.size());
                read += n;
                if (!pacer.wait(double(read) / source->sampleRate(), sink)) return true;
                SourceChunk chunk;
                if (n)
                    demodulator.push(samples.data(), n, chunk.text);
                else
                    demodulator.finish(chunk.text);
                if (meter) meter->push(samples.data(), n);
                chunk.restart = first;
                first = false;
                chunk.bits = bits += chunk.text.size();
                chunk.signal = FiguresOf(demodulator.report());
                if (meter) {
                    chunk.signal->deviationKHz = meter->peakDeviationKHz();
                    chunk.signal->mpxPowerDbr = meter->mpxPowerDbr();
                }
                if (!sink.push(std::move(chunk)) || sink.stopping()) return true;
                if (!n) break;
            }
            if (!source->truncation().empty()) {
                error = source->truncation();
                return false;
            }
            return true;
        } catch (const std::exception& e) {
            error = e.what();
            return false;
        }
    }

private:
    SourceConfig config_;
};

const std::map<std::string, SourceFactory>& Kinds()
{
    static const std::map<std::string, SourceFactory> kinds = {
        {"bits", [](const SourceConfig& c) { return std::make_unique<TextSource>(c, false); }},
        {"hex", [](const SourceConfig& c) { return std::make_unique<TextSource>(c, true); }},
        {"grouplog", [](const SourceConfig& c) { return std::make_unique<GroupLogSource>(c); }},
        {"mpx", [](const SourceConfig& c) { return std::make_unique<MpxSource>(c); }},
        {"card", MakeCardSource},
#ifdef VARNAK_HAVE_BAND
        {"band", MakeBandSource},
#endif
    };
    return kinds;
}

}  // namespace

rdsformats::SignalFigures FiguresOf(const varnak::radio::SignalReport& report)
{
    rdsformats::SignalFigures figures;
    if (report.rdsFound) {
        figures.rdsLevel = report.rdsLevel;
        figures.cnrDb = report.cnrDb;
    }
    figures.pilotLevel = report.pilotPresent ? report.pilotLevel : 0.0;
    return figures;
}

Pacer::Pacer(double factor) : factor_(factor), start_(std::chrono::steady_clock::now()) {}

bool Pacer::wait(double seconds, const ChunkSink& sink) const
{
    if (factor_ <= 0) return !sink.stopping();
    const auto due = start_ + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                  std::chrono::duration<double>(seconds / factor_));
    // In short naps, so that a stop is taken within a tenth of a second.
    for (auto now = std::chrono::steady_clock::now(); now < due && !sink.stopping();
         now = std::chrono::steady_clock::now())
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(due - now, std::chrono::milliseconds(100)));
    return !sink.stopping();
}

const SourceFactory* FindSourceKind(const std::string& kind)
{
    const auto& kinds = Kinds();
    const auto it = kinds.find(kind);
    return it == kinds.end() ? nullptr : &it->second;
}

SourceRunner::SourceRunner(SourceConfig config, std::function<void()> wake)
    : config_(std::move(config)), wake_(std::move(wake))
{
}

SourceRunner::~SourceRunner() { stop(); }

void SourceRunner::start()
{
    thread_.reset(QThread::create([this] { runLoop(); }));
    thread_->start();
}

void SourceRunner::stop()
{
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    space_.notify_all();
    stopWait_.notify_all();
    if (thread_) thread_->wait();
}

void SourceRunner::runLoop()
{
    const SourceFactory* factory = FindSourceKind(config_.kind);
    while (!stop_) {
        std::string error;
        bool ok = false;
        if (factory) {
            std::unique_ptr<Source> source = (*factory)(config_);
            ok = source->run(*this, error);
        } else {
            error = config_.kind + " reception is not built in";
        }
        if (stop_) break;
        if (!config_.live) {
            if (!ok) {
                std::lock_guard lock(mutex_);
                errors_.push_back(error);
                lastError_ = error;
            }
            break;
        }
        // A live source that failed or ended (pipe closed, device gone) is
        // opened again after a pause; the service goes on meanwhile.
        {
            std::unique_lock lock(mutex_);
            errors_.push_back(ok ? std::string("input ended; opening it again") : error);
            lastError_ = errors_.back();
            retrying_ = true;
        }
        wake_();
        std::unique_lock lock(mutex_);
        stopWait_.wait_for(lock, std::chrono::duration<double>(config_.retry), [this] { return stop_.load(); });
        retrying_ = false;
    }
    done_ = true;
    wake_();
}

bool SourceRunner::push(SourceChunk&& chunk)
{
    {
        std::unique_lock lock(mutex_);
        if (config_.live) {
            if (queue_.size() >= kQueueChunks) {
                ++dropped_;
                return !stop_;
            }
        } else {
            space_.wait(lock, [this] { return queue_.size() < kQueueChunks || stop_; });
        }
        if (stop_) return false;
        bits_ += chunk.hex ? 4 * chunk.text.size() : chunk.text.size();
        queue_.push_back(std::move(chunk));
    }
    wake_();
    return true;
}

std::optional<SourceChunk> SourceRunner::take()
{
    std::lock_guard lock(mutex_);
    if (queue_.empty()) return std::nullopt;
    SourceChunk chunk = std::move(queue_.front());
    queue_.pop_front();
    space_.notify_one();
    return chunk;
}

std::vector<std::string> SourceRunner::takeErrors()
{
    std::lock_guard lock(mutex_);
    return std::exchange(errors_, {});
}

SourceStatus SourceRunner::status() const
{
    SourceStatus s;
    s.name = config_.name;
    s.kind = config_.kind;
    s.bits = bits_;
    s.dropped = dropped_;
    std::lock_guard lock(mutex_);
    s.state = done_ ? "ended" : retrying_ ? "retrying" : "running";
    s.error = lastError_;
    return s;
}

bool SourceRunner::finished() const
{
    std::lock_guard lock(mutex_);
    return done_ && queue_.empty();
}

}  // namespace varnakd
