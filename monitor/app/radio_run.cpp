#include "radio_run.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <utility>

namespace varnak {
namespace {

// Samples demodulated at a time: about 50 ms at 171 kHz, so a group reaches
// the window soon after its last bit and Stop is seen at once.
constexpr std::size_t kChunk = 8192;
// RDS2's extra streams are given this long to show a group.
constexpr double kRds2ProbeSeconds = 15;

std::string RateText(double rate) { return std::to_string(std::lround(rate)) + " Hz"; }

std::string Percent(double level)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %%", level * 100);
    return text;
}

}  // namespace

std::string SignalText(const radio::SignalReport& r)
{
    std::string text = r.pilotPresent ? "pilot " + Percent(r.pilotLevel) : std::string("no pilot");
    // Without RDS blocks the level and CNR near 57 kHz are not RDS's.
    if (r.bits == 0 || !r.rdsFound) return text + ", no RDS signal found";
    char cnr[48];
    std::snprintf(cnr, sizeof cnr, ", CNR about %.1f dB", r.cnrDb);
    return text + ", RDS " + Percent(r.rdsLevel) + cnr + (r.locked ? "" : ", not locked");
}

std::unique_ptr<RadioRun> RadioRun::open(const RadioInput& input, std::string& error)
{
    std::unique_ptr<RadioRun> run(new RadioRun);
    run->realtime_ = input.realtime;
    run->samples_.resize(kChunk);
    const std::string shown = input.path == "-" ? std::string("standard input") : input.path;
    try {
        if (input.rawRate) {
            // Raw samples are read through InputFile: it waits for a live
            // input in short polls, so Stop never hangs in a read.
            if (!run->raw_.open(input.path)) {
                error = "cannot read " + shown + ": " + run->raw_.error();
                return nullptr;
            }
            if (!run->raw_.isStream() && run->raw_.size() == 0) {
                error = shown + " holds no samples";
                return nullptr;
            }
            run->name_ = shown;
            run->rate_ = *input.rawRate;
            // Standard input is live whatever it is connected to: a file
            // given with "<" is read as the samples of a receiver would be.
            run->live_ = run->raw_.isStream() || input.path == "-";
            if (!run->live_) run->state_.total = run->raw_.size() / 2;
            run->bytes_.resize(kChunk * 2);
        } else {
            run->audio_ = radio::SampleSource::openAudio(input.path);
            run->name_ = shown;
            run->rate_ = run->audio_->sampleRate();
            run->state_.total = run->audio_->frames();
        }
        if (run->rate_ < radio::RdsDemodulator::kMinRate || run->rate_ > radio::RdsDemodulator::kMaxRate) {
            error = shown + ": the sample rate is " + RateText(run->rate_) +
                    "; the RDS demodulator takes 128000 to 384000 Hz";
            return nullptr;
        }
        run->demodulator_ = std::make_unique<radio::RdsDemodulator>(run->rate_);
        // Blocks it is sure of confirm their characters at once (RadioRunner).
        run->demodulator_->setMarkSure(true);
        if (radio::Rds2Receiver::Carried(run->rate_) > 0) {
            run->rds2_ = std::make_unique<radio::Rds2Receiver>(run->rate_);
            // A station without RDS2 costs the extra demodulators only for
            // the first seconds.
            run->rds2_->dropSilentAfter(kRds2ProbeSeconds);
            RadioRun* self = run.get();
            run->rds2_->setHandler([self](int, const radio::Rds2Receiver::Group& words) {
                ++self->rds2Groups_;
                if (self->rft_.feed(rdsformats::TypeCGroup{words}))
                    for (auto& f : self->rft_.takeFiles()) self->files_.push_back(std::move(f));
            });
            run->state_.rds2Streams = run->rds2_->streams();
        }
    } catch (const std::exception& e) {
        error = e.what();
        return nullptr;
    }
    run->state_.lastSamples = Clock::now();
    return run;
}

RadioRun::~RadioRun() { stop(); }

void RadioRun::start(Wake wake)
{
    state_.lastSamples = Clock::now();
    handoff_.start([this] { work(); }, std::move(wake));
}

void RadioRun::stop() { handoff_.stop(); }

RadioRun::State RadioRun::take(std::string& bits)
{
    State state;
    handoff_.take([&] {
        if (bits.empty())
            bits.swap(pending_);
        else
            bits += pending_;
        pending_.clear();
        state = state_;
        state_.files.clear();
    });
    return state;
}

std::size_t RadioRun::readSamples()
{
    if (audio_) return audio_->read(samples_.data(), samples_.size());
    for (;;) {
        if (handoff_.stopping()) return 0;
        std::size_t have = 0;
        if (carry_) bytes_[have++] = static_cast<char>(*carry_);
        std::size_t got = 0;
        const InputFile::Result r = raw_.read(bytes_.data() + have, bytes_.size() - have, got, kReadWaitMs);
        if (r == InputFile::Result::Again) continue;  // silence: look at Stop, wait again
        if (r == InputFile::Result::Failed)
            throw radio::SampleSourceError("cannot read " + name_ + ": " + raw_.error());
        if (r == InputFile::Result::End) {
            if (carry_) truncation_ = name_ + " ends in the middle of a sample (an odd number of bytes)";
            return 0;
        }
        carry_.reset();
        have += got;
        if (have % 2) carry_ = static_cast<unsigned char>(bytes_[have - 1]);
        const std::size_t count = have / 2;
        for (std::size_t i = 0; i < count; ++i) {
            const auto lo = static_cast<uint16_t>(static_cast<unsigned char>(bytes_[2 * i]));
            const auto hi = static_cast<uint16_t>(static_cast<unsigned char>(bytes_[2 * i + 1]));
            samples_[i] = static_cast<float>(static_cast<int16_t>(static_cast<uint16_t>(lo | hi << 8))) / 32768.0f;
        }
        if (count > 0) return count;
    }
}

// Waits until `samples` samples' worth of time has passed since `start`,
// looking at Stop every few milliseconds.
void RadioRun::pace(uint64_t samples, Clock::time_point start)
{
    handoff_.waitUntil(start + std::chrono::duration_cast<Clock::duration>(
                                   std::chrono::duration<double>(static_cast<double>(samples) / rate_)));
}

void RadioRun::handOverRds2()
{
    state_.rds2Groups = rds2Groups_;
    state_.rds2Streams = rds2_ ? rds2_->streams() : 0;
    for (auto& f : files_) state_.files.push_back(std::move(f));
    files_.clear();
}

void RadioRun::work()
{
    std::string bits;
    std::string error;
    uint64_t read = 0;
    const Clock::time_point begin = Clock::now();
    try {
        while (!handoff_.stopping()) {
            const std::size_t n = readSamples();
            if (n == 0) break;
            read += n;
            demodulator_->push(samples_.data(), n, bits);
            if (rds2_) rds2_->push(samples_.data(), n);
            // The window is behind: wait for it rather than drop bits.
            handoff_.hand([this] { return pending_.size() >= kPendingLimit; },
                          [&] {
                              pending_ += bits;
                              handOverRds2();
                              state_.samples = read;
                              state_.lastSamples = Clock::now();
                              state_.signal = demodulator_->report();
                          });
            bits.clear();
            if (realtime_) pace(read, begin);
        }
    } catch (const std::exception& e) {
        error = e.what();
    }
    demodulator_->finish(bits);
    if (rds2_) rds2_->finish();
    if (audio_ && error.empty()) truncation_ = audio_->truncation();
    handoff_.hand([] { return false; },
                  [&] {
                      pending_ += bits;
                      handOverRds2();
                      state_.signal = demodulator_->report();
                      state_.ended = true;
                      state_.error = error;
                      state_.truncation = truncation_;
                  });
}

}  // namespace varnak
