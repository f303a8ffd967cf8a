// The monitor's runs: a recording analysed (File), the card's live data
// (Card), the FM multiplex from an audio recording or a receiver (radio), and
// Stop. It owns which run is active, the frame processor, the decode log and
// the live data handler, and it drives the long work from the event loop.
//
// A file is decoded in slices: each slice feeds the recording until its time
// budget (about one screen refresh) is used up, lets the window draw, and
// returns to the event loop; a zero-interval timer starts the next slice.
// Stop ends the chain at once, and a new run starts a chain of its own. A
// radio run is fed whenever its worker hands over bits. Nothing here runs the
// event loop from inside it.
//
// The controller holds no widgets: what a run shows and asks goes through a
// RunView, which the main window implements.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "decode_log.h"
#include "frame_processor.h"
#include "input_file.h"
#include "radio_run.h"

namespace varnak {

class LiveFeed;
class RunObserver;

// The user interface of the runs.
class RunView {
public:
    virtual ~RunView() = default;
    // The decoder library, loaded on first use; nullptr when it cannot be
    // loaded (the user was told when `reportFailure`).
    virtual const MurlinApi* decoder(bool reportFailure) = 0;
    // A message for the user.
    virtual void tell(const QString& text) = 0;
    // The File and Card commands, and the Stop command.
    virtual void setStartEnabled(bool on) = 0;
    virtual void setStopEnabled(bool on) = 0;
    virtual bool stopEnabled() const = 0;
    // Where the decode log of the run goes.
    virtual void showLogPath(const QString& path) = 0;
    // A run begins: the block lines of the last one are emptied.
    virtual void clearBlockLines() = 0;
    // The run's state beside the window's title; empty for the title alone.
    virtual void setTitleState(const QString& state) = 0;
    // The signal of the radio run for the status bar; nullptr when there is
    // none to show (no radio run, no samples yet, or stopped).
    virtual void showSignal(const radio::SignalReport* /*report*/) {}
    // While on, what the groups leave on the window is only noted, to be
    // drawn by showDecoded().
    virtual void setDecoding(bool on) = 0;
    // Draws what was decoded since the last call, and the counters.
    virtual void showDecoded() = 0;
    // The polarity of the bit stream: kept between runs, shown when `show`.
    virtual bool inverted() const = 0;
    virtual void setInverted(bool inverted, bool show) = 0;
    // Live text had to be dropped (true), or the next data came (false).
    virtual void showOverflow(bool shown) = 0;
    // Stop releases the card.
    virtual void releaseCard() = 0;
};

class RunController : public QObject, private FrameListener {
    Q_OBJECT
public:
    // `display` hears every event of the frame processor; both must outlive
    // the controller.
    RunController(RunView& view, FrameListener& display, QObject* parent = nullptr);
    ~RunController() override;

    // Starts the analysis of the recording at `path` into its decode log
    // beside it, read piece by piece. Its kind is recognised by its content:
    // bit text, hexadecimal text as the card sends it, a group log, or an
    // audio recording of the FM multiplex (a radio run). A pipe or a device
    // is text decoded as it comes until it ends or Stop. With a multiplex
    // rate set, `path` holds raw s16le samples: see runRadio(). False when
    // the file could not be used or the log not opened (the user was told);
    // true when the run started: finished() tells when it has ended.
    bool analyseFile(const QString& path);
    // Starts a radio run on raw s16le multiplex samples at the rate set with
    // setMpxRate(): standard input ("-"), a FIFO or a device is a live run
    // into Radio.out in the current directory; a regular file is analysed
    // into its decode log beside it. Returns as analyseFile().
    bool runRadio(const QString& path);
    // Starts decoding the card's data into Card.out in the current
    // directory; the card is set up already. False (the user was told) when
    // the decoder or the log cannot be had.
    bool startCard();
    // The Stop command: ends the run in progress at once, releases the card
    // and closes the decode log.
    void stop();
    // Decodes `text` (one character per bit when `fromFile`, else two
    // hexadecimal characters per byte) and shows what it decodes: a batch
    // of the card's data.
    void decodeText(const std::string& text, bool fromFile);

    void setMpxRate(std::optional<double> rate) { mpxRate_ = rate; }
    void setRealtime(bool on) { realtime_ = on; }
    bool realtime() const { return realtime_; }
    void setObserver(RunObserver* observer) { observer_ = observer; }
    // The polarity changed from outside a run (the status bar).
    void setInverted(bool inverted);

    bool isAnalysing() const { return analysing_; }
    bool isRadioRunning() const { return radio_ != nullptr; }
    bool cardActive() const;
    bool isLogOpen() const { return log_.isOpen(); }
    const QString& currentPath() const { return currentPath_; }
    void clearCurrentPath() { currentPath_.clear(); }
    // Stop commands so far: tells a card set-up that it was ended.
    int stopCount() const { return stopCount_; }
    int16_t resetCount() const { return processor_ ? processor_->resetCount() : int16_t(0); }
    LiveFeed& liveFeed() { return *live_; }

signals:
    // A run that analyseFile() or runRadio() started has ended (ran out,
    // stopped or failed) and its log is closed; false when it failed or
    // found no group (the user was told).
    void finished(bool ok);

private:
    struct FileRun;

    // FrameListener: counts the groups and hands every event on.
    void onAutoReset(bool inverted) override;
    void onStatus(uint16_t status) override;
    void onGroup(const DecodedGroup& group) override;

    bool ensureProcessor(bool reportFailure);
    bool openFileLog(const QString& path);
    void beginRun(bool live);
    bool endRun(const QString& path, bool stopped, const QString& failure);
    bool closeLog();
    void setIdle();
    // Lets the window draw and the observer follow; false when the decode
    // log failed, which ends the run (a live run is stopped here).
    bool yieldView();

    // File runs.
    bool afterFirstRead(InputFile::Result result);
    bool startAudioFile(bool audio);
    bool startText(bool groupLog, bool hex);
    void startSlices();
    void fileSlice();
    void nextSlice();
    void waitSlice();
    void loadPiece();
    void finishFile(bool complete, bool stopped);

    // Radio runs.
    bool startRadio(std::unique_ptr<RadioRun> run, const QString& path, bool live);
    void drainRadio();
    void feedRadio();
    void finishRadio(bool stopped, bool complete);
    void showRadioState();

    RunView& view_;
    FrameListener& display_;
    RunObserver* observer_ = nullptr;
    const MurlinApi* api_ = nullptr;
    std::unique_ptr<FrameProcessor> processor_;
    DecodeLog log_;
    QString currentPath_;

    bool analysing_ = false;
    int stopCount_ = 0;
    bool logFailed_ = false;
    std::size_t runGroups_ = 0;  // groups decoded since the run began
    std::optional<double> mpxRate_;
    bool realtime_ = false;

    // The file run in progress and its slice chain.
    std::unique_ptr<FileRun> file_;
    QTimer slice_;

    // The radio run in progress.
    std::unique_ptr<RadioRun> radio_;
    RadioRun::State radioState_;
    QString radioPath_;
    bool radioLive_ = false;
    QTimer radioTimer_;
    QElapsedTimer sinceView_;

    std::unique_ptr<LiveFeed> live_;
};

}  // namespace varnak
