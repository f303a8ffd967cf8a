#include "mpx_input.h"

#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <stdexcept>
#include <vector>

namespace murlindecode {

namespace {

using varnak::radio::RdsDemodulator;
using varnak::radio::SampleSource;
using varnak::radio::SampleSourceError;

// About 50 ms at 171 kHz: a group (88 ms) reaches the output soon after its
// last bit.
constexpr std::size_t kChunk = 8192;

// Hands the processor's events on to the program's listener, all but its
// progress (which counts bits, not the input's samples), and flushes the
// output after every group when asked.
class Forwarder : public varnak::FrameListener {
public:
    Forwarder(varnak::FrameListener& to, std::FILE* flush) : to_(to), flush_(flush) {}
    void onAutoReset(bool inverted) override { to_.onAutoReset(inverted); }
    void onStatus(uint16_t status) override { to_.onStatus(status); }
    void onSureStatus(uint16_t status) override { to_.onSureStatus(status); }
    void onGroup(const varnak::DecodedGroup& group) override
    {
        to_.onGroup(group);
        if (flush_) std::fflush(flush_);
    }

private:
    varnak::FrameListener& to_;
    std::FILE* flush_;
};

std::string Percent(double level)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %%", level * 100);
    return text;
}

}  // namespace

std::FILE* FlushTarget(std::FILE* stream)
{
    struct stat info {};
    return ::fstat(::fileno(stream), &info) == 0 && !S_ISREG(info.st_mode) ? stream : nullptr;
}

int TakeOptionValue(int argc, char** argv, int& i, std::initializer_list<const char*> options, std::string& name,
                    std::string& value, std::string& error)
{
    const std::string arg = argv[i];
    for (const char* option : options) {
        if (arg == option) {
            if (i + 1 >= argc) {
                error = "option '" + arg + "' needs a value";
                return -1;
            }
            name = option;
            value = argv[++i];
            return 1;
        }
        if (arg.rfind(std::string(option) + "=", 0) == 0) {
            name = option;
            value = arg.substr(name.size() + 1);
            return 1;
        }
    }
    return 0;
}

int ParseMpxArgument(int argc, char** argv, int& i, MpxOptions& options, std::string& error)
{
    const std::string arg = argv[i];
    if (arg == "--mpx") {
        options.enabled = true;
        return 1;
    }
    if (arg == "--rds2") {
        options.rds2 = true;
        return 1;
    }
    std::string name, value;
    if (TakeOptionValue(argc, argv, i, {"--rate", "--channel", "--save-files"}, name, value, error) < 0) return -1;
    if (name.empty()) return 0;
    if (name == "--save-files") {
        if (value.empty()) {
            error = "--save-files needs a folder";
            return -1;
        }
        options.saveFiles = value;
    } else if (name == "--rate") {
        const auto rate = varnak::radio::ParseSampleRate(value);
        if (!rate) {
            error = "--rate: '" + value + "' is not a sample rate in Hz";
            return -1;
        }
        if (*rate < RdsDemodulator::kMinRate || *rate > RdsDemodulator::kMaxRate) {
            error = "--rate: " + value + " Hz is out of range; the multiplex needs 128000 to 384000 Hz";
            return -1;
        }
        options.rate = *rate;
    } else {
        int channel = 0;
        const auto [p, ec] = std::from_chars(value.data(), value.data() + value.size(), channel);
        if (value.empty() || ec != std::errc() || p != value.data() + value.size() || channel < 1) {
            error = "--channel: '" + value + "' is not a channel number (1 is the first)";
            return -1;
        }
        options.channel = channel;
    }
    return 1;
}

std::string CheckMpxOptions(const MpxOptions& options, bool hex, const std::vector<std::string>& files)
{
    if (!options.saveFiles.empty()) {
        if (!options.rds2) return "--save-files needs --rds2";
        struct stat info {};
        if (::stat(options.saveFiles.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
            return "--save-files: " + options.saveFiles + " is not a folder";
    }
    if (options.rds2 && hex) return "--rds2 needs the multiplex signal; --hex reads text";
    if (!options.enabled) {
        if (options.rate) return "--rate needs --mpx";
        if (options.channel) return "--channel needs --mpx";
        return {};
    }
    if (hex) return "--mpx and --hex cannot both be given";
    if (options.rate && options.channel) return "--channel is for audio files; raw samples (--rate) have one channel";
    for (const std::string& file : files)
        if (file == "-" && !options.rate) return "standard input carries raw samples: give their rate with --rate";
    return {};
}

std::unique_ptr<MpxInput> MpxInput::open(const std::string& path, const MpxOptions& options, std::string& error)
{
    try {
        std::unique_ptr<SampleSource> source;
        if (options.rate) {
            source = SampleSource::openRaw(path, *options.rate);
        } else {
            struct stat info {};
            if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
                error = path + ": is a directory";
                return nullptr;
            }
            source = SampleSource::openAudio(path, options.channel.value_or(1));
        }
        const double rate = source->sampleRate();
        if (rate > RdsDemodulator::kMaxRate) {
            error = source->name() + ": the sample rate is " + std::to_string(std::lround(rate)) +
                    " Hz; the demodulator takes 128000 to 384000 Hz";
            return nullptr;
        }
        auto demodulator = std::make_unique<RdsDemodulator>(rate);
        return std::unique_ptr<MpxInput>(new MpxInput(std::move(source), std::move(demodulator)));
    } catch (const std::exception& e) {
        error = e.what();
        return nullptr;
    }
}

void MpxInput::enableRds2(varnak::radio::Rds2Receiver::Handler handler)
{
    rds2_ = std::make_unique<varnak::radio::Rds2Receiver>(source_->sampleRate());
    rds2_->setHandler(std::move(handler));
}

std::vector<varnak::radio::Rds2Receiver::StreamReport> MpxInput::rds2Report() const
{
    return rds2_ ? rds2_->report() : std::vector<varnak::radio::Rds2Receiver::StreamReport>{};
}

bool MpxInput::decode(varnak::FrameProcessor& processor, varnak::FrameListener& listener, std::FILE* flushEachGroup,
                      const std::function<void(uint64_t, uint64_t)>& progress, std::string& error)
{
    error.clear();
    Forwarder forwarder(listener, flushEachGroup);
    processor.setListener(&forwarder);
    // The demodulator marks the blocks it is sure of; their characters are
    // confirmed at once.
    demodulator_->setMarkSure(true);
    processor.setSureMarks(true);
    struct Restore {
        varnak::FrameProcessor& p;
        varnak::FrameListener& l;
        ~Restore()
        {
            p.setListener(&l);
            p.setSureMarks(false);
        }
    } restore{processor, listener};

    const std::optional<uint64_t> total = source_->frames();
    std::vector<float> samples(kChunk);
    std::string bits;
    uint64_t position = 0;
    auto feed = [&] {
        bits_ += bits.size();
        processor.feed(bits.data(), bits.size());
        bits.clear();
    };
    processor.beginStream(true);
    try {
        for (;;) {
            const std::size_t n = source_->read(samples.data(), samples.size());
            if (n == 0) break;
            demodulator_->push(samples.data(), n, bits);
            feed();
            if (rds2_) rds2_->push(samples.data(), n);
            position += n;
            if (total) progress(position, *total);
        }
    } catch (const SampleSourceError& e) {
        error = e.what();
    }
    demodulator_->finish(bits);
    feed();
    processor.endStream();
    if (rds2_) rds2_->finish();
    return error.empty();
}

void MpxInput::printSummary(std::FILE* to, const varnak::MurlinApi& api) const
{
    const varnak::radio::SignalReport r = demodulator_->report();
    char head[96];
    std::snprintf(head, sizeof head, "  signal: %.1f s at %.0f Hz; ", double(r.samples) / source_->sampleRate(),
                  source_->sampleRate());
    std::string line = head;
    line += r.pilotPresent ? "pilot " + Percent(r.pilotLevel) : std::string("no pilot");
    if (r.bits == 0 || !r.rdsFound) {  // without RDS blocks the figures near 57 kHz are not RDS's
        line += "; no RDS signal found";
    } else {
        char cnr[32];
        std::snprintf(cnr, sizeof cnr, "%.1f dB", r.cnrDb);
        line += "; RDS " + Percent(r.rdsLevel) + "; CNR about " + cnr;
    }
    const varnak::BlockErrors errors = varnak::CountBlockErrors(api);
    if (errors.checked > 0) {
        char rate[96];
        std::snprintf(rate, sizeof rate, "; block errors %.1f %% (%lld of %lld)", errors.percent(), errors.failed,
                      errors.checked);
        line += rate;
    }
    std::fprintf(to, "%s\n", line.c_str());
}

}  // namespace murlindecode
