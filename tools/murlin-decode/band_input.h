// murlin-decode on IQ captures: one station by frequency (--freq) or every
// station of the capture at once (--band), from raw IQ files, FIFOs and
// standard input (--iq FORMAT), SigMF recordings, two-channel IQ audio files
// and live SDRs (--sdr). Each station's bits take their own road through a
// frame processor with a decoder of its own, into its own outputs.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "format_options.h"
#include "iq_source.h"
#include "murlin_binding.h"

namespace murlindecode {

struct BandOptions {
    bool enabled = false;  // any IQ option given, or a SigMF input
    std::optional<varnak::radio::IqFormat> format;
    std::optional<double> rate, center;
    std::vector<double> frequencies;  // --freq, Hz
    bool band = false;
    double raster = 100e3;
    std::optional<std::string> sdr;
    std::optional<double> gain;  // dB; nothing: automatic
    double ppm = 0;
};

// Whether the command line asks for IQ input at all (any of --iq, --freq,
// --band, --center, --sdr, or a SigMF file): then --rate is the IQ rate.
bool WantsIq(int argc, char** argv);

// Looks at argv[i]: an IQ option is taken (i moves past a separate value)
// and 1 returned; 0 for any other argument; -1 with `error` set for a bad
// value. --rate is taken only when `iq`.
int ParseBandArgument(int argc, char** argv, int& i, bool iq, BandOptions& options, std::string& error);
// The options taken together: empty if they fit, else the usage error.
std::string CheckBandOptions(const BandOptions& options, const FormatOptions& formats, const std::string& output,
                             const std::vector<std::string>& files);

// What the band run needs of the rest of the command line.
struct BandRun {
    std::string output;  // -o, empty: derived from the input
    FormatOptions formats;
    bool quiet = false;
};

// Decodes one capture (`input`; ignored for --sdr). Returns true when any
// group was decoded and every output was written; errors are told on
// standard error with `program`'s name.
bool DecodeBand(const std::string& input, const BandOptions& options, const BandRun& run, const varnak::MurlinApi& api,
                const char* program);

// The help lines of these options.
extern const char kBandHelp[];

}  // namespace murlindecode
