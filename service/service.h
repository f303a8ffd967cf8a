// varnakd's core: starts a worker per source, feeds each station's chunks
// through its pipeline on this (the decoding) thread, and hands states and
// alarms to the sinks. Recordings end; when every source has ended the
// service flushes its sinks and emits finished().
#pragma once

#include <QObject>
#include <QTimer>
#include <atomic>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "config.h"
#include "events.h"
#include "murlin_binding.h"
#include "source.h"
#include "station_pipeline.h"

namespace varnakd {

class Service : public QObject {
    Q_OBJECT
public:
    Service(const ServiceConfig& config, const varnak::MurlinApi& api, std::vector<EventSink*> sinks);
    ~Service() override;

    void start();
    void stop();
    const std::map<std::string, std::unique_ptr<StationPipeline>>& stations() const { return stations_; }
    // A recording could not be read (whole): the run is not a success.
    bool failed() const { return failed_; }

signals:
    void finished();

private:
    void wake();
    void drain();
    void tick();
    void reportSources();
    StationPipeline& station(const SourceRunner& runner, const std::string& name);

    const ServiceConfig& config_;
    const varnak::MurlinApi& api_;
    std::vector<EventSink*> sinks_;
    std::vector<std::unique_ptr<SourceRunner>> runners_;
    std::map<std::string, std::unique_ptr<StationPipeline>> stations_;
    std::map<const SourceRunner*, std::string> stationOf_;       // the source's own station
    std::map<const SourceRunner*, std::set<std::string>> lost_;  // stations a band receiver lost
    std::atomic<bool> wakePending_{false};
    QTimer ticker_;
    bool finished_ = false;
    bool failed_ = false;
};

}  // namespace varnakd
