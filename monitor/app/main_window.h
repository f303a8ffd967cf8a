// The monitor's main window: the fixed panel arrangement, the block and
// frame indicators, the decoded-field panels, the File, Card and Stop
// commands, the status bar and the window's start-up and shut-down.
//
// Decoding itself is the shared FrameProcessor's job; the window listens to
// it and shows what it reports. Message boxes and the file dialog go through
// a Notifier, so tests and unattended runs can replace them.
#pragma once

#include <QElapsedTimer>
#include <QWidget>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "decode_log.h"
#include "frame_processor.h"
#include "input_file.h"
#include "quesmer/start_sequence.h"
#include "radio_run.h"
#include "run_observer.h"

class QEventLoop;
class QPushButton;
class QTimer;
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

class MainWindow : public QWidget, private FrameListener {
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
    QString libraryText(const char* text) const;
    using Lookup = const char* (*)(int32_t);
    QString describe(Lookup MurlinApi::*lookup, int code);
    void refreshCounters();
    void maybeYield();
    void yieldNow();
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
    QString currentPath_;
    bool inverted_ = false;
    bool rbds_ = false;
    int shownGroupType_ = 0;
    int shownPi_ = 0;

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
    SyncMarks syncMarks_;
    PendingView pending_;
    // Panel states wanted and shown.
    std::array<int8_t, 16> panelWanted_{};
    std::array<int8_t, 16> panelShown_{};
    int8_t rawWanted_ = -1, rawShown_ = -1;

    // Live decoding.
    quesmer::Daskel* daskel_;
    std::unique_ptr<LiveFeed> live_;
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
