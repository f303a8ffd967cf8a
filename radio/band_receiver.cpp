#include "band_receiver.h"

#include <cmath>
#include <limits>
#include <stdexcept>

#include "carrier_finder.h"
#include "channelizer.h"
#include "iq_source.h"

namespace varnak::radio {

namespace {

constexpr double kHoldSeconds = 0.25;  // searched before the first sample is fed

std::string MHz(double hz)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f MHz", hz / 1e6);
    return text;
}

}  // namespace

struct BandReceiver::Station {
    BandStation info;
    std::unique_ptr<StationReceiver> receiver;
    int channel = -1;
    int misses = 0;
};

BandReceiver::BandReceiver(const BandConfig& config) : config_(config)
{
    if (!std::isfinite(config.rate) || config.rate < kMinIqRate || config.rate > kMaxIqRate)
        throw std::invalid_argument("the sample rate is out of range for an IQ capture");
    channelizer_ = std::make_unique<Channelizer>(config.rate);
    finder_ = std::make_unique<CarrierFinder>(config.rate, config.centerHz, channelizer_->fftSize(), config.rasterHz);
    channelizer_->setSink([this](int channel, const std::complex<float>* samples, std::size_t count) {
        for (auto& s : stations_) {
            if (s->channel != channel) continue;
            bits_.clear();
            s->receiver->push(samples, count, bits_);
            if (!bits_.empty() && bitsSink_) bitsSink_(s->info.id, bits_);
            return;
        }
    });
    for (const double f : config.frequencies)
        if (!finder_->fits(f))
            throw std::invalid_argument(MHz(f) + " is outside the capture: a station's channel fits between " +
                                        MHz(finder_->lowestHz()) + " and " + MHz(finder_->highestHz()));
    if (!config.frequencies.empty()) {
        for (const double f : config.frequencies) {
            auto s = std::make_unique<Station>();
            s->info.id = int(stations_.size());
            s->info.frequencyHz = f;
            s->info.cnDb = std::numeric_limits<double>::quiet_NaN();
            stations_.push_back(std::move(s));
            addChannel(*stations_.back());
        }
        started_ = true;
    } else {
        channelizer_->setSpectrumSink([this](const std::vector<float>& power) { onSpectrum(power); });
    }
}

BandReceiver::~BandReceiver() = default;

double BandReceiver::lowestHz() const { return finder_->lowestHz(); }
double BandReceiver::highestHz() const { return finder_->highestHz(); }
const std::vector<double>& BandReceiver::spectrum() const { return finder_->lastAverage(); }

void BandReceiver::addChannel(Station& s)
{
    s.channel = channelizer_->addChannel(s.info.frequencyHz - config_.centerHz);
    s.receiver = std::make_unique<StationReceiver>(channelizer_->outputRate());
    s.info.active = true;
    s.misses = 0;
}

void BandReceiver::onSpectrum(const std::vector<float>& power) { finder_->add(power); }

void BandReceiver::push(const std::complex<float>* samples, std::size_t count)
{
    if (!started_) {
        const std::size_t hold = std::size_t(kHoldSeconds * config_.rate);
        const std::size_t take = std::min(count, hold - held_.size());
        held_.insert(held_.end(), samples, samples + take);
        samples += take;
        count -= take;
        if (held_.size() < hold) return;
        start();
    }
    while (count > 0) {
        // Searches fall between pushes of at most a second.
        std::size_t take = count;
        if (config_.frequencies.empty() && config_.keepLooking)
            take = std::size_t(std::min<uint64_t>(count, nextSearch_ > samples_ ? nextSearch_ - samples_ : 1));
        channelizer_->push(samples, take);
        samples_ += take;
        samples += take;
        count -= take;
        if (config_.frequencies.empty() && config_.keepLooking && samples_ >= nextSearch_) search();
    }
}

// The held-back start: searched on a channeliser of its own (the stations'
// channels are not known yet), then fed to the stations found.
void BandReceiver::start()
{
    started_ = true;
    {
        Channelizer scout(config_.rate);
        scout.setSpectrumSink([this](const std::vector<float>& power) { finder_->add(power); });
        scout.push(held_.data(), held_.size());
        scout.flush();
    }
    search();
    std::vector<std::complex<float>> held;
    held.swap(held_);
    channelizer_->push(held.data(), held.size());
    samples_ += held.size();
    nextSearch_ = samples_ + uint64_t(config_.searchSeconds * config_.rate);
}

void BandReceiver::search()
{
    nextSearch_ = samples_ + uint64_t(config_.searchSeconds * config_.rate);
    const std::vector<Carrier> carriers = finder_->find();
    std::vector<bool> seen(stations_.size(), false);
    for (const Carrier& c : carriers) {
        Station* match = nullptr;
        for (std::size_t i = 0; i < stations_.size(); ++i)
            if (std::abs(stations_[i]->info.frequencyHz - c.frequencyHz) < config_.rasterHz / 2) {
                match = stations_[i].get();
                seen[i] = true;
            }
        if (!match) {
            auto s = std::make_unique<Station>();
            s->info.id = int(stations_.size());
            s->info.frequencyHz = c.frequencyHz;
            s->info.firstSample = samples_;
            stations_.push_back(std::move(s));
            seen.push_back(true);
            match = stations_.back().get();
            addChannel(*match);
            match->info.cnDb = c.cnDb;
            match->info.lastSeenSample = samples_;
            if (stationSink_) stationSink_(match->info, true);
            continue;
        }
        match->info.cnDb = c.cnDb;
        match->info.lastSeenSample = samples_;
        match->misses = 0;
        if (!match->info.active) {
            addChannel(*match);
            if (stationSink_) stationSink_(match->info, true);
        }
    }
    for (std::size_t i = 0; i < stations_.size(); ++i) {
        Station& s = *stations_[i];
        if (seen[i] || !s.info.active || ++s.misses < config_.missesBeforeLost) continue;
        // Gone: its last bits are handed over and its channel freed.
        bits_.clear();
        s.receiver->finish(bits_);
        if (!bits_.empty() && bitsSink_) bitsSink_(s.info.id, bits_);
        s.info.signal = s.receiver->signal();
        channelizer_->removeChannel(s.channel);
        s.channel = -1;
        s.info.active = false;
        if (stationSink_) stationSink_(s.info, false);
    }
}

void BandReceiver::finish()
{
    if (!started_) start();
    channelizer_->flush();
    for (auto& s : stations_) {
        if (!s->info.active) continue;
        bits_.clear();
        s->receiver->finish(bits_);
        if (!bits_.empty() && bitsSink_) bitsSink_(s->info.id, bits_);
    }
}

StationSignal BandReceiver::signalOf(int id) const
{
    if (id < 0 || std::size_t(id) >= stations_.size()) return {};
    const Station& s = *stations_[std::size_t(id)];
    return s.info.active ? s.receiver->signal() : s.info.signal;
}

std::vector<BandStation> BandReceiver::stations() const
{
    std::vector<BandStation> list;
    for (const auto& s : stations_) {
        BandStation info = s->info;
        if (s->info.active) info.signal = s->receiver->signal();
        list.push_back(info);
    }
    return list;
}

}  // namespace varnak::radio
