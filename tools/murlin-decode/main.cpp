// murlin-decode: decodes recorded RDS bit streams without a window and
// writes the same decode log as the monitor (or JSON lines for scripting).
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <csignal>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "decode_log.h"
#include "frame_processor.h"
#include "group_json.h"
#include "mpx_input.h"
#include "murlin_binding.h"
#include "output_file.h"

namespace {

constexpr const char* kProgram = "murlin-decode";
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
// Inputs shorter than this decode in well under a second: no progress bar.
constexpr std::size_t kProgressMinimum = 1u << 20;

constexpr const char* kHelp =
    "Usage: murlin-decode [OPTION]... FILE...\n"
    "  or:  murlin-decode --mpx [--rate HZ | --channel N] [OPTION]... FILE...\n"
    "Decode recorded RDS bit streams, or the FM multiplex signal, and write the\n"
    "decode log.\n"
    "\n"
    "Each FILE holds one character per bit: \"1\" is a one bit, any other\n"
    "character (\"0\", spaces, line ends) a zero bit. With --hex it holds\n"
    "hexadecimal text, two digits per byte, first bit in the high digit, as the\n"
    "decoder card delivers it; white space is ignored there and a last single\n"
    "digit is read alone as one byte.\n"
    "\n"
    "For every decoded group the log gets a line of 36 hyphens and the four\n"
    "display lines of blocks A to D, each ended by CR LF. The log of FILE is\n"
    "written to FILE without its last four characters plus \".out\"\n"
    "(\"morning.txt\" gives \"morning.out\", \"run1.text\" gives \"run1..out\").\n"
    "An output file appears only once it is complete. FILE \"-\" reads standard\n"
    "input; its output then needs -o.\n"
    "\n"
    "With --mpx each FILE holds the FM multiplex signal (the baseband an FM\n"
    "receiver's demodulator gives, with RDS on 57 kHz): an audio file (WAV, FLAC\n"
    "and others libsndfile reads) at its own sample rate, 128 to 384 kHz; or with\n"
    "--rate raw signed 16-bit little-endian mono samples at that rate, FILE \"-\"\n"
    "for standard input, as from  rtl_fm -M fm -l 0 -A std -p 0 -s 171k -F 9 -f 95.8M\n"
    "The demodulated bits take the same road as those of a bit file. Writing to a\n"
    "pipe or terminal, every group is flushed as soon as it is decoded.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE  write to FILE instead (\"-\" for standard output);\n"
    "                     with several inputs only \"-\" is allowed\n"
    "      --hex          read hexadecimal text instead of one character per bit\n"
    "      --json         write one JSON object per decoded group instead of the\n"
    "                     log records (group, pi, pty and the group's fields)\n"
    "      --invert       start with the bit stream inverted\n"
    "      --mpx          the input is the FM multiplex signal (see above)\n"
    "      --rate HZ      with --mpx: raw s16le samples at HZ (\"171000\" or \"171k\")\n"
    "      --channel N    with --mpx: channel N (1 = first) of a multi-channel file\n"
    "  -q, --quiet        no summary and no progress bar on standard error\n"
    "  -h, --help         show this help and exit\n"
    "      --version      show the version and exit\n"
    "\n"
    "Polarity: while the decoder finds no block, it resets itself every 208\n"
    "bits; from the eleventh such reset in a file on, every reset flips the\n"
    "polarity, so an inverted recording still decodes.\n"
    "\n"
    "At the end a summary goes to standard error: bits, groups decoded, blocks\n"
    "accepted, check failures, repaired blocks, PI, PS and radiotext; with --mpx\n"
    "also the signal's length, the pilot's and the RDS signal's levels (in % of\n"
    "full scale, where full scale is the peak deviation), an estimate of the RDS\n"
    "carrier-to-noise ratio in 4.8 kHz and the block error rate.\n"
    "The decoder library libmurlin.so is loaded from the program's folder, or\n"
    "else from the system's library path.\n"
    "\n"
    "A truncated audio file or raw input ending in the middle of a sample is\n"
    "decoded as far as it goes, with a warning.\n"
    "\n"
    "Exit status: 0 all files decoded, 1 a file could not be read, decoded\n"
    "or written, 2 wrong usage.\n";

struct Options {
    std::string output;  // empty: derived from the input path
    bool hex = false;
    bool json = false;
    bool invert = false;
    bool quiet = false;
    murlindecode::MpxOptions mpx;
    std::vector<std::string> files;
};

int UsageError(const std::string& message) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", kProgram, message.c_str(), kProgram);
    return kExitUsage;
}

// Parses the command line; returns -1 to go on, else the exit status.
int ParseOptions(int argc, char** argv, Options& options) {
    bool optionsDone = false;
    std::string mpxError;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsDone || arg == "-" || arg.empty() || arg[0] != '-') {
            options.files.push_back(arg);
        } else if (const int mpx = murlindecode::ParseMpxArgument(argc, argv, i, options.mpx, mpxError)) {
            if (mpx < 0) return UsageError(mpxError);
        } else if (arg == "--") {
            optionsDone = true;
        } else if (arg == "-h" || arg == "--help") {
            std::fputs(kHelp, stdout);
            return 0;
        } else if (arg == "--version") {
            std::printf("%s %s\n", kProgram, VARNAK_VERSION);
            return 0;
        } else if (arg == "--hex") {
            options.hex = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--invert") {
            options.invert = true;
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
    if (const std::string m = murlindecode::CheckMpxOptions(options.mpx, options.hex, options.files); !m.empty()) return UsageError(m);
    if (options.files.empty()) return UsageError("no input file");
    for (const std::string& file : options.files)
        if (file == "-" && options.output.empty())
            return UsageError("standard input has no file name to derive the log from: use -o");
    if (options.files.size() > 1 && !options.output.empty() && options.output != "-")
        return UsageError("several input files need their own logs: leave out -o, or use -o -");
    return -1;
}

void Error(const std::string& message) { std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str()); }

// Reads the whole file; on failure `error` names the reason.
bool ReadWholeFile(const std::string& path, std::string& text, std::string& error) {
    std::FILE* f = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (!f) {
        error = std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (::fstat(::fileno(f), &info) == 0) {
        if (S_ISDIR(info.st_mode)) {
            if (f != stdin) std::fclose(f);
            error = "is a directory";
            return false;
        }
        if (S_ISREG(info.st_mode)) text.reserve(static_cast<std::size_t>(info.st_size));
    }
    char buffer[1 << 16];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    const bool failed = std::ferror(f);
    const int readErrno = errno;
    if (f != stdin) std::fclose(f);
    if (failed) {
        error = std::strerror(readErrno ? readErrno : EIO);
        return false;
    }
    return true;
}

// Drops white space from hexadecimal text and checks every other character;
// on a character that is not a hexadecimal digit `error` names its place.
bool CleanHex(std::string& text, std::string& error) {
    std::size_t line = 1, column = 0, kept = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        ++column;
        if (c == '\n') {
            ++line;
            column = 0;
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') continue;
        if (!std::isxdigit(c)) {
            char shown[16];
            if (c >= 0x20 && c < 0x7F) std::snprintf(shown, sizeof shown, "'%c'", c);
            else std::snprintf(shown, sizeof shown, "byte 0x%02X", c);
            error = "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + shown +
                    " is not a hexadecimal digit";
            return false;
        }
        text[kept++] = static_cast<char>(c);
    }
    text.resize(kept);
    return true;
}

// A printable rendering of a record text for the summary: up to its zero
// byte or radiotext end code, trailing spaces dropped, control bytes as '.'.
std::string Printable(const char* text, std::size_t size) {
    std::string out;
    for (std::size_t i = 0; i < size && text[i] && text[i] != '\r'; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        out += (c < 0x20 || c == 0x7F) ? '.' : static_cast<char>(c);
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

// Collects what the summary needs, writes JSON lines and draws the progress bar.
class Run : public varnak::FrameListener {
public:
    Run(const varnak::MurlinApi& api, std::FILE* json, bool progress, const std::string& name)
        : api_(api), json_(json), progress_(progress), name_(name) {}

    void onGroup(const varnak::DecodedGroup& group) override {
        ++groups_;
        if (!json_ || jsonFailed_) return;
        line_.clear();
        murlindecode::AppendGroupJson(line_, group, api_);
        line_ += '\n';
        if (std::fwrite(line_.data(), 1, line_.size(), json_) != line_.size()) {
            jsonFailed_ = true;
            jsonErrno_ = errno;
        }
    }

    void onProgress(std::size_t position, std::size_t total) override {
        if (!progress_) return;
        const int percent = static_cast<int>(position * 100 / total);
        if (percent == shownPercent_) return;
        shownPercent_ = percent;
        char bar[41];
        const int filled = percent * 40 / 100;
        for (int i = 0; i < 40; ++i) bar[i] = i < filled ? '#' : '-';
        bar[40] = '\0';
        std::fprintf(stderr, "\r%s [%s] %3d%%", name_.c_str(), bar, percent);
        if (position == total) std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }

    std::size_t groups() const { return groups_; }
    bool jsonFailed() const { return jsonFailed_; }
    int jsonErrno() const { return jsonErrno_; }

private:
    const varnak::MurlinApi& api_;
    std::FILE* json_;
    bool progress_;
    std::string name_;
    std::string line_;
    std::size_t groups_ = 0;
    bool jsonFailed_ = false;
    int jsonErrno_ = 0;
    int shownPercent_ = -1;
};

// The temporary output of the file being decoded, for the signal handler:
// an interrupted run must not leave a half-written file behind.
char gTemporary[4096];

void RememberTemporary(const std::string& path) {
    const std::size_t n = path.size() < sizeof gTemporary ? path.size() : 0;
    std::memcpy(gTemporary, path.data(), n);
    gTemporary[n] = '\0';
}

extern "C" void OnTerminate(int signal) {
    if (gTemporary[0]) ::unlink(gTemporary);  // async-signal-safe
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// Decodes one input file; returns true on success. `written` holds the
// inputs and outputs committed so far in this run, and receives this file's.
bool DecodeFile(const std::string& input, const Options& options, const varnak::MurlinApi& api,
                std::vector<std::pair<std::string, std::string>>& written) {
    std::string text, reason;
    std::unique_ptr<murlindecode::MpxInput> mpx;
    if (options.mpx.enabled && !(mpx = murlindecode::MpxInput::open(input, options.mpx, reason))) {
        Error(reason);
        return false;
    }
    if (!mpx && !ReadWholeFile(input, text, reason)) {
        Error(input + ": cannot read: " + reason);
        return false;
    }
    if (!mpx && text.empty()) {
        Error(input + ": empty file, nothing to decode");
        return false;
    }
    if (options.hex) {
        if (!CleanHex(text, reason)) {
            Error(input + ": " + reason);
            return false;
        }
        if (text.empty()) {
            Error(input + ": no hexadecimal digits, nothing to decode");
            return false;
        }
        if (text.size() % 2 && !options.quiet)
            Error(input + ": warning: odd number of hexadecimal digits; the last one is read alone as a byte");
    }

    const bool toStdout = options.output == "-";
    std::string outputPath;
    if (!toStdout) {
        if (!options.output.empty()) {
            outputPath = options.output;
        } else {
            outputPath = varnak::DecodeLogPath(input);
        }
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
    }
    murlindecode::OutputFile output;
    std::FILE* stream = stdout;
    if (!toStdout) {
        if (!output.create(outputPath)) {
            Error(output.error());
            return false;
        }
        stream = output.stream();
        RememberTemporary(output.temporaryPath());
    }
    struct Forget {
        ~Forget() { RememberTemporary({}); }
    } forget;
    const std::string outputName = toStdout ? std::string("standard output") : outputPath;

    varnak::DecodeLog log;
    if (!options.json) log.attach(stream, outputName);

    const bool progress = !options.quiet && ::isatty(STDERR_FILENO) && (mpx || text.size() >= kProgressMinimum);
    Run run(api, options.json ? stream : nullptr, progress, input);
    varnak::FrameProcessor processor(api);
    processor.setListener(&run);
    processor.setLog(options.json ? nullptr : &log);
    processor.setInverted(options.invert);
    processor.setProgressInterval(progress ? text.size() / 200 + 1 : text.size() + 1);

    api.RDSInit();
    api.RDSStat(-1);  // counters of this file only
    if (!mpx) {
        processor.process(text, !options.hex);
    } else if (!mpx->decode(processor, run, progress, toStdout ? murlindecode::FlushTarget(stdout) : nullptr, reason)) {
        Error(reason);
        return false;
    }
    if (mpx && !mpx->truncation().empty()) Error("warning: " + mpx->truncation() + "; decoded what is there");

    // The log reports its own write errors; JSON lines are checked here.
    std::string writeError;
    if (!options.json) {
        if (!log.close()) writeError = log.error();
    } else {
        errno = 0;
        int code = run.jsonFailed() ? run.jsonErrno() : 0;
        if (!run.jsonFailed() && toStdout && std::fflush(stdout) != 0) code = errno ? errno : EIO;
        if (run.jsonFailed() || code) writeError = "cannot write " + outputName + ": " + std::strerror(code ? code : EIO);
    }
    if (!writeError.empty()) {
        Error(writeError);
        return false;
    }
    if (!toStdout && !output.commit()) {
        Error(output.error());
        return false;
    }
    if (!toStdout) written.emplace_back(input, outputPath);

    if (!options.quiet) {
        DecoderState state{};
        api.RDSStruct(&state);
        const std::size_t bits = mpx ? mpx->bits() : options.hex ? (text.size() + 1) / 2 * 8 : text.size();
        std::fprintf(stderr, "%s: %zu bits, %zu groups decoded, %d blocks accepted, %d check failures, %d repaired blocks\n",
                     input.c_str(), bits, run.groups(), api.RDSStat(0), api.RDSStat(1), api.RDSStat(2));
        if (run.groups() > 0) {
            const bool rtA = state.groupsSeen & (1u << 4), rtB = state.groupsSeen & (1u << 5);
            const std::string rt = rtA ? Printable(state.radioText, sizeof state.radioText)
                                 : rtB ? Printable(state.radioTextB, sizeof state.radioTextB)
                                       : std::string();
            std::fprintf(stderr, "  PI %04X  PS '%s'  RT '%s'\n", state.pi, Printable(state.ps, 8).c_str(), rt.c_str());
        } else {
            std::fprintf(stderr, "  no group decoded\n");
        }
        if (mpx) mpx->printSummary(stderr, api);
        if (processor.inverted() != options.invert) std::fprintf(stderr, "  polarity flipped: stream ended %s\n",
                                                                 processor.inverted() ? "inverted" : "not inverted");
        if (!toStdout) std::fprintf(stderr, "  %s: %s\n", options.json ? "JSON" : "log", outputPath.c_str());
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    const int parsed = ParseOptions(argc, argv, options);
    if (parsed >= 0) return parsed;

    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) std::signal(s, OnTerminate);

    std::string error;
    const varnak::MurlinApi* api = varnak::murlin(&error);
    if (!api) {
        Error(error);
        return kExitFailure;
    }
    bool ok = true;
    std::vector<std::pair<std::string, std::string>> written;  // input and its output
    for (const std::string& file : options.files) ok = DecodeFile(file, options, *api, written) && ok;
    return ok ? 0 : kExitFailure;
}
