// The monitor's main window: the File, Card and Stop commands, the status bar
// and the window's start-up and shut-down. The fixed panel arrangement comes
// from BuildMainLayout; the indicators (SyncIndicators) and the decoded-group
// panels (GroupPanels) draw into it.
//
// The runs themselves are the RunController's job, and decoding the shared
// FrameProcessor's; the window hands what they report to the indicators and
// panels, and shows what a run asks (RunView). Message boxes and the file
// dialog go through a Notifier, so tests and unattended runs can replace them.
#pragma once

#include <QWidget>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "frame_processor.h"
#include "main_layout.h"
#include "quesmer/start_sequence.h"
#include "rds_demodulator.h"
#include "run_controller.h"
#include "run_observer.h"

class QPushButton;

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
class StationLogo;
class SyncIndicators;

class MainWindow : public QWidget, private FrameListener, private RunView {
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
    void ProcessFrame(const std::string& text, bool fromFile) { runs_->decodeText(text, fromFile); }

    // The File command: asks for a recording and analyses it.
    void FileCommand();
    // Starts the analysis of the recording at `path` into its decode log
    // beside it (see RunController::analyseFile). False when the file could
    // not be used or the log not opened (the user was told); true when the
    // run started: analysisFinished() tells when it has ended.
    bool AnalyseFile(const QString& path) { return runs_->analyseFile(path); }
    // Starts a radio run on raw s16le multiplex samples at the rate set with
    // setMpxRate() (see RunController::runRadio); returns as AnalyseFile().
    bool RunRadio(const QString& path) { return runs_->runRadio(path); }
    // Starts a band run on an IQ capture or an SDR (see RunController::runBand).
    bool RunBand(const BandInput& input, const QString& path) { return runs_->runBand(input, path); }
    // Raw IQ samples of this kind instead of recognised recordings.
    void setIqSettings(std::optional<radio::IqSettings> settings) { runs_->setIqSettings(settings); }
    // The band run: its stations and spectrum, which the band window shows.
    BandRunner& band() { return runs_->band(); }
    // Raw multiplex samples at `rate` Hz instead of recognised recordings.
    void setMpxRate(std::optional<double> rate) { runs_->setMpxRate(rate); }
    // Recordings play at broadcast speed (1187.5 bit/s, or the audio's own
    // sample rate) instead of as fast as they decode.
    void setRealtime(bool on) { runs_->setRealtime(on); }
    bool realtime() const { return runs_->realtime(); }
    // A radio run (an audio recording or raw multiplex) is in progress.
    bool isRadioRunning() const { return runs_->isRadioRunning(); }
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
    bool isAnalysing() const { return runs_->isAnalysing(); }
    int16_t ResetCount() const { return runs_->resetCount(); }
    const QString& CurrentPath() const { return runs_->currentPath(); }
    const QString& CardHost() const { return cardHost_; }
    int CardPort() const { return cardPort_; }
    bool CardActive() const;  // a live run is decoding the card's data
    bool isLogOpen() const { return runs_->isLogOpen(); }

    // The card client of live decoding, the live data handler and the
    // configuration dialog (nullptr before the first Card command).
    quesmer::Daskel& daskel() { return *daskel_; }
    LiveFeed& liveFeed() { return runs_->liveFeed(); }
    ConfigDialog* configDialog() const { return configDialog_; }
    // The pauses of the card set-up (about five seconds); tests shorten them.
    void setStartPause(quesmer::StartPause pause) { startPause_ = std::move(pause); }

    // Follows the runs besides the window (nullptr for none).
    void setRunObserver(RunObserver* observer)
    {
        observer_ = observer;
        runs_->setObserver(observer);
    }

signals:
    // A run that AnalyseFile() or RunRadio() started has ended (ran out,
    // stopped or failed) and its log is closed; `ok` false when it failed or
    // found no group.
    void analysisFinished(bool ok);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // FrameListener
    void onAutoReset(bool inverted) override;
    void onStatus(uint16_t status) override;
    void onSureStatus(uint16_t status) override;
    void onGroup(const DecodedGroup& group) override;

    // RunView
    const MurlinApi* decoder(bool reportFailure) override { return api(reportFailure); }
    void tell(const QString& text) override;
    void setStartEnabled(bool on) override;
    void setStopEnabled(bool on) override;
    bool stopEnabled() const override;
    void showLogPath(const QString& path) override;
    void clearBlockLines() override;
    void setTitleState(const QString& state) override;
    void showSignal(const radio::SignalReport* report) override;
    void setDecoding(bool on) override { deferView_ = on; }
    void showDecoded() override;
    bool inverted() const override { return inverted_; }
    void setInverted(bool inverted, bool show) override;
    void showOverflow(bool shown) override;
    void releaseCard() override;
    void showProgress(const QString& text) override;
    void showStationLogo(const QByteArray& image, const QString& about) override;
    void clearValues() override;
    bool rbdsNames() const override { return rbds_; }

    void Load();
    const MurlinApi* api(bool reportFailure);
    void refreshCounters();
    // Draws what the status words and groups since the last redraw left.
    void applyView();
    void setIdleButtons();
    // The status bar's signal field: the radio run's signal or, while a card
    // run is live, the card's own level, each with the block error rate.
    void refreshSignal();

    SettingsStore& store_;
    Notifier& notifier_;
    double dpi_ = 96.0;

    // Window state of the design.
    QString cardHost_;
    int cardPort_ = 33234;
    int windowLeft_ = 0, windowTop_ = 0;  // twips
    bool inverted_ = false;
    bool rbds_ = false;

    QString title_;  // the window title without the run's state
    const MurlinApi* api_ = nullptr;
    RunObserver* observer_ = nullptr;

    // While a text is decoded, what the window must show is noted and drawn
    // when the run lets the window draw, as nothing is painted in between.
    bool deferView_ = false;

    // The signal of the radio run, when it has one to show.
    std::optional<radio::SignalReport> radioSignal_;

    // Live decoding.
    quesmer::Daskel* daskel_;
    ConfigDialog* configDialog_ = nullptr;
    quesmer::StartPause startPause_ = quesmer::runEventsFor;

    // Controls.
    MainLayout ui_;
    std::unique_ptr<SyncIndicators> indicators_;
    StationLogo* logo_ = nullptr;  // child widget
    std::unique_ptr<GroupPanels> panels_;
    // The runs: File, Card, radio and Stop (created after the controls).
    std::unique_ptr<RunController> runs_;
};

}  // namespace varnak
