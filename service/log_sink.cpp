#include "log_sink.h"

#include "group_log.h"

namespace varnakd {

void LogSink::stateChanged(const rdsformats::StationState& s)
{
    if (level_ == "warning") return;
    if (level_ == "debug") {
        std::fprintf(to_, "varnakd: state %s\n", rdsformats::StationStateJson(s).c_str());
        return;
    }
    char pi[8] = "----";
    if (s.pi) std::snprintf(pi, sizeof pi, "%04X", unsigned(*s.pi));
    std::string line = std::string(pi) + " '" + s.ps + "'";
    std::string& shown = shown_[s.name];
    if (line == shown) return;
    shown = line;
    std::fprintf(to_, "varnakd: %s/%s: %s\n", s.site.c_str(), s.name.c_str(), line.c_str());
}

void LogSink::alarm(const AlarmEvent& e, const std::vector<AlarmEvent>& /*active*/)
{
    std::fprintf(to_, "varnakd: %s/%s: alarm %s %s at %s: %s\n", e.site.c_str(), e.station.c_str(), e.kind.c_str(),
                 e.raised ? "raised" : "cleared", rdsformats::FormatIsoUtc(e.time).c_str(), e.detail.c_str());
}

}  // namespace varnakd
