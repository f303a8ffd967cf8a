// The monitor's main window: the File, Card and Stop commands, the status bar
// and the window's start-up and shut-down. The fixed panel arrangement comes
// from BuildMainLayout; the indicators (SyncIndicators) and the decoded-group
// panels (GroupPanels) draw into it.
//
// Decoding itself is the shared FrameProcessor's job; the window listens to
// it and hands what it reports to the indicators and panels. Message boxes and the file dialog go through
// a Notifier, so tests and unattended runs can replace them.
#pragma once

#include <QElapsedTimer>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "decode_log.h"
#include "frame_processor.h"
#include "input_file.h"
#include "main_layout.h"
#include "quesmer/start_sequence.h"
#include "radio_run.h"
#include "run_observer.h"

class QEventLoop;
class QPushButton;
class QTimer;

namespace quesmer {
class Daskel;
}

namespace varnak {

class ConfigDialog;
class GroupPanels;
class LiveFeed;
class Notifier;
class PanelStatusBar;
class SettingsStore;
class SyncIndicators;

class MainWindow : public QWidget, private FrameListener {
    Q_OBJECT
public:
    // Reads the settings from `store`, places the window and puts every
    // indicator and panel in its idle state. Both must outlive the window.
    MainWindow(SettingsStore& store, Notifier& notifier, QWidget* parent = nullptr);
    ~MainWindow() override;

    static const QString AppName;  // "Varnak": message titles and settings key

    // The indicators that follow the status word and the panels that show
    // decoded groups.
    SyncIndicators& indicators() { return *indicators_; }
    GroupPanels& panels() { return *panels_; }
    void ShowBitstream();  // status panel 4 from the polarity

    // Feeds text to the decoder (one character per bit when `fromFile`,
    // else two hexadecimal characters per byte) and shows what it decodes.
    void ProcessFrame(const std::string& text, bool fromFile);

    // The File command: asks for a recording and analyses it.
    void FileCommand();
    // Analyses the recording at `path` into its decode log beside it, read
    // piece by piece. Its kind is recognised by its content: bit text,
    // hexadecimal text as the card sends it, or an audio recording of the
    // FM multiplex (demodulated on a worker thread). A pipe or a device is
    // text decoded as it comes until it ends or Stop is pressed. With a
    // multiplex rate set (setMpxRate), `path` holds raw s16le samples: see
    // RunRadio(). False when the file could not be used or the log not
    // written (the user was told); true when the analysis ran or was
    // stopped.
    bool AnalyseFile(const QString& path);
    // A radio run on raw s16le multiplex samples at the rate set with
    // setMpxRate(): standard input ("-"), a FIFO or a device is a live run
    // into Radio.out in the current directory; a regular file is analysed
    // into its decode log beside it. Returns when the input has ended or
    // Stop was pressed; false as AnalyseFile().
    bool RunRadio(const QString& path);
    // Raw multiplex samples at `rate` Hz instead of recognised recordings.
    void setMpxRate(std::optional<double> rate) { mpxRate_ = rate; }
    // Recordings play at broadcast speed (1187.5 bit/s, or the audio's own
    // sample rate) instead of as fast as they decode.
    void setRealtime(bool on) { realtime_ = on; }
    bool realtime() const { return realtime_; }
    // A radio run (an audio recording or raw multiplex) is in progress.
    bool isRadioRunning() const { return radio_ != nullptr; }
    // The Card command: asks for server, card and IF input, connects the
    // card, sets it up for the RDS bit stream and decodes live from it into
    // Card.out in the current directory until Stop.
    void CardCommand();
    // The Stop command: ends a running analysis or live run, releases the
    // card and closes the decode log.
    void StopCommand();
    // A click on status-bar panel `number` (1..3 clear the counters, 4
    // inverts the bit stream).
    void PanelClick(int number);

    // North American programme-type names (RBDS) instead of the European
    // ones; remembered in the settings as "RBDS".
    bool Rbds() const { return rbds_; }
    void setRbds(bool on);

    bool Inverted() const { return inverted_; }
    bool isAnalysing() const { return analysing_; }
    int16_t ResetCount() const { return processor_ ? processor_->resetCount() : 0; }
    const QString& CurrentPath() const { return currentPath_; }
    const QString& CardHost() const { return cardHost_; }
    int CardPort() const { return cardPort_; }
    bool CardActive() const;  // a live run is decoding the card's data
    bool isLogOpen() const { return log_.isOpen(); }

    // The card client of live decoding, the live data handler and the
    // configuration dialog (nullptr before the first Card command).
    quesmer::Daskel& daskel() { return *daskel_; }
    LiveFeed& liveFeed() { return *live_; }
    ConfigDialog* configDialog() const { return configDialog_; }
    // The pauses of the card set-up (about five seconds); tests shorten them.
    void setStartPause(quesmer::StartPause pause) { startPause_ = std::move(pause); }

    // Follows the runs besides the window (nullptr for none).
    void setRunObserver(RunObserver* observer) { observer_ = observer; }

signals:
    // An analysis ended (ran out, stopped or failed) and its log is closed.
    void analysisFinished(bool ok);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // FrameListener
    void onAutoReset(bool inverted) override;
    void onStatus(uint16_t status) override;
    void onGroup(const DecodedGroup& group) override;
    void onProgress(std::size_t position, std::size_t total) override;

    void Load();
    const MurlinApi* api(bool reportFailure);
    void refreshCounters();
    void maybeYield();
    void yieldNow();
    // Draws what the status words and groups since the last redraw left.
    void applyView();
    bool closeLog();
    bool feedGroupLog(InputFile& in, std::vector<char>& buffer, std::size_t got, const QString& path);
    bool openFileLog(const QString& path);
    void beginRun(bool live);
    bool endRun(const QString& path, bool stopped, const QString& failure);
    bool feedPaced(const char* data, std::size_t size, double perSecond);
    bool runRadio(std::unique_ptr<RadioRun> run, const QString& path, bool live);
    void drainRadio();
    void showRadioState();
    void reportNoGroups(const QString& path);
    // Reads the next piece of a recording; a silent stream is waited for
    // while the window serves its events. End also when Stop was pressed.
    InputFile::Result readRecording(InputFile& in, char* buffer, std::size_t capacity, std::size_t& got);
    void setIdleButtons();
    bool startLiveRun();

    SettingsStore& store_;
    Notifier& notifier_;
    double dpi_ = 96.0;

    // Window state of the design.
    QString cardHost_;
    int cardPort_ = 33234;
    int windowLeft_ = 0, windowTop_ = 0;  // twips
    QString currentPath_;
    bool inverted_ = false;
    bool rbds_ = false;

    // Run state.
    bool analysing_ = false;
    int stopCount_ = 0;  // Stop commands so far: tells a card set-up it was ended
    int analysisStops_ = 0;  // stopCount_ when the current analysis began
    bool logFailed_ = false;
    std::size_t runGroups_ = 0;  // groups decoded since the run began
    std::optional<double> mpxRate_;
    bool realtime_ = false;
    QElapsedTimer sincePlay_;  // real-time playback: since the first bit
    std::uint64_t played_ = 0;  // real-time playback: characters fed

    // The radio run in progress.
    std::unique_ptr<RadioRun> radio_;
    RadioRun::State radioState_;
    bool radioLive_ = false;
    bool draining_ = false;
    QEventLoop* radioLoop_ = nullptr;
    QTimer* radioTimer_ = nullptr;
    QString title_;  // the window title without the run's state
    DecodeLog log_;
    std::unique_ptr<FrameProcessor> processor_;
    const MurlinApi* api_ = nullptr;
    QElapsedTimer sinceYield_;
    qint64 yieldMs_ = 16;  // longest time between two yields while decoding
    RunObserver* observer_ = nullptr;

    // While a text is decoded, what the window must show is noted and drawn
    // at the next yield only, as nothing is painted in between.
    bool deferView_ = false;

    // Live decoding.
    quesmer::Daskel* daskel_;
    std::unique_ptr<LiveFeed> live_;
    ConfigDialog* configDialog_ = nullptr;
    quesmer::StartPause startPause_ = quesmer::runEventsFor;

    // Controls.
    MainLayout ui_;
    QPushButton *file_, *card_, *stopit_;
    PanelStatusBar* status_;
    std::unique_ptr<SyncIndicators> indicators_;
    std::unique_ptr<GroupPanels> panels_;
};

}  // namespace varnak
