// rdsgen --iq: a test capture of a slice of the FM band as an SDR delivers
// it: several described stations, each FM-modulated from its own multiplex
// at its frequency and level, in white noise at an RF C/N, quantised to an
// SDR's raw sample format (with an RTL-SDR's DC offset and IQ imbalance for
// cu8), optionally with SigMF metadata beside it.
#pragma once

#include "generator.h"
#include "iq_source.h"

#include <QCommandLineOption>
#include <QList>

#include <optional>
#include <string>
#include <vector>

class QCommandLineParser;

namespace rdsgen {

struct IqStation {
    double frequencyHz = 0;
    std::string description;  // station description file
    double levelDb = 0;
};

struct IqOptions {
    bool enabled = false;
    varnak::radio::IqFormat format = varnak::radio::IqFormat::Cu8;
    double rate = 2.4e6;
    double centerHz = 0;
    std::vector<IqStation> stations;
    std::optional<double> cnDb;  // of a 0-dB station in 200 kHz; none: no noise
    bool sigmf = false;
    bool stereo = false;
    double rdsKHz = 3;      // RDS injection of every station (peak deviation it causes)
    double peakKHz = 67.5;  // with a programme: the deviation every station's multiplex is clipped at
};

QList<QCommandLineOption> IqCommandLineOptions();
// Reads them from a parser that has parsed; throws UsageError.
IqOptions ParseIqOptions(const QCommandLineParser& parser);

// Writes the capture to `path` ("-": standard output; with SigMF the pair
// PATH.sigmf-data and PATH.sigmf-meta, PATH without those endings). Every
// file appears only once complete. False with `error` set when a station
// cannot be loaded or writing fails.
// With `groupList`, the groups each station sent go there, one per line:
// its frequency in MHz and the four block words ("98.5 C2A1 0408 E0CD 4B45").
bool WriteIq(const IqOptions& options, const StreamOptions& stream, const std::string& path, std::string& error,
             const std::string& groupList = {});

}  // namespace rdsgen
