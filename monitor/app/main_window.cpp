#include "main_window.h"

#include <QCloseEvent>
#include <QDir>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>

#include <algorithm>
#include <cctype>
#include <limits>

#include "config_dialog.h"
#include "field_format.h"
#include "group_panels.h"
#include "live_feed.h"
#include "main_layout.h"
#include "notifier.h"
#include "quesmer/daskel.h"
#include "settings_store.h"
#include "signal_status.h"
#include "station_logo.h"
#include "status_word.h"
#include "sync_indicators.h"
#include "widgets.h"

namespace varnak {

const QString MainWindow::AppName = QStringLiteral("Varnak");

MainWindow::MainWindow(SettingsStore& store, Notifier& notifier, QWidget* parent)
    : QWidget(parent), store_(store), notifier_(notifier)
{
    if (QScreen* s = screen()) dpi_ = s->logicalDotsPerInchY();
    // A disabled value stays readable: a mid grey rather than a faint one.
    QPalette pal = palette();
    pal.setColor(QPalette::Disabled, QPalette::WindowText, QColor(120, 120, 120));
    pal.setColor(QPalette::Disabled, QPalette::Text, QColor(120, 120, 120));
    setPalette(pal);
    ui_ = BuildMainLayout(this, Twips(dpi_));
    indicators_ = std::make_unique<SyncIndicators>(ui_.indicators);
    // The descriptor texts load the library on first use, like every other call.
    panels_ = std::make_unique<GroupPanels>(ui_.panels, *this, [this] { return api(false); });

    connect(ui_.file, &QPushButton::clicked, this, &MainWindow::FileCommand);
    connect(ui_.stop, &QPushButton::clicked, this, &MainWindow::StopCommand);
    connect(ui_.card, &QPushButton::clicked, this, &MainWindow::CardCommand);

    // The card client of live decoding, in the top row; its data events feed
    // the live data handler, which shows the "F" mark when it drops text.
    daskel_ = new quesmer::Daskel(this);
    daskel_->setObjectName(QStringLiteral("Daskel"));
    daskel_->setGeometry(Twips(dpi_).rect(1920, 20, 255, 255));
    daskel_->link().setErrorNotifier([this](const QString& text) { notifier_.message(this, AppName, text); });
    runs_ = std::make_unique<RunController>(static_cast<RunView&>(*this), static_cast<FrameListener&>(*this));
    connect(runs_.get(), &RunController::finished, this, &MainWindow::analysisFinished);
    connect(
        daskel_, &quesmer::Daskel::OnCardDataBinary, this,
        [this](quesmer::EncTyp encoding, quesmer::Integer, const QString& bin) { liveFeed().onData(encoding, bin); });
    // The card sends its signal level now and then: shown while its data is decoded.
    connect(daskel_, &quesmer::Daskel::OnCardIndicator, this, [this](const quesmer::IndicatorInfo&) {
        if (CardActive()) refreshSignal();
    });
    connect(ui_.status, &PanelStatusBar::panelClicked, this, &MainWindow::PanelClick);
    // The RDS2 station logo: at the right end of the display lines, over
    // the free end of their text, shown only once a logo has come.
    logo_ = new StationLogo(this);
    logo_->setGeometry(Twips(dpi_).rect(6390, 5880, 1440, 960));

    Load();
}

MainWindow::~MainWindow()
{
    // The card client outlives this body; nothing it still raises reaches
    // the window.
    QObject::disconnect(daskel_, nullptr, this, nullptr);
    // The runs end before the window: the radio worker is gone, the log closed.
    runs_.reset();
}

// ---------------------------------------------------------------------------
// Start-up and shut-down

void MainWindow::Load()
{
    cardHost_ = store_.ReadSetting(AppName, QString(), QStringLiteral("HostName"), QString()).toString();
    cardPort_ = store_.ReadSetting(AppName, QString(), QStringLiteral("HostPort"), 33234).toInt();
    rbds_ = store_.ReadSetting(AppName, QString(), QStringLiteral("RBDS"), 0).toInt() != 0;
    panels_->setRbds(rbds_);
    // A TMC location table (exchange format) names the locations of messages.
    const QString tmcFolder =
        store_.ReadSetting(AppName, QString(), QStringLiteral("TmcLocations"), QString()).toString();
    if (!tmcFolder.isEmpty()) {
        std::string error;
        auto table = rdsformats::TmcLocationTable::Load(tmcFolder.toStdString(), error);
        if (!table)
            ui_.status->showMessage(QStringLiteral("TMC locations not loaded: %1").arg(QString::fromStdString(error)));
        panels_->setTmcLocations(std::move(table));
    }

    // The design-time position: centred on the screen.
    const Twips t(dpi_);
    QPoint design(0, 0);
    if (QScreen* s = screen()) {
        const QRect avail = s->availableGeometry();
        design = avail.center() - QPoint(width() / 2, height() / 2);
    }
    const int defaultLeft = static_cast<int>(t.toTwips(design.x()));
    const int defaultTop = static_cast<int>(t.toTwips(design.y()));
    // Positions are 16-bit twips; anything else in the store is not ours.
    auto position = [&](const char* name, int fallback) {
        const int v = store_.ReadSetting(AppName, QString(), QString::fromLatin1(name), fallback).toInt();
        return v >= std::numeric_limits<int16_t>::min() && v <= std::numeric_limits<int16_t>::max() ? v : fallback;
    };
    windowLeft_ = position("X", defaultLeft);
    windowTop_ = position("Y", defaultTop);
    // A place on a screen that is no longer there would hide the window.
    if (!QGuiApplication::screenAt(QPoint(t.px(windowLeft_), t.px(windowTop_)) + QPoint(width() / 2, 8))) {
        windowLeft_ = defaultLeft;
        windowTop_ = defaultTop;
    }
    move(t.px(windowLeft_), t.px(windowTop_));

    title_ = QStringLiteral("%1 V%2.%3.%4")
                 .arg(AppName)
                 .arg(VARNAK_VERSION_MAJOR)
                 .arg(VARNAK_VERSION_MINOR)
                 .arg(VARNAK_VERSION_PATCH);
    setWindowTitle(title_);
    inverted_ = false;
    indicators_->lightLamps(-1);
    ShowBitstream();
    panels_->setRawState(false);
    for (int g : kPanelGroups) panels_->setPanelState(g, false);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    StopCommand();
    const Twips t(dpi_);
    store_.WriteSetting(AppName, QString(), QStringLiteral("X"), t.toTwips(x()));
    store_.WriteSetting(AppName, QString(), QStringLiteral("Y"), t.toTwips(y()));
    event->accept();
}

// ---------------------------------------------------------------------------
// Indicators and panels

void MainWindow::ShowBitstream()
{
    ui_.status->panel(4)->setText(inverted_ ? QStringLiteral("Bitstream: Inverted")
                                            : QStringLiteral("Bitstream: Direct"));
}

void MainWindow::setRbds(bool on)
{
    rbds_ = on;
    panels_->setRbds(on);
    store_.WriteSetting(AppName, QString(), QStringLiteral("RBDS"), on ? 1 : 0);
}

// ---------------------------------------------------------------------------
// Frame processing

const MurlinApi* MainWindow::api(bool reportFailure)
{
    if (!api_) {
        std::string error;
        api_ = murlin(&error);
        if (!api_) {
            if (reportFailure)
                notifier_.message(
                    this, AppName,
                    QStringLiteral("Cannot load the decoder library: %1").arg(QString::fromStdString(error)));
            return nullptr;
        }
    }
    return api_;
}

void MainWindow::onAutoReset(bool inverted)
{
    inverted_ = inverted;
    ShowBitstream();
}

// While a text is decoded, status words and groups are only noted; what they
// leave on the window is drawn when the run lets the window draw (applyView).
// Nothing is painted in between, so the window looks the same as if every one
// had been shown, and a long recording decodes at the decoder's speed.
void MainWindow::onStatus(uint16_t status)
{
    indicators_->note(rdsformats::StatusWord(status));
    panels_->noteStatus(status);
    if (observer_) observer_->onStatus(status);
}

// A block the radio demodulator was sure of: its characters confirm at once.
void MainWindow::onSureStatus(uint16_t status)
{
    indicators_->note(rdsformats::StatusWord(status));
    panels_->noteStatus(status, true);
    if (observer_) observer_->onSureStatus(status);
}

void MainWindow::onGroup(const DecodedGroup& g)
{
    panels_->note(g);
    if (!deferView_) panels_->applyStates();
}

void MainWindow::applyView()
{
    indicators_->apply();
    panels_->apply();
}

void MainWindow::refreshCounters()
{
    if (!api_) return;
    ui_.status->panel(1)->setText(CounterText("Total Blocs", api_->RDSStat(0)));
    ui_.status->panel(2)->setText(CounterText("Total Errors", api_->RDSStat(1)));
    ui_.status->panel(3)->setText(CounterText("Total CRC corrected", api_->RDSStat(2)));
}

// ---------------------------------------------------------------------------
// Commands

void MainWindow::FileCommand()
{
    runs_->clearCurrentPath();
    // A recording is recognised by its content, whatever its name: every file
    // is offered first, then the names recordings usually have (bits, hex
    // text, group logs, audio, raw multiplex samples).
    const QString chosen = notifier_.openFileName(
        this, QStringLiteral("Load "), QDir::currentPath(),
        QStringLiteral("All files (*);;Recordings (*.txt *.bit *.hex *.log *.spy *.wav *.flac *.aiff *.raw *.pcm "
                       "*.s16);;SigMF IQ recordings (*.sigmf-meta *.sigmf-data)"));
    if (chosen.isEmpty()) return;  // cancelled
    AnalyseFile(chosen);
}

void MainWindow::CardCommand()
{
    daskel_->CardDisconnect();
    if (!configDialog_) configDialog_ = new ConfigDialog(notifier_, this);
    configDialog_->setHostNam(cardHost_);
    configDialog_->setHostSvc(QString::number(cardPort_));
    configDialog_->setIFInput(3);
    configDialog_->exec();
    if (configDialog_->CardNum() <= 0) return;  // cancelled, or no card chosen

    const QString portText = configDialog_->HostSvc();
    bool isNumber = false;
    const int portValue = portText.toInt(&isNumber);
    if (!isNumber || portValue < 1 || portValue > 65535) {
        notifier_.message(
            this, AppName,
            QStringLiteral("Err:-1 - Connect Error: the port \"%1\" is not a number from 1 to 65535").arg(portText));
        return;
    }
    QString host = configDialog_->HostNam();
    quesmer::Long port = portValue;
    quesmer::Integer number = static_cast<quesmer::Integer>(configDialog_->CardNum());
    const quesmer::Integer result = daskel_->CardConnectByNumber(host, port, number);
    if (result != 0) {
        // The control's text for the result; for -1 also why no card was selected.
        quesmer::Integer code = result;
        const QString reason = daskel_->link().connectErrorText(code);
        notifier_.message(this, AppName, QStringLiteral("Err:%1 - %2").arg(result).arg(reason));
        return;
    }
    cardHost_ = configDialog_->HostNam();
    cardPort_ = portValue;
    store_.WriteSetting(AppName, QString(), QStringLiteral("HostName"), cardHost_);
    store_.WriteSetting(AppName, QString(), QStringLiteral("HostPort"), cardPort_);

    // Stop, or closing the window, during the set-up leaves the window idle.
    if (!runs_->setUpCard(daskel_->link(), number, configDialog_->IFInput(), startPause_)) return;
    if (!runs_->startCard()) {
        daskel_->CardDisconnect();
        setIdleButtons();
        return;
    }
    radioSignal_.reset();  // what an earlier radio run ended with is not the card's
    refreshSignal();
}

bool MainWindow::CardActive() const { return runs_->cardActive(); }

void MainWindow::StopCommand() { runs_->stop(); }

void MainWindow::setIdleButtons()
{
    ui_.file->setEnabled(true);
    ui_.card->setEnabled(true);
    ui_.stop->setEnabled(false);
}

void MainWindow::PanelClick(int number)
{
    if (number < 4) {
        if (api(false)) api_->RDSStat(-1);
        // Show the cleared counts now, not only at the next decoded bit.
        refreshCounters();
    } else if (number == 4) {
        inverted_ = !inverted_;
        runs_->setInverted(inverted_);
        ShowBitstream();
    }
}

// ---------------------------------------------------------------------------
// What the runs show

void MainWindow::tell(const QString& text) { notifier_.message(this, AppName, text); }

void MainWindow::setStartEnabled(bool on)
{
    ui_.file->setEnabled(on);
    ui_.card->setEnabled(on);
}

void MainWindow::setStopEnabled(bool on) { ui_.stop->setEnabled(on); }

bool MainWindow::stopEnabled() const { return ui_.stop->isEnabled(); }

void MainWindow::showLogPath(const QString& path)
{
    ui_.status->showMessage(QStringLiteral("Decode log: %1").arg(path));
}

void MainWindow::clearBlockLines() { panels_->clearLines(); }

void MainWindow::showStationLogo(const QByteArray& image, const QString& about)
{
    if (image.isEmpty())
        logo_->clearImage();
    else
        logo_->showImage(image, about);
}

void MainWindow::clearValues()
{
    panels_->clearValues();
    for (int g : kPanelGroups) panels_->setPanelState(g, false);
    panels_->setRawState(false);
}

void MainWindow::setTitleState(const QString& state)
{
    setWindowTitle(state.isEmpty() ? title_ : title_ + QStringLiteral(" - ") + state);
}

void MainWindow::showSignal(const radio::SignalReport* report)
{
    if (report)
        radioSignal_ = *report;
    else
        radioSignal_.reset();
    refreshSignal();
}

void MainWindow::refreshSignal()
{
    const BlockErrors errors = api_ ? CountBlockErrors(*api_) : BlockErrors{};
    SignalStatus s;
    if (CardActive()) {
        const quesmer::IndicatorInfo& card = daskel_->link().lastIndicator();
        s = CardSignalStatus(card.Status, card.Level, errors);
    } else if (radioSignal_) {
        s = RadioSignalStatus(*radioSignal_, errors);
    }
    ui_.status->showSignal(s.brief, s.full);
}

void MainWindow::showDecoded()
{
    applyView();
    refreshCounters();
    if (radioSignal_ || CardActive()) refreshSignal();  // the block error rate follows
}

void MainWindow::setInverted(bool inverted, bool show)
{
    inverted_ = inverted;
    if (show) ShowBitstream();
}

void MainWindow::showProgress(const QString& text)
{
    if (text.isEmpty())
        ui_.status->clearMessage();
    else
        ui_.status->showMessage(text);
}

void MainWindow::showOverflow(bool shown) { ui_.full->setVisible(shown); }

void MainWindow::releaseCard()
{
    daskel_->CardDisconnect();
    refreshSignal();  // the card's level goes with it
}

}  // namespace varnak
