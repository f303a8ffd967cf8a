#include "options.h"

#include "command_line.h"
#include "numbers.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cmath>

namespace rdsgen {

namespace {

QList<QCommandLineOption> Options()
{
    QList<QCommandLineOption> options{
        {{"o", "output"}, "Write to <file> (\"-\" or none: standard output).", "file"},
        {"hex", "Hexadecimal text, two characters per byte, instead of one character per bit."},
        {{"d", "seconds"}, "Length of the stream in seconds at 1187.5 bit/s (default 60).", "seconds"},
        {{"n", "groups"}, "Length of the stream in whole groups instead.", "count"},
        {"garbage", "Random bits before the first group.", "bits"},
        {"error-rate", "Probability 0..1 that any bit is flipped.", "rate"},
        {"burst",
         "Noise from <at> for <length> bits, each bit flipped with <rate> (default 0.5); "
         "<at> and <length> in bits, or in seconds with an s suffix. Repeatable.",
         "at:length[:rate]"},
        {"invert", "Invert every bit (wrong polarity)."},
        {"seed", "Seed of the random garbage and errors (default 1).", "number"},
        {{"h", "help"}, "Show this help."},
        {{"v", "version"}, "Show the version."},
    };
    options.append(MpxCommandLineOptions());
    options.append(IqCommandLineOptions());
    return options;
}

double Decimal(const std::string& text, const std::string& what)
{
    const auto v = ParseDecimal(text);
    if (!v) throw UsageError(what + ": '" + text + "' is not a number");
    return *v;
}

int64_t Whole(const std::string& text, const std::string& what, int64_t lo, int64_t hi)
{
    const auto v = ParseInteger(text);
    if (!v) throw UsageError(what + ": '" + text + "' is not a whole number");
    if (*v < lo || *v > hi)
        throw UsageError(what + ": " + text + " is out of range " + std::to_string(lo) + ".." + std::to_string(hi));
    return *v;
}

// "1200" bits or "2.5s" seconds.
int64_t BitPosition(const std::string& text, const std::string& what)
{
    constexpr int64_t kMax = int64_t(1) << 40;
    if (!text.empty() && text.back() == 's') {
        const double s = Decimal(text.substr(0, text.size() - 1), what);
        if (s < 0 || s * kBitRate > double(kMax)) throw UsageError(what + ": " + text + " is out of range");
        return std::llround(s * kBitRate);
    }
    return Whole(text, what, 0, kMax);
}

Burst ParseBurst(const std::string& text)
{
    std::vector<std::string> parts{""};
    for (char c : text) {
        if (c == ':')
            parts.emplace_back();
        else
            parts.back().push_back(c);
    }
    if (parts.size() < 2 || parts.size() > 3)
        throw UsageError("--burst: '" + text + "' is not at:length or at:length:rate");
    Burst b;
    b.start = BitPosition(parts[0], "--burst start");
    b.length = BitPosition(parts[1], "--burst length");
    if (parts.size() == 3) {
        b.rate = Decimal(parts[2], "--burst rate");
        if (b.rate < 0 || b.rate > 1) throw UsageError("--burst rate: " + parts[2] + " is not within 0..1");
    }
    return b;
}

}  // namespace

CommandLine ParseCommandLine(const QStringList& args)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QList<QCommandLineOption> options = Options();
    parser.addOptions(options);
    parser.addPositionalArgument("description", "The station description file.");
    if (const auto error = varnak::ParseArguments(parser, options, args)) throw UsageError(*error);

    CommandLine cl;
    cl.help = parser.isSet("help");
    cl.version = parser.isSet("version");
    if (cl.help || cl.version) return cl;

    const QStringList positional = parser.positionalArguments();
    if (parser.isSet("iq")) {
        // The stations of a capture are described by --station.
        if (!positional.isEmpty())
            throw UsageError("with --iq the stations come from --station FREQ:FILE; leave out " +
                             positional.front().toStdString());
    } else {
        if (positional.isEmpty()) throw UsageError("no station description file given");
        if (positional.size() > 1)
            throw UsageError("more than one description file given: " + positional.join(' ').toStdString());
        cl.description = positional.front().toStdString();
    }

    // An option given twice would silently lose a value: refuse it.
    for (const char* once : {"output", "seconds", "groups", "garbage", "error-rate", "seed"})
        if (parser.values(once).size() > 1) throw UsageError(std::string("--") + once + " given more than once");

    if (parser.isSet("output")) {
        cl.output = parser.value("output").toStdString();
        if (cl.output.empty()) throw UsageError("--output: empty file name");
    }
    cl.hex = parser.isSet("hex");
    StreamOptions& s = cl.stream;
    if (parser.isSet("seconds") && parser.isSet("groups"))
        throw UsageError("--seconds and --groups cannot both be given");
    if (parser.isSet("seconds")) {
        s.seconds = Decimal(parser.value("seconds").toStdString(), "--seconds");
        // The stream is built in memory: a day of RDS is about 100 million bits.
        if (s.seconds <= 0 || s.seconds > 86400)
            throw UsageError("--seconds: must be above 0 and at most a day (86400)");
    }
    if (parser.isSet("groups")) s.groups = Whole(parser.value("groups").toStdString(), "--groups", 1, 1000000);
    if (parser.isSet("garbage")) s.garbageBits = Whole(parser.value("garbage").toStdString(), "--garbage", 0, 10000000);
    if (parser.isSet("error-rate")) {
        s.errorRate = Decimal(parser.value("error-rate").toStdString(), "--error-rate");
        if (s.errorRate < 0 || s.errorRate > 1) throw UsageError("--error-rate: must be within 0..1");
    }
    for (const QString& b : parser.values("burst")) s.bursts.push_back(ParseBurst(b.toStdString()));
    s.invert = parser.isSet("invert");
    if (parser.isSet("seed")) s.seed = uint64_t(Whole(parser.value("seed").toStdString(), "--seed", 0, INT64_MAX));
    cl.iq = ParseIqOptions(parser);
    if (!cl.iq.enabled) cl.mpx = ParseMpxOptions(parser);
    if (cl.iq.enabled && cl.output == "-" && cl.iq.sigmf) throw UsageError("--sigmf writes two files: give -o FILE");
    if (cl.mpx.enabled && !cl.mpx.raw && cl.output == "-")
        throw UsageError(
            "--mpx writes a WAV file: give it with -o FILE, or add --raw for raw samples on standard output");
    if (parser.isSet("list-groups")) {
        cl.groupList = parser.value("list-groups").toStdString();
        if (cl.groupList.empty()) throw UsageError("--list-groups: empty file name");
    }
    return cl;
}

std::string HelpText()
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Generates the bit stream an RDS encoder transmits for the station described in a file,\n"
        "as text of one character 0/1 per bit (a recording for the monitor's File command),\n"
        "or with --hex as the hexadecimal text a decoder card delivers,\n"
        "or with --mpx as the FM multiplex signal a receiver's FM demodulator delivers.");
    parser.addOptions(Options());
    parser.addPositionalArgument("description", "The station description file.");
    std::string text = varnak::HelpText(parser, "rdsgen");
    text +=
        "\nDescription file: one setting per line, '#' starts a comment, text in double quotes.\n"
        "  pi 0xC201                       programme identification (required)\n"
        "  pty 10 | tp 1 | ta 0 | ms music|speech\n"
        "  di stereo dynamic-pty           also artificial-head, compressed, none\n"
        "  ps \"KESTREL \"                   programme-service name, 8 characters\n"
        "  af 97.4 89.1 101.7 531          alternative frequencies, method A; MHz, or kHz for LF/MF\n"
        "  rt A \"text\" | rt B \"text\"       radiotext of 2A (64) or 2B (32); several lines rotate\n"
        "  rt-repeat 2                     whole sends of a text before the next (A/B flag flips)\n"
        "  rpc 0 | pin 8:19:30 | slc 0 0x2E1 [la]   group 1A: paging, item number, slow labelling\n"
        "  ct 2026-12-08 19:55 +1          clock time (UTC) and local offset in hours\n"
        "  oda 0xCD46 8A 0x0000            open data application: AID, group, message (3A)\n"
        "  tmc event=101 location=0x3A2F extent=2 duration=3 direction=1 diversion=0 t=0 f=1\n"
        "      quantifier=3                 with it the message goes out as two groups\n"
        "  eon 0xC202 ps=\"KESTREL2\" tp=1 ta=0 pty=3 pin=8:20:00 af=89.1,95.3\n"
        "      mapped=97.4:89.1 am=97.4:531 linkage=0x1234 v10=0x0 v11=0x0 v15=0x0\n"
        "  raw 5A 0x1F 0x1234 0x5678       any group: block B bits 4..0, block C (or pi), block D\n"
        "  schedule 0A*4 2A*2 1A 3A 8A 14A 14B 15B 5A   one cycle of groups, repeated\n"
        "See tools/rdsgen/README.md for the full description.\n";
    return text;
}

}  // namespace rdsgen
