// The TMC event table (ALERT-C event list), in ascending order of code.
#pragma once

#include <cstdint>

namespace murlin {

struct EventRow {
    int32_t code;
    const char* text;
};

extern const EventRow kEventTable[];
extern const int kEventTableSize;

}  // namespace murlin
