// A scripted stand-in for the decoder library, to check exactly which calls
// the frame processing path makes and when.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "murlin_binding.h"

namespace fakemurlin {

struct Call {
    bool byte;       // RDSBytFrame rather than RDSBitFrame
    int32_t value;   // the bit or byte fed
    int32_t invert;  // the invert flag given
};

// Every feeding call, in order.
extern std::vector<Call> calls;
// Status for the n-th feeding call (0-based); 0x1215 when unset.
extern std::function<uint16_t(std::size_t)> script;
// Calls of the read-back functions (RDSDisplay, RDSStruct, RDSData).
extern int readBacks;

void Reset();
const varnak::MurlinApi& Api();

}  // namespace fakemurlin
