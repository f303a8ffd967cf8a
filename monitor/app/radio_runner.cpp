#include "radio_runner.h"

#include <QFile>
#include <QStringList>

#include <chrono>
#include <string>
#include <utility>

#include "field_format.h"
#include "run_context.h"
#include "run_controller.h"
#include "run_observer.h"

namespace varnak {
namespace {

// How often the run's state is shown.
constexpr int kShowMs = 250;
// How often the panels follow: the demodulator's worker hands over bits
// every few milliseconds, and drawing the window takes as long as
// demodulating, so it is drawn at a pace the eye can follow and no faster.
constexpr qint64 kViewMs = 100;
// How long a live input may be silent before the window says so.
constexpr qint64 kSilenceMs = 2000;

}  // namespace

RadioRunner::RadioRunner(RunContext& context) : context_(context)
{
    timer_.setInterval(kShowMs);
    connect(&timer_, &QTimer::timeout, this, [this] {
        drain();
        showState();
    });
}

// The worker posts to this object: it is gone before it.
RadioRunner::~RadioRunner() { halt(); }

void RadioRunner::halt()
{
    if (run_) run_->stop();
}

bool RadioRunner::startRaw(const QString& path, double rate)
{
    RadioInput input;
    input.path = path == QLatin1String("-") ? std::string("-") : QFile::encodeName(path).toStdString();
    input.rawRate = rate;
    input.realtime = context_.realtime;
    std::string error;
    std::unique_ptr<RadioRun> run = RadioRun::open(input, error);
    if (!run) {
        context_.view().tell(QStringLiteral("Cannot start the radio run: %1").arg(QString::fromLocal8Bit(error)));
        return false;
    }
    const bool live = run->isLive();
    return start(std::move(run), path, live);
}

bool RadioRunner::startAudioFile(const QString& path, bool audio)
{
    RadioInput input;
    input.path = QFile::encodeName(path).toStdString();
    input.realtime = context_.realtime;
    std::string error;
    std::unique_ptr<RadioRun> run = RadioRun::open(input, error);
    if (!run) {
        context_.view().tell(audio ? (error.rfind("cannot ", 0) == 0
                                          ? Sentence(error)
                                          : QStringLiteral("Cannot analyse %1").arg(QString::fromLocal8Bit(error)))
                                   : QStringLiteral("Cannot analyse %1: it is no recording of a kind Varnak reads "
                                                    "(bit text, hexadecimal text, a group log or audio; raw multiplex "
                                                    "samples need --mpx-rate).")
                                         .arg(path));
        return false;
    }
    return start(std::move(run), path, false);
}

// Starts `run`; it goes on until its input ends or Stop is pressed.
bool RadioRunner::start(std::unique_ptr<RadioRun> run, const QString& path, bool live)
{
    RunView& view = context_.view();
    if (!context_.ensureProcessor(true)) return false;
    view.setStartEnabled(false);
    view.setStopEnabled(true);
    if (live ? !context_.openLiveLog(QStringLiteral("Radio.out")) : !context_.openFileLog(path)) {
        context_.setIdle();
        return false;
    }
    context_.beginRun(live);
    context_.analysing = true;
    view.showStationLogo({}, {});  // the last run's station

    run_ = std::move(run);
    path_ = path;
    live_ = live;
    state_ = RadioRun::State{};
    state_.lastSamples = RadioRun::Clock::now();
    timer_.start();
    context_.processor().setInverted(view.inverted());
    context_.processor().beginStream(true);
    context_.processor().setSureMarks(true);  // the demodulator marks blocks it is sure of
    sinceView_.start();
    // Called on the worker thread: the bits are taken on this one.
    run_->start([this] {
        QMetaObject::invokeMethod(
            this, [this] { drain(); }, Qt::QueuedConnection);
    });
    showState();
    return true;
}

// Decodes the bits the worker has handed over; ends the run when its input
// has ended.
void RadioRunner::drain()
{
    if (!run_) return;
    feed();
    if (sinceView_.elapsed() >= kViewMs) {
        sinceView_.start();
        if (!context_.yieldView()) {
            finish(false, false);
            return;
        }
    }
    if (state_.ended) finish(false, true);
}

void RadioRunner::feed()
{
    RunView& view = context_.view();
    FrameProcessor& processor = context_.processor();
    std::string bits;
    for (;;) {
        state_ = run_->take(bits);
        showFiles();
        if (bits.empty()) break;
        // One stream for the whole run: the view is drawn when it is due,
        // not after every batch, which comes every few milliseconds.
        processor.setInverted(view.inverted());
        view.setDecoding(true);
        processor.feed(bits.data(), bits.size());
        view.setDecoding(false);
        view.setInverted(processor.inverted(), false);
        bits.clear();
    }
}

// The station logo, once RDS2 has brought it whole.
void RadioRunner::showFiles()
{
    for (const rdsformats::RftReceivedFile& f : state_.files) {
        if (f.aid != rdsformats::kRftLogoAid) continue;
        const QByteArray image(reinterpret_cast<const char*>(f.bytes.data()), static_cast<qsizetype>(f.bytes.size()));
        context_.view().showStationLogo(image, QStringLiteral("Station logo (RDS2): %1 bytes, %2, version %3")
                                                   .arg(f.bytes.size())
                                                   .arg(QString::fromStdString(f.extension()).toUpper())
                                                   .arg(f.version));
    }
    state_.files.clear();
}

void RadioRunner::stopped()
{
    if (run_) finish(true, false);
}

// Ends the run: `complete` when its input has ended and all its bits are to
// be decoded, `stopped` when Stop ended it.
void RadioRunner::finish(bool stopped, bool complete)
{
    RunView& view = context_.view();
    FrameProcessor& processor = context_.processor();
    timer_.stop();
    run_->stop();
    if (!stopped && complete) {
        feed();  // the last bits, after the worker's end
        processor.endStream();
        if (processor.position() > 0) context_.yieldView();
    }
    processor.setSureMarks(false);
    if (RunObserver* observer = context_.observer()) observer->runEnded();
    view.setInverted(processor.inverted(), false);
    view.showDecoded();
    const RadioRun::State state = state_;
    // What the run ended with stays in the title; after Stop it goes.
    if (stopped) {
        view.setTitleState(QString());
        view.showSignal(nullptr);
    } else {
        showState();
    }
    run_.reset();
    // Standard input is let go: whatever writes into it learns that nobody
    // reads any more instead of waiting for a reader.
    if (live_ && path_ == QLatin1String("-")) ReleaseStandardInput();

    if (live_) view.setStopEnabled(false);  // nothing is left to stop
    QString failure;
    if (!state.error.empty())
        failure = Sentence(state.error);
    else if (!stopped && !state.truncation.empty())
        failure = QStringLiteral("%1. The decode log holds the groups of the part that is there.")
                      .arg(Sentence(state.truncation));
    context_.endRun(path_, stopped, failure);
}

// The run's state in the window title, where it moves no control: progress
// through a recording, the signal (as murlin-decode sums it up), and plainly
// when a live input has ended or gone silent.
void RadioRunner::showState()
{
    if (!run_) return;
    const RadioRun::State& s = state_;
    QStringList parts;
    if (!live_ && s.total && *s.total > 0 && !s.ended)
        parts << QStringLiteral("%1 %2 %").arg(QString::fromStdString(run_->name())).arg(s.samples * 100 / *s.total);
    if (s.samples > 0) parts << QString::fromStdString(SignalText(s.signal));
    if (live_) {
        const auto silent =
            std::chrono::duration_cast<std::chrono::milliseconds>(RadioRun::Clock::now() - s.lastSamples);
        if (s.ended)
            parts << QStringLiteral("input ended");
        else if (silent.count() >= kSilenceMs)
            parts << QStringLiteral("no samples for %1 s").arg(silent.count() / 1000);
        else if (s.samples == 0)
            parts << QStringLiteral("waiting for samples");
    }
    context_.view().setTitleState(parts.join(QStringLiteral(", ")));
    context_.view().showSignal(s.samples > 0 ? &s.signal : nullptr);
}

}  // namespace varnak
