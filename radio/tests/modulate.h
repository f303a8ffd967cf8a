// The whole multiplex signal of `bits` at once, tails of the last symbols
// included: what the radio tests feed to the receiver.
#pragma once

#include <string>
#include <vector>

#include "mpx_modulator.h"

inline std::vector<float> Modulate(const varnak::radio::MpxConfig& config, const std::string& bits)
{
    varnak::radio::MpxModulator m(config);
    std::vector<float> out;
    m.modulate(bits, out);
    m.finish(out);
    return out;
}
