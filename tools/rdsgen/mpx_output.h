// rdsgen --mpx: the bit stream as the FM multiplex signal an RDS transmitter
// puts on air, written as a WAV file or as raw s16le samples, and the list of
// the transmitted groups for measuring a receiver against.
#pragma once

#include "generator.h"
#include "radio_channel.h"

#include <QCommandLineOption>
#include <QList>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class QCommandLineParser;

namespace rdsgen {

struct MpxOptions {
    bool enabled = false;
    int rate = 171000;            // samples per second
    std::optional<double> cnrDb;  // RDS carrier-to-noise ratio; none: no noise
    double ppm = 0;               // sampling clock error
    // An RDS encoder on its own clock: carrier (and bit clock) offset from
    // 3 x pilot, its drift and its phase to the pilot.
    double rdsOffsetHz = 0;
    double rdsDriftHzPerMinute = 0;
    double rdsPhaseDeg = 0;
    bool stereo = false;
    bool pilot = true;
    // Through the radio channel and a receiver at the same rate (any of
    // --rf-cn, --fading, --echo, --interferer).
    bool channel = false;
    varnak::radio::ChannelConfig radio;
    // RDS2: a file (the station logo) sent by RDS file transfer on the three
    // extra data streams; empty for none.
    std::string rds2Logo;
    bool raw = false;       // raw s16le instead of WAV
    bool realtime = false;  // written at the signal's own pace
};

// The options of the multiplex output and of the group list, for the parser.
QList<QCommandLineOption> MpxCommandLineOptions();
// Reads them from a parser that has parsed; throws UsageError.
MpxOptions ParseMpxOptions(const QCommandLineParser& parser);

// Writes the multiplex of bits to path ("-": standard output).
// A regular file appears only once complete; a FIFO or device is written in
// place. False with
// error set when writing fails. Samples beyond full scale are clipped and
// counted in clipped.
bool WriteMpx(const std::string& bits, const MpxOptions& options, uint64_t seed, const std::string& path,
              std::string& error, uint64_t& clipped);

// The bits of RDS2's streams 1..3 carrying `file` as the station logo on
// RFT pipe 0, each `length` bits long: the groups of one cycle repeated.
// Throws std::runtime_error naming the file when it cannot be read or sent.
std::vector<std::string> Rds2LogoBits(const std::string& file, std::size_t length);
// Seconds one cycle of the logo takes (every segment once).
double Rds2LogoCycleSeconds(const std::string& file);

struct CommandLine;
// Why the group list cannot go where the command line puts it (over the
// description or the output), or empty.
std::string GroupListClash(const CommandLine& cl);

// The groups, one per line as four hexadecimal block words "AAAA BBBB CCCC DDDD".
std::string GroupListText(const std::vector<GroupWords>& groups);

}  // namespace rdsgen
