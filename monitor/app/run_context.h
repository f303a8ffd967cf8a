// What every kind of run shares: the view, the frame processor and the
// decode log, and how a run begins, lets the window draw and ends. The file,
// card and radio runs each hold a RunContext and go through it, so opening a
// log, reporting a log that could not be written and telling a run that found
// nothing are written once.
#pragma once

#include <QString>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "decode_log.h"
#include "frame_processor.h"

namespace varnak {

class RunObserver;
class RunView;

class RunContext : private FrameListener {
public:
    // `finished` is called when a run that the File command or a radio input
    // started has ended (see RunController::finished).
    RunContext(RunView& view, FrameListener& display, std::function<void(bool ok)> finished);
    ~RunContext() override;
    RunContext(const RunContext&) = delete;
    RunContext& operator=(const RunContext&) = delete;

    RunView& view() { return view_; }
    // Valid once ensureProcessor() returned true.
    FrameProcessor& processor() { return *processor_; }
    bool hasProcessor() const { return processor_ != nullptr; }
    // The decoder library; valid once ensureProcessor() returned true.
    const MurlinApi& api() const { return *api_; }
    // What the run's own processors tell: it reaches the window (and is
    // counted) as the shared processor's events do.
    FrameListener& listener() { return *this; }
    // A group decoded that the window does not show (another station of a
    // band run): the run found something.
    void countGroup() { ++runGroups_; }
    DecodeLog& log() { return log_; }
    RunObserver* observer() const { return observer_; }
    void setObserver(RunObserver* observer) { observer_ = observer; }

    // A recording or a stream is being analysed (File, radio), or waited for.
    bool analysing = false;
    // Recordings play at broadcast speed.
    bool realtime = false;
    // The path of the run: the recording, or the live run's log.
    QString currentPath;

    // Loads the decoder and makes the frame processor on first use; false
    // when the library cannot be loaded (the user was told when asked to).
    bool ensureProcessor(bool reportFailure);
    // Opens the decode log beside the recording at `path`; false (the user
    // was told) when it cannot be, or when it would replace the recording.
    bool openFileLog(const QString& path);
    // Opens the log of a live run, `name` in the current directory, written
    // group by group so that it can be followed while it grows; false (the
    // user was told) when it cannot be created.
    bool openLiveLog(const QString& name);
    // A run begins: the decoder starts afresh and the log takes its groups.
    void beginRun(bool live);
    // Lets the window draw and the observer follow; false when the decode log
    // failed, which ends the run.
    bool yieldView();
    // Ends a run that the File command or a radio input started: the log is
    // closed, and `failure` (if not empty) or a run that found no group is
    // told; `finished` follows. False when either.
    bool endRun(const QString& path, bool stopped, const QString& failure);
    // Closes the decode log; a log that could not be written completely is
    // reported once. False when it is incomplete.
    bool closeLog();
    // The File and Card commands on, Stop off.
    void setIdle();
    // Tells that a run that the File command started has ended without a
    // log (the wait for a stream's first data was stopped).
    void finish(bool ok)
    {
        if (finished_) finished_(ok);
    }

private:
    // FrameListener: counts the groups and hands every event on.
    void onAutoReset(bool inverted) override;
    void onStatus(uint16_t status) override;
    void onSureStatus(uint16_t status) override;
    void onGroup(const DecodedGroup& group) override;

    RunView& view_;
    FrameListener& display_;
    std::function<void(bool)> finished_;
    RunObserver* observer_ = nullptr;
    const MurlinApi* api_ = nullptr;
    std::unique_ptr<FrameProcessor> processor_;
    DecodeLog log_;
    bool logFailed_ = false;
    std::size_t runGroups_ = 0;  // groups decoded since the run began
};

// Lets go of standard input once a live run from it has ended: it is
// replaced by /dev/null, so that the program that writes into it sees its
// pipe closed (EPIPE) rather than wait forever for a reader.
void ReleaseStandardInput();

}  // namespace varnak
