// The monitor's main window: the fixed panel arrangement, the block and
// frame indicators, the decoded-field panels, the File, Card and Stop
// commands, the status bar and the window's start-up and shut-down.
//
// The runs themselves are the RunController's job, and decoding the shared
// FrameProcessor's; the window shows what they report and what a run asks
// (RunView). Message boxes and the file dialog go through a Notifier, so
// tests and unattended runs can replace them.
#pragma once

#include <QWidget>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "frame_processor.h"
#include "quesmer/start_sequence.h"
#include "run_controller.h"
#include "run_observer.h"

class QPushButton;
class QLineEdit;
class QPlainTextEdit;

namespace quesmer {
class Daskel;
}

namespace varnak {

class ColourLabel;
class ConfigDialog;
class LiveFeed;
class Notifier;
class PanelFrame;
class PanelStatusBar;
class SettingsStore;

class MainWindow : public QWidget, private FrameListener, private RunView {
    Q_OBJECT
public:
    // Reads the settings from `store`, places the window and puts every
    // indicator and panel in its idle state. Both must outlive the window.
    MainWindow(SettingsStore& store, Notifier& notifier, QWidget* parent = nullptr);
    ~MainWindow() override;

    static const QString AppName;  // "Varnak": message titles and settings key

    // Block and frame indicators.
    void ClearBloc(int idx = 0);          // lights lamps 0..idx, darkens the others
    void BlocState(bool state);           // the raw-block panel on or off
    void FrameClearState();               // empties every group panel's values
    void FrameState(int index, bool state);  // one group panel on or off
    void ShowSync(int status);            // sequence, sync, check and lamp indicators
    void ShowBitstream();                 // status panel 4 from the polarity

    // Decoded-field panels, from a decoder state record.
    void ShowBlocAB(const DecoderState& r);
    void ShowGrp00(const DecoderState& r);
    void ShowGrp01(const DecoderState& r);
    void ShowGrp02(const DecoderState& r);
    void ShowGrp03(const DecoderState& r);
    void ShowGrp04A(const DecoderState& r);
    void ShowGrp08A(const DecoderState& r);
    void ShowGrp14(const DecoderState& r);

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
    void setRunObserver(RunObserver* observer) {
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
    void setDecoding(bool on) override { deferView_ = on; }
    void showDecoded() override;
    bool inverted() const override { return inverted_; }
    void setInverted(bool inverted, bool show) override;
    void showOverflow(bool shown) override;
    void releaseCard() override;

    void Load();
    const MurlinApi* api(bool reportFailure);
    QString libraryText(const char* text) const;
    using Lookup = const char* (*)(int32_t);
    QString describe(Lookup MurlinApi::*lookup, int code);
    void refreshCounters();
    void applyPanelStates();
    void applyView();
    void setPanel(int group, bool state);
    void setRawPanel(bool state);
    void showRawBlocks(int type, const uint16_t (&words)[4]);
    static bool CarriesTmcMessage(const DecoderState& r);

    // What the status words since the last redraw leave on the indicators:
    // the last value of each field that changes one, -1 for none.
    struct SyncMarks {
        static constexpr int8_t kUntouched = 100;
        int8_t seq = -1, sync = -1, check = -1;
        int8_t lamps = kUntouched;  // the last ClearBloc index
    };
    static void MarkSync(SyncMarks& marks, int status);
    void applySync(SyncMarks& marks);

    // What the groups since the last redraw leave on the panels.
    struct PendingView {
        bool group = false;  // any group at all
        std::string lines[4];
        DecoderState header{};
        bool clear = false;     // a new PI: empty the panels first
        uint32_t panels = 0;    // bit per group type with a record below
        std::array<DecoderState, 16> records{};
        bool tmcMessage = false, tmcEvent = false;
        DecoderState tmcMessageRecord{}, tmcEventRecord{};
        bool raw = false;
        int rawType = 0;
        uint16_t rawWords[4] = {};
    };
    void setIdleButtons();

    struct Row {
        ColourLabel* caption;
        std::vector<ColourLabel*> values;
    };
    template <typename T>
    T* control(const QString& name) const;
    ColourLabel* label(const QString& name) const;

    SettingsStore& store_;
    Notifier& notifier_;
    double dpi_ = 96.0;

    // Window state of the design.
    QString cardHost_;
    int cardPort_ = 33234;
    int windowLeft_ = 0, windowTop_ = 0;  // twips
    bool inverted_ = false;
    bool rbds_ = false;
    int shownGroupType_ = 0;
    int shownPi_ = 0;

    QString title_;  // the window title without the run's state
    const MurlinApi* api_ = nullptr;
    RunObserver* observer_ = nullptr;

    // While a text is decoded, what the window must show is noted and drawn
    // when the run lets the window draw, as nothing is painted in between.
    bool deferView_ = false;
    SyncMarks syncMarks_;
    PendingView pending_;
    // Panel states wanted and shown.
    std::array<int8_t, 16> panelWanted_{};
    std::array<int8_t, 16> panelShown_{};
    int8_t rawWanted_ = -1, rawShown_ = -1;

    // Live decoding.
    quesmer::Daskel* daskel_;
    ConfigDialog* configDialog_ = nullptr;
    quesmer::StartPause startPause_ = quesmer::runEventsFor;

    // Controls.
    QPushButton *file_, *card_, *stopit_;
    ColourLabel* lFULL_;
    ColourLabel *lSEQ_, *lSYNC_, *lCRC_;
    std::array<ColourLabel*, 4> lBLOCN_{}, lBloc_{};
    std::array<PanelFrame*, 16> lGrp_{};
    std::array<std::vector<Row>, 16> rows_;
    PanelFrame* lAll_;
    std::array<ColourLabel*, 4> lB_{}, vB_{}, tB_{};
    PanelStatusBar* status_;
    // The runs: File, Card, radio and Stop (created after the controls).
    std::unique_ptr<RunController> runs_;
    ColourLabel *vPI_, *vGRP_, *vB0_, *vTP_, *vPTY_, *iPTY_;
    ColourLabel *vDI_, *vPS_, *vTA_, *vMS_, *vAFn_;
    std::array<ColourLabel*, 25> vAF_{};
    ColourLabel *vRPC_, *vPIN_, *vSLC_, *vRSA_, *vRSb_, *vTAB_, *vTime_;
    ColourLabel *vT_, *vF_, *vD_, *vDP_, *vPN_, *vEXT_, *vEVT_, *vLOC_;
    QLineEdit* vDPDesc_;
    QPlainTextEdit* vEvtDsc_;
    QString evtText_;
    ColourLabel *vRDSGRP_, *vRDSB0_, *vODA_, *vAID_;
    ColourLabel *vEONPI_, *vEONTP_, *vEONPTY_, *vEONPS_, *vEONTA_, *vEONPIN_, *vEONAF1_, *vEONAF2_;
    std::array<ColourLabel*, 5> vEONTN_{}, vEONMF_{};
};

}  // namespace varnak
