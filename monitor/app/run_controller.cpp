#include "run_controller.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <chrono>
#include <string_view>
#include <vector>

#include "group_log.h"
#include "hex_text.h"
#include "input_file.h"
#include "live_feed.h"
#include "run_observer.h"

namespace varnak {
namespace {

// The time budget of a slice of a file run: about one screen refresh, so the
// indicators follow and clicks are served.
constexpr qint64 kYieldIntervalMs = 16;
// Characters fed between two looks at the clock.
constexpr std::size_t kPiece = 512;
// Bytes of a recording read at a time.
constexpr std::size_t kReadChunk = std::size_t(1) << 16;
// Longest wait of a slice for a silent stream.
constexpr int kStreamWaitMs = 16;
// The RDS bit rate: real-time playback of bit and hexadecimal text.
constexpr double kBitRate = 1187.5;
// How often a radio run's state is shown, and how long a live input may be
// silent before the window says so.
constexpr int kRadioShowMs = 250;
// How often the panels follow a radio run: the demodulator's worker hands
// over bits every few milliseconds, and drawing the window takes as long as
// demodulating, so it is drawn at a pace the eye can follow and no faster.
constexpr qint64 kRadioViewMs = 100;
constexpr qint64 kSilenceMs = 2000;

// A core error text ("cannot create PATH: reason") as a sentence.
QString Sentence(const std::string& text)
{
    QString s = QString::fromLocal8Bit(text);
    if (!s.isEmpty()) s[0] = s[0].toUpper();
    return s;
}

}  // namespace

// A file run: the recording, the piece of it waiting to be fed, and how far
// real-time playback has come.
struct RunController::FileRun {
    QString path;
    InputFile in;
    std::vector<char> buffer = std::vector<char>(kReadChunk);
    std::size_t got = 0;
    bool stopWasEnabled = false;
    bool decoding = false;  // past the first read: the stream has begun
    bool hex = false, groupLog = false;
    double perSecond = kBitRate;  // broadcast speed in characters
    HexText hexText;
    QString badText;
    rdsformats::GroupLogReader reader;
    std::string bits;            // a group log's groups as the bits an encoder sent
    const char* next = nullptr;  // text waiting to be fed
    std::size_t left = 0;
    bool ended = false;  // the input has ended: what is left is the last
    bool readFailed = false;
    QElapsedTimer sincePlay;   // real-time playback: since the first bit
    std::uint64_t played = 0;  // real-time playback: characters fed

    // Makes the group log's piece in `buffer` (or, when `last`, what the
    // reader still holds) the bits an encoder would have sent, to be fed next.
    void takeGroupBits(bool last)
    {
        bits.clear();
        const auto onGroup = [this](const rdsformats::GroupRecord&, const std::string& groupBits) {
            bits += groupBits;
        };
        if (last)
            reader.finish(onGroup);
        else
            reader.feed(buffer.data(), got, onGroup);
        next = bits.data();
        left = bits.size();
    }
};

RunController::RunController(RunView& view, FrameListener& display, QObject* parent)
    : QObject(parent), view_(view), display_(display)
{
    slice_.setSingleShot(true);
    slice_.setTimerType(Qt::PreciseTimer);  // real-time pauses keep the pace
    connect(&slice_, &QTimer::timeout, this, &RunController::fileSlice);
    radioTimer_.setInterval(kRadioShowMs);
    connect(&radioTimer_, &QTimer::timeout, this, [this] {
        drainRadio();
        showRadioState();
    });
    live_ = std::make_unique<LiveFeed>([this](const std::string& hex) { decodeText(hex, false); },
                                       [this](bool shown) { view_.showOverflow(shown); });
}

RunController::~RunController()
{
    slice_.stop();
    // The radio worker posts to this controller: it is gone before it.
    if (radio_) radio_->stop();
    live_->stop();
    log_.close();
}

bool RunController::cardActive() const { return live_->active(); }

void RunController::setInverted(bool inverted)
{
    if (processor_) processor_->setInverted(inverted);
}

// ---------------------------------------------------------------------------
// Frame events

void RunController::onAutoReset(bool inverted) { display_.onAutoReset(inverted); }

void RunController::onStatus(uint16_t status) { display_.onStatus(status); }

void RunController::onGroup(const DecodedGroup& group)
{
    ++runGroups_;
    display_.onGroup(group);
}

// ---------------------------------------------------------------------------
// What every run shares

bool RunController::ensureProcessor(bool reportFailure)
{
    if (processor_) return true;
    api_ = view_.decoder(reportFailure);
    if (!api_) return false;
    processor_ = std::make_unique<FrameProcessor>(*api_);
    processor_->setListener(this);
    return true;
}

// Opens the decode log of the recording at `path`; false (the user was
// told) when it cannot be, or when it would replace the recording itself.
bool RunController::openFileLog(const QString& path)
{
    const std::string logPath = DecodeLogPath(QFile::encodeName(path).toStdString());
    const QString logName = QFile::decodeName(QByteArray::fromStdString(logPath));
    if (QFileInfo(logName).exists() && QFileInfo(logName).canonicalFilePath() == QFileInfo(path).canonicalFilePath()) {
        // "morning.out" would become its own decode log and be emptied.
        view_.tell(QStringLiteral("Cannot analyse %1: its decode log would replace the recording itself.").arg(path));
        return false;
    }
    if (!log_.open(logPath)) {
        view_.tell(Sentence(log_.error()));
        return false;
    }
    view_.showLogPath(QFileInfo(logName).absoluteFilePath());
    return true;
}

// A run begins: the decoder starts afresh and the log takes its groups.
void RunController::beginRun(bool live)
{
    api_->RDSInit();
    if (observer_) observer_->runStarted(*api_, *processor_, live);
    view_.clearBlockLines();
    processor_->setLog(&log_);
    logFailed_ = false;
    runGroups_ = 0;
    view_.setTitleState(QString());
}

// Ends a run: the decode log is closed, and what went wrong (`failure`, if
// not empty) or a run that found no group is told. False when either.
bool RunController::endRun(const QString& path, bool stopped, const QString& failure)
{
    processor_->setLog(nullptr);
    analysing_ = false;
    view_.setStartEnabled(true);
    bool ok = closeLog();
    if (!failure.isEmpty()) {
        view_.tell(failure);
        ok = false;
    } else if (ok && !stopped && runGroups_ == 0) {
        const QString name = path == QLatin1String("-") ? QStringLiteral("standard input") : QFileInfo(path).fileName();
        view_.tell(QStringLiteral("No RDS group found in %1").arg(name));
        ok = false;
    }
    if (!ok) setIdle();
    emit finished(ok);
    return ok;
}

// Closes the decode log; a log that could not be written completely is
// reported once, so nobody mistakes it for a complete one.
bool RunController::closeLog()
{
    if (!log_.isOpen()) return !logFailed_;
    if (!log_.close() || logFailed_) {
        logFailed_ = true;
        view_.tell(QStringLiteral("The decode log is incomplete. %1").arg(Sentence(log_.error())));
        return false;
    }
    return true;
}

void RunController::setIdle()
{
    view_.setStartEnabled(true);
    view_.setStopEnabled(false);
}

bool RunController::yieldView()
{
    view_.showDecoded();
    if (observer_) observer_->runYield();
    // A decode log that cannot be written ends the run: going on would only
    // produce a log with holes in it.
    if ((analysing_ || cardActive()) && !logFailed_ && !log_.error().empty()) {
        logFailed_ = true;
        if (cardActive()) stop();  // reports the incomplete log
        return false;
    }
    return true;
}

void RunController::stop()
{
    ++stopCount_;
    live_->stop();
    if (radio_) radio_->stop();
    slice_.stop();
    view_.releaseCard();
    if (observer_ && !analysing_) observer_->runEnded();  // a run in progress tells it as it ends below
    setIdle();
    if (processor_ && !analysing_) processor_->setLog(nullptr);
    closeLog();
    if (file_ && file_->decoding) {
        finishFile(false, true);
    } else if (file_) {
        // Stopped while waiting for a stream's first data: the window is idle.
        analysing_ = false;
        file_.reset();
        emit finished(true);
    } else if (radio_) {
        finishRadio(true, false);
    }
}

void RunController::decodeText(const std::string& text, bool fromFile)
{
    if (text.empty() || !ensureProcessor(true)) return;
    processor_->setInverted(view_.inverted());
    view_.setDecoding(true);
    processor_->process(text, fromFile);
    yieldView();
    view_.setDecoding(false);
    view_.setInverted(processor_->inverted(), false);
    view_.showDecoded();
}

// Opens Card.out in the current directory, resets the decoder and lets the
// card's data through.
bool RunController::startCard()
{
    if (!ensureProcessor(true)) return false;
    currentPath_ = QDir(QDir::currentPath()).filePath(QStringLiteral("Card.out"));
    if (!log_.open(QFile::encodeName(currentPath_).toStdString())) {
        view_.tell(Sentence(log_.error()));
        return false;
    }
    logFailed_ = false;
    // Started from the desktop's menu the current folder is not obvious: say
    // where the log goes.
    view_.showLogPath(currentPath_);
    api_->RDSInit();
    if (observer_) observer_->runStarted(*api_, *processor_, true);
    view_.clearBlockLines();
    processor_->setLog(&log_);
    view_.setStopEnabled(true);
    live_->start();
    return true;
}

// ---------------------------------------------------------------------------
// File runs

bool RunController::analyseFile(const QString& path)
{
    if (analysing_) return false;
    currentPath_ = path;
    if (path.isEmpty()) {
        QTimer::singleShot(0, this, [this] { emit finished(true); });
        return true;
    }
    if (mpxRate_) return runRadio(path);

    // Read piece by piece: memory stays the same whatever the length, and a
    // pipe or a device is a stream decoded as it comes, until it ends or
    // Stop is pressed.
    file_ = std::make_unique<FileRun>();
    FileRun& f = *file_;
    f.path = path;
    if (!f.in.open(QFile::encodeName(path).toStdString())) {
        view_.tell(QStringLiteral("Cannot read the file %1: %2").arg(path, QString::fromLocal8Bit(f.in.error())));
        file_.reset();
        return false;
    }
    f.stopWasEnabled = view_.stopEnabled();
    // A stream may keep the window waiting for its first data: Stop ends that.
    if (f.in.isStream()) {
        view_.setStartEnabled(false);
        view_.setStopEnabled(true);
        analysing_ = true;
    }
    const InputFile::Result r =
        f.in.read(f.buffer.data(), f.buffer.size(), f.got, f.in.isStream() ? kStreamWaitMs : -1);
    if (r != InputFile::Result::Again) return afterFirstRead(r);
    // A silent stream: show what there is and wait in slices.
    yieldView();
    slice_.start(0);
    return true;
}

// Goes on from the first read of a recording: recognises its kind and starts
// decoding it. False when the run could not start (the user was told).
bool RunController::afterFirstRead(InputFile::Result r)
{
    FileRun& f = *file_;
    analysing_ = false;
    auto fail = [&] {
        file_.reset();
        return false;
    };
    auto notRunning = [&] {
        if (!f.in.isStream()) return;
        view_.setStartEnabled(true);
        view_.setStopEnabled(f.stopWasEnabled);
    };
    if (r != InputFile::Result::Data) {
        notRunning();
        if (r == InputFile::Result::End)
            view_.tell(QStringLiteral("Cannot analyse %1: it is empty.").arg(f.path));
        else
            view_.tell(QStringLiteral("Cannot read the file %1: %2").arg(f.path, QString::fromLocal8Bit(f.in.error())));
        return fail();
    }

    // The kind of recording is judged by its content, not by its name, as
    // murlin-decode judges it.
    using rdsformats::Reading;
    const Reading reading = rdsformats::ChooseReading(std::string_view(f.buffer.data(), f.got), f.in.isStream());
    if (reading == Reading::AudioFromStream) {
        notRunning();
        view_.tell(QStringLiteral("Cannot analyse %1: audio is read from files only; raw multiplex samples from "
                                  "a pipe need --mpx-rate.")
                       .arg(f.path));
        return fail();
    }
    // A stream is bit text unless it shows another kind: any character but
    // "1" is a zero bit there, as it always was.
    if (reading == Reading::Audio || reading == Reading::MaybeAudio) return startAudioFile(reading == Reading::Audio);
    return startText(reading == Reading::GroupLog, reading == Reading::Hex);
}

// A recording that is no text: an audio recording of the FM multiplex (or,
// when `audio` is false, whatever libsndfile makes of it) becomes a radio run.
bool RunController::startAudioFile(bool audio)
{
    const QString path = file_->path;
    file_.reset();
    RadioInput input;
    input.path = QFile::encodeName(path).toStdString();
    input.realtime = realtime_;
    std::string error;
    std::unique_ptr<RadioRun> run = RadioRun::open(input, error);
    if (!run) {
        view_.tell(audio ? (error.rfind("cannot ", 0) == 0
                                ? Sentence(error)
                                : QStringLiteral("Cannot analyse %1").arg(QString::fromLocal8Bit(error)))
                         : QStringLiteral("Cannot analyse %1: it is no recording of a kind Varnak reads (bit "
                                          "text, hexadecimal text or audio).")
                               .arg(path));
        return false;
    }
    return startRadio(std::move(run), path, false);
}

// Text, its first piece read: bit text, hexadecimal text or a group log. The
// slices that decode it begin.
bool RunController::startText(bool groupLog, bool hex)
{
    FileRun& f = *file_;
    auto fail = [&] {
        setIdle();
        file_.reset();
        return false;
    };
    if (!ensureProcessor(true)) return fail();
    view_.setStartEnabled(false);
    view_.setStopEnabled(true);
    if (!openFileLog(f.path)) return fail();
    beginRun(false);
    analysing_ = true;

    f.groupLog = groupLog;
    f.hex = hex;
    f.perSecond = f.hex ? kBitRate / 4 : kBitRate;  // four bits a digit
    processor_->setInverted(view_.inverted());
    view_.setDecoding(true);
    f.sincePlay.start();
    f.played = 0;
    if (f.groupLog) {
        // The groups carry their own polarity: none to search for.
        view_.setInverted(false, true);
        processor_->setInverted(false);
        processor_->setPolaritySearch(false);
    }
    processor_->beginStream(!f.hex);
    f.decoding = true;
    loadPiece();
    slice_.start(0);
    return true;
}

// Takes the piece just read: a group log's groups become the bits an encoder
// would have sent (malformed lines are skipped and reported at the end), hex
// text loses its white space; at text that is no hexadecimal digit, what
// comes before it is still fed and the run ends after it.
void RunController::loadPiece()
{
    FileRun& f = *file_;
    if (f.groupLog) {
        f.takeGroupBits(false);
        return;
    }
    if (f.hex && !f.hexText.clean(f.buffer.data(), f.got)) f.badText = QString::fromStdString(f.hexText.error());
    f.next = f.buffer.data();
    f.left = f.got;
}

// Lets the window draw, then queues the next slice; a decode log that failed
// ends the run instead.
void RunController::nextSlice()
{
    if (yieldView())
        slice_.start(0);
    else
        finishFile(false, false);
}

// One slice of a file run: feeds the recording until the time budget is used
// up (or, at broadcast speed, until the next piece is not yet due), then
// returns to the event loop with the next slice queued.
void RunController::fileSlice()
{
    FileRun& f = *file_;
    if (!f.decoding) {
        waitSlice();
        return;
    }
    QElapsedTimer spent;
    spent.start();
    // At broadcast speed a tenth of a second is fed at a time, each when its
    // time has come.
    const std::size_t piece = realtime_ ? std::max<std::size_t>(1, static_cast<std::size_t>(f.perSecond / 10)) : kPiece;
    for (;;) {
        while (f.left > 0) {
            const std::size_t n = std::min(piece, f.left);
            processor_->feed(f.next, n);
            f.next += n;
            f.left -= n;
            if (realtime_) {
                f.played += n;
                const qint64 due = static_cast<qint64>(static_cast<double>(f.played) * 1000.0 / f.perSecond);
                const qint64 wait = due - f.sincePlay.elapsed();
                if (wait > 0) {
                    view_.showDecoded();
                    slice_.start(static_cast<int>(wait));
                    return;
                }
            }
            if (spent.elapsed() >= kYieldIntervalMs) {
                nextSlice();
                return;
            }
        }
        // The piece is fed: the run ends, or the next piece is read.
        if (!f.badText.isEmpty() || f.ended) {
            finishFile(f.badText.isEmpty(), false);
            return;
        }
        const InputFile::Result r =
            f.in.read(f.buffer.data(), f.buffer.size(), f.got, f.in.isStream() ? kStreamWaitMs : -1);
        if (r == InputFile::Result::Data) {
            loadPiece();
        } else if (r == InputFile::Result::Again) {
            // A silent stream: show what was decoded and serve the window's
            // events, Stop among them, before waiting again.
            nextSlice();
            return;
        } else if (r == InputFile::Result::Failed) {
            f.readFailed = true;
            finishFile(false, false);
            return;
        } else {
            f.ended = true;
            if (f.groupLog) f.takeGroupBits(true);
        }
    }
}

// A slice of the wait for a stream's first data.
void RunController::waitSlice()
{
    FileRun& f = *file_;
    const InputFile::Result r = f.in.read(f.buffer.data(), f.buffer.size(), f.got, kStreamWaitMs);
    if (r == InputFile::Result::Again) {
        yieldView();
        slice_.start(0);
    } else if (!afterFirstRead(r)) {
        emit finished(false);  // analyseFile() returned true long ago
    }
}

// Ends the file run: `complete` when the recording was fed to its end,
// `stopped` when Stop ended it.
void RunController::finishFile(bool complete, bool stopped)
{
    slice_.stop();
    FileRun& f = *file_;
    if (complete) {
        processor_->endStream();
        if (processor_->position() > 0) yieldView();  // the window shows the last group
    }
    if (f.groupLog) {
        processor_->setPolaritySearch(true);
        if (!f.reader.parser().report().empty())
            view_.tell(QStringLiteral("%1: %2").arg(f.path, QString::fromStdString(f.reader.parser().report())));
    }
    view_.setDecoding(false);
    if (observer_) observer_->runEnded();
    view_.setInverted(processor_->inverted(), false);
    view_.showDecoded();

    QString failure;
    if (f.readFailed)
        failure = QStringLiteral("Cannot read the file %1: %2").arg(f.path, QString::fromLocal8Bit(f.in.error()));
    else if (!f.badText.isEmpty())
        failure = QStringLiteral("Cannot analyse %1 to its end: %2. The decode log holds the groups before it.")
                      .arg(f.path, f.badText);
    const QString path = f.path;
    file_.reset();
    endRun(path, stopped, failure);
}

// ---------------------------------------------------------------------------
// Radio runs

bool RunController::runRadio(const QString& path)
{
    if (analysing_ || !mpxRate_) return false;
    currentPath_ = path;
    RadioInput input;
    input.path = path == QLatin1String("-") ? std::string("-") : QFile::encodeName(path).toStdString();
    input.rawRate = mpxRate_;
    input.realtime = realtime_;
    std::string error;
    std::unique_ptr<RadioRun> run = RadioRun::open(input, error);
    if (!run) {
        view_.tell(QStringLiteral("Cannot start the radio run: %1").arg(QString::fromLocal8Bit(error)));
        return false;
    }
    const bool live = run->isLive();
    return startRadio(std::move(run), path, live);
}

// Starts `run`; it goes on until its input ends or Stop is pressed. A live
// run logs into Radio.out in the current directory, a recording into its
// decode log beside it.
bool RunController::startRadio(std::unique_ptr<RadioRun> run, const QString& path, bool live)
{
    if (!ensureProcessor(true)) return false;
    view_.setStartEnabled(false);
    view_.setStopEnabled(true);
    if (live) {
        currentPath_ = QDir(QDir::currentPath()).filePath(QStringLiteral("Radio.out"));
        if (!log_.open(QFile::encodeName(currentPath_).toStdString())) {
            view_.tell(Sentence(log_.error()));
            setIdle();
            return false;
        }
        view_.showLogPath(currentPath_);
    } else if (!openFileLog(path)) {
        setIdle();
        return false;
    }
    beginRun(live);
    analysing_ = true;

    radio_ = std::move(run);
    radioPath_ = path;
    radioLive_ = live;
    radioState_ = RadioRun::State{};
    radioState_.lastSamples = RadioRun::Clock::now();
    radioTimer_.start();
    processor_->setInverted(view_.inverted());
    processor_->beginStream(true);
    sinceView_.start();
    // Called on the worker thread: the bits are taken on this one.
    radio_->start([this] {
        QMetaObject::invokeMethod(
            this, [this] { drainRadio(); }, Qt::QueuedConnection);
    });
    showRadioState();
    return true;
}

// Decodes the bits the radio worker has handed over; ends the run when its
// input has ended.
void RunController::drainRadio()
{
    if (!radio_) return;
    feedRadio();
    if (sinceView_.elapsed() >= kRadioViewMs) {
        sinceView_.start();
        if (!yieldView()) {
            finishRadio(false, false);
            return;
        }
    }
    if (radioState_.ended) finishRadio(false, true);
}

void RunController::feedRadio()
{
    std::string bits;
    for (;;) {
        radioState_ = radio_->take(bits);
        if (bits.empty()) break;
        // One stream for the whole run: the view is drawn when it is due,
        // not after every batch, which comes every few milliseconds.
        processor_->setInverted(view_.inverted());
        view_.setDecoding(true);
        processor_->feed(bits.data(), bits.size());
        view_.setDecoding(false);
        view_.setInverted(processor_->inverted(), false);
        bits.clear();
    }
}

// Ends the radio run: `complete` when its input has ended and all its bits
// are to be decoded, `stopped` when Stop ended it.
void RunController::finishRadio(bool stopped, bool complete)
{
    radioTimer_.stop();
    radio_->stop();
    if (!stopped && complete) {
        feedRadio();  // the last bits, after the worker's end
        processor_->endStream();
        if (processor_->position() > 0) yieldView();
    }
    if (observer_) observer_->runEnded();
    view_.setInverted(processor_->inverted(), false);
    view_.showDecoded();
    const RadioRun::State state = radioState_;
    // What the run ended with stays in the title; after Stop it goes.
    if (stopped)
        view_.setTitleState(QString());
    else
        showRadioState();
    radio_.reset();

    if (radioLive_) view_.setStopEnabled(false);  // nothing is left to stop
    QString failure;
    if (!state.error.empty())
        failure = Sentence(state.error);
    else if (!stopped && !state.truncation.empty())
        failure = QStringLiteral("%1. The decode log holds the groups of the part that is there.")
                      .arg(Sentence(state.truncation));
    endRun(radioPath_, stopped, failure);
}

// The radio run's state in the window title, where it moves no control:
// progress through a recording, the signal (as murlin-decode sums it up),
// and plainly when a live input has ended or gone silent.
void RunController::showRadioState()
{
    if (!radio_) return;
    const RadioRun::State& s = radioState_;
    QStringList parts;
    if (!radioLive_ && s.total && *s.total > 0 && !s.ended)
        parts << QStringLiteral("%1 %2 %").arg(QString::fromStdString(radio_->name())).arg(s.samples * 100 / *s.total);
    if (s.samples > 0) parts << QString::fromStdString(SignalText(s.signal));
    if (radioLive_) {
        const auto silent =
            std::chrono::duration_cast<std::chrono::milliseconds>(RadioRun::Clock::now() - s.lastSamples);
        if (s.ended)
            parts << QStringLiteral("input ended");
        else if (silent.count() >= kSilenceMs)
            parts << QStringLiteral("no samples for %1 s").arg(silent.count() / 1000);
        else if (s.samples == 0)
            parts << QStringLiteral("waiting for samples");
    }
    view_.setTitleState(parts.join(QStringLiteral(", ")));
}

}  // namespace varnak
