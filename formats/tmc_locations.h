// TMC location tables as users get them from the national table
// providers, in the exchange format: a folder of semicolon-separated text
// files, each headed by its column names, of which this reads
// LOCATIONCODES, NAMES, ROADS, SEGMENTS and POINTS (and OFFSETS, when
// present, for the extent of a message). Names may be in UTF-8 or Latin-1.
//
// A message's location is shown as road number, road name, the location's
// name, the direction and, where the offsets allow, the far end of its
// extent.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace rdsformats {

struct TmcPlace {
    std::string roadNumber;  // "A1", or empty
    std::string roadName;    // the road's name, or empty
    std::string name;        // the location's own name
    std::string extentEnd;   // the name of the location `extent` steps away, or empty
};

// For people: "A7 Kestrel Coast Road: Cliffside, positive direction, to
// Harbour" (parts the table lacks are left out).
std::string TmcPlaceText(const TmcPlace& place, bool negative);

class TmcLocationTable {
public:
    // Reads the table in `folder`. On failure gives nothing and sets
    // `error` to one line naming the file, the line and what was wrong.
    static std::optional<TmcLocationTable> Load(const std::string& folder, std::string& error);

    std::size_t size() const { return locations_.size(); }
    // The place of location `code`; `negative`: the message's direction bit.
    std::optional<TmcPlace> place(uint16_t code, bool negative, int extent) const;

private:
    struct Location {
        uint32_t name1 = 0, name2 = 0, roadName = 0;
        uint16_t road = 0;  // the road (ROA_LCD) or, for a road, itself
        std::string roadNumber;
        uint16_t negativeOffset = 0, positiveOffset = 0;
    };
    std::string nameOf(uint32_t id) const;
    std::string locationName(const Location& l) const;

    std::map<uint16_t, Location> locations_;
    std::map<uint32_t, std::string> names_;
};

}  // namespace rdsformats
