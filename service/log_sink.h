// The service's log on standard error (systemd's journal takes it): alarms
// always, station changes at level info, every state at level debug.
#pragma once

#include <cstdio>
#include <map>
#include <string>

#include "events.h"

namespace varnakd {

class LogSink : public EventSink {
public:
    LogSink(std::FILE* to, std::string level) : to_(to), level_(std::move(level)) {}
    void stateChanged(const rdsformats::StationState& state) override;
    void alarm(const AlarmEvent& event, const std::vector<AlarmEvent>& active) override;

private:
    std::FILE* to_;
    std::string level_;
    std::map<std::string, std::string> shown_;  // per station: PI and PS last logged
};

}  // namespace varnakd
