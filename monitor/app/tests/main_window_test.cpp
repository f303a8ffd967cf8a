// The main window with its real widgets (offscreen): layout, indicators,
// panels, file analysis of every kind of recording, live radio on standard
// input, Stop, the polarity search, status-bar clicks and the settings it
// reads and writes.
#include "main_window.h"
#include "rds_encoder.h"
#include "tmc_table.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <sndfile.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <functional>
#include <map>
#include <thread>

#include "capturing_notifier.h"
#include "field_format.h"
#include "group_panels.h"
#include "mpx_modulator.h"
#include "rds_demodulator.h"
#include "run_wait.h"
#include "settings_store.h"
#include "status_word.h"
#include "sync_indicators.h"
#include "test_streams.h"
#include "widgets.h"

// Readable failure messages (QString's printer comes with the notifier).
QT_BEGIN_NAMESPACE
inline void PrintTo(const QByteArray& b, std::ostream* os)
{
    *os << '"' << (b.size() > 400 ? b.left(400).toStdString() + "..." : b.toStdString()) << '"';
}
QT_END_NAMESPACE

namespace varnak {
namespace {

using test::CapturingNotifier;

constexpr double kRate = 171000;                                           // multiplex samples per second
const QByteArray kSeparator = "------------------------------------\r\n";  // ends a decode-log record
// The File dialog shows every file first: a recording of any kind (group
// logs and raw samples too) is recognised by its content, not its name.
const QString kFileFilter = QStringLiteral(
    "All files (*);;Recordings (*.txt *.bit *.hex *.log *.spy *.wav *.flac *.aiff *.raw *.pcm *.s16);;"
    "SigMF IQ recordings (*.sigmf-meta *.sigmf-data)");

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        api_ = murlin();
        ASSERT_NE(api_, nullptr) << "libmurlin.so must stand beside the test";
        makeWindow();
    }

    void makeWindow()
    {
        w_ = std::make_unique<MainWindow>(store_, notifier_);
        w_->show();
    }

    template <typename T = ColourLabel>
    T* c(const QString& name) const
    {
        T* found = w_->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << qPrintable(name);
        return found;
    }
    // What a control shows: a label's or a button's text, a panel's title.
    QString text(const QString& name) const
    {
        QWidget* w = c<QWidget>(name);
        if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
        if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
        auto* l = qobject_cast<QLabel*>(w);
        return l ? l->text() : QString();
    }
    QColor bg(const QString& name) const { return c(name)->background(); }
    QLabel* panel(const char* key) const { return c<QLabel>(QString::fromLatin1(key)); }
    QColor buttonFace() const { return w_->palette().color(QPalette::Button); }

    QString writeFile(const QString& name, const std::string& content) const
    {
        QString path = dir_.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content.data(), static_cast<qint64>(content.size()));
        return path;
    }
    static QByteArray readAll(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    // The decode log the shared frame processor writes for `bits`.
    QByteArray referenceLog(const std::string& bits) const
    {
        api_->RDSInit();
        const QString path = dir_.filePath(QStringLiteral("reference.out"));
        DecodeLog log;
        EXPECT_TRUE(log.open(QFile::encodeName(path).toStdString()));
        FrameProcessor p(*api_);
        p.setLog(&log);
        p.process(bits, true);
        EXPECT_TRUE(log.close());
        return readAll(path);
    }
    bool analyse(const QString& path) { return test::Analyse(*w_, path); }
    void clickFileAndWait()
    {
        test::UntilFinished(*w_, [&] {
            c<QPushButton>(QStringLiteral("File"))->click();
            return true;
        });
    }
    void expectIdle() const
    {
        EXPECT_TRUE(c<QPushButton>(QStringLiteral("File"))->isEnabled());
        EXPECT_TRUE(c<QPushButton>(QStringLiteral("Card"))->isEnabled());
        EXPECT_FALSE(c<QPushButton>(QStringLiteral("Stopit"))->isEnabled());
    }

    QTemporaryDir dir_;
    SettingsStore store_{dir_.filePath(QStringLiteral("config/settings.reg"))};
    CapturingNotifier notifier_;
    const MurlinApi* api_ = nullptr;
    std::unique_ptr<MainWindow> w_;
};

// ---------------------------------------------------------------------------
// Layout

TEST_F(WindowTest, ControlsStandWhereTheirTwipsSay)
{
    ASSERT_EQ(w_->screen()->logicalDotsPerInchY(), 96) << "geometry below is for 15 twips per pixel";
    EXPECT_EQ(w_->size(), QSize(526, 486));  // 7890 x 7290 twips
    // Left, Top, Width, Height in twips -> pixels, edges rounded; inside
    // their panel for those in one.
    const struct {
        const char* name;
        QRect rect;
    } cases[] = {{"File", {1, 0, 57, 17}},       {"Stopit", {145, 0, 40, 17}},   {"lGrp_8", {104, 224, 420, 83}},
                 {"vAF_24", {488, 61, 32, 17}},  {"lEONAF1", {256, 16, 32, 16}}, {"vEONAF1", {272, 29, 32, 17}},
                 {"lBloc_3", {1, 448, 521, 17}}, {"lBLOCN_3", {500, 0, 21, 17}}, {"Status", {0, 469, 526, 17}},
                 {"vEvtDsc", {8, 48, 407, 28}}};
    for (const auto& k : cases) EXPECT_EQ(c<QWidget>(QString::fromLatin1(k.name))->geometry(), k.rect) << k.name;
}

TEST_F(WindowTest, ControlsHaveTheirCaptionsFontsAndArrays)
{
    std::vector<std::pair<QString, QString>> captions = {
        {"File", "&File"},  {"Card", "&Card"}, {"Stopit", "&Stop"}, {"vLog", "Log"},   {"lGrp_4", "GRP 04A"},
        {"lAll", "GRP XX"}, {"lPI", "PI "},    {"lTAB", "TA/B"},    {"lBLOCN_2", "C"}, {"lBloc_0", ""}};
    for (int i = 0; i < 25; ++i)
        captions.emplace_back(QStringLiteral("lAF_%1").arg(i), QStringLiteral("AF%1").arg(i + 1));
    for (int i = 0; i < 5; ++i) {
        captions.emplace_back(QStringLiteral("lEONTN_%1").arg(i), QStringLiteral("TN%1").arg(i + 1));
        captions.emplace_back(QStringLiteral("lEONMF_%1").arg(i), QStringLiteral("MF%1").arg(i + 1));
    }
    for (const auto& [name, caption] : captions) EXPECT_EQ(text(name), caption) << qPrintable(name);
    // Panels exist for these group types only, and arrays end where they should.
    for (int g = 0; g < 16; ++g) {
        const bool hasPanel = g <= 4 || g == 8 || g == 14;
        EXPECT_EQ(w_->findChild<QGroupBox*>(QStringLiteral("lGrp_%1").arg(g)) != nullptr, hasPanel) << g;
    }
    for (const char* beyond : {"lAF_25", "vEONMF_5", "lBloc_4"})
        EXPECT_EQ(w_->findChild<QWidget*>(QString::fromLatin1(beyond)), nullptr) << beyond;

    EXPECT_EQ(c(QStringLiteral("vPS"))->font().family(), QStringLiteral("DejaVu Sans Mono"));
    EXPECT_EQ(c(QStringLiteral("vPS"))->font().pointSizeF(), 9.0);
    EXPECT_EQ(c(QStringLiteral("vPS"))->palette().color(QPalette::Active, QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_EQ(c(QStringLiteral("lBloc_0"))->font().family(), QStringLiteral("DejaVu Sans Mono"));
    EXPECT_TRUE(c(QStringLiteral("lPI"))->font().bold());
    EXPECT_TRUE(c(QStringLiteral("iPTY"))->font().bold());
    EXPECT_EQ(c(QStringLiteral("lPI"))->font().pointSizeF(), 8.25);
    EXPECT_EQ(c(QStringLiteral("vPI"))->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    EXPECT_EQ(c(QStringLiteral("vRSA"))->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
    EXPECT_EQ(bg(QStringLiteral("lPI")), QColor(255, 255, 224));
    EXPECT_EQ(c<PanelFrame>(QStringLiteral("lBab"))->background(), QColor(255, 255, 224));
}

TEST_F(WindowTest, StartsIdleWithTitleStatusBarAndDimPanels)
{
    EXPECT_EQ(w_->windowTitle(), QStringLiteral("Varnak V%1.%2.%3")
                                     .arg(VARNAK_VERSION_MAJOR)
                                     .arg(VARNAK_VERSION_MINOR)
                                     .arg(VARNAK_VERSION_PATCH));
    expectIdle();
    EXPECT_TRUE(c(QStringLiteral("lFULL"))->isHidden());
    EXPECT_EQ(bg(QStringLiteral("lFULL")), QColor(255, 0, 0));
    for (const char* ind : {"lSYNC", "lCRC", "lSEQ"}) {
        EXPECT_EQ(text(QString::fromLatin1(ind)), QStringLiteral("--"));
        EXPECT_EQ(bg(QString::fromLatin1(ind)), QColor(255, 0, 0));
    }
    for (int i = 0; i < 4; ++i) EXPECT_EQ(bg(QStringLiteral("lBLOCN_%1").arg(i)), QColor(0, 0, 0));
    for (int g : {0, 1, 2, 3, 4, 8, 14}) {
        auto* f = c<PanelFrame>(QStringLiteral("lGrp_%1").arg(g));
        EXPECT_FALSE(f->isEnabled()) << g;
        EXPECT_EQ(f->captionColour(), QColor(0, 0, 0));
    }
    EXPECT_FALSE(c<QWidget>(QStringLiteral("lAll"))->isEnabled());

    const struct {
        const char* key;
        const char* text;
        const char* tip;
    } panels[] = {{"TOTAL", "Total Blocs:", "Click here to clear counters"},
                  {"ERROR", "Total Errors:", "Click here to clear counters"},
                  {"CRC", "Total Corrected:", "Click here to clear counters"},
                  {"BITSTREAM", "Bitstream: Direct", "Click here to invert bitstream "}};
    auto* bar = c<PanelStatusBar>(QStringLiteral("Status"));
    ASSERT_EQ(bar->panelCount(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(bar->panel(i + 1), panel(panels[i].key));
        EXPECT_EQ(panel(panels[i].key)->text(), QString::fromLatin1(panels[i].text));
        EXPECT_EQ(panel(panels[i].key)->toolTip(), QString::fromLatin1(panels[i].tip));
    }
}

// ---------------------------------------------------------------------------
// Indicators

TEST_F(WindowTest, SyncIndicatorsFollowTheStatusWord)
{
    const QColor green(0, 255, 0), orange(255, 192, 128), red(255, 0, 0), lit(255, 255, 192);
    const std::map<QString, QColor> colours = {{"FULL", green}, {"PART", orange}, {"SYN", green}, {"NOT", red},
                                               {"ACQ", orange}, {"LOS", red},     {"OK", green},  {"UNC", red},
                                               {"COR", orange}, {"BAD", red}};
    auto lamps = [&] {
        QString s;
        for (int i = 0; i < 4; ++i) s += bg(QStringLiteral("lBLOCN_%1").arg(i)) == lit ? '1' : '0';
        return s;
    };
    // Status words one after the other; values outside the listed ones
    // leave their indicator as the word before left it.
    const struct {
        uint16_t word;
        const char *sequence, *sync, *check, *lamps;
    } steps[] = {
        {0x0000, "FULL", "SYN", "OK", "1111"},  {0x1201, "PART", "ACQ", "OK", "1000"},
        {0x0331, "FULL", "LOS", "BAD", "1000"}, {0x1123, "PART", "NOT", "COR", "1110"},
        {0x1214, "PART", "ACQ", "UNC", "1110"},  // block C'
        {0x0005, "FULL", "SYN", "OK", "0000"},   // no block: dark whatever else
        {0x0000, "FULL", "SYN", "OK", "1111"},  {0xFFF6, "FULL", "SYN", "OK", "1111"},
    };
    for (const auto& s : steps) {
        w_->indicators().show(rdsformats::StatusWord(s.word));
        const std::pair<const char*, const char*> shown[] = {
            {"lSEQ", s.sequence}, {"lSYNC", s.sync}, {"lCRC", s.check}};
        for (const auto& [name, expected] : shown) {
            EXPECT_EQ(text(QString::fromLatin1(name)), QString::fromLatin1(expected)) << std::hex << s.word;
            EXPECT_EQ(bg(QString::fromLatin1(name)), colours.at(QString::fromLatin1(expected))) << std::hex << s.word;
        }
        EXPECT_EQ(lamps(), QString::fromLatin1(s.lamps)) << std::hex << s.word;
    }
    const std::pair<int, const char*> lampSteps[] = {{-1, "0000"}, {1, "1100"}, {0, "1000"}};
    for (const auto& [last, expected] : lampSteps) {
        w_->indicators().lightLamps(last);
        EXPECT_EQ(lamps(), QString::fromLatin1(expected)) << last;
    }
    EXPECT_EQ(bg(QStringLiteral("lBLOCN_3")), QColor(0, 0, 0));
}

// Each panel switches its frame and every caption and value in it; the raw-
// block panel (-1) its rows.
TEST_F(WindowTest, PanelsSwitchOnAndOffWithAllTheirRows)
{
    auto names = [](std::initializer_list<const char*> fixed, const char* array = nullptr, int count = 0) {
        QStringList list;
        for (const char* n : fixed) list << QString::fromLatin1(n);
        for (int i = 0; i < count; ++i) list << QStringLiteral("%1_%2").arg(QLatin1String(array)).arg(i);
        return list;
    };
    const struct {
        int group;
        QStringList captions, values;
    } cases[] = {
        {0, names({"lDI", "lPS", "lTA", "lMS", "lAFn"}, "lAF", 25),
         names({"vDI", "vPS", "vTA", "vMS", "vAFn"}, "vAF", 25)},
        {1, names({"lRPC", "lPIN", "lSLC"}), names({"vRPC", "vPIN", "vSLC"})},
        {2, names({"lRSa", "lRSb", "lTAB"}), names({"vRSA", "vRSb", "vTAB"})},
        {3, names({"lRDSGRP", "lODA", "lAID"}), names({"vRDSGRP", "vRDSB0", "vODA", "vAID"})},
        {4, names({"lTime"}), names({"vTime"})},
        {8, names({"lT", "lF", "lDP", "lD", "lPN", "lEXT", "lEVT", "lLOC"}),
         names({"vT", "vF", "vDP", "vD", "vPN", "vEXT", "vEVT", "vLOC", "vEvtDsc", "vDPDesc"})},
        {14,
         names({"lEONPI", "lEONTP", "lEONPTY", "lEONPS", "lEONTA", "lEONPIN", "lEONAF1", "lEONAF2"}, "lEONTN", 5) +
             names({}, "lEONMF", 5),
         names({"vEONPI", "vEONTP", "vEONPTY", "vEONPS", "vEONTA", "vEONPIN", "vEONAF1", "vEONAF2"}, "vEONTN", 5) +
             names({}, "vEONMF", 5)},
        {-1, names({"lB1", "lB2", "lB3", "lB4"}), names({"vB1", "vB2", "vB3", "vB4", "tB1", "tB2", "tB3", "tB4"})},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.group);
        QWidget* frame = c<QWidget>(k.group < 0 ? QStringLiteral("lAll") : QStringLiteral("lGrp_%1").arg(k.group));
        for (bool on : {true, false}) {
            if (k.group < 0)
                w_->panels().setRawState(on);
            else
                w_->panels().setPanelState(k.group, on);
            const QColor face = !on ? buttonFace() : k.group < 0 ? QColor(255, 255, 192) : QColor(255, 255, 224);
            EXPECT_EQ(frame->isEnabled(), on);
            if (k.group >= 0) {
                EXPECT_EQ(c<PanelFrame>(frame->objectName())->background(), face);
                EXPECT_EQ(c<PanelFrame>(frame->objectName())->captionColour(),
                          on ? QColor(255, 0, 0) : QColor(0, 0, 0));
            }
            for (const QString& n : k.captions) {
                EXPECT_EQ(c(n)->isEnabledTo(frame), on) << qPrintable(n);
                EXPECT_EQ(bg(n), face) << qPrintable(n);
            }
            for (const QString& n : k.values) EXPECT_EQ(c<QWidget>(n)->isEnabledTo(frame), on) << qPrintable(n);
            EXPECT_FALSE(c<QWidget>(k.group == 0 ? QStringLiteral("lGrp_1") : QStringLiteral("lGrp_0"))->isEnabled());
        }
    }
}

// ---------------------------------------------------------------------------
// Panels

TEST_F(WindowTest, HeaderAndGroupPanelsShowTheRecord)
{
    DecoderState r{};
    r.pi = 0x0C3A;
    r.groupType = 8;
    r.pty = 5;
    r.tp = 1;
    const uint8_t di[4] = {1, 0, 0xFF, 0xFF};
    std::copy(di, di + 4, r.di);
    std::memcpy(r.ps, "KESTREL ", 9);
    r.afCount = 2;
    r.afList[0] = 875;
    r.afList[1] = 1079;
    r.rpc = 10;
    r.slc = 0x1E05;
    r.pin = 0x00C3;
    r.odaAid = 0xCD46;
    r.odaMessage = 0x00C3;
    r.odaGroupType = 8;
    r.eonTuned[0] = 974;
    r.eonPin = 0xC3;
    r.eonPi = 0xC2A2;
    GroupPanels& p = w_->panels();
    p.showHeader(r);
    p.showBasic(r);
    p.showSlowLabels(r);
    p.showOda(r);
    p.showEon(r);
    const QString ptyName = QString::fromLatin1(StrFromPtr(api_->RDSPTYDesc(5)));
    EXPECT_FALSE(ptyName.isEmpty());
    // What each value shows, and whether clearing the panels empties it (the
    // header stays).
    const struct {
        const char* name;
        QString text;
        bool cleared;
    } cases[] = {
        {"vPI", "C3A", false},    {"vGRP", "08", false},     {"vB0", "A", false},        {"vTP", "Y", false},
        {"vPTY", "05", false},    {"iPTY", ptyName, false},  {"vDI", "__01", true},      {"vPS", "KESTREL ", true},
        {"vAFn", "2", true},      {"vAF_0", "87.5", true},   {"vAF_1", "107.9", true},   {"vAF_2", "", true},
        {"vTA", "N", true},       {"vRPC", "0A", true},      {"vSLC", "1E05", true},     {"vPIN", "00C3", true},
        {"vAID", "CD46", true},   {"vODA", "  C3", true},    {"vRDSGRP", "08", true},    {"vRDSB0", "A", true},
        {"vEONPI", "C2A2", true}, {"vEONPIN", "  C3", true}, {"vEONTN_0", "97.4", true}, {"vEONMF_0", "", true},
        {"vEONMF_4", "", true},
    };
    for (const auto& k : cases) EXPECT_EQ(text(QString::fromLatin1(k.name)), k.text) << k.name;
    p.clearValues();
    for (const auto& k : cases) EXPECT_EQ(text(QString::fromLatin1(k.name)), k.cleared ? QString() : k.text) << k.name;

    r.pty = 40;  // no text for it: empty, not garbage
    p.showHeader(r);
    EXPECT_EQ(text(QStringLiteral("iPTY")), QString());
}

// The message fields (EXT, EVT, LOC and the descriptions) change with a
// single-group message or the first group of a multi-group one only, and
// event 0 leaves the descriptions as they were.
TEST_F(WindowTest, TmcPanelUpdatesMessageFieldsOnlyForFirstGroups)
{
    auto record = [](int f, int event, int dp, int pn, int location, int extent) {
        DecoderState r{};
        r.tmcF = static_cast<uint8_t>(f);
        r.tmcEvent = static_cast<uint16_t>(event);
        r.tmcDP = static_cast<uint8_t>(dp);
        r.tmcPN = static_cast<uint8_t>(pn);
        r.tmcLocation = static_cast<uint16_t>(location);
        r.tmcExtent = static_cast<uint8_t>(extent);
        return r;
    };
    const struct {
        const char* what;
        DecoderState record;
        std::vector<std::pair<const char*, const char*>> shown;
    } steps[] = {
        {"single-group message",
         record(1, 1, 3, 0, 0xFFFF, 2),
         {{"vEVT", "0001"}, {"vLOC", "65535"}, {"vEXT", "2"}, {"vF", "S"}, {"vDP", "3"}, {"vPN", "+"}}},
        {"later group of a multi-group message",
         record(0, 7, 5, 1, 0, 0),
         {{"vD", "0"}, {"vDP", "5"}, {"vF", "M"}, {"vT", "U"}, {"vPN", "-"}, {"vEVT", "0001"}, {"vLOC", "65535"}}},
        {"event 0", record(1, 0, 1, 0, 0, 0), {{"vEVT", "0000"}, {"vDP", "1"}}},
    };
    const QString event = QString::fromLatin1(StrFromPtr(api_->RDSEVTDesc(1)));
    const QString duration = QString::fromLatin1(StrFromPtr(api_->RDSDPDesc(3)));
    EXPECT_FALSE(duration.isEmpty());
    for (const auto& s : steps) {
        w_->panels().showTmc(s.record);
        for (const auto& [name, expected] : s.shown)
            EXPECT_EQ(text(QString::fromLatin1(name)), QString::fromLatin1(expected)) << s.what << " " << name;
        EXPECT_EQ(c<QPlainTextEdit>(QStringLiteral("vEvtDsc"))->toPlainText(), event) << s.what;
        EXPECT_EQ(c<QLineEdit>(QStringLiteral("vDPDesc"))->text(), duration) << s.what;
    }
}

TEST_F(WindowTest, TmcLocationsComeFromTheTableTheSettingNames)
{
    const QString folder = dir_.filePath(QStringLiteral("lt"));
    ASSERT_TRUE(QDir().mkpath(folder));
    varnaktest::WriteTmcTable(folder.toStdString());
    ASSERT_TRUE(store_.WriteSetting(QStringLiteral("Varnak"), {}, QStringLiteral("TmcLocations"), folder));
    makeWindow();
    DecoderState r{};
    r.tmcF = 1;
    r.tmcEvent = 1;
    r.tmcLocation = 203;
    r.tmcExtent = 2;
    w_->panels().showTmc(r);
    const QString event = QString::fromLatin1(StrFromPtr(api_->RDSEVTDesc(1)));
    EXPECT_EQ(c<QPlainTextEdit>(QStringLiteral("vEvtDsc"))->toPlainText(),
              event + QStringLiteral("\nA7 Kestrel Coast Road: Cliffside, positive direction, to Harbour"));
    // A folder that holds no table: numbers only, and the status bar says why.
    ASSERT_TRUE(store_.WriteSetting(QStringLiteral("Varnak"), {}, QStringLiteral("TmcLocations"), dir_.path()));
    makeWindow();
    EXPECT_TRUE(c<PanelStatusBar>(QStringLiteral("Status"))
                    ->currentMessage()
                    .startsWith(QStringLiteral("TMC locations not loaded: ")));
    w_->panels().showTmc(r);
    EXPECT_EQ(c<QPlainTextEdit>(QStringLiteral("vEvtDsc"))->toPlainText(), event);
}

// ---------------------------------------------------------------------------
// File analysis

TEST_F(WindowTest, FileAnalysisWritesTheSharedProcessorsLog)
{
    const std::string bits = test::StationBits(24, 300);
    const QString path = writeFile(QStringLiteral("station.txt"), bits);
    // The decoder keeps some data across RDSInit (the last PI), so compare
    // runs that start from the same decoder state: after one of this stream.
    referenceLog(bits);
    notifier_.nextFile = path;
    bool finished = false;
    QObject::connect(w_.get(), &MainWindow::analysisFinished, [&](bool ok) { finished = ok; });
    clickFileAndWait();
    EXPECT_TRUE(finished);
    EXPECT_EQ(notifier_.dialogTitle, QStringLiteral("Load "));
    EXPECT_EQ(notifier_.dialogFilter, kFileFilter);
    // The dialog's default (first) filter shows every kind File reads.
    const QString first = notifier_.dialogFilter.section(QStringLiteral(";;"), 0, 0);
    const QStringList patterns = first.section(QLatin1Char('('), 1).chopped(1).split(QLatin1Char(' '));
    for (const char* name : {"station.txt", "card.hex", "morning.spy", "groups.log", "radio.wav", "half.flac",
                             "rtl_fm.raw", "capture.s16", "recording"})
        EXPECT_TRUE(QDir::match(patterns, QString::fromLatin1(name))) << name;
    EXPECT_EQ(notifier_.dialogDirectory, QDir::currentPath());
    EXPECT_TRUE(notifier_.messages.isEmpty()) << qPrintable(notifier_.messages.join('\n'));
    EXPECT_EQ(w_->CurrentPath(), path);
    EXPECT_EQ(c<PanelStatusBar>(QStringLiteral("Status"))->currentMessage(),
              QStringLiteral("Decode log: ") + dir_.filePath(QStringLiteral("station.out")));

    // The window shows the end of the run; Stop stays enabled after it.
    const QByteArray log = readAll(dir_.filePath(QStringLiteral("station.out")));
    EXPECT_TRUE(c<QPushButton>(QStringLiteral("File"))->isEnabled());
    EXPECT_TRUE(c<QPushButton>(QStringLiteral("Stopit"))->isEnabled());
    const QList<QByteArray> lines = log.split('\n');
    ASSERT_GT(lines.size(), 2);
    // A display line's caption is the logged line with its CR LF.
    EXPECT_EQ(text(QStringLiteral("lBloc_3")).toLatin1(), lines[lines.size() - 2] + '\n');
    EXPECT_EQ(text(QStringLiteral("vPS")), QStringLiteral("VARNAK  "));
    EXPECT_EQ(text(QStringLiteral("vPI")), QStringLiteral("C2A1"));
    EXPECT_EQ(text(QStringLiteral("vAF_1")), QStringLiteral("107.9"));
    EXPECT_EQ(panel("TOTAL")->text(), CounterText("Total Blocs", api_->RDSStat(0)));
    EXPECT_EQ(panel("ERROR")->text(), CounterText("Total Errors", api_->RDSStat(1)));

    // The last group is a 5A: the raw-block panel, all group panels dimmed.
    EXPECT_EQ(c<QGroupBox>(QStringLiteral("lAll"))->title(), QStringLiteral("GRP 5"));
    EXPECT_TRUE(c<QWidget>(QStringLiteral("lAll"))->isEnabled());
    EXPECT_EQ(text(QStringLiteral("vB1")), QStringLiteral("C2A1"));
    EXPECT_EQ(text(QStringLiteral("vB2")), Hex4s(test::BlockB(5, 0, 1, 10, 0)));
    EXPECT_EQ(text(QStringLiteral("tB3")), QStringLiteral("KE"));
    EXPECT_EQ(text(QStringLiteral("tB4")), QStringLiteral("ST"));
    for (int g : {0, 1, 2, 3, 4, 8, 14}) EXPECT_FALSE(c<QWidget>(QStringLiteral("lGrp_%1").arg(g))->isEnabled()) << g;

    EXPECT_EQ(log.count(kSeparator), 24 * test::kGroupsPerCycle);
    EXPECT_EQ(log, referenceLog(bits));
    // Analysing again replaces the log.
    EXPECT_TRUE(analyse(path));
    EXPECT_EQ(readAll(dir_.filePath(QStringLiteral("station.out"))), log);
}

// A group log is recognised by its content and decodes as the stream its
// groups came from; a malformed line is skipped and reported.
TEST_F(WindowTest, ProvisionalCharactersAreDimmedUntilConfirmed)
{
    // One cycle carries each PS segment once: every character provisional,
    // drawn in the dimmed colour; a longer stream confirms them.
    const struct {
        int groups;
        bool dimmed;
    } cases[] = {{1, true}, {3, false}};
    for (const auto& k : cases) {
        notifier_.nextFile = writeFile(QStringLiteral("ps.txt"), test::StationBits(k.groups));
        clickFileAndWait();
        const QString ps = text(QStringLiteral("vPS"));
        if (k.dimmed) {
            EXPECT_TRUE(ps.startsWith(QStringLiteral("<span style=\"color:#"))) << qPrintable(ps);
            EXPECT_TRUE(ps.contains(QStringLiteral("VARNAK&nbsp;&nbsp;"))) << qPrintable(ps);
        } else {
            EXPECT_EQ(ps, QStringLiteral("VARNAK  "));
        }
    }
}

TEST_F(WindowTest, ApplicationsAndADynamicPsAreNamed)
{
    // 3A announces eRT (UTF-8) in 12A; 12A then carries "Hi" and the end
    // code twice. The raw panel's title names the application, its tool
    // tip holds the text.
    std::string bits = test::StationBits(1);
    const uint16_t pi = 0xC2A1;
    rdsenc::AppendGroup(bits, pi, test::BlockB(3, 0, 1, 10, 12 * 2), 0x0001, 0x6552);
    for (int n = 0; n < 2; ++n) rdsenc::AppendGroup(bits, pi, test::BlockB(12, 0, 1, 10, 0), 0x4869, 0x0D20);
    notifier_.nextFile = writeFile(QStringLiteral("ert.txt"), bits);
    clickFileAndWait();
    EXPECT_EQ(c<QGroupBox>(QStringLiteral("lAll"))->title(), QStringLiteral("GRP 12 eRT"));
    EXPECT_EQ(c<QWidget>(QStringLiteral("lAll"))->toolTip(), QStringLiteral("Hi"));
    EXPECT_EQ(c<QWidget>(QStringLiteral("vAID"))->toolTip(), QStringLiteral("eRT (6552)"));
    EXPECT_EQ(c<QWidget>(QStringLiteral("vPS"))->toolTip(), QString());

    // A PS that changes every few seconds shows its names in order.
    std::string dynamic = test::StationBits(1);
    for (const char* name : {"NOW     ", "PLAYING ", "ABBA    "})
        for (int round = 0; round < 2; ++round)
            for (int seg = 0; seg < 4; ++seg)
                rdsenc::AppendGroup(dynamic, pi, test::BlockB(0, 0, 1, 10, 8 | seg), 0xE0CD,
                                    static_cast<uint16_t>(uint8_t(name[seg * 2]) << 8 | uint8_t(name[seg * 2 + 1])));
    notifier_.nextFile = writeFile(QStringLiteral("dynamic.txt"), dynamic);
    clickFileAndWait();
    EXPECT_EQ(c<QWidget>(QStringLiteral("vPS"))->toolTip(),
              QStringLiteral("Dynamic PS:\nNOW     \nPLAYING \nABBA    "));
}

TEST_F(WindowTest, GroupLogsDecodeAsTheirBitStream)
{
    const std::string bits = test::StationBits(6);
    std::string groups = "<recorder=\"test\" date=\"2026/12/08\">\r\n";
    for (std::size_t g = 0; g + 104 <= bits.size(); g += 104) {
        for (int n = 0; n < 4; ++n) {
            const uint16_t word = static_cast<uint16_t>(std::stoul(bits.substr(g + 26 * n, 16), nullptr, 2));
            groups +=
                QStringLiteral("%1%2").arg(n ? " " : "").arg(word, 4, 16, QLatin1Char('0')).toUpper().toStdString();
        }
        groups += g == 0 ? "\r\njunk\r\n" : "\r\n";
    }
    const QByteArray reference = referenceLog(bits);
    EXPECT_TRUE(analyse(writeFile(QStringLiteral("station.spy"), groups)));
    EXPECT_EQ(readAll(dir_.filePath(QStringLiteral("station.out"))), reference);
    EXPECT_EQ(notifier_.messages.join('\n').toStdString(),
              dir_.filePath(QStringLiteral("station.spy")).toStdString() + ": 1 malformed line skipped (line 3)");
    EXPECT_EQ(text(QStringLiteral("vPS")), QStringLiteral("VARNAK  "));
    EXPECT_FALSE(w_->Inverted());
}

// North American programme-type names, remembered across runs.
TEST_F(WindowTest, RbdsNamesAreChosenAndRemembered)
{
    DecoderState r{};
    r.pty = 5;
    EXPECT_FALSE(w_->Rbds());
    const std::pair<bool, const char*> cases[] = {{true, "Rock"}, {false, "Education"}};
    for (const auto& [rbds, name] : cases) {
        w_->setRbds(rbds);
        w_->panels().showHeader(r);
        EXPECT_EQ(text(QStringLiteral("iPTY")), QString::fromLatin1(name));
        makeWindow();  // the next start shows the same names
        EXPECT_EQ(w_->Rbds(), rbds);
        w_->panels().showHeader(r);
        EXPECT_EQ(text(QStringLiteral("iPTY")), QString::fromLatin1(name));
    }
}

// Stop, or closing the window, ends an analysis at once with a log of whole
// records; closing saves the window's position too.
TEST_F(WindowTest, StopOrCloseEndsAnAnalysisWithACompleteLog)
{
    const QString path = writeFile(QStringLiteral("long.txt"), test::StationBits(1500));
    for (bool close : {false, true}) {
        SCOPED_TRACE(close ? "close" : "Stop");
        w_->move(90, 60);
        bool endedWhileRunning = false;
        int polls = 0;  // event-loop turns seen during the run: a few slices have run
        QTimer stopper;
        test::WhenReady(
            stopper, [&] { return w_->isAnalysing() && ++polls >= 3; },
            [&] {
                endedWhileRunning = w_->isAnalysing();
                if (close)
                    w_->close();
                else
                    c<QPushButton>(QStringLiteral("Stopit"))->click();
                EXPECT_FALSE(w_->isAnalysing()) << "the run ends at once";
                EXPECT_FALSE(w_->isLogOpen());
            });
        EXPECT_TRUE(analyse(path));
        EXPECT_TRUE(endedWhileRunning);
        EXPECT_EQ(w_->isVisible(), !close);
        expectIdle();
        const QByteArray log = readAll(dir_.filePath(QStringLiteral("long.out")));
        const int records = static_cast<int>(log.count(kSeparator));
        EXPECT_GT(records, 0);
        EXPECT_LT(records, 1500 * test::kGroupsPerCycle);
        EXPECT_EQ(log.count("\r\n"), 5 * records);  // whole records only
        EXPECT_TRUE(log.endsWith("\r\n"));
    }
    EXPECT_EQ(store_.ReadSetting(QStringLiteral("Varnak"), {}, QStringLiteral("X"), 0).toInt(), 1350);
    EXPECT_EQ(store_.ReadSetting(QStringLiteral("Varnak"), {}, QStringLiteral("Y"), 0).toInt(), 900);
}

TEST_F(WindowTest, PolaritySearchFlipsFromTheEleventhAutomaticReset)
{
    api_->RDSInit();
    const std::string silence(208, '0');
    for (int i = 0; i < 10; ++i) w_->ProcessFrame(silence, true);
    EXPECT_EQ(w_->ResetCount(), 10);
    EXPECT_FALSE(w_->Inverted());
    EXPECT_EQ(panel("BITSTREAM")->text(), QStringLiteral("Bitstream: Direct"));
    EXPECT_EQ(text(QStringLiteral("lSYNC")), QStringLiteral("NOT"));
    w_->ProcessFrame(silence, true);
    EXPECT_EQ(w_->ResetCount(), 11);
    EXPECT_TRUE(w_->Inverted());
    EXPECT_EQ(panel("BITSTREAM")->text(), QStringLiteral("Bitstream: Inverted"));
    w_->ProcessFrame(std::string(208, '1'), true);  // the same silence, inverted
    EXPECT_FALSE(w_->Inverted());
    w_->ProcessFrame(std::string(), true);  // nothing at all
    EXPECT_EQ(w_->ResetCount(), 12);
}

TEST_F(WindowTest, InvertedRecordingDecodesAfterThePolaritySearch)
{
    // Silence before the station, long enough for eleven automatic resets,
    // and the whole recording inverted.
    const std::string bits = test::Inverted(std::string(208 * 12, '0') + test::StationBits(40));
    const QString path = writeFile(QStringLiteral("inverted.txt"), bits);
    EXPECT_TRUE(analyse(path));
    EXPECT_TRUE(w_->Inverted());
    EXPECT_GE(w_->ResetCount(), 11);
    EXPECT_EQ(panel("BITSTREAM")->text(), QStringLiteral("Bitstream: Inverted"));
    EXPECT_EQ(text(QStringLiteral("vPS")), QStringLiteral("VARNAK  "));
    EXPECT_GT(readAll(dir_.filePath(QStringLiteral("inverted.out"))).count("----\r\n"), 300);
}

TEST_F(WindowTest, StatusBarClicksClearCountersAndInvert)
{
    EXPECT_TRUE(analyse(writeFile(QStringLiteral("s.txt"), test::StationBits(4))));
    EXPECT_NE(panel("TOTAL")->text(), QStringLiteral("Total Blocs      0"));
    QTest::mouseClick(panel("ERROR"), Qt::LeftButton);
    EXPECT_EQ(api_->RDSStat(0), 0);
    EXPECT_EQ(api_->RDSStat(2), 0);
    EXPECT_EQ(panel("TOTAL")->text(), QStringLiteral("Total Blocs      0"));
    EXPECT_EQ(panel("CRC")->text(), QStringLiteral("Total CRC corrected      0"));

    QTest::mouseClick(panel("BITSTREAM"), Qt::LeftButton);
    EXPECT_TRUE(w_->Inverted());
    EXPECT_EQ(panel("BITSTREAM")->text(), QStringLiteral("Bitstream: Inverted"));
    QTest::mouseClick(panel("BITSTREAM"), Qt::LeftButton);
    EXPECT_FALSE(w_->Inverted());
    EXPECT_EQ(panel("BITSTREAM")->text(), QStringLiteral("Bitstream: Direct"));
}

TEST_F(WindowTest, CounterClickInTheMiddleOfARunTakesEffectAtOnce)
{
    const int cycles = 1500;
    const QString path = writeFile(QStringLiteral("long.txt"), test::StationBits(cycles));
    bool clickedWhileRunning = false;
    int polls = 0;
    QTimer clicker;
    test::WhenReady(
        clicker, [&] { return w_->isAnalysing() && ++polls >= 3; },
        [&] {
            clickedWhileRunning = w_->isAnalysing();
            QTest::mouseClick(panel("CRC"), Qt::LeftButton);
        });
    EXPECT_TRUE(analyse(path));
    ASSERT_TRUE(clickedWhileRunning);
    // Only the blocks after the click are counted, and the panel is current.
    EXPECT_GT(api_->RDSStat(0), 0);
    EXPECT_LT(api_->RDSStat(0), cycles * test::kGroupsPerCycle * 4);
    EXPECT_EQ(panel("TOTAL")->text(), CounterText("Total Blocs", api_->RDSStat(0)));
}

TEST_F(WindowTest, ALogThatCannotBeWrittenIsReportedIncomplete)
{
    // The decode log lands on a device that is always full.
    const QString input = writeFile(QStringLiteral("full.txt"), test::StationBits(600));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/full"), dir_.filePath(QStringLiteral("full.out"))));
    EXPECT_FALSE(analyse(input));
    ASSERT_EQ(notifier_.messages.size(), 1);
    EXPECT_TRUE(notifier_.messages[0].startsWith(QStringLiteral("The decode log is incomplete.")))
        << qPrintable(notifier_.messages[0]);
    EXPECT_TRUE(notifier_.messages[0].contains(QStringLiteral("full.out"))) << qPrintable(notifier_.messages[0]);
    expectIdle();
}

// A recording that is a pipe is read as a stream: the window waits for its
// writer without freezing, Stop ends the wait, and what the writer sends is
// decoded as from a file. A device is a stream without end until Stop.
TEST_F(WindowTest, PipesAndDevicesAreReadAsStreamsThatStopEnds)
{
    const QString pipe = dir_.filePath(QStringLiteral("pipe.txt"));
    const QByteArray pipeName = QFile::encodeName(pipe);
    ASSERT_EQ(::mkfifo(pipeName.constData(), 0600), 0);
    // Should the window block in the pipe's open, this lets it go after a
    // while, so the test fails instead of hanging.
    std::atomic<bool> done{false};
    std::thread rescue([&] {
        for (int i = 0; i < 100 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const int fd = ::open(pipeName.constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
    });
    bool stoppedWhileWaiting = false;
    QTimer::singleShot(300, w_.get(), [&] {
        stoppedWhileWaiting = w_->isAnalysing() || c<QPushButton>(QStringLiteral("Stopit"))->isEnabled();
        c<QPushButton>(QStringLiteral("Stopit"))->click();
    });
    EXPECT_TRUE(analyse(pipe));
    done = true;
    rescue.join();
    EXPECT_TRUE(stoppedWhileWaiting);
    expectIdle();
    EXPECT_FALSE(QFile::exists(dir_.filePath(QStringLiteral("pipe.out"))));
    EXPECT_TRUE(notifier_.messages.isEmpty()) << qPrintable(notifier_.messages.join('\n'));

    // A writer that sends the recording in pieces, with pauses between them.
    const std::string bits = test::StationBits(40, 300);
    const QByteArray expected = referenceLog(bits);
    std::thread writer([&] {
        const int fd = ::open(pipeName.constData(), O_WRONLY);
        for (std::size_t at = 0; fd >= 0 && at < bits.size(); at += 5000) {
            const std::size_t n = std::min<std::size_t>(5000, bits.size() - at);
            if (::write(fd, bits.data() + at, n) != static_cast<ssize_t>(n)) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (fd >= 0) ::close(fd);
    });
    referenceLog(bits);  // the same decoder state before both runs
    const bool ok = analyse(pipe);
    writer.join();
    EXPECT_TRUE(ok);
    EXPECT_TRUE(readAll(dir_.filePath(QStringLiteral("pipe.out"))) == expected);

    // A private copy of /dev/zero: bits for ever, until Stop.
    if (::geteuid() != 0) return;
    const QString zero = dir_.filePath(QStringLiteral("zero.txt"));
    ASSERT_EQ(::mknod(QFile::encodeName(zero).constData(), S_IFCHR | 0666, makedev(1, 5)), 0);
    QTimer::singleShot(300, w_.get(), [&] { c<QPushButton>(QStringLiteral("Stopit"))->click(); });
    EXPECT_TRUE(analyse(zero));
    expectIdle();
    EXPECT_TRUE(QFile::exists(dir_.filePath(QStringLiteral("zero.out"))));
}

// The program answers --help and --version without a display, and names a
// wrong option the way the other tools do. Offscreen on a machine without a
// runtime folder, a run says nothing but what went wrong.
TEST_F(WindowTest, ProgramAnswersHelpVersionAndUsageErrorsWithoutADisplay)
{
    const QString varnak = QCoreApplication::applicationDirPath() + QStringLiteral("/varnak");
    if (!QFile::exists(varnak)) GTEST_SKIP() << "varnak not built";
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.filePath(QStringLiteral("config")));
    const QString station = writeFile(QStringLiteral("station.txt"), test::StationBits(2));
    const struct {
        QStringList args;
        int status;
        QByteArray out, err;  // expected start of standard output, all of standard error
    } cases[] = {
        {{QStringLiteral("--help")}, 0, "Usage: varnak [options] [FILE]\n", ""},
        {{QStringLiteral("--version")},
         0,
         QByteArray("varnak ") + QByteArray::number(VARNAK_VERSION_MAJOR) + '.' +
             QByteArray::number(VARNAK_VERSION_MINOR) + '.' + QByteArray::number(VARNAK_VERSION_PATCH) + '\n',
         ""},
        {{QStringLiteral("--bogus")}, 2, "", "varnak: unknown option '--bogus'\nTry 'varnak --help'.\n"},
        {{QStringLiteral("--screenshot")},
         2,
         "",
         "varnak: option '--screenshot' needs a file name\nTry 'varnak --help'.\n"},
        {{QStringLiteral("a.txt"), QStringLiteral("b.txt")},
         2,
         "",
         "varnak: one FILE at most, got 2\nTry 'varnak --help'.\n"},
        {{QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("--exit-when-done"), station},
         0,
         "",
         ""},
    };
    for (const auto& c : cases) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(varnak, c.args);
        ASSERT_TRUE(p.waitForFinished(30000));
        const QByteArray out = p.readAllStandardOutput(), err = p.readAllStandardError();
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << c.args.join(' ').toStdString();
        EXPECT_EQ(p.exitCode(), c.status) << c.args.join(' ').toStdString() << ": " << err.constData();
        EXPECT_TRUE(out.startsWith(c.out)) << out.constData();
        EXPECT_EQ(err, c.err);
    }
}

TEST_F(WindowTest, CancelChangesNothing)
{
    notifier_.nextFile.clear();
    c<QPushButton>(QStringLiteral("File"))->click();
    EXPECT_EQ(notifier_.dialogTitle, QStringLiteral("Load "));
    EXPECT_TRUE(notifier_.messages.isEmpty());
    expectIdle();
}

// ---------------------------------------------------------------------------
// Settings

TEST_F(WindowTest, StartUpReadsSettingsAndClosingSavesThePosition)
{
    EXPECT_EQ(w_->CardHost(), QString());
    EXPECT_EQ(w_->CardPort(), 33234);
    const QPoint designPosition = w_->pos();

    const QString app = QStringLiteral("Varnak");
    ASSERT_TRUE(store_.WriteSetting(app, {}, QStringLiteral("X"), 1500));
    ASSERT_TRUE(store_.WriteSetting(app, {}, QStringLiteral("Y"), 3000));
    ASSERT_TRUE(store_.WriteSetting(app, {}, QStringLiteral("HostName"), QStringLiteral("card.local")));
    ASSERT_TRUE(store_.WriteSetting(app, {}, QStringLiteral("HostPort"), 4000));
    makeWindow();
    EXPECT_EQ(w_->pos(), QPoint(100, 200));
    EXPECT_EQ(w_->CardHost(), QStringLiteral("card.local"));
    EXPECT_EQ(w_->CardPort(), 4000);

    w_->move(200, 50);
    w_->close();
    EXPECT_EQ(store_.ReadSetting(app, {}, QStringLiteral("X"), 0).toInt(), 3000);
    EXPECT_EQ(store_.ReadSetting(app, {}, QStringLiteral("Y"), 0).toInt(), 750);

    // Positions outside 16 bits and values that are not numbers are missing.
    ASSERT_TRUE(store_.WriteSetting(app, {}, QStringLiteral("X"), 40000));
    ASSERT_TRUE(store_.WriteSetting(app, {}, QStringLiteral("Y"), QStringLiteral("top")));
    ASSERT_TRUE(store_.WriteSetting(app, {}, QStringLiteral("HostPort"), QStringLiteral("33")));
    makeWindow();
    EXPECT_EQ(w_->pos(), designPosition);
    EXPECT_EQ(w_->CardPort(), 33234);

    // A position on no screen (a monitor since removed) is not used either.
    ASSERT_TRUE(store_.WriteSetting(app, {}, QStringLiteral("X"), 30000));
    ASSERT_TRUE(store_.WriteSetting(app, {}, QStringLiteral("Y"), 30000));
    makeWindow();
    EXPECT_EQ(w_->pos(), designPosition);
}

// ---------------------------------------------------------------------------
// Audio and hexadecimal recordings, live radio, bad input, real-time playback

std::vector<float> Multiplex(const std::string& bits, double rate = kRate)
{
    radio::MpxConfig config;
    config.sampleRate = rate;
    radio::MpxModulator modulator(config);
    std::vector<float> out;
    modulator.modulate(bits, out);
    modulator.finish(out);
    return out;
}

std::string S16le(const std::vector<float>& samples)
{
    std::string bytes(samples.size() * 2, '\0');
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto v = static_cast<uint16_t>(static_cast<int16_t>(std::lround(samples[i] * 32767.0f)));
        bytes[2 * i] = static_cast<char>(v & 0xFF);
        bytes[2 * i + 1] = static_cast<char>(v >> 8);
    }
    return bytes;
}

void WriteWav(const QString& path, const std::vector<float>& samples, int rate)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(sf_write_float(f, samples.data(), static_cast<sf_count_t>(samples.size())),
              static_cast<sf_count_t>(samples.size()));
    sf_close(f);
}

// The bits the demodulator makes of raw samples, as the window's worker reads them.
std::string Demodulated(const std::string& s16le, double rate = kRate)
{
    std::vector<float> samples(s16le.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] =
            static_cast<float>(static_cast<int16_t>(static_cast<uint16_t>(
                static_cast<unsigned char>(s16le[2 * i]) | static_cast<unsigned char>(s16le[2 * i + 1]) << 8))) /
            32768.0f;
    radio::RdsDemodulator d(rate);
    std::string bits;
    d.push(samples.data(), samples.size(), bits);
    d.finish(bits);
    return bits;
}

// An audio recording and a hexadecimal one, opened with File, give the same
// decode log as their bits through the shared frame processor. The program
// itself, started fresh as a user would, logs bit text, hexadecimal text and
// audio byte for byte as the headless decoder started fresh does.
TEST_F(WindowTest, FileRecognisesAudioAndHexRecordings)
{
    const std::string bits = test::StationBits(4, 100);
    const std::vector<float> samples = Multiplex(bits);
    const QString wav = dir_.filePath(QStringLiteral("station.wav"));
    WriteWav(wav, samples, static_cast<int>(kRate));
    const std::string demodulated = Demodulated(S16le(samples));
    referenceLog(demodulated);  // the same decoder state before both runs
    notifier_.nextFile = wav;
    clickFileAndWait();
    EXPECT_EQ(notifier_.dialogFilter, kFileFilter);
    EXPECT_TRUE(notifier_.messages.isEmpty()) << qPrintable(notifier_.messages.join('\n'));
    const QByteArray log = readAll(dir_.filePath(QStringLiteral("station.out")));
    EXPECT_GE(log.count(kSeparator), 3 * test::kGroupsPerCycle);
    EXPECT_EQ(log, referenceLog(demodulated));
    EXPECT_EQ(text(QStringLiteral("vPS")), QStringLiteral("VARNAK  "));
    EXPECT_EQ(text(QStringLiteral("vPI")), QStringLiteral("C2A1"));
    EXPECT_TRUE(w_->windowTitle().contains(QStringLiteral("pilot 9.0 %"))) << qPrintable(w_->windowTitle());

    // Hexadecimal text in lines, as cardctl records the card's batches.
    std::string hex;
    for (std::size_t at = 0; at + 8 <= bits.size(); at += 8) {
        int byte = 0;
        for (int k = 0; k < 8; ++k) byte = byte * 2 + (bits[at + k] == '1');
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02X", byte);
        hex += digits;
        if ((at / 8) % 32 == 31) hex += "\r\n";
    }
    const QString hexPath = writeFile(QStringLiteral("card.hex"), hex);
    const QString bin = QCoreApplication::applicationDirPath();
    if (!QFile::exists(bin + QStringLiteral("/murlin-decode")) || !QFile::exists(bin + QStringLiteral("/varnak")))
        GTEST_SKIP() << "murlin-decode or varnak not built";
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.filePath(QStringLiteral("config")));
    const struct {
        QString path;
        QString option;  // murlin-decode's name for the kind
        int groups;      // at least
    } cases[] = {{writeFile(QStringLiteral("fresh.txt"), test::StationBits(30, 700)), {}, 30 * test::kGroupsPerCycle},
                 {hexPath, QStringLiteral("--hex"), 3 * test::kGroupsPerCycle},
                 {wav, QStringLiteral("--mpx"), 3 * test::kGroupsPerCycle}};
    for (const auto& c : cases) {
        QProcess varnak;
        varnak.setProcessEnvironment(env);
        varnak.start(bin + QStringLiteral("/varnak"), {QStringLiteral("-platform"), QStringLiteral("offscreen"),
                                                       QStringLiteral("--exit-when-done"), c.path});
        ASSERT_TRUE(varnak.waitForFinished(60000));
        EXPECT_EQ(varnak.exitCode(), 0) << varnak.readAllStandardError().toStdString();
        const QString headless = dir_.filePath(QStringLiteral("headless.out"));
        QStringList args{QStringLiteral("-q")};
        if (!c.option.isEmpty()) args << c.option;
        const int status = QProcess::execute(bin + QStringLiteral("/murlin-decode"),
                                             args << QStringLiteral("-o") << headless << c.path);
        if (status == 2) continue;  // a murlin-decode without this option
        EXPECT_EQ(status, 0) << qPrintable(c.option);
        const QByteArray log = readAll(c.path.left(c.path.size() - 4) + QStringLiteral(".out"));
        EXPECT_GE(log.count(kSeparator), c.groups) << qPrintable(c.option);
        EXPECT_EQ(log, readAll(headless)) << qPrintable(c.option);
    }
}

// The status bar shows the decode log's path, and a radio run's signal in a
// field of its own; nothing else in the window moves for them. A new message
// has the bar's free room to itself for a moment before the signal shows.
TEST_F(WindowTest, StatusBarShowsTheDecodeLogAndTheSignal)
{
    auto* bar = c<PanelStatusBar>(QStringLiteral("Status"));
    std::vector<std::pair<QWidget*, QRect>> placed;
    for (QWidget* child : w_->findChildren<QWidget*>())
        if (!bar->isAncestorOf(child) && child != bar) placed.emplace_back(child, child->geometry());
    const QString logMessage = QStringLiteral("Decode log: ") + dir_.filePath(QStringLiteral("station.out"));

    ASSERT_TRUE(analyse(writeFile(QStringLiteral("station.txt"), test::StationBits(3))));
    const ElidedLabel* message = bar->messageField();
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->text(), logMessage);
    EXPECT_TRUE(message->isVisible());
    EXPECT_GT(message->width(), 80);
    EXPECT_TRUE(message->shownText().startsWith(QStringLiteral("Decode log: "))) << qPrintable(message->shownText());
    EXPECT_TRUE(message->shownText().endsWith(QStringLiteral("station.out"))) << qPrintable(message->shownText());
    EXPECT_EQ(message->toolTip(), logMessage);
    EXPECT_TRUE(bar->signalField()->isHidden());  // bit text has no signal

    // An audio recording: the signal, RDS first, the whole of it in the tool tip.
    bar->setMessageHold(0);
    const QString wav = dir_.filePath(QStringLiteral("station.wav"));
    WriteWav(wav, Multiplex(test::StationBits(4, 100)), static_cast<int>(kRate));
    ASSERT_TRUE(analyse(wav));
    const ElidedLabel* signal = bar->signalField();
    ASSERT_TRUE(signal->isVisible());
    EXPECT_TRUE(signal->text().startsWith(QStringLiteral("RDS 4."))) << qPrintable(signal->text());
    EXPECT_TRUE(signal->text().contains(QStringLiteral(", BLER "))) << qPrintable(signal->text());
    EXPECT_TRUE(signal->text().endsWith(QStringLiteral(", pilot 9.0 %"))) << qPrintable(signal->text());
    EXPECT_TRUE(signal->toolTip().contains(QStringLiteral("CNR about"))) << qPrintable(signal->toolTip());
    EXPECT_GT(signal->width(), 80);
    EXPECT_TRUE(signal->shownText().startsWith(QStringLiteral("RDS 4."))) << qPrintable(signal->shownText());
    for (const auto& [child, rect] : placed) EXPECT_EQ(child->geometry(), rect) << qPrintable(child->objectName());

    // A new message hides the signal until it has been seen.
    bar->setMessageHold(150);
    bar->showMessage(QStringLiteral("Decode log: elsewhere.out"));
    bar->showSignal(QStringLiteral("RDS 1.0 %"), QStringLiteral("RDS 1.0 %"));
    EXPECT_TRUE(signal->isHidden());
    EXPECT_EQ(message->text(), QStringLiteral("Decode log: elsewhere.out"));
    QTRY_VERIFY(signal->isVisible());
    EXPECT_EQ(signal->text(), QStringLiteral("RDS 1.0 %"));
    bar->showSignal(QString(), QString());
    EXPECT_TRUE(signal->isHidden());
}

// Recordings that cannot be used, or whose decode log cannot be written,
// are named in a message box with the reason; the window stays idle and no
// decode log claims success.
TEST_F(WindowTest, BadRecordingsAreNamedWithTheReason)
{
    const std::vector<float> samples = Multiplex(test::StationBits(1));
    const QString slow = dir_.filePath(QStringLiteral("slow.wav"));
    WriteWav(slow, std::vector<float>(4410), 44100);
    const QString truncated = dir_.filePath(QStringLiteral("cut.wav"));
    WriteWav(truncated, samples, static_cast<int>(kRate));
    ASSERT_TRUE(QFile::resize(truncated, QFileInfo(truncated).size() / 2 + 1));
    ASSERT_TRUE(QDir(dir_.path()).mkdir(QStringLiteral("folder.wav")));
    ASSERT_TRUE(QDir(dir_.path()).mkdir(QStringLiteral("blocked.out")));  // the decode log's name is a folder's
    const QString empty = writeFile(QStringLiteral("empty.txt"), "");
    const QString missing = dir_.filePath(QStringLiteral("missing.txt"));
    const std::string bits = test::StationBits(2);
    const QString self = writeFile(QStringLiteral("rec.out"), bits);  // named like its own decode log
    // A file named as given, in the current folder: a message that begins
    // with its name keeps the name's case ("cut.wav", never "Cut.wav").
    const QString previousDir = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir_.path()));
    const std::shared_ptr<void> restoreDir(nullptr, [&](void*) { QDir::setCurrent(previousDir); });
    const struct {
        QString path;
        QString reason;  // part of the message
        bool logLeft;    // a log of what could be decoded, said to be partial
        QString named;   // what the message names, if not the file
    } cases[] = {
        {empty, QStringLiteral("Cannot analyse %1: it is empty.").arg(empty), false, {}},
        {missing, QStringLiteral("No such file"), false, missing},
        {writeFile(QStringLiteral("blocked.txt"), bits), QStringLiteral("blocked.out"), false,
         dir_.filePath(QStringLiteral("blocked.out"))},
        {self, QStringLiteral("would replace the recording itself"), true, self},
        {dir_.filePath(QStringLiteral("folder.wav")), QStringLiteral("Is a directory"), false, {}},
        {truncated, QStringLiteral("truncated"), true, {}},
        {QStringLiteral("cut.wav"), QStringLiteral("cut.wav is truncated"), true, {}},
        {slow, QStringLiteral("44100 Hz"), false, {}},
        {writeFile(QStringLiteral("program.bin"), std::string("\x7F"
                                                              "ELF\2\1\1\0\0\0\0\0",
                                                              12) +
                                                      std::string(5000, '\0')),
         QStringLiteral("no recording of a kind Varnak reads (bit text, hexadecimal text, a group log or audio; "
                        "raw multiplex samples need --mpx-rate)"),
         false,
         {}},
        {writeFile(QStringLiteral("silence.txt"), std::string(5000, '0')),
         QStringLiteral("No RDS group found in silence.txt"),
         true,
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        notifier_.messages.clear();
        notifier_.titles.clear();
        const QString log = c.path.left(c.path.size() - 4) + QStringLiteral(".out");
        EXPECT_FALSE(analyse(c.path));
        ASSERT_EQ(notifier_.messages.size(), 1);
        EXPECT_EQ(notifier_.titles[0], QStringLiteral("Varnak"));
        const QString named = c.named.isEmpty() ? QFileInfo(c.path).fileName() : c.named;
        EXPECT_TRUE(notifier_.messages[0].contains(named)) << qPrintable(notifier_.messages[0]);
        EXPECT_TRUE(notifier_.messages[0].contains(c.reason)) << qPrintable(notifier_.messages[0]);
        EXPECT_EQ(QFileInfo(log).isFile(), c.logLeft);
        expectIdle();
        EXPECT_FALSE(w_->isLogOpen());
        EXPECT_FALSE(w_->isAnalysing());
    }
    EXPECT_EQ(readAll(self), QByteArray::fromStdString(bits));
}

// Raw multiplex on standard input: a live run into Radio.out, the signal
// and the input's state in the title, Stop, a writer that pauses or ends,
// and one faster than real time.
// Writes all of `data` into the non-blocking `fd`, waiting for room in short
// polls; false on an error (EPIPE once nobody reads) or when `quit` is set.
bool WriteUnlessQuit(int fd, const char* data, std::size_t size, const std::atomic<bool>& quit)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
        } else if ((n < 0 && errno != EAGAIN) || quit) {
            return false;
        } else {
            pollfd room{fd, POLLOUT, 0};
            ::poll(&room, 1, 20);
        }
    }
    return true;
}

TEST_F(WindowTest, LiveRadioFromStandardInput)
{
    // A write into a pipe nobody reads fails with EPIPE instead of ending the test.
    const auto previousPipe = std::signal(SIGPIPE, SIG_IGN);
    const std::string bits = test::StationBits(3, 50);
    const std::string raw = S16le(Multiplex(bits));
    const std::string demodulated = Demodulated(raw);
    const QString previousDir = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir_.path()));
    const int savedStdin = ::dup(STDIN_FILENO);
    w_->setMpxRate(kRate);
    enum class Writer { RealTimeThenStop, RealTimeThenClose, PausesThenStop, FloodsAndEnds };
    for (Writer mode :
         {Writer::RealTimeThenStop, Writer::RealTimeThenClose, Writer::PausesThenStop, Writer::FloodsAndEnds}) {
        w_->show();
        SCOPED_TRACE(static_cast<int>(mode));
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        ASSERT_EQ(::dup2(fds[0], STDIN_FILENO), STDIN_FILENO);
        ::close(fds[0]);
        std::atomic<bool> quit{false};
        std::atomic<std::size_t> written{0};
        // The writer never blocks: once the run has ended and nobody reads,
        // it gives up when told to quit (or on EPIPE) instead of waiting in
        // write() for ever.
        ASSERT_EQ(::fcntl(fds[1], F_SETFL, O_NONBLOCK), 0);
        std::thread writer([&, fd = fds[1]] {
            const std::size_t piece = static_cast<std::size_t>(kRate / 20) * 2;  // 50 ms
            const auto start = std::chrono::steady_clock::now();
            for (std::size_t at = 0; at < raw.size() && !quit; at += piece) {
                if (mode == Writer::PausesThenStop && at >= raw.size() / 3) {
                    while (!quit) std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    break;
                }
                const std::size_t n = std::min(piece, raw.size() - at);
                if (!WriteUnlessQuit(fd, raw.data() + at, n, quit)) break;
                written = at + n;
                if (mode != Writer::FloodsAndEnds)
                    std::this_thread::sleep_until(start + std::chrono::milliseconds(50 * (at / piece + 1)));
            }
            // The end of the input, which the run decodes to its last group.
            if (mode == Writer::FloodsAndEnds) ::close(fd);
        });
        if (mode == Writer::FloodsAndEnds) referenceLog(demodulated);
        QString titleSeen;
        QTimer probe;
        probe.setInterval(50);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            if (!w_->isRadioRunning()) return;
            const QString title = w_->windowTitle();
            if (title.contains(QStringLiteral("no samples for 2 s"))) titleSeen = title;
            // The panels still show an earlier run's station: this run's
            // groups have come once 1.5 s of signal went in.
            const bool stationShown = written >= static_cast<std::size_t>(kRate * 1.5) * 2 &&
                                      text(QStringLiteral("vPS")) == QStringLiteral("VARNAK  ") &&
                                      text(QStringLiteral("vPI")) == QStringLiteral("C2A1");
            const bool real = mode == Writer::RealTimeThenStop || mode == Writer::RealTimeThenClose;
            if ((real && stationShown) || (mode == Writer::PausesThenStop && !titleSeen.isEmpty())) {
                EXPECT_TRUE(c<QPushButton>(QStringLiteral("Stopit"))->isEnabled());
                EXPECT_FALSE(c<QPushButton>(QStringLiteral("File"))->isEnabled());
                QElapsedTimer stopping;
                stopping.start();
                if (mode == Writer::RealTimeThenClose)
                    w_->close();
                else
                    c<QPushButton>(QStringLiteral("Stopit"))->click();
                // Stop joins the reading thread, which polls every 40 ms: well
                // under 100 ms on an idle machine. The bound here only catches a
                // Stop that waits for the input, on a loaded sanitizer build too.
                EXPECT_LT(stopping.elapsed(), 1000);
            }
        });
        probe.start();
        const bool ok = test::UntilFinished(*w_, [&] { return w_->RunRadio(QStringLiteral("-")); });
        probe.stop();
        quit = true;
        writer.join();
        if (mode != Writer::FloodsAndEnds) {
            // Stop and closing the window let go of standard input: its
            // writer learns at once that nobody reads any more.
            errno = 0;
            EXPECT_EQ(::write(fds[1], "\0", 1), -1);
            EXPECT_EQ(errno, EPIPE) << std::strerror(errno);
            ::close(fds[1]);
        }
        EXPECT_TRUE(ok);
        expectIdle();
        const QByteArray log = readAll(dir_.filePath(QStringLiteral("Radio.out")));
        EXPECT_GT(log.count(kSeparator), 0);
        EXPECT_EQ(log.count("\r\n"), 5 * log.count(kSeparator));  // whole records only
        if (mode == Writer::PausesThenStop) {
            EXPECT_FALSE(titleSeen.isEmpty()) << "the silence is shown";
        }
        if (mode == Writer::FloodsAndEnds) {
            EXPECT_TRUE(w_->windowTitle().endsWith(QStringLiteral("input ended"))) << qPrintable(w_->windowTitle());
            EXPECT_EQ(log, referenceLog(demodulated)) << "no group lost";
        }
    }
    ::dup2(savedStdin, STDIN_FILENO);
    ::close(savedStdin);
    QDir::setCurrent(previousDir);
    std::signal(SIGPIPE, previousPipe);
}

// The program as scripts use it: raw multiplex on standard input, the
// window closing after the input has ended and the last group is logged.
// Standard input is a live run into Radio.out whatever it is connected to: a
// pipe, or a file given with "<".
TEST_F(WindowTest, ProgramEndsWithItsRadioInput)
{
    const QString bin = QCoreApplication::applicationDirPath();
    if (!QFile::exists(bin + QStringLiteral("/varnak"))) GTEST_SKIP() << "varnak not built";
    const std::string bits = test::StationBits(3, 50);
    const std::string raw = S16le(Multiplex(bits));
    const QString samples = dir_.filePath(QStringLiteral("samples.raw"));
    QFile file(samples);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(raw.data(), static_cast<qint64>(raw.size()));
    file.close();
    for (const bool fromFile : {false, true}) {
        SCOPED_TRACE(fromFile ? "standard input from a file" : "standard input from a pipe");
        const QString run = fromFile ? QStringLiteral("file") : QStringLiteral("pipe");
        ASSERT_TRUE(QDir(dir_.path()).mkdir(run));
        QProcess varnak;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.filePath(QStringLiteral("config")));
        varnak.setProcessEnvironment(env);
        varnak.setWorkingDirectory(dir_.filePath(run));
        if (fromFile) varnak.setStandardInputFile(samples);
        varnak.start(bin + QStringLiteral("/varnak"),
                     {QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("--exit-when-done"),
                      QStringLiteral("--mpx-rate"), QStringLiteral("171k"), QStringLiteral("-")});
        ASSERT_TRUE(varnak.waitForStarted());
        if (!fromFile) {
            varnak.write(raw.data(), static_cast<qint64>(raw.size()));
            varnak.closeWriteChannel();
        }
        ASSERT_TRUE(varnak.waitForFinished(60000));
        EXPECT_EQ(varnak.exitCode(), 0) << varnak.readAllStandardError().toStdString();
        const QByteArray log = readAll(dir_.filePath(run + QStringLiteral("/Radio.out")));
        EXPECT_GE(log.count(kSeparator), 2 * test::kGroupsPerCycle);
        EXPECT_EQ(log.count(kSeparator), referenceLog(Demodulated(raw)).count(kSeparator));
        EXPECT_EQ(QDir(dir_.filePath(run)).entryList(QDir::Files | QDir::Hidden), QStringList{"Radio.out"});
    }
}

// A live log is written group by group, so it can be followed while the run
// goes on; a signal (kill, Ctrl-C, a closed terminal) ends the program the
// way closing the window does, leaving whole records only, and the program
// still ends with the signal's status.
TEST_F(WindowTest, LiveLogsGrowGroupByGroupAndSignalsLeaveWholeRecords)
{
    const QString bin = QCoreApplication::applicationDirPath();
    if (!QFile::exists(bin + QStringLiteral("/varnak"))) GTEST_SKIP() << "varnak not built";
    const std::string raw = S16le(Multiplex(test::StationBits(3, 50)));
    const QString bits = writeFile(QStringLiteral("long.txt"), test::StationBits(40));
    struct Case {
        const char* name;
        int signal;
        QStringList args;  // after the platform options
        const char* log;   // in the run's folder
    };
    const Case cases[] = {
        {"radio", SIGTERM, {QStringLiteral("--mpx-rate"), QStringLiteral("171k"), QStringLiteral("-")}, "Radio.out"},
        {"recording", SIGINT, {QStringLiteral("--realtime"), bits}, "../long.out"},
        {"recording", SIGHUP, {QStringLiteral("--realtime"), bits}, "../long.out"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + strsignal(c.signal));
        const QString run = dir_.filePath(QStringLiteral("run%1").arg(c.signal));
        ASSERT_TRUE(QDir().mkpath(run));
        QFile::remove(dir_.filePath(QStringLiteral("long.out")));
        QProcess varnak;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.filePath(QStringLiteral("config")));
        varnak.setProcessEnvironment(env);
        varnak.setWorkingDirectory(run);
        varnak.start(bin + QStringLiteral("/varnak"),
                     QStringList{QStringLiteral("-platform"), QStringLiteral("offscreen")} + c.args);
        ASSERT_TRUE(varnak.waitForStarted());
        // The multiplex goes in and the pipe stays open: the run goes on.
        if (c.signal == SIGTERM) varnak.write(raw.data(), static_cast<qint64>(raw.size()));
        const QString logPath = QDir(run).filePath(QString::fromLatin1(c.log));
        const auto records = [&] { return readAll(logPath).count(kSeparator); };
        if (c.signal == SIGTERM) {
            // A live log shows groups while the run goes on, long before any
            // buffer of records could have filled.
            const bool grew = QTest::qWaitFor([&] { return records() >= 2; }, 20000);
            EXPECT_TRUE(grew) << "the live log is empty while the run goes on";
        } else {
            QTest::qWait(2000);  // a recording's log is written in large blocks
        }
        ::kill(static_cast<pid_t>(varnak.processId()), c.signal);
        ASSERT_TRUE(varnak.waitForFinished(20000));
        EXPECT_EQ(varnak.exitStatus(), QProcess::CrashExit) << "ended with the signal's status";
        const QByteArray log = readAll(logPath);
        EXPECT_GE(log.count(kSeparator), 2);
        EXPECT_EQ(log.count("\r\n"), 5 * log.count(kSeparator)) << "whole records only";
        EXPECT_TRUE(log.endsWith("\r\n"));
    }
}

// At broadcast speed a bit recording takes as long as it took on air.
TEST_F(WindowTest, RealtimePlaybackKeepsTheBroadcastPace)
{
    const std::string bits = test::StationBits(1);
    const QString path = writeFile(QStringLiteral("short.txt"), bits);
    w_->setRealtime(true);
    QElapsedTimer t;
    t.start();
    EXPECT_TRUE(analyse(path));
    EXPECT_GE(t.elapsed(), static_cast<qint64>(bits.size() * 1000 / 1187.5) - 100);
    EXPECT_EQ(readAll(dir_.filePath(QStringLiteral("short.out"))).count(kSeparator), test::kGroupsPerCycle);
}

}  // namespace
}  // namespace varnak

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
