#include "format_options.h"

#include "group_json.h"
#include "rds_charset.h"

namespace murlindecode {

const char kFormatHelp[] =
    "      --groups       read group logs: one group a line, four 4-digit\n"
    "                     hexadecimal words for blocks A to D (\"----\" for a block\n"
    "                     not received), optionally followed by a time stamp\n"
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
    "                     output (one JSON object with --json)\n";

int ParseFormatOption(int argc, char** argv, int& i, FormatOptions& o, std::string& error) {
    const std::string arg = argv[i];
    if (arg == "--groups") {
        o.groups = true;
    } else if (arg == "--rbds") {
        o.rbds = true;
    } else if (arg == "--stats") {
        o.stats = true;
    } else if (arg == "--format" || arg.rfind("--format=", 0) == 0) {
        std::string value;
        if (arg == "--format") {
            if (i + 1 >= argc) {
                error = "option '--format' needs log, json or hex";
                return -1;
            }
            value = argv[++i];
        } else {
            value = arg.substr(9);
        }
        if (value == "log") o.format = OutputFormat::Log;
        else if (value == "json") o.format = OutputFormat::Json;
        else if (value == "hex") o.format = OutputFormat::Hex;
        else {
            error = "unknown format '" + value + "' (log, json or hex)";
            return -1;
        }
        o.formatGiven = true;
    } else {
        return 0;
    }
    return 1;
}

std::string SettleFormat(FormatOptions& o, bool hex, bool invert, bool& json) {
    if (o.groups && hex) return "--groups and --hex cannot go together: a file is one or the other";
    if (o.groups && invert) return "--invert has no meaning for group logs: their groups are already decoded";
    if (json) {
        if (o.formatGiven && o.format != OutputFormat::Json) return "--json and --format disagree";
        o.format = OutputFormat::Json;
    }
    json = o.format == OutputFormat::Json;
    return {};
}

std::string SummaryText(const char* text, std::size_t size) {
    std::size_t n = 0;
    while (n < size && text[n] && text[n] != '\r') ++n;
    while (n > 0 && text[n - 1] == ' ') --n;
    return rdsformats::RdsToUtf8(text, n);
}

std::string SummaryExtras(const GroupOutput& output, const rdsformats::GroupLogParser* parser) {
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

std::string StatsText(const std::string& input, const rdsformats::GroupStats& stats, bool json) {
    if (!json) return input + ": group statistics\n" + stats.text();
    std::string out = "{\"file\":";
    AppendUtf8JsonString(out, input);
    return out + ',' + stats.json().substr(1) + '\n';
}

}  // namespace murlindecode
