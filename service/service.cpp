#include "service.h"

#include <QMetaObject>
#include <cstdio>

namespace varnakd {

Service::Service(const ServiceConfig& config, const varnak::MurlinApi& api, std::vector<EventSink*> sinks)
    : config_(config), api_(api), sinks_(std::move(sinks))
{
    ticker_.setInterval(1000);
    connect(&ticker_, &QTimer::timeout, this, &Service::tick);
}

Service::~Service() { stop(); }

void Service::start()
{
    for (const SourceConfig& source : config_.sources) {
        auto runner = std::make_unique<SourceRunner>(source, [this] { wake(); });
        stationOf_[runner.get()] = source.stationName();
        runners_.push_back(std::move(runner));
    }
    // Stations are known before their first group, so RDS loss counts from the start.
    for (auto& runner : runners_)
        if (runner->config().kind != "band") station(*runner, stationOf_[runner.get()]);
    for (auto& runner : runners_) runner->start();
    ticker_.start();
    reportSources();
}

void Service::stop()
{
    for (auto& runner : runners_) runner->stop();
}

void Service::wake()
{
    if (!wakePending_.exchange(true)) QMetaObject::invokeMethod(this, &Service::drain, Qt::QueuedConnection);
}

StationPipeline& Service::station(const SourceRunner& runner, const std::string& name)
{
    auto& slot = stations_[name];
    if (!slot) {
        StationPipeline::Options o;
        o.site = config_.site;
        o.name = name;
        for (const StationProfile& p : config_.stations)
            if (p.key == name) o.profile = &p;
        o.live = runner.config().live;
        o.start = runner.config().start.value_or(StationPipeline::WallClock());
        o.groupsJson = config_.mqtt.enabled && config_.mqtt.groups;
        slot = std::make_unique<StationPipeline>(api_, o, sinks_);
        for (EventSink* sink : sinks_) sink->stationAdded(slot->state());
    }
    return *slot;
}

void Service::drain()
{
    wakePending_ = false;
    bool more = false;
    for (auto& runner : runners_) {
        // A few chunks of each source in turn, so that none starves the others.
        for (int n = 0; n < 8; ++n) {
            std::optional<SourceChunk> chunk = runner->take();
            if (!chunk) break;
            if (chunk->tick) {
                for (const std::string& gone : lost_[runner.get()]) station(*runner, gone).clock(*chunk->clock);
                continue;
            }
            const std::string& name = chunk->station.empty() ? stationOf_[runner.get()] : chunk->station;
            StationPipeline& pipeline = station(*runner, name);
            // A lost station keeps its state; its carrier-lost and RDS-loss alarms tell the rest.
            if (chunk->ended) {
                pipeline.carrierLost(*chunk);
                lost_[runner.get()].insert(name);
                continue;
            }
            if (chunk->restart) {
                pipeline.sourceFailed(false, StationPipeline::WallClock(), {});
                lost_[runner.get()].erase(name);
            }
            pipeline.feed(*chunk);
            // The stations a capture lost follow its clock: their alarms come on time.
            if (chunk->clock)
                for (const std::string& gone : lost_[runner.get()]) station(*runner, gone).clock(*chunk->clock);
            if (n == 7) more = true;
        }
        for (const std::string& error : runner->takeErrors()) {
            std::fprintf(stderr, "varnakd: source %s: %s\n", runner->config().name.c_str(), error.c_str());
            if (runner->config().live)
                station(*runner, stationOf_[runner.get()]).sourceFailed(true, StationPipeline::WallClock(), error);
            else
                failed_ = true;
        }
    }
    if (more) {
        wake();
        return;
    }
    if (finished_ || runners_.empty()) return;
    for (auto& runner : runners_)
        if (!runner->finished()) return;
    finished_ = true;
    reportSources();
    for (auto& [name, pipeline] : stations_) pipeline->finish();
    for (EventSink* sink : sinks_) sink->flush();
    emit finished();
}

void Service::tick()
{
    const int64_t now = StationPipeline::WallClock();
    for (auto& [name, pipeline] : stations_) pipeline->tick(now);
    reportSources();
    drain();
}

void Service::reportSources()
{
    std::vector<SourceStatus> status;
    for (auto& runner : runners_) status.push_back(runner->status());
    for (EventSink* sink : sinks_) sink->sources(status);
}

}  // namespace varnakd
