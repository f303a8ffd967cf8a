// One decoded group as a single-line JSON object, for scripting: group type
// and version, PI, programme type and the fields that group carries, read
// from the decoder state record. The one serialiser of groups: murlin-decode
// --json and the service's MQTT payloads both use it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "frame_processor.h"
#include "json_text.h"
#include "station_texts.h"
#include "tmc_locations.h"

namespace rdsformats {

// What a group's object carries beyond the decoder's record.
struct JsonExtras {
    bool rbds = false;              // North American names, and call letters
    std::optional<int64_t> rxTime;  // reception time, 1/100 s since the epoch (UTC)
    // RadioText Plus items of the current radiotext (class, text), or null.
    const std::vector<std::pair<std::string, std::string>>* rtPlus = nullptr;
    // The station's texts with their confidence, fed this group already.
    // With them PS and radiotext appear whole only once confirmed, and the
    // open data applications, eRT, long PS and DAB cross-reference are
    // given; without them PS and radiotext are the decoder's as they stand.
    const rdsformats::StationTexts* texts = nullptr;
    // The group code (type * 2 + version) of RT+ groups, -1 for none.
    int rtPlusCarrier = -1;
    // A TMC location table to name the locations of 8A messages, or null.
    const rdsformats::TmcLocationTable* tmcLocations = nullptr;
    // A station of a band: its frequency in MHz, written first as "freq".
    std::optional<double> frequencyMhz;
};

// Appends the JSON object of `group` (no line end) to `out`. `api` supplies
// the descriptor texts (programme type, TMC duration and event). "pi" is the
// PI of the group's own block A.
void AppendGroupJson(std::string& out, const varnak::DecodedGroup& group, const varnak::MurlinApi& api,
                     const JsonExtras& extras = {});

}  // namespace rdsformats
