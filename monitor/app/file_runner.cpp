#include "file_runner.h"

#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "group_log.h"
#include "hex_text.h"
#include "radio_runner.h"
#include "run_context.h"
#include "run_controller.h"
#include "run_observer.h"

namespace varnak {
namespace {

// The time budget of a slice: about one screen refresh, so the indicators
// follow and clicks are served.
constexpr qint64 kYieldIntervalMs = 16;
// Characters fed between two looks at the clock.
constexpr std::size_t kPiece = 512;
// Bytes of a recording read at a time.
constexpr std::size_t kReadChunk = std::size_t(1) << 16;
// Longest wait of a slice for a silent stream.
constexpr int kStreamWaitMs = 16;
// The RDS bit rate: real-time playback of bit and hexadecimal text.
constexpr double kBitRate = 1187.5;

}  // namespace

// The recording, the piece of it waiting to be fed, and how far real-time
// playback has come.
struct FileRunner::Run {
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

    InputFile::Result read(int streamWaitMs)
    {
        return in.read(buffer.data(), buffer.size(), got, in.isStream() ? streamWaitMs : -1);
    }

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

FileRunner::FileRunner(RunContext& context, RadioRunner& radio) : context_(context), radio_(radio)
{
    slice_.setSingleShot(true);
    slice_.setTimerType(Qt::PreciseTimer);  // real-time pauses keep the pace
    connect(&slice_, &QTimer::timeout, this, &FileRunner::slice);
}

FileRunner::~FileRunner() { slice_.stop(); }

void FileRunner::halt() { slice_.stop(); }

void FileRunner::drop()
{
    const bool fromStandardInput = run_ && run_->path == QLatin1String("-") && run_->in.isStream();
    run_.reset();
    if (fromStandardInput) ReleaseStandardInput();
}

bool FileRunner::start(const QString& path)
{
    RunView& view = context_.view();
    // Read piece by piece: memory stays the same whatever the length, and a
    // pipe or a device is a stream decoded as it comes, until it ends or
    // Stop is pressed.
    run_ = std::make_unique<Run>();
    Run& f = *run_;
    f.path = path;
    if (!f.in.open(QFile::encodeName(path).toStdString())) {
        view.tell(QStringLiteral("Cannot read the file %1: %2").arg(path, QString::fromLocal8Bit(f.in.error())));
        run_.reset();
        return false;
    }
    f.stopWasEnabled = view.stopEnabled();
    // A stream may keep the window waiting for its first data: Stop ends that.
    if (f.in.isStream()) {
        view.setStartEnabled(false);
        view.setStopEnabled(true);
        context_.analysing = true;
    }
    const InputFile::Result r = f.read(kStreamWaitMs);
    if (r != InputFile::Result::Again) return afterFirstRead(r);
    // A silent stream: show what there is and wait in slices.
    context_.yieldView();
    slice_.start(0);
    return true;
}

// Goes on from the first read of a recording: recognises its kind and starts
// decoding it. False when the run could not start (the user was told).
bool FileRunner::afterFirstRead(InputFile::Result r)
{
    RunView& view = context_.view();
    Run& f = *run_;
    context_.analysing = false;
    auto fail = [&] {
        drop();
        return false;
    };
    auto notRunning = [&] {
        if (!f.in.isStream()) return;
        view.setStartEnabled(true);
        view.setStopEnabled(f.stopWasEnabled);
    };
    if (r != InputFile::Result::Data) {
        notRunning();
        if (r == InputFile::Result::End)
            view.tell(QStringLiteral("Cannot analyse %1: it is empty.").arg(f.path));
        else
            view.tell(QStringLiteral("Cannot read the file %1: %2").arg(f.path, QString::fromLocal8Bit(f.in.error())));
        return fail();
    }

    // The kind of recording is judged by its content, not by its name, as
    // murlin-decode judges it.
    using rdsformats::Reading;
    const Reading reading = rdsformats::ChooseReading(std::string_view(f.buffer.data(), f.got), f.in.isStream());
    if (reading == Reading::AudioFromStream) {
        notRunning();
        view.tell(QStringLiteral("Cannot analyse %1: audio is read from files only; raw multiplex samples from "
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
bool FileRunner::startAudioFile(bool audio)
{
    const QString path = run_->path;
    run_.reset();
    return radio_.startAudioFile(path, audio);
}

// Text, its first piece read: bit text, hexadecimal text or a group log. The
// slices that decode it begin.
bool FileRunner::startText(bool groupLog, bool hex)
{
    RunView& view = context_.view();
    Run& f = *run_;
    auto fail = [&] {
        context_.setIdle();
        drop();
        return false;
    };
    if (!context_.ensureProcessor(true)) return fail();
    view.setStartEnabled(false);
    view.setStopEnabled(true);
    if (!context_.openFileLog(f.path)) return fail();
    context_.beginRun(false);
    context_.analysing = true;

    FrameProcessor& processor = context_.processor();
    f.groupLog = groupLog;
    f.hex = hex;
    f.perSecond = f.hex ? kBitRate / 4 : kBitRate;  // four bits a digit
    processor.setInverted(view.inverted());
    view.setDecoding(true);
    f.sincePlay.start();
    f.played = 0;
    if (f.groupLog) {
        // The groups carry their own polarity: none to search for.
        view.setInverted(false, true);
        processor.setInverted(false);
        processor.setPolaritySearch(false);
    }
    processor.beginStream(!f.hex);
    f.decoding = true;
    loadPiece();
    slice_.start(0);
    return true;
}

// Takes the piece just read: a group log's groups become the bits an encoder
// would have sent (malformed lines are skipped and reported at the end), hex
// text loses its white space; at text that is no hexadecimal digit, what
// comes before it is still fed and the run ends after it.
void FileRunner::loadPiece()
{
    Run& f = *run_;
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
void FileRunner::nextSlice()
{
    if (context_.yieldView())
        slice_.start(0);
    else
        finish(false, false);
}

// One slice: feeds the recording until the time budget is used up (or, at
// broadcast speed, until the next piece is not yet due), then returns to the
// event loop with the next slice queued.
void FileRunner::slice()
{
    Run& f = *run_;
    if (!f.decoding) {
        waitSlice();
        return;
    }
    FrameProcessor& processor = context_.processor();
    const bool realtime = context_.realtime;
    QElapsedTimer spent;
    spent.start();
    // At broadcast speed a tenth of a second is fed at a time, each when its
    // time has come.
    const std::size_t piece = realtime ? std::max<std::size_t>(1, static_cast<std::size_t>(f.perSecond / 10)) : kPiece;
    for (;;) {
        while (f.left > 0) {
            const std::size_t n = std::min(piece, f.left);
            processor.feed(f.next, n);
            f.next += n;
            f.left -= n;
            if (realtime) {
                f.played += n;
                const qint64 due = static_cast<qint64>(static_cast<double>(f.played) * 1000.0 / f.perSecond);
                const qint64 wait = due - f.sincePlay.elapsed();
                if (wait > 0) {
                    context_.view().showDecoded();
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
            finish(f.badText.isEmpty(), false);
            return;
        }
        const InputFile::Result r = f.read(kStreamWaitMs);
        if (r == InputFile::Result::Data) {
            loadPiece();
        } else if (r == InputFile::Result::Again) {
            // A silent stream: show what was decoded and serve the window's
            // events, Stop among them, before waiting again.
            nextSlice();
            return;
        } else if (r == InputFile::Result::Failed) {
            f.readFailed = true;
            finish(false, false);
            return;
        } else {
            f.ended = true;
            if (f.groupLog) f.takeGroupBits(true);
        }
    }
}

// A slice of the wait for a stream's first data.
void FileRunner::waitSlice()
{
    const InputFile::Result r = run_->read(kStreamWaitMs);
    if (r == InputFile::Result::Again) {
        context_.yieldView();
        slice_.start(0);
    } else if (!afterFirstRead(r)) {
        context_.finish(false);  // start() returned true long ago
    }
}

void FileRunner::stopped()
{
    if (!run_) return;
    if (run_->decoding) {
        finish(false, true);
        return;
    }
    // Stopped while waiting for a stream's first data: the window is idle.
    context_.analysing = false;
    drop();
    context_.finish(true);
}

// Ends the run: `complete` when the recording was fed to its end, `stopped`
// when Stop ended it.
void FileRunner::finish(bool complete, bool stopped)
{
    slice_.stop();
    RunView& view = context_.view();
    FrameProcessor& processor = context_.processor();
    Run& f = *run_;
    if (complete) {
        processor.endStream();
        if (processor.position() > 0) context_.yieldView();  // the window shows the last group
    }
    if (f.groupLog) {
        processor.setPolaritySearch(true);
        if (!f.reader.parser().report().empty())
            view.tell(QStringLiteral("%1: %2").arg(f.path, QString::fromStdString(f.reader.parser().report())));
    }
    view.setDecoding(false);
    if (RunObserver* observer = context_.observer()) observer->runEnded();
    view.setInverted(processor.inverted(), false);
    view.showDecoded();

    QString failure;
    if (f.readFailed)
        failure = QStringLiteral("Cannot read the file %1: %2").arg(f.path, QString::fromLocal8Bit(f.in.error()));
    else if (!f.badText.isEmpty())
        failure = QStringLiteral("Cannot analyse %1 to its end: %2. The decode log holds the groups before it.")
                      .arg(f.path, f.badText);
    const QString path = f.path;
    drop();
    context_.endRun(path, stopped, failure);
}

}  // namespace varnak
