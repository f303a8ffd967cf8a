// The monitor's runs: a recording analysed (File), the card's live data
// (Card), the FM multiplex from an audio recording or a receiver (radio), and
// Stop. The controller owns which run is active and hands the work to one
// class per kind (FileRunner, CardRunner, RadioRunner); what every kind
// shares (the frame processor, the decode log, how a run begins and ends) is
// their RunContext. Long work is driven from the event loop or a worker
// thread; nothing here runs the event loop from inside it.
//
// The controller holds no widgets: what a run shows and asks goes through a
// RunView, which the main window implements.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "band_run.h"
#include "frame_processor.h"

namespace quesmer {
class CardLink;
}

namespace varnak::radio {
struct SignalReport;
}

namespace varnak {

class BandRunner;
class CardRunner;
class FileRunner;
class LiveFeed;
class RadioRunner;
class RunContext;
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
    // A band run shows another station: the panels' values go.
    virtual void clearValues() {}
    // North American programme-type names (RBDS).
    virtual bool rbdsNames() const { return false; }
    // A passing note in the status bar (the card set-up's progress); empty
    // clears it.
    virtual void showProgress(const QString& /*text*/) {}
    // The station logo RDS2 brought (the picture file's bytes, size and CRC
    // checked) and what it is, for a tool tip; empty bytes hide it.
    virtual void showStationLogo(const QByteArray& /*image*/, const QString& /*about*/) {}
};

class RunController : public QObject {
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
    // setMpxRate(): standard input ("-", whatever it is connected to), a FIFO
    // or a device is a live run into Radio.out in the current directory; a
    // regular file is analysed into its decode log beside it. Returns as
    // analyseFile().
    bool runRadio(const QString& path);
    // Starts a band run on the IQ capture `input` (see BandRunner); returns
    // as analyseFile(). `path` is the recording as the user named it.
    bool runBand(const BandInput& input, const QString& path);
    // IQ samples of this kind for FILE instead of recognised recordings
    // (--iq, --rate, --center); a SigMF recording needs none.
    void setIqSettings(std::optional<radio::IqSettings> settings) { iq_ = settings; }
    // Sets up card number `card`, connected on `link`, for the RDS bit
    // stream (see CardRunner::setUp); false when Stop or closing the window
    // ended the set-up, which leaves the window idle.
    bool setUpCard(quesmer::CardLink& link, int card, int ifInput, const std::function<void(int ms)>& pause);
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
    void setRealtime(bool on);
    bool realtime() const;
    void setObserver(RunObserver* observer);
    // The polarity changed from outside a run (the status bar).
    void setInverted(bool inverted);

    bool isAnalysing() const;
    bool isRadioRunning() const;
    bool isBandRunning() const;
    BandRunner& band() { return *band_; }
    bool cardActive() const;
    bool isLogOpen() const;
    const QString& currentPath() const;
    void clearCurrentPath();
    // Stop commands so far: tells a card set-up that it was ended.
    int stopCount() const { return stopCount_; }
    int16_t resetCount() const;
    LiveFeed& liveFeed();

signals:
    // A run that analyseFile() or runRadio() started has ended (ran out,
    // stopped or failed) and its log is closed; false when it failed or
    // found no group (the user was told).
    void finished(bool ok);

private:
    std::unique_ptr<RunContext> context_;
    std::unique_ptr<RadioRunner> radio_;
    std::unique_ptr<FileRunner> file_;
    std::unique_ptr<CardRunner> card_;
    std::unique_ptr<BandRunner> band_;
    std::optional<radio::IqSettings> iq_;
    std::optional<double> mpxRate_;
    int stopCount_ = 0;
};

}  // namespace varnak
