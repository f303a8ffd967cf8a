#include "band_run.h"

#include <stdexcept>
#include <utility>

namespace varnak {
namespace {

// Capture samples pushed at a time: what murlin-decode pushes, about 14 ms
// at 2.4 MS/s, so Stop is seen at once.
constexpr std::size_t kChunk = std::size_t(1) << 15;

}  // namespace

std::unique_ptr<BandRun> BandRun::open(const BandInput& input, std::string& error)
{
    std::unique_ptr<BandRun> run(new BandRun);
    run->realtime_ = input.realtime && !input.sdr;
    try {
        if (input.sdr)
            run->source_ = radio::SdrSource::open(*input.sdr);
        else
            run->source_ = radio::IqSource::open(input.path, input.iq);
    } catch (const radio::SampleSourceError& e) {
        error = e.what();
        return nullptr;
    }
    run->name_ = input.sdr ? run->source_->name() : input.path == "-" ? std::string("standard input") : input.path;
    if (!run->source_->centerFrequency()) {
        error = run->name_ + ": its centre frequency is not known: give --center";
        return nullptr;
    }
    radio::BandConfig config;
    config.rate = run->source_->sampleRate();
    config.centerHz = *run->source_->centerFrequency();
    // As murlin-decode: stations that appear later are picked up.
    config.keepLooking = true;
    try {
        run->receiver_ = std::make_unique<radio::BandReceiver>(config);
    } catch (const std::invalid_argument& e) {
        error = run->name_ + ": " + e.what();
        return nullptr;
    }
    run->rate_ = config.rate;
    run->center_ = config.centerHz;
    run->live_ = input.sdr.has_value() || !run->source_->frames().has_value();
    // Stop ends the worker even while a live input is silent.
    run->source_->setStopQuery([r = run.get()] { return r->handoff_.stopping(); });
    run->pending_.total = run->source_->frames();
    run->receiver_->setBitsSink([r = run.get()](int id, const std::string& bits) { r->bits_[id] += bits; });
    run->receiver_->setStationSink(
        [r = run.get()](const radio::BandStation& s, bool found) { r->events_.emplace_back(s, found); });
    return run;
}

BandRun::~BandRun() { stop(); }

void BandRun::start(Wake wake)
{
    handoff_.start([this] { work(); }, std::move(wake));
}

void BandRun::stop() { handoff_.stop(); }

void BandRun::take(Batch& batch)
{
    handoff_.take([&] {
        batch.bits.swap(pending_.bits);
        batch.events.swap(pending_.events);
        batch.stations.swap(pending_.stations);
        batch.spectrum.swap(pending_.spectrum);
        pending_.bits.clear();
        pending_.events.clear();
        pending_.stations.clear();
        pending_.spectrum.clear();
        batch.ended = pending_.ended;
        batch.error = pending_.error;
        batch.truncation = pending_.truncation;
        batch.samples = pending_.samples;
        batch.total = pending_.total;
        pendingBits_ = 0;
    });
}

// Hands what the worker has over to the window: bits and station events
// always, the signal of every station and the spectrum every kReportEvery
// (and at the end).
void BandRun::hand(bool last)
{
    const Clock::time_point now = Clock::now();
    const bool report = last || now - lastReport_ >= kReportEvery;
    std::vector<radio::BandStation> stations;
    std::vector<double> spectrum;
    if (report) {
        lastReport_ = now;
        stations = receiver_->stations();
        spectrum = receiver_->spectrum();
    }
    std::size_t size = 0;
    for (const auto& [id, bits] : bits_) size += bits.size();
    // The window is behind: wait for it rather than drop bits.
    handoff_.hand([this] { return pendingBits_ >= kPendingLimit; },
                  [&] {
                      for (auto& [id, bits] : bits_) pending_.bits[id] += bits;
                      pendingBits_ += size;
                      for (auto& event : events_) pending_.events.push_back(std::move(event));
                      if (report) {
                          pending_.stations = std::move(stations);
                          if (!spectrum.empty()) pending_.spectrum = std::move(spectrum);
                      }
                      pending_.samples = receiver_->samples();
                  });
    bits_.clear();
    events_.clear();
}

void BandRun::work()
{
    std::vector<std::complex<float>> samples(kChunk);
    std::string error;
    uint64_t read = 0;
    const Clock::time_point begin = Clock::now();
    try {
        while (!handoff_.stopping()) {
            const std::size_t n = source_->read(samples.data(), samples.size());
            if (n == 0) break;
            read += n;
            receiver_->push(samples.data(), n);
            hand(false);
            if (realtime_)
                handoff_.waitUntil(begin + std::chrono::duration_cast<Clock::duration>(
                                               std::chrono::duration<double>(static_cast<double>(read) / rate_)));
        }
    } catch (const std::exception& e) {
        error = e.what();
    }
    receiver_->finish();
    hand(true);
    handoff_.hand([] { return false; },
                  [&] {
                      pending_.ended = true;
                      pending_.error = error;
                      if (error.empty()) pending_.truncation = source_->truncation();
                  });
}

}  // namespace varnak
