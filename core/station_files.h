// The names of a band's per-station outputs, shared by murlin-decode and the
// monitor so that both write a station's log to the same place: the outputs
// of a capture go beside it, named after it ("morning.cu8" gives
// "morning-98.50.out"), those of live input into "Band-98.50.out".
#pragma once

#include <string>

namespace varnak {

// "98.50" for 98.5 MHz: the name part of a station's files.
std::string StationLabel(double hz);
// The output of a station: `base` with "-" and `label` before its extension.
std::string StationPath(const std::string& base, const std::string& label);
// The base name of a capture's outputs when none is given: beside the
// capture, named after it (a SigMF pair by its base name); "Band.out" for
// live input (an SDR, or standard input).
std::string BandOutputBase(const std::string& input, bool live);
// Whether `path` names a SigMF recording (either file of the pair).
bool IsSigmfPath(const std::string& path);

}  // namespace varnak
