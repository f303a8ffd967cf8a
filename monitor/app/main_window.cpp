#include "main_window.h"

#include <QCloseEvent>
#include <QDir>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>

#include <algorithm>
#include <cctype>
#include <limits>

#include "config_dialog.h"
#include "field_format.h"
#include "live_feed.h"
#include "main_layout.h"
#include "notifier.h"
#include "quesmer/daskel.h"
#include "rbds.h"
#include "settings_store.h"
#include "widgets.h"

namespace varnak {
namespace {

const QColor kPanelActive(255, 255, 224);
const QColor kRowActive(255, 255, 192);  // raw-block row caption, lit lamp
const QColor kLampDark(0, 0, 0);
const QColor kGood(0, 255, 0);
const QColor kBetween(255, 192, 128);
const QColor kBad(255, 0, 0);
const QColor kCaptionActive(255, 0, 0);
const QColor kCaptionInactive(0, 0, 0);

void SetIndicator(ColourLabel* label, const char* text, const QColor& colour) {
    label->setCaption(QString::fromLatin1(text));
    label->setBackground(colour);
}

template <std::size_t N>
QString Text(const char (&field)[N]) {
    return FieldText(field, static_cast<int>(N));
}

}  // namespace

const QString MainWindow::AppName = QStringLiteral("Varnak");

template <typename T>
T* MainWindow::control(const QString& name) const {
    T* c = findChild<T*>(name);
    if (!c) qFatal("main window: no control %s", qPrintable(name));
    return c;
}

ColourLabel* MainWindow::label(const QString& name) const { return control<ColourLabel>(name); }

MainWindow::MainWindow(SettingsStore& store, Notifier& notifier, QWidget* parent)
    : QWidget(parent), store_(store), notifier_(notifier) {
    if (QScreen* s = screen()) dpi_ = s->logicalDotsPerInchY();
    // A disabled value stays readable: a mid grey rather than a faint one.
    QPalette pal = palette();
    pal.setColor(QPalette::Disabled, QPalette::WindowText, QColor(120, 120, 120));
    pal.setColor(QPalette::Disabled, QPalette::Text, QColor(120, 120, 120));
    setPalette(pal);
    BuildMainLayout(this, Twips(dpi_));

    auto arr = [](const char* name, int i) { return QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(i); };
    file_ = control<QPushButton>(QStringLiteral("File"));
    card_ = control<QPushButton>(QStringLiteral("Card"));
    stopit_ = control<QPushButton>(QStringLiteral("Stopit"));
    lFULL_ = label(QStringLiteral("lFULL"));
    lSEQ_ = label(QStringLiteral("lSEQ"));
    lSYNC_ = label(QStringLiteral("lSYNC"));
    lCRC_ = label(QStringLiteral("lCRC"));
    for (int i = 0; i < 4; ++i) {
        lBLOCN_[i] = label(arr("lBLOCN", i));
        lBloc_[i] = label(arr("lBloc", i));
        lB_[i] = label(QStringLiteral("lB%1").arg(i + 1));
        vB_[i] = label(QStringLiteral("vB%1").arg(i + 1));
        tB_[i] = label(QStringLiteral("tB%1").arg(i + 1));
    }
    for (int g : kPanelGroups) lGrp_[g] = control<PanelFrame>(arr("lGrp", g));
    lAll_ = control<PanelFrame>(QStringLiteral("lAll"));
    status_ = control<PanelStatusBar>(QStringLiteral("Status"));

    vPI_ = label(QStringLiteral("vPI"));
    vGRP_ = label(QStringLiteral("vGRP"));
    vB0_ = label(QStringLiteral("vB0"));
    vTP_ = label(QStringLiteral("vTP"));
    vPTY_ = label(QStringLiteral("vPTY"));
    iPTY_ = label(QStringLiteral("iPTY"));
    vDI_ = label(QStringLiteral("vDI"));
    vPS_ = label(QStringLiteral("vPS"));
    vTA_ = label(QStringLiteral("vTA"));
    vMS_ = label(QStringLiteral("vMS"));
    vAFn_ = label(QStringLiteral("vAFn"));
    for (int i = 0; i < 25; ++i) vAF_[i] = label(arr("vAF", i));
    vRPC_ = label(QStringLiteral("vRPC"));
    vPIN_ = label(QStringLiteral("vPIN"));
    vSLC_ = label(QStringLiteral("vSLC"));
    vRSA_ = label(QStringLiteral("vRSA"));
    vRSb_ = label(QStringLiteral("vRSb"));
    vTAB_ = label(QStringLiteral("vTAB"));
    vTime_ = label(QStringLiteral("vTime"));
    vT_ = label(QStringLiteral("vT"));
    vF_ = label(QStringLiteral("vF"));
    vD_ = label(QStringLiteral("vD"));
    vDP_ = label(QStringLiteral("vDP"));
    vPN_ = label(QStringLiteral("vPN"));
    vEXT_ = label(QStringLiteral("vEXT"));
    vEVT_ = label(QStringLiteral("vEVT"));
    vLOC_ = label(QStringLiteral("vLOC"));
    vDPDesc_ = control<QLineEdit>(QStringLiteral("vDPDesc"));
    vEvtDsc_ = control<QPlainTextEdit>(QStringLiteral("vEvtDsc"));
    vRDSGRP_ = label(QStringLiteral("vRDSGRP"));
    vRDSB0_ = label(QStringLiteral("vRDSB0"));
    vODA_ = label(QStringLiteral("vODA"));
    vAID_ = label(QStringLiteral("vAID"));
    vEONPI_ = label(QStringLiteral("vEONPI"));
    vEONTP_ = label(QStringLiteral("vEONTP"));
    vEONPTY_ = label(QStringLiteral("vEONPTY"));
    vEONPS_ = label(QStringLiteral("vEONPS"));
    vEONTA_ = label(QStringLiteral("vEONTA"));
    vEONPIN_ = label(QStringLiteral("vEONPIN"));
    vEONAF1_ = label(QStringLiteral("vEONAF1"));
    vEONAF2_ = label(QStringLiteral("vEONAF2"));
    for (int i = 0; i < 5; ++i) {
        vEONTN_[i] = label(arr("vEONTN", i));
        vEONMF_[i] = label(arr("vEONMF", i));
    }

    // The rows of each group panel, in the order they are switched.
    auto row = [&](const char* caption, std::initializer_list<const char*> values) {
        Row r{label(QString::fromLatin1(caption)), {}};
        for (const char* v : values) r.values.push_back(label(QString::fromLatin1(v)));
        return r;
    };
    rows_[0] = {row("lDI", {"vDI"}), row("lPS", {"vPS"}), row("lTA", {"vTA"}), row("lMS", {"vMS"}),
                row("lAFn", {"vAFn"})};
    for (int i = 0; i < 25; ++i) rows_[0].push_back(Row{label(arr("lAF", i)), {vAF_[i]}});
    rows_[1] = {row("lRPC", {"vRPC"}), row("lPIN", {"vPIN"}), row("lSLC", {"vSLC"})};
    rows_[2] = {row("lRSa", {"vRSA"}), row("lRSb", {"vRSb"}), row("lTAB", {"vTAB"})};
    rows_[3] = {row("lRDSGRP", {"vRDSGRP", "vRDSB0"}), row("lODA", {"vODA"}), row("lAID", {"vAID"})};
    rows_[4] = {row("lTime", {"vTime"})};
    rows_[8] = {row("lT", {"vT"}),     row("lF", {"vF"}),     row("lD", {"vD"}),     row("lDP", {"vDP"}),
                row("lPN", {"vPN"}),   row("lEXT", {"vEXT"}), row("lEVT", {"vEVT"}), row("lLOC", {"vLOC"})};
    rows_[14] = {row("lEONPI", {"vEONPI"}),   row("lEONTP", {"vEONTP"}),   row("lEONPTY", {"vEONPTY"}),
                 row("lEONPS", {"vEONPS"}),   row("lEONTA", {"vEONTA"}),   row("lEONPIN", {"vEONPIN"}),
                 row("lEONAF1", {"vEONAF1"}), row("lEONAF2", {"vEONAF2"})};
    for (int i = 0; i < 5; ++i) rows_[14].push_back(Row{label(arr("lEONTN", i)), {vEONTN_[i]}});
    for (int i = 0; i < 5; ++i) rows_[14].push_back(Row{label(arr("lEONMF", i)), {vEONMF_[i]}});
    panelWanted_.fill(-1);
    panelShown_.fill(-1);

    connect(file_, &QPushButton::clicked, this, &MainWindow::FileCommand);
    connect(stopit_, &QPushButton::clicked, this, &MainWindow::StopCommand);
    connect(card_, &QPushButton::clicked, this, &MainWindow::CardCommand);

    // The card client of live decoding, in the top row; its data events feed
    // the live data handler, which shows the "F" mark when it drops text.
    daskel_ = new quesmer::Daskel(this);
    daskel_->setObjectName(QStringLiteral("Daskel"));
    daskel_->setGeometry(Twips(dpi_).rect(1920, 20, 255, 255));
    daskel_->link().setErrorNotifier([this](const QString& text) { notifier_.message(this, AppName, text); });
    runs_ = std::make_unique<RunController>(static_cast<RunView&>(*this), static_cast<FrameListener&>(*this));
    connect(runs_.get(), &RunController::finished, this, &MainWindow::analysisFinished);
    connect(daskel_, &quesmer::Daskel::OnCardDataBinary, this, [this](quesmer::EncTyp encoding, quesmer::Integer,
                                                                      const QString& bin) { liveFeed().onData(encoding, bin); });
    connect(status_, &PanelStatusBar::panelClicked, this, &MainWindow::PanelClick);

    Load();
}

MainWindow::~MainWindow() {
    // The card client outlives this body; nothing it still raises reaches
    // the window.
    QObject::disconnect(daskel_, nullptr, this, nullptr);
    // The runs end before the window: the radio worker is gone, the log closed.
    runs_.reset();
}

// ---------------------------------------------------------------------------
// Start-up and shut-down

void MainWindow::Load() {
    cardHost_ = store_.ReadSetting(AppName, QString(), QStringLiteral("HostName"), QString()).toString();
    cardPort_ = store_.ReadSetting(AppName, QString(), QStringLiteral("HostPort"), 33234).toInt();
    rbds_ = store_.ReadSetting(AppName, QString(), QStringLiteral("RBDS"), 0).toInt() != 0;

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
    ClearBloc(-1);
    ShowBitstream();
    BlocState(false);
    for (int g : kPanelGroups) FrameState(g, false);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    StopCommand();
    const Twips t(dpi_);
    store_.WriteSetting(AppName, QString(), QStringLiteral("X"), t.toTwips(x()));
    store_.WriteSetting(AppName, QString(), QStringLiteral("Y"), t.toTwips(y()));
    event->accept();
}

// ---------------------------------------------------------------------------
// Indicators

void MainWindow::ClearBloc(int idx) {
    for (int i = 0; i < static_cast<int>(lBLOCN_.size()); ++i)
        lBLOCN_[i]->setBackground(i <= idx ? kRowActive : kLampDark);
}

void MainWindow::BlocState(bool state) {
    rawWanted_ = state ? 1 : 0;
    if (!deferView_) applyPanelStates();
}

void MainWindow::FrameState(int index, bool state) {
    if (index < 0 || index >= 16 || !lGrp_[index]) return;
    panelWanted_[index] = state ? 1 : 0;
    if (!deferView_) applyPanelStates();
}

void MainWindow::applyPanelStates() {
    for (int g : kPanelGroups)
        if (panelWanted_[g] >= 0 && panelWanted_[g] != panelShown_[g]) setPanel(g, panelWanted_[g] == 1);
    if (rawWanted_ >= 0 && rawWanted_ != rawShown_) setRawPanel(rawWanted_ == 1);
}

void MainWindow::setPanel(int g, bool state) {
    panelShown_[g] = state ? 1 : 0;
    const QColor colour = state ? kPanelActive : palette().color(QPalette::Button);
    PanelFrame* f = lGrp_[g];
    f->setEnabled(state);
    f->setBackground(colour);
    f->setCaptionColour(state ? kCaptionActive : kCaptionInactive);
    for (const Row& r : rows_[g]) {
        r.caption->setEnabled(state);
        for (ColourLabel* v : r.values) v->setEnabled(state);
        r.caption->setBackground(colour);
    }
    if (g == 8) {
        vEvtDsc_->setEnabled(state);
        vDPDesc_->setEnabled(state);
    }
}

void MainWindow::setRawPanel(bool state) {
    rawShown_ = state ? 1 : 0;
    const QColor colour = state ? kRowActive : palette().color(QPalette::Button);
    lAll_->setEnabled(state);
    for (int i = 0; i < 4; ++i) {
        lB_[i]->setEnabled(state);
        vB_[i]->setEnabled(state);
        lB_[i]->setBackground(colour);
        tB_[i]->setEnabled(state);
    }
}

void MainWindow::FrameClearState() {
    for (ColourLabel* v : {vDI_, vPS_, vTA_, vMS_, vAFn_}) v->setCaption(QString());
    for (ColourLabel* v : vAF_) v->setCaption(QString());
    for (ColourLabel* v : {vRPC_, vPIN_, vSLC_, vRSA_, vRSb_, vTAB_, vTime_, vT_, vF_, vD_, vDP_, vPN_, vEXT_,
                           vEVT_, vLOC_})
        v->setCaption(QString());
    evtText_.clear();
    vEvtDsc_->clear();
    vDPDesc_->clear();
    for (ColourLabel* v : {vRDSGRP_, vRDSB0_, vODA_, vAID_, vEONPI_, vEONTP_, vEONPTY_, vEONPS_, vEONTA_,
                           vEONPIN_, vEONAF1_, vEONAF2_})
        v->setCaption(QString());
    for (ColourLabel* v : vEONTN_) v->setCaption(QString());
    for (ColourLabel* v : vEONMF_) v->setCaption(QString());
}

void MainWindow::MarkSync(SyncMarks& m, int status) {
    const int seq = status / 4096, sync = (status >> 8) & 0xF, check = (status >> 4) & 0xF;
    if (seq <= 1) m.seq = static_cast<int8_t>(seq);
    if (sync <= 3) m.sync = static_cast<int8_t>(sync);
    if (sync == 3) m.lamps = -1;
    if (check <= 3) m.check = static_cast<int8_t>(check);
    if (check == 1 || check == 3) m.lamps = -1;
    // The block position has the last word on the lamps.
    static constexpr int8_t kLampOfBlock[16] = {3, 0, 1, 2, 2, -1, SyncMarks::kUntouched, SyncMarks::kUntouched,
                                                SyncMarks::kUntouched, SyncMarks::kUntouched, SyncMarks::kUntouched,
                                                SyncMarks::kUntouched, SyncMarks::kUntouched, SyncMarks::kUntouched,
                                                SyncMarks::kUntouched, SyncMarks::kUntouched};
    if (kLampOfBlock[status & 0xF] != SyncMarks::kUntouched) m.lamps = kLampOfBlock[status & 0xF];
}

void MainWindow::applySync(SyncMarks& m) {
    switch (m.seq) {
        case 0: SetIndicator(lSEQ_, "FULL", kGood); break;
        case 1: SetIndicator(lSEQ_, "PART", kBetween); break;
        default: break;
    }
    switch (m.sync) {
        case 0: SetIndicator(lSYNC_, "SYN", kGood); break;
        case 1: SetIndicator(lSYNC_, "NOT", kBad); break;
        case 2: SetIndicator(lSYNC_, "ACQ", kBetween); break;
        case 3: SetIndicator(lSYNC_, "LOS", kBad); break;
        default: break;
    }
    switch (m.check) {
        case 0: SetIndicator(lCRC_, "OK", kGood); break;
        case 1: SetIndicator(lCRC_, "UNC", kBad); break;
        case 2: SetIndicator(lCRC_, "COR", kBetween); break;
        case 3: SetIndicator(lCRC_, "BAD", kBad); break;
        default: break;
    }
    if (m.lamps != SyncMarks::kUntouched) ClearBloc(m.lamps);
    m = SyncMarks{};
}

void MainWindow::ShowSync(int status) {
    SyncMarks m;
    MarkSync(m, status);
    applySync(m);
}

void MainWindow::ShowBitstream() {
    status_->panel(4)->setText(inverted_ ? QStringLiteral("Bitstream: Inverted") : QStringLiteral("Bitstream: Direct"));
}

// ---------------------------------------------------------------------------
// Decoded-field panels

QString MainWindow::libraryText(const char* text) const { return QString::fromLatin1(StrFromPtr(text)); }

// The descriptor texts load the library on first use, like every other call.
QString MainWindow::describe(Lookup MurlinApi::*lookup, int code) {
    return api(false) ? libraryText((api_->*lookup)(code)) : QString();
}

void MainWindow::ShowBlocAB(const DecoderState& r) {
    vPI_->setCaption(Hex(r.pi));
    vGRP_->setCaption(Dec(r.groupType, 2));
    vB0_->setCaption(LetterAB(r.groupVersion));
    vTP_->setCaption(FlagNY(r.tp));
    vPTY_->setCaption(Dec(r.pty, 2));
    iPTY_->setCaption(rbds_ ? QString::fromLatin1(rdsformats::RbdsPtyName(r.pty))
                            : describe(&MurlinApi::RDSPTYDesc, r.pty));
}

void MainWindow::setRbds(bool on) {
    rbds_ = on;
    store_.WriteSetting(AppName, QString(), QStringLiteral("RBDS"), on ? 1 : 0);
}

void MainWindow::ShowGrp00(const DecoderState& r) {
    vTA_->setCaption(FlagNY(r.ta));
    vMS_->setCaption(FlagNY(r.ms));
    vDI_->setCaption(DiText(r.di));
    vPS_->setCaption(Text(r.ps));
    vAFn_->setCaption(QString::number(r.afCount));
    for (int i = 0; i < 25; ++i) vAF_[i]->setCaption(Freq(r.afList[i]));
}

void MainWindow::ShowGrp01(const DecoderState& r) {
    vRPC_->setCaption(HexZ(r.rpc, 2));
    vSLC_->setCaption(HexZ(r.slc, 4));
    vPIN_->setCaption(HexZ(r.pin, 4));
}

void MainWindow::ShowGrp02(const DecoderState& r) {
    vTAB_->setCaption(FlagNY(r.textAB));
    vRSA_->setCaption(Text(r.radioText));
    vRSb_->setCaption(Text(r.radioTextB));
}

void MainWindow::ShowGrp03(const DecoderState& r) {
    vRDSGRP_->setCaption(Dec(r.odaGroupType, 2));
    vRDSB0_->setCaption(LetterAB(r.odaGroupVersion));
    vODA_->setCaption(Hex4s(r.odaMessage));
    vAID_->setCaption(Hex4s(r.odaAid));
}

void MainWindow::ShowGrp04A(const DecoderState& r) { vTime_->setCaption(Text(r.clockText)); }

// Message fields come with a single-group message and with the first group
// of a multi-group user message only.
bool MainWindow::CarriesTmcMessage(const DecoderState& r) {
    return r.tmcF == 1 || (r.tmcT == 0 && r.tmcF == 0 && r.tmcD == 1);
}

void MainWindow::ShowGrp08A(const DecoderState& r) {
    vD_->setCaption(Dec(r.tmcD, 1));
    vDP_->setCaption(QString::number(r.tmcDP));
    vF_->setCaption(r.tmcF == 0 ? QStringLiteral("M") : QStringLiteral("S"));
    vT_->setCaption(r.tmcT == 0 ? QStringLiteral("U") : QStringLiteral("T"));
    vPN_->setCaption(r.tmcPN == 0 ? QStringLiteral("+") : QStringLiteral("-"));
    if (!CarriesTmcMessage(r)) return;
    vEXT_->setCaption(Dec(r.tmcExtent, 1));
    vEVT_->setCaption(Dec(r.tmcEvent, 4));
    vLOC_->setCaption(Dec(static_cast<uint32_t>(IntegerToUnsigned(static_cast<int16_t>(r.tmcLocation))), 5));
    if (r.tmcEvent != 0) {
        const QString event = describe(&MurlinApi::RDSEVTDesc, r.tmcEvent);
        if (event != evtText_ || vEvtDsc_->document()->isEmpty() != event.isEmpty()) {
            evtText_ = event;
            vEvtDsc_->setPlainText(event);
        }
        const QString duration = describe(&MurlinApi::RDSDPDesc, r.tmcDP);
        if (duration != vDPDesc_->text()) vDPDesc_->setText(duration);
    }
}

void MainWindow::ShowGrp14(const DecoderState& r) {
    vEONPI_->setCaption(Hex(r.eonPi));
    vEONTP_->setCaption(FlagNY(r.eonTp));
    vEONPTY_->setCaption(Dec(r.eonPty, 2));
    vEONTA_->setCaption(FlagNY(r.eonTa));
    vEONPIN_->setCaption(Hex4s(r.eonPin));
    vEONPS_->setCaption(Text(r.eonPs));
    vEONAF1_->setCaption(Freq(r.eonAf1));
    vEONAF2_->setCaption(Freq(r.eonAf2));
    for (int i = 0; i < 5; ++i) vEONTN_[i]->setCaption(Freq(r.eonTuned[i]));
    for (int i = 0; i < 5; ++i) vEONMF_[i]->setCaption(Freq(r.eonMapped[i]));
}

// ---------------------------------------------------------------------------
// Frame processing

const MurlinApi* MainWindow::api(bool reportFailure) {
    if (!api_) {
        std::string error;
        api_ = murlin(&error);
        if (!api_) {
            if (reportFailure)
                notifier_.message(this, AppName,
                                  QStringLiteral("Cannot load the decoder library: %1").arg(QString::fromStdString(error)));
            return nullptr;
        }
    }
    return api_;
}

void MainWindow::onAutoReset(bool inverted) {
    inverted_ = inverted;
    ShowBitstream();
}

// While a text is decoded, status words and groups are only noted; what they
// leave on the window is drawn when the run lets the window draw (applyView).
// Nothing is painted in between, so the window looks the same as if every one
// had been shown, and a long recording decodes at the decoder's speed.
void MainWindow::onStatus(uint16_t status) {
    MarkSync(syncMarks_, status);
    if (observer_) observer_->onStatus(status);
}

void MainWindow::onGroup(const DecodedGroup& g) {
    PendingView& v = pending_;
    const DecoderState& r = g.state;
    v.group = true;
    for (int n = 0; n < 4; ++n) v.lines[n] = g.lines[n];
    v.header = r;
    if (r.groupType != shownGroupType_) {
        shownGroupType_ = r.groupType;
        for (int p : kPanelGroups) FrameState(p, false);
    }
    if (r.pi != shownPi_) {
        shownPi_ = r.pi;
        // Everything noted for the panels so far is cleared before it shows.
        v.clear = true;
        v.panels = 0;
        v.tmcMessage = v.tmcEvent = false;
    }
    const int type = r.groupType;
    if (type < 16 && lGrp_[type]) {
        FrameState(type, true);
        BlocState(false);
        v.panels |= 1u << type;
        v.records[type] = r;
        if (type == 8 && CarriesTmcMessage(r)) {
            // Kept apart: a later group of the message must not hide them.
            v.tmcMessage = true;
            v.tmcMessageRecord = r;
            if (r.tmcEvent != 0) {
                v.tmcEvent = true;
                v.tmcEventRecord = r;
            }
        }
    } else {
        BlocState(true);
        v.raw = true;
        v.rawType = type;
        std::copy(std::begin(g.blockWords), std::end(g.blockWords), v.rawWords);
    }
}

void MainWindow::applyView() {
    applySync(syncMarks_);
    PendingView& v = pending_;
    if (v.group) {
        for (int n = 0; n < 4; ++n) lBloc_[n]->setCaption(QString::fromLatin1(v.lines[n]) + QStringLiteral("\r\n"));
        ShowBlocAB(v.header);
        if (v.clear) FrameClearState();
        for (int type : kPanelGroups) {
            if (!(v.panels & (1u << type))) continue;
            const DecoderState& r = v.records[type];
            switch (type) {
                case 0: ShowGrp00(r); break;
                case 1: ShowGrp01(r); break;
                case 2: ShowGrp02(r); break;
                case 3: ShowGrp03(r); break;
                case 4: ShowGrp04A(r); break;
                case 8:
                    if (v.tmcEvent) ShowGrp08A(v.tmcEventRecord);
                    if (v.tmcMessage) ShowGrp08A(v.tmcMessageRecord);
                    ShowGrp08A(r);
                    break;
                case 14: ShowGrp14(r); break;
                default: break;
            }
        }
        if (v.raw) showRawBlocks(v.rawType, v.rawWords);
        v.group = v.clear = v.raw = v.tmcMessage = v.tmcEvent = false;
        v.panels = 0;
    }
    applyPanelStates();
}

void MainWindow::showRawBlocks(int type, const uint16_t (&words)[4]) {
    const QString title = QStringLiteral("GRP %1").arg(type);
    if (lAll_->title() != title) lAll_->setTitle(title);
    for (int row = 0; row < 4; ++row) {
        vB_[row]->setCaption(Hex4s(words[row]));
        tB_[row]->setCaption(IntegerToChar(words[row]));
    }
}

void MainWindow::refreshCounters() {
    if (!api_) return;
    status_->panel(1)->setText(CounterText("Total Blocs", api_->RDSStat(0)));
    status_->panel(2)->setText(CounterText("Total Errors", api_->RDSStat(1)));
    status_->panel(3)->setText(CounterText("Total CRC corrected", api_->RDSStat(2)));
}

// ---------------------------------------------------------------------------
// Commands

void MainWindow::FileCommand() {
    runs_->clearCurrentPath();
    const QString chosen =
        notifier_.openFileName(this, QStringLiteral("Load "), QDir::currentPath(),
                               QStringLiteral("Recordings (*.txt *.bit *.hex *.wav *.flac);;All files (*)"));
    if (chosen.isEmpty()) return;  // cancelled
    AnalyseFile(chosen);
}

void MainWindow::CardCommand() {
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
        notifier_.message(this, AppName,
                          QStringLiteral("Err:-1 - Connect Error: the port \"%1\" is not a number from 1 to 65535")
                              .arg(portText));
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

    file_->setEnabled(false);
    card_->setEnabled(false);
    const int stops = runs_->stopCount();
    quesmer::sendRdsStartSequence(daskel_->link(), static_cast<quesmer::Integer>(configDialog_->IFInput()),
                                  startPause_);
    // Closing the window during the set-up ran Stop: the window stays idle.
    if (runs_->stopCount() != stops) return;
    if (!runs_->startCard()) {
        daskel_->CardDisconnect();
        setIdleButtons();
    }
}

bool MainWindow::CardActive() const { return runs_->cardActive(); }

void MainWindow::StopCommand() { runs_->stop(); }

void MainWindow::setIdleButtons() {
    file_->setEnabled(true);
    card_->setEnabled(true);
    stopit_->setEnabled(false);
}

void MainWindow::PanelClick(int number) {
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

void MainWindow::setStartEnabled(bool on) {
    file_->setEnabled(on);
    card_->setEnabled(on);
}

void MainWindow::setStopEnabled(bool on) { stopit_->setEnabled(on); }

bool MainWindow::stopEnabled() const { return stopit_->isEnabled(); }

void MainWindow::showLogPath(const QString& path) { status_->showMessage(QStringLiteral("Decode log: %1").arg(path)); }

void MainWindow::clearBlockLines() {
    for (ColourLabel* l : lBloc_) l->setCaption(QString());
}

void MainWindow::setTitleState(const QString& state) {
    setWindowTitle(state.isEmpty() ? title_ : title_ + QStringLiteral(" - ") + state);
}

void MainWindow::showDecoded() {
    applyView();
    refreshCounters();
}

void MainWindow::setInverted(bool inverted, bool show) {
    inverted_ = inverted;
    if (show) ShowBitstream();
}

void MainWindow::showOverflow(bool shown) { lFULL_->setVisible(shown); }

void MainWindow::releaseCard() { daskel_->CardDisconnect(); }

}  // namespace varnak
