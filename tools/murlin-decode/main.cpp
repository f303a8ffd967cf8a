// murlin-decode: decodes recorded RDS bit streams, or RDS demodulated from
// the FM multiplex signal (mpx_input.h), without a window and writes the same
// decode log as the monitor (or JSON lines for scripting).
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "band_input.h"
#include "decode_log.h"
#include "format_options.h"
#include "frame_processor.h"
#include "group_input.h"
#include "group_log.h"
#include "group_output.h"
#include "input_file.h"
#include "mpx_input.h"
#include "murlin_binding.h"
#include "output_file.h"
#include "rds2_output.h"
#include "stop_signals.h"
#include "text_input.h"
#include "tmc_locations.h"
#include "usage.h"

namespace {

constexpr const char* kProgram = "murlin-decode";
constexpr int kExitFailure = 1;
// Inputs shorter than this decode in well under a second: no progress bar.
constexpr std::size_t kProgressMinimum = 1u << 20;

constexpr const char* kBandOutputHelp =
    "With IQ input every station gets its own decode log (or group log with\n"
    "--format hex), named after the output and the station's frequency in MHz:\n"
    "capture.cu8 gives capture-98.50.out, -o band.txt band-98.50.txt; a live\n"
    "SDR or standard input Band-98.50.out. One station (--freq, once) writes to\n"
    "the output itself. JSON goes to the one output, each object with \"freq\"\n"
    "(MHz), and ends with a \"station\" object per station: its level (dBFS),\n"
    "C/N, peak deviation, pilot and RDS injection (kHz), groups and block error\n"
    "rate (every 10 s as well for live input). --stats and --history print per\n"
    "station. The summary on standard error is a table of the stations.\n";

constexpr const char* kHelp =
    "Usage: murlin-decode [OPTION]... [FILE]...\n"
    "  or:  murlin-decode --mpx [--rate HZ | --channel N] [OPTION]... [FILE]...\n"
    "  or:  murlin-decode --iq FORMAT --rate HZ --center HZ [--band | --freq HZ]... FILE\n"
    "  or:  murlin-decode --sdr ARGS --center HZ [--rate HZ] [--band | --freq HZ]...\n"
    "Decode recorded RDS bit streams, the FM multiplex signal, or every station\n"
    "of an SDR's IQ capture, and write the decode log.\n"
    "\n"
    "Each FILE is read as what its content shows, whatever its name: bit text,\n"
    "one character per bit (\"1\" is a one bit, any other character - \"0\",\n"
    "spaces, line ends - a zero bit); hexadecimal text, two digits per byte,\n"
    "first bit in the high digit, as the decoder card delivers it (white space\n"
    "ignored, a last single digit read alone as one byte); a group log (see\n"
    "--groups); or an audio file of the FM multiplex (see --mpx). --hex, --groups\n"
    "and --mpx read every FILE as that kind instead. A pipe or standard input\n"
    "whose start shows no other kind is bit text; audio is read from files only.\n"
    "A file is read piece by piece, so its length does not matter.\n"
    "\n"
    "For every decoded group the log gets a line of 36 hyphens and the four\n"
    "display lines of blocks A to D, each ended by CR LF. The log of FILE is\n"
    "written to FILE without its last four characters plus \".out\"\n"
    "(\"morning.txt\" gives \"morning.out\", \"run1.text\" gives \"run1..out\").\n"
    "An output file appears only once it is complete; a device or a pipe is\n"
    "written in place. When no group decodes, nothing is written: the output of\n"
    "an earlier run stays as it was. FILE \"-\" reads standard input and writes\n"
    "to standard output unless -o says otherwise; with no FILE, standard input\n"
    "is read when it is not a terminal.\n"
    "\n"
    "A live input (a pipe, a device, standard input that is no file) is read\n"
    "until it ends or a signal ends the run: on SIGINT (Ctrl-C), SIGTERM or\n"
    "SIGHUP the reading stops, the groups in hand are decoded, the output is\n"
    "written as at an end of the input, the summary says \"stopped by SIGINT\",\n"
    "and the program then ends by that signal. A second such signal ends it at\n"
    "once without output, as any signal does while a file is read.\n"
    "\n"
    "The FM multiplex signal (the baseband an FM receiver's demodulator gives,\n"
    "with RDS on 57 kHz) comes as an audio file (WAV, FLAC and others libsndfile\n"
    "reads) at its own sample rate, 128 to 384 kHz; or, with --mpx --rate, as raw\n"
    "signed 16-bit little-endian mono samples at that rate, FILE \"-\" for\n"
    "standard input, as from  rtl_fm -M fm -l 0 -A std -p 0 -s 171k -F 9 -f 95.8M\n"
    "The demodulated bits take the same road as those of a bit file. Writing to a\n"
    "pipe or terminal, every group is flushed as soon as it is decoded.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE  write to FILE instead (\"-\" for standard output);\n"
    "                     with several inputs only \"-\" is allowed\n"
    "      --hex          read every FILE as hexadecimal text\n"
    "      --json         write one JSON object per decoded group instead of the\n"
    "                     log records (group, pi, pty and the group's fields;\n"
    "                     texts in UTF-8 as the RDS character set has them)\n"
    "%s"
    "      --tmc-locations DIR\n"
    "                     with --json: name TMC locations from the location table\n"
    "                     in DIR (exchange format: LOCATIONCODES, NAMES, ROADS,\n"
    "                     SEGMENTS, POINTS and, for extents, OFFSETS .DAT files)\n"
    "      --invert       start with the bit stream inverted\n"
    "      --mpx          read every FILE as the FM multiplex signal (see above)\n"
    "      --rate HZ      with --mpx: raw s16le samples at HZ (\"171000\" or \"171k\")\n"
    "      --channel N    with --mpx: channel N (1 = first) of a multi-channel file\n"
    "      --rds2         with the multiplex: also demodulate RDS2's data streams on\n"
    "                     66.5, 71.25 and 76 kHz (those the sample rate carries: all\n"
    "                     three from 160 kHz); --json writes their groups too, each\n"
    "                     with \"stream\":1..3 (stream 0's stay as they are)\n"
    "      --save-files DIR\n"
    "                     with --rds2: write the files RDS file transfer brings (the\n"
    "                     station logo, logo-vVERSION-ID.png) to DIR, each once its\n"
    "                     size and CRC check; a file that does not is never written\n"
    "%s"
    "  -q, --quiet        no summary and no progress bar on standard error\n"
    "  -h, --help         show this help and exit\n"
    "  -v, --version      show the version and exit\n"
    "\n"
    "Polarity: while the decoder finds no block, it resets itself every 208\n"
    "bits; from the eleventh such reset in a file on, every reset flips the\n"
    "polarity, so an inverted recording still decodes.\n"
    "\n"
    "At the end a summary goes to standard error: bits (groups read from a group\n"
    "log), groups decoded, blocks accepted, check failures, repaired blocks, PI,\n"
    "PS and radiotext, RadioText Plus items and the malformed lines of a group\n"
    "log (the first few by number). When no group decodes and the text looks\n"
    "like the other form, it says so: \"this looks like bit text: try without\n"
    "--hex\". For the multiplex signal it adds the signal's length, the\n"
    "pilot's and the RDS signal's levels\n"
    "(in %% of full scale, where full scale is the peak deviation), an estimate of\n"
    "the RDS carrier-to-noise ratio in 4.8 kHz and the block error rate.\n"
    "The decoder library libmurlin.so.0 is loaded from the program's folder,\n"
    "else from the library folder of the installation the program is in, else\n"
    "from the system's library path.\n"
    "\n"
    "A temporary file \".NAME.varnak-tmp.PID\" beside the output holds the text\n"
    "until it is complete; one left by a killed run is removed by the next run\n"
    "that writes NAME.\n"
    "\n"
    "A truncated audio file of any kind, or raw input ending in the middle of a\n"
    "sample, is decoded as far as it goes, with a warning.\n"
    "\n"
    "--stats and --history print on standard output, so the decoded groups must\n"
    "go elsewhere then (-o FILE, or -o /dev/null); the summary, warnings and\n"
    "errors go to standard error.\n"
    "\n"
    "%s"
    "\n"
    "Exit status: 0 all files decoded, 1 a file could not be read, decoded (no\n"
    "group) or written, 2 wrong usage; a live run ended by a signal ends by that\n"
    "signal (status 128 + its number in the shell).\n";

struct Options {
    std::string output;  // empty: derived from the input path
    murlindecode::FormatOptions formats;
    bool hex = false;
    bool json = false;
    bool invert = false;
    bool quiet = false;
    murlindecode::MpxOptions mpx;
    murlindecode::BandOptions band;
    std::string tmcLocations;  // folder of a TMC location table, or empty
    std::optional<rdsformats::TmcLocationTable> tmcTable;
    std::vector<std::string> files;
};

int UsageError(const std::string& message) { return varnak::UsageError(kProgram, message); }

// Parses the command line; returns -1 to go on, else the exit status.
int ParseOptions(int argc, char** argv, Options& options)
{
    bool optionsDone = false;
    const bool iq = murlindecode::WantsIq(argc, argv);
    std::string bandError;
    std::string error;
    std::string mpxError;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsDone || arg == "-" || arg.empty() || arg[0] != '-') {
            options.files.push_back(arg);
        } else if (const int band = murlindecode::ParseBandArgument(argc, argv, i, iq, options.band, bandError)) {
            if (band < 0) return UsageError(bandError);
        } else if (const int mpx = murlindecode::ParseMpxArgument(argc, argv, i, options.mpx, mpxError)) {
            if (mpx < 0) return UsageError(mpxError);
        } else if (arg == "--") {
            optionsDone = true;
        } else if (arg == "-h" || arg == "--help") {
            std::printf(kHelp, murlindecode::kFormatHelp, murlindecode::kBandHelp, kBandOutputHelp);
            return 0;
        } else if (arg == "-v" || arg == "--version") {
            std::printf("%s %s\n", kProgram, VARNAK_VERSION);
            return 0;
        } else if (const int taken = murlindecode::ParseFormatOption(argc, argv, i, options.formats, error)) {
            if (taken < 0) return UsageError(error);
        } else if (arg == "--hex") {
            options.hex = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--invert") {
            options.invert = true;
        } else if (arg == "--tmc-locations" || arg.rfind("--tmc-locations=", 0) == 0) {
            if (arg.size() > 16)
                options.tmcLocations = arg.substr(16);
            else if (i + 1 < argc)
                options.tmcLocations = argv[++i];
            if (options.tmcLocations.empty()) return UsageError("option '--tmc-locations' needs a folder");
        } else if (arg == "-q" || arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "-o" || arg == "--output") {
            if (i + 1 >= argc) return UsageError("option '" + arg + "' needs a file name");
            options.output = argv[++i];
            if (options.output.empty()) return UsageError("option '" + arg + "' needs a file name");
        } else if (arg.rfind("--output=", 0) == 0) {
            options.output = arg.substr(9);
            if (options.output.empty()) return UsageError("option '--output' needs a file name");
        } else if (arg.size() > 2 && arg[1] == 'o') {
            options.output = arg.substr(2);
        } else {
            return UsageError("unknown option '" + arg + "'");
        }
    }
    // A SigMF recording is IQ input with nothing more said.
    if (iq) options.band.enabled = true;
    if (options.band.enabled && options.mpx.rds2) return UsageError("--rds2 is for the multiplex signal, not IQ input");
    if (options.band.enabled && (options.mpx.enabled || options.hex))
        return UsageError(std::string(options.mpx.enabled ? "--mpx" : "--hex") + " and IQ input cannot both be given");
    if (options.files.empty() && !options.band.sdr) {
        if (::isatty(STDIN_FILENO)) return UsageError("no input file");
        options.files.push_back("-");
    }
    if (const std::string m = murlindecode::CheckMpxOptions(options.mpx, options.hex, options.files); !m.empty())
        return UsageError(m);
    if (options.files.size() > 1 && !options.output.empty() && options.output != "-")
        return UsageError("several input files need their own logs: leave out -o, or use -o -");
    error = murlindecode::SettleFormat(options.formats, options.hex, options.invert, options.json);
    if (!error.empty()) return UsageError(error);
    if (options.mpx.enabled && options.formats.groups) return UsageError("--mpx and --groups cannot both be given");
    if (const std::string m =
            murlindecode::CheckBandOptions(options.band, options.formats, options.output, options.files);
        !m.empty())
        return UsageError(m);
    // The reports go to standard output; so would the decoded groups.
    const bool toStdout =
        options.output == "-" ||
        (options.output.empty() && std::find(options.files.begin(), options.files.end(), "-") != options.files.end());
    if ((options.formats.stats || options.formats.history) && toStdout)
        return UsageError(std::string(options.formats.stats ? "--stats" : "--history") +
                          " prints on standard output, where the decoded groups go too: send them to a file "
                          "with -o FILE (-o /dev/null for none)");
    return -1;
}

void Error(const std::string& message) { std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str()); }

// Counts groups for the summary, hands the stream to the group outputs
// (JSON, group log, statistics, RT+) and draws the progress bar.
class Run : public varnak::FrameListener {
public:
    Run(murlindecode::GroupOutput& output, bool progress, const std::string& name)
        : output_(output), progress_(progress), name_(name)
    {
    }

    void onStatus(uint16_t status) override { output_.onStatus(status); }
    void onSureStatus(uint16_t status) override { output_.onStatus(status, true); }
    void onGroup(const varnak::DecodedGroup& group) override
    {
        ++groups_;
        output_.onGroup(group);
    }

    // Draws the progress bar at `done` of `total` bytes.
    void showProgress(std::uint64_t done, std::uint64_t total)
    {
        if (!progress_ || total == 0) return;
        const int percent = static_cast<int>((done < total ? done : total) * 100 / total);
        if (percent == shownPercent_) return;
        shownPercent_ = percent;
        char bar[41];
        const int filled = percent * 40 / 100;
        for (int i = 0; i < 40; ++i) bar[i] = i < filled ? '#' : '-';
        bar[40] = '\0';
        std::fprintf(stderr, "\r%s [%s] %3d%%", name_.c_str(), bar, percent);
        std::fflush(stderr);
    }
    void clearProgress()
    {
        if (progress_ && shownPercent_ >= 0) std::fputs("\r\033[K", stderr);
    }

    std::size_t groups() const { return groups_; }

private:
    murlindecode::GroupOutput& output_;
    bool progress_;
    std::string name_;
    std::size_t groups_ = 0;
    int shownPercent_ = -1;
};

bool SameFile(const std::string& a, const std::string& b)
{
    struct stat sa {
    }, sb{};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// Checks that `outputPath` overwrites neither an input nor a log written
// before in this run; false (told) when it would.
bool OutputIsFree(const std::string& input, const std::string& outputPath, const Options& options,
                  const std::vector<std::pair<std::string, std::string>>& written)
{
    if (input != "-" && SameFile(input, outputPath)) {
        Error(input + ": the output " + outputPath + " would replace the input");
        return false;
    }
    // Several inputs can derive the same log path ("a.txt", "a.bit"), and
    // a derived path can be another input still to be read.
    for (const std::string& other : options.files)
        if (other != "-" && other != input && SameFile(other, outputPath)) {
            Error(input + ": the output " + outputPath + " would replace the input " + other);
            return false;
        }
    for (const auto& [source, log] : written)
        if (SameFile(log, outputPath)) {
            Error(input + ": the output " + outputPath + " would replace the log of " + source);
            return false;
        }
    return true;
}

// How one input is read: as its option says, else as its content shows.
enum class InputKind { Bits, Hex, GroupLog, Mpx };

// Opens `input` (except for --mpx, which opens its own) and chooses how to
// read it; false when it cannot be read (told). The head read to judge it
// is put back for the reader.
bool ChooseInput(const std::string& input, const Options& options, varnak::InputFile& file, InputKind& kind)
{
    if (options.mpx.enabled) {
        kind = InputKind::Mpx;
        return true;
    }
    if (!file.open(input)) {
        Error(input + ": cannot read: " + file.error());
        return false;
    }
    if (options.formats.groups || options.hex) {
        kind = options.hex ? InputKind::Hex : InputKind::GroupLog;
        return true;
    }
    std::vector<char> head(rdsformats::GroupLogReader::kHeadSize);
    std::size_t got = 0;
    varnak::InputFile::Result r;
    while ((r = file.read(head.data(), head.size(), got)) == varnak::InputFile::Result::Again) {
    }
    if (r == varnak::InputFile::Result::Failed) {
        Error(input + ": cannot read: " + file.error());
        return false;
    }
    if (r == varnak::InputFile::Result::End) {
        Error(input + ": empty file, nothing to decode");
        return false;
    }
    file.putBack(head.data(), got);
    using rdsformats::Reading;
    // Standard input is never handed to libsndfile, even from a file.
    switch (rdsformats::ChooseReading(std::string_view(head.data(), got), file.isStream() || input == "-")) {
        case Reading::Bits:
            kind = InputKind::Bits;
            return true;
        case Reading::Hex:
            kind = InputKind::Hex;
            return true;
        case Reading::GroupLog:
            kind = InputKind::GroupLog;
            return true;
        case Reading::Audio:
        case Reading::MaybeAudio:
            file.close();
            kind = InputKind::Mpx;
            return true;
        case Reading::AudioFromStream:
            Error(input + ": audio is read from files only; raw multiplex samples from a pipe need --mpx --rate HZ");
            return false;
    }
    return false;
}

// The signal's name for the summary ("SIGINT").
std::string SignalName(int signal)
{
    const char* name = sigabbrev_np(signal);
    return name ? std::string("SIG") + name : "signal " + std::to_string(signal);
}

// Decodes one input file; returns true on success. `written` holds the
// inputs and outputs committed so far in this run, and receives this file's.
bool DecodeFile(const std::string& input, const Options& options, const varnak::MurlinApi& api,
                std::vector<std::pair<std::string, std::string>>& written)
{
    varnak::InputFile file;
    InputKind kind = InputKind::Bits;
    if (!ChooseInput(input, options, file, kind)) return false;
    const bool groupLog = kind == InputKind::GroupLog;
    const bool hex = kind == InputKind::Hex;
    std::unique_ptr<murlindecode::MpxInput> mpx;
    std::string reason;
    if (kind == InputKind::Mpx && !(mpx = murlindecode::MpxInput::open(input, options.mpx, reason))) {
        // Not text, and no audio libsndfile knows either.
        if (!options.mpx.enabled)
            reason = input + ": not a recording: neither bit text, hexadecimal text, a group log nor audio";
        Error(reason);
        return false;
    }
    murlindecode::TextInput text;
    if (!mpx && !groupLog) text.begin(file, hex);

    // Standard input goes to standard output unless -o names a file.
    const std::string outputPath = !options.output.empty() ? options.output
                                   : input == "-"          ? std::string("-")
                                                           : varnak::DecodeLogPath(input);
    const bool toStdout = outputPath == "-";
    if (!toStdout && !OutputIsFree(input, outputPath, options, written)) return false;
    varnak::OutputFile output;
    if (!output.create(outputPath)) {
        Error(output.error());
        return false;
    }
    std::FILE* stream = output.stream();

    const murlindecode::OutputFormat format = options.formats.format;
    const bool logFormat = format == murlindecode::OutputFormat::Log;
    varnak::DecodeLog log;
    if (logFormat) log.attach(stream, output.name());

    const bool progress = !options.quiet && ::isatty(STDERR_FILENO) && (mpx || text.size() >= kProgressMinimum);
    murlindecode::GroupOutput groupOutput(api, format, logFormat ? nullptr : stream, options.formats.rbds);
    if (options.tmcTable) groupOutput.setTmcLocations(&*options.tmcTable);
    // Bits from a pipe or a device are live: each group gets the time it was
    // decoded, and a signal is the normal end of the run.
    struct stat inputInfo {};
    const bool fromStream = input == "-" ? ::fstat(STDIN_FILENO, &inputInfo) == 0 && !S_ISREG(inputInfo.st_mode)
                                         : ::stat(input.c_str(), &inputInfo) == 0 && !S_ISREG(inputInfo.st_mode);
    groupOutput.setLive(!groupLog && fromStream);
    varnak::StopSignals::setGraceful(fromStream);
    struct EndGraceful {
        ~EndGraceful() { varnak::StopSignals::setGraceful(false); }
    } endGraceful;
    Run run(groupOutput, progress, input);
    varnak::FrameProcessor processor(api);
    processor.setListener(&run);
    processor.setLog(logFormat ? &log : nullptr);
    processor.setInverted(options.invert);
    if (options.formats.history) groupOutput.enableHistory(options.formats.historyLimit);
    if (!groupLog) groupOutput.setPositionSource(&processor, hex ? 4 : 1);

    api.RDSInit();
    api.RDSStat(-1);  // counters of this file only
    rdsformats::GroupLogParser groupLines;
    std::unique_ptr<murlindecode::Rds2Output> rds2;
    if (options.mpx.rds2 && mpx) {
        rds2 = std::make_unique<murlindecode::Rds2Output>(format == murlindecode::OutputFormat::Json ? stream : nullptr,
                                                          options.mpx.saveFiles);
        mpx->enableRds2([&rds2](int s, const varnak::radio::Rds2Receiver::Group& words) { rds2->onGroup(s, words); });
    } else if (options.mpx.rds2 && !options.quiet) {
        Error(input + ": warning: not the multiplex signal; --rds2 has no streams to demodulate");
    }
    if (mpx) {
        const bool decoded = mpx->decode(
            processor, run, murlindecode::FlushTarget(stream),
            [&run](std::uint64_t done, std::uint64_t total) { run.showProgress(done, total); }, reason);
        run.clearProgress();
        if (!decoded) {
            Error(reason);
            return false;
        }
        groupOutput.finish();
        if (!mpx->truncation().empty()) Error("warning: " + mpx->truncation() + "; decoded what is there");
    } else if (groupLog) {
        if (!murlindecode::FeedGroupLog(file, processor, groupOutput, groupLines, reason)) {
            Error(input + ": " + reason);
            return false;
        }
    } else {
        processor.beginStream(!hex);
        const char* piece = nullptr;
        std::size_t size = 0;
        while (text.next(piece, size)) {
            processor.feed(piece, size);
            run.showProgress(text.bytesRead(), text.size());
        }
        run.clearProgress();
        if (!text.error().empty()) {
            Error(input + ": " + text.error());
            return false;
        }
        if (text.bytesRead() == 0) {
            Error(input + ": empty file, nothing to decode");
            return false;
        }
        if (text.characters() == 0) {
            Error(input + ": no hexadecimal digits, nothing to decode");
            return false;
        }
        processor.endStream();
        groupOutput.finish();
        if (hex && text.characters() % 2 && !options.quiet)
            Error(input + ": warning: odd number of hexadecimal digits; the last one was read alone as a byte");
    }

    // Nothing decoded: nothing is written, and an earlier output stays as it
    // was. A group log's groups with lost blocks still make a group log.
    const bool nothing =
        run.groups() == 0 && (format != murlindecode::OutputFormat::Hex || groupOutput.stats().groups() == 0);
    // The log reports its own write errors; other output is checked here.
    std::string writeError;
    if (logFormat) {
        if (!log.close()) writeError = log.error();
    } else if (groupOutput.failed()) {
        writeError = "cannot write " + output.name() + ": " + std::strerror(groupOutput.error());
    }
    if (writeError.empty() && rds2 && rds2->failed()) writeError = rds2->error();
    if (!writeError.empty()) {
        Error(writeError);
        return false;
    }
    if (nothing) {
        output.discard();
    } else {
        if (!output.commit()) {
            Error(output.error());
            return false;
        }
        if (!toStdout) written.emplace_back(input, outputPath);
    }

    if (!nothing && (options.formats.stats || options.formats.history)) {
        const std::string table =
            (options.formats.stats ? murlindecode::StatsText(input, groupOutput.stats(), options.json) : "") +
            (options.formats.history ? murlindecode::HistoryText(input, groupOutput.history(), options.json) : "");
        if (std::fputs(table.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
            Error(std::string("cannot write standard output: ") + std::strerror(errno ? errno : EIO));
            return false;
        }
    }

    const char* hint = mpx || groupLog || !text.looksLikeOtherForm() ? nullptr
                       : hex                                         ? "this looks like bit text: try without --hex"
                                                                     : "this looks like hex text: try --hex";
    const std::string nothingWritten = input + ": no group decoded" + (hint ? std::string("; ") + hint : "") +
                                       (toStdout ? "" : "; " + outputPath + " not written");
    if (options.quiet) {
        if (nothing) Error(nothingWritten);
        return !nothing;
    }
    DecoderState state{};
    api.RDSStruct(&state);
    const std::uint64_t bits = mpx ? mpx->bits() : hex ? (text.characters() + 1) / 2 * 8 : text.characters();
    const std::string read =
        groupLog ? std::to_string(groupLines.groups()) + " groups read" : std::to_string(bits) + " bits";
    std::fprintf(stderr, "%s: %s, %zu groups decoded, %d blocks accepted, %d check failures, %d repaired blocks\n",
                 input.c_str(), read.c_str(), run.groups(), api.RDSStat(0), api.RDSStat(1), api.RDSStat(2));
    if (run.groups() > 0) {
        const bool rtA = state.groupsSeen & (1u << 4), rtB = state.groupsSeen & (1u << 5);
        const std::string rt = rtA   ? murlindecode::SummaryText(state.radioText, sizeof state.radioText)
                               : rtB ? murlindecode::SummaryText(state.radioTextB, sizeof state.radioTextB)
                                     : std::string();
        std::fprintf(stderr, "  PI %04X  PS '%s'  RT '%s'\n", state.pi, murlindecode::SummaryText(state.ps, 8).c_str(),
                     rt.c_str());
    }
    std::fputs(murlindecode::SummaryExtras(groupOutput, groupLog ? &groupLines : nullptr).c_str(), stderr);
    if (mpx) mpx->printSummary(stderr, api);
    if (rds2) std::fputs(rds2->summary(mpx->rds2Report()).c_str(), stderr);
    if (processor.inverted() != options.invert)
        std::fprintf(stderr, "  polarity flipped: stream ended %s\n",
                     processor.inverted() ? "inverted" : "not inverted");
    if (const int signal = varnak::StopSignals::requested())
        std::fprintf(stderr, "  stopped by %s\n", SignalName(signal).c_str());
    static const char* const kOutputKinds[] = {"log", "JSON", "group log"};
    if (nothing)
        Error(nothingWritten);
    else if (!toStdout)
        std::fprintf(stderr, "  %s: %s\n", kOutputKinds[static_cast<int>(format)], outputPath.c_str());
    return !nothing;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    const int parsed = ParseOptions(argc, argv, options);
    if (parsed >= 0) return parsed;

    varnak::StopSignals::install();

    std::string error;
    if (!options.tmcLocations.empty()) {
        options.tmcTable = rdsformats::TmcLocationTable::Load(options.tmcLocations, error);
        if (!options.tmcTable) {
            Error(error);
            return kExitFailure;
        }
    }
    const varnak::MurlinApi* api = varnak::murlin(&error);
    if (!api) {
        Error(error);
        return kExitFailure;
    }
    bool ok = true;
    std::vector<std::pair<std::string, std::string>> written;  // input and its output
    if (options.band.enabled) {
        const murlindecode::BandRun run{options.output, options.formats, options.quiet};
        ok = murlindecode::DecodeBand(options.files.empty() ? std::string() : options.files[0], options.band, run, *api,
                                      kProgram);
        if (const int signal = varnak::StopSignals::requested()) varnak::StopSignals::endBySignal(signal);
        return ok ? 0 : kExitFailure;
    }
    for (const std::string& file : options.files) {
        ok = DecodeFile(file, options, *api, written) && ok;
        // A live run ended by a signal: its output is committed; the program
        // ends by the same signal, as the shell expects.
        if (const int signal = varnak::StopSignals::requested()) varnak::StopSignals::endBySignal(signal);
    }
    return ok ? 0 : kExitFailure;
}
