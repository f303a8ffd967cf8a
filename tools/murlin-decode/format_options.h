// murlin-decode's options for the formats it reads and writes beyond bit
// streams and the decode log (group logs, JSON, statistics, RBDS), with
// their help text and the summary lines they add.
#pragma once

#include <cstddef>
#include <string>

#include "group_log.h"
#include "group_output.h"
#include "group_stats.h"

namespace murlindecode {

struct FormatOptions {
    OutputFormat format = OutputFormat::Log;
    bool formatGiven = false;  // --format was on the command line
    bool groups = false;       // inputs are group logs
    bool rbds = false;         // North American names and call letters
    bool stats = false;        // statistics per file on standard output
    bool history = false;      // station history per file on standard output
    std::size_t historyLimit = rdsformats::StationHistory::kDefaultLimit;
};

// The lines of --help that describe these options.
extern const char kFormatHelp[];

// Looks at argument `i`: 1 when it was one of these options (`i` moved past
// its value), 0 when it is not, -1 with `error` set when it is wrong.
int ParseFormatOption(int argc, char** argv, int& i, FormatOptions& options, std::string& error);

// Checks the combination with --hex, --invert and --json (which is --format
// json) and settles the format. Returns the usage error, empty when all is well.
std::string SettleFormat(FormatOptions& options, bool hex, bool invert, bool& json);

// A record text (PS, radiotext) for the summary: in the RDS character set,
// up to its zero byte or radiotext end code, trailing spaces dropped, bytes
// without a character as a middle dot.
std::string SummaryText(const char* text, std::size_t size);

// The summary lines these formats add ("  RT+ ...", "  2 malformed lines ..."),
// each ended by a line feed; empty when there is nothing to say.
std::string SummaryExtras(const GroupOutput& output, const rdsformats::GroupLogParser* parser);

// The statistics of `input`: a table, or one JSON object with `json`.
std::string StatsText(const std::string& input, const rdsformats::GroupStats& stats, bool json);

// The station history and statistics of `input`: text, or one JSON object
// with `json` ("file" first).
std::string HistoryText(const std::string& input, const rdsformats::StationHistory& history, bool json);

}  // namespace murlindecode
