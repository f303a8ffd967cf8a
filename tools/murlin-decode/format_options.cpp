#include "format_options.h"

#include <cerrno>
#include <cstdlib>

#include "group_json.h"
#include "rds_charset.h"

namespace murlindecode {

const char kFormatHelp[] =
    "      --groups       read every FILE as a group log: one group a line, four\n"
    "                     4-digit hexadecimal words for blocks A to D (\"----\" for\n"
    "                     a block not received), optionally followed by a time stamp\n"
    "                     \"@YYYY/MM/DD hh:mm:ss.cc\" in local time; a first line\n"
    "                     <recorder=...> is allowed. Each group is decoded as the\n"
    "                     signal that carried it; a malformed line is skipped and\n"
    "                     counted\n"
    "      --format FMT   what to write: log (the decode log, the default), json\n"
    "                     (as --json) or hex (a group log as --groups reads it,\n"
    "                     with time stamps where known)\n"
    "      --rbds         North American (RBDS) programme-type names, and in JSON\n"
    "                     the call letters of a US station (\"callsign\")\n"
    "      --stats        after each file, print the count and share of each group\n"
    "                     type and version and the block error rate on standard\n"
    "                     output (one JSON object with --json); the decoded\n"
    "                     groups must then go to a file (-o FILE, or -o /dev/null)\n"
    "      --history      after each file, print the station history on standard\n"
    "                     output: per PI the PS texts with the times each was\n"
    "                     first and last seen, every complete radiotext, PTY and\n"
    "                     TA/TP changes, AF list, clock time (with its offset from\n"
    "                     the receiving clock) and ODA applications, then the\n"
    "                     group statistics with the rate per second (one JSON\n"
    "                     object with --json). A text counts only once all its\n"
    "                     segments came in groups without a lost block. Times\n"
    "                     are offsets from the start of a recording (bits /\n"
    "                     1187.5), a group log's own time stamps, or wall-clock\n"
    "                     times for a pipe or device; as with --stats, the\n"
    "                     decoded groups must then go to a file\n"
    "      --history-limit N  keep at most the newest N entries per list (default\n"
    "                     10000); the output says how many older ones were dropped\n";

namespace {

// Whether argument `i` is option `name`, as "NAME VALUE" (`i` moved to the
// value; an empty value when there is none) or "NAME=VALUE".
bool OptionValue(int argc, char** argv, int& i, const std::string& name, std::string& value)
{
    const std::string arg = argv[i];
    if (arg == name) {
        value = i + 1 < argc ? argv[++i] : "";
        return true;
    }
    if (arg.rfind(name + "=", 0) != 0) return false;
    value = arg.substr(name.size() + 1);
    return true;
}

}  // namespace

int ParseFormatOption(int argc, char** argv, int& i, FormatOptions& o, std::string& error)
{
    const std::string arg = argv[i];
    std::string value;
    if (arg == "--groups") {
        o.groups = true;
    } else if (arg == "--rbds") {
        o.rbds = true;
    } else if (arg == "--stats") {
        o.stats = true;
    } else if (arg == "--history") {
        o.history = true;
    } else if (OptionValue(argc, argv, i, "--history-limit", value)) {
        char* end = nullptr;
        errno = 0;
        const unsigned long long n = std::strtoull(value.c_str(), &end, 10);
        if (!value.empty() && value[0] != '-' && !*end && !errno && n >= 1 && n <= 100000000ull) {
            o.historyLimit = static_cast<std::size_t>(n);
            return 1;
        }
        error = value.empty() && i + 1 >= argc
                    ? "option '--history-limit' needs a number"
                    : "option '--history-limit' needs a number from 1 to 100000000, not '" + value + "'";
        return -1;
    } else if (OptionValue(argc, argv, i, "--format", value)) {
        if (value == "log")
            o.format = OutputFormat::Log;
        else if (value == "json")
            o.format = OutputFormat::Json;
        else if (value == "hex")
            o.format = OutputFormat::Hex;
        else {
            error = value.empty() && i + 1 >= argc ? std::string("option '--format' needs log, json or hex")
                                                   : "unknown format '" + value + "' (log, json or hex)";
            return -1;
        }
        o.formatGiven = true;
    } else {
        return 0;
    }
    return 1;
}

std::string SettleFormat(FormatOptions& o, bool hex, bool invert, bool& json)
{
    if (o.groups && hex) return "--groups and --hex cannot go together: a file is one or the other";
    if (o.groups && invert) return "--invert has no meaning for group logs: their groups are already decoded";
    if (json) {
        if (o.formatGiven && o.format != OutputFormat::Json) return "--json and --format disagree";
        o.format = OutputFormat::Json;
    }
    json = o.format == OutputFormat::Json;
    return {};
}

std::string SummaryText(const char* text, std::size_t size)
{
    std::size_t n = 0;
    while (n < size && text[n] && text[n] != '\r') ++n;
    while (n > 0 && text[n - 1] == ' ') --n;
    return rdsformats::RdsToUtf8(text, n);
}

std::string SummaryExtras(const GroupOutput& output, const rdsformats::GroupLogParser* parser)
{
    std::string out;
    const auto items = output.rtPlusItems();
    if (!items.empty()) {
        out += "  RT+";
        for (std::size_t i = 0; i < items.size(); ++i)
            out += (i ? ", " : " ") + items[i].first + " '" + items[i].second + "'";
        out += '\n';
    }
    if (parser && parser->malformed()) out += "  " + parser->report() + '\n';
    return out;
}

std::string StatsText(const std::string& input, const rdsformats::GroupStats& stats, bool json)
{
    if (!json) return input + ": group statistics\n" + stats.text();
    std::string out = "{\"file\":";
    rdsformats::AppendUtf8JsonString(out, input);
    return out + ',' + stats.json().substr(1) + '\n';
}

std::string HistoryText(const std::string& input, const rdsformats::StationHistory& history, bool json)
{
    if (!json) return input + ": station history\n" + history.text();
    std::string out = "{\"file\":";
    rdsformats::AppendUtf8JsonString(out, input);
    return out + ',' + history.json().substr(1) + '\n';
}

}  // namespace murlindecode
