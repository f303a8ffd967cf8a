// The band window (offscreen, real widgets, real decoder): a short capture
// of three stations made by rdsgen --iq is decoded by a band run; the table
// lists every station with its PI and PS, picking one fills the main
// window's panels with that station, and each station's decode log is the
// one murlin-decode writes for it. Bad IQ input is told and leaves the
// window idle.
#include "band_window.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include "band_runner.h"
#include "band_stations.h"
#include "capturing_notifier.h"
#include "history_window.h"
#include "main_window.h"
#include "run_wait.h"
#include "settings_store.h"
#include "widgets.h"

namespace varnak {
namespace {

struct TestStation {
    const char* mhz;  // as in the log names
    const char* pi;
    const char* ps;
    const char* level;  // dB against the strongest
};
constexpr TestStation kStations[] = {
    {"97.70", "C2A1", "ALPHA", "0"}, {"98.10", "D3B2", "BRAVO", "-10"}, {"98.40", "E4C3", "CHARLIE", "-5"}};

QString Tool(const char* name) { return QCoreApplication::applicationDirPath() + '/' + name; }

QByteArray Read(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing " + path.toUtf8() + ">");
}

class BandWindowTest : public ::testing::Test {
protected:
    // The capture and murlin-decode's logs of it, made once.
    static void SetUpTestSuite()
    {
        dir_ = new QTemporaryDir;
        if (!QFile::exists(Tool("rdsgen")) || !QFile::exists(Tool("murlin-decode"))) return;
        QStringList args{QStringLiteral("--iq"), QStringLiteral("cu8"),      QStringLiteral("--rate"),
                         QStringLiteral("1.2M"), QStringLiteral("--center"), QStringLiteral("98M"),
                         QStringLiteral("--cn"), QStringLiteral("25"),       QStringLiteral("--stereo"),
                         QStringLiteral("-d"),   QStringLiteral("2"),        QStringLiteral("-o"),
                         path("cap.cu8")};
        const QByteArray description = Read(QStringLiteral(VARNAK_STATION_RDS));
        for (const TestStation& s : kStations) {
            QByteArray text;
            for (const QByteArray& line : description.split('\n'))
                text += line.startsWith("pi ")   ? "pi 0x" + QByteArray(s.pi) + '\n'
                        : line.startsWith("ps ") ? "ps \"" + QByteArray(s.ps) + "\"\n"
                                                 : line + '\n';
            QFile f(path(s.ps) + ".rds");
            if (!f.open(QIODevice::WriteOnly)) return;
            f.write(text);
            f.close();
            args << QStringLiteral("--station")
                 << QStringLiteral("%1M:%2.rds:%3").arg(s.mhz, path(s.ps), QString::fromLatin1(s.level));
        }
        if (QProcess::execute(Tool("rdsgen"), args) != 0) return;
        ready_ =
            QProcess::execute(Tool("murlin-decode"),
                              {QStringLiteral("-q"), QStringLiteral("--iq"), QStringLiteral("cu8"),
                               QStringLiteral("--rate"), QStringLiteral("1.2M"), QStringLiteral("--center"),
                               QStringLiteral("98M"), QStringLiteral("-o"), path("ref.out"), path("cap.cu8")}) == 0;
    }
    static void TearDownTestSuite() { delete dir_; }
    static QString path(const QString& name) { return dir_->filePath(name); }

    void SetUp() override
    {
        if (!ready_) GTEST_SKIP() << "rdsgen or murlin-decode not built, or the capture could not be made";
        main_ = std::make_unique<MainWindow>(store_, notifier_);
        main_->show();
        band_ = AttachBandWindow(*main_);
    }
    QString label(const char* name) const
    {
        auto* l = main_->findChild<QLabel*>(QString::fromLatin1(name));
        return l ? l->text().trimmed() : QStringLiteral("<no %1>").arg(QString::fromLatin1(name));
    }
    bool idle() const
    {
        return main_->findChild<QPushButton*>(QStringLiteral("File"))->isEnabled() &&
               !main_->findChild<QPushButton*>(QStringLiteral("Stopit"))->isEnabled() && !main_->isAnalysing();
    }

    static inline QTemporaryDir* dir_ = nullptr;
    static inline bool ready_ = false;
    QTemporaryDir config_;
    SettingsStore store_{config_.filePath(QStringLiteral("settings.reg"))};
    test::CapturingNotifier notifier_;
    std::unique_ptr<MainWindow> main_;
    BandWindow* band_ = nullptr;
};

TEST_F(BandWindowTest, ListsEveryStationFillsThePanelsOfThePickedOneAndLogsEachAsMurlinDecode)
{
    HistoryWindow* history = AttachHistoryWindow(*main_, notifier_, store_);
    main_->setIqSettings(radio::IqSettings{radio::IqFormat::Cu8, 1.2e6, 98e6});
    ASSERT_TRUE(test::Analyse(*main_, path("cap.cu8"))) << notifier_.messages.join('\n').toStdString();
    EXPECT_TRUE(band_->isVisible());

    QTableView* table = band_->table();
    QAbstractItemModel* model = table->model();
    ASSERT_EQ(model->rowCount(), int(std::size(kStations)));
    for (int row = 0; row < model->rowCount(); ++row) {
        // Sorted by frequency, as listed.
        const TestStation& s = kStations[row];
        EXPECT_EQ(model->index(row, BandStationModel::Frequency).data().toString(), QString::fromLatin1(s.mhz));
        EXPECT_EQ(model->index(row, BandStationModel::Pi).data().toString(), QString::fromLatin1(s.pi));
        EXPECT_EQ(model->index(row, BandStationModel::Ps).data().toString().trimmed(), QString::fromLatin1(s.ps));
        EXPECT_EQ(Read(path("cap-%1.out").arg(s.mhz)), Read(path("ref-%1.out").arg(s.mhz))) << s.mhz;
    }

    // A click on a row, then the arrow keys, each make that station the
    // main window's, its panels filled at once.
    for (int row : {2, 1, 0}) {
        if (row == 2) {
            const QRect cell = table->visualRect(model->index(row, BandStationModel::Ps));
            QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
        } else {
            QTest::keyClick(table, Qt::Key_Up);
        }
        EXPECT_EQ(label("vPI"), QString::fromLatin1(kStations[row].pi)) << row;
        EXPECT_EQ(label("vPS"), QString::fromLatin1(kStations[row].ps)) << row;
        EXPECT_EQ(main_->band().selected(), model->index(row, 0).data(BandStationModel::kIdRole).toInt());
    }
    // A click on the spectrum at a station's marker picks it too.
    SpectrumView* spectrum = band_->spectrum();
    QTest::mouseClick(spectrum, Qt::LeftButton, {}, QPoint(int(spectrum->xOf(98.4)), spectrum->height() / 3));
    EXPECT_EQ(label("vPS"), QStringLiteral("CHARLIE"));
    QTest::keyClick(spectrum, Qt::Key_Left);
    EXPECT_EQ(label("vPS"), QStringLiteral("BRAVO"));
    // The history window follows the picked station from what it sent so
    // far, not from nothing: its PS is there, the others' are not.
    const std::string text = history->history().historyText();
    EXPECT_NE(text.find("BRAVO"), std::string::npos) << text;
    EXPECT_EQ(text.find("CHARLIE"), std::string::npos) << text;
    EXPECT_EQ(text.find("ALPHA"), std::string::npos) << text;
    EXPECT_TRUE(notifier_.messages.isEmpty()) << notifier_.messages.join('\n').toStdString();
}

TEST_F(BandWindowTest, BadIqInputIsToldAndLeavesTheWindowIdle)
{
    QFile odd(path("odd.cu8"));
    ASSERT_TRUE(odd.open(QIODevice::WriteOnly));
    odd.write(QByteArray(2001, '\x80'));  // silence, ending in half a sample
    odd.close();
    QFile meta(path("bad.sigmf-meta"));
    ASSERT_TRUE(meta.open(QIODevice::WriteOnly));
    meta.write(R"({"global":{"core:datatype":"ri16_le","core:sample_rate":1200000},"captures":[]})");
    meta.close();
    const struct {
        const char* file;
        std::optional<radio::IqSettings> iq;
        const char* told;  // a part of the message
    } cases[] = {
        {"missing.cu8", radio::IqSettings{radio::IqFormat::Cu8, 1.2e6, 98e6}, "missing.cu8"},
        {"odd.cu8", radio::IqSettings{radio::IqFormat::Cu8, 1.2e6, 98e6}, "odd.cu8"},
        {"odd.cu8", radio::IqSettings{radio::IqFormat::Cu8, 1.2e6, std::nullopt}, "centre frequency"},
        {"bad.sigmf-meta", std::nullopt, "not complex"},
    };
    for (const auto& c : cases) {
        notifier_.messages.clear();
        main_->setIqSettings(c.iq);
        EXPECT_FALSE(test::Analyse(*main_, path(QString::fromLatin1(c.file)))) << c.file;
        ASSERT_EQ(notifier_.messages.size(), 1) << c.file << ": " << notifier_.messages.join('\n').toStdString();
        EXPECT_TRUE(notifier_.messages.front().contains(QString::fromLatin1(c.told)))
            << c.file << ": " << notifier_.messages.front().toStdString();
        EXPECT_TRUE(idle()) << c.file;
    }
}

// A live input that sends nothing: Stop ends the run at once (the worker
// does not sit in a read until samples come), and the window is idle again.
TEST_F(BandWindowTest, StopEndsARunOnASilentPipeAtOnce)
{
    const QByteArray fifo = QFile::encodeName(path(QStringLiteral("silent.fifo")));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    const int writer = ::open(fifo.constData(), O_RDWR | O_CLOEXEC);  // a writer that never writes
    ASSERT_GE(writer, 0);
    main_->setIqSettings(radio::IqSettings{radio::IqFormat::Cu8, 1.2e6, 98e6});
    QSignalSpy finished(main_.get(), &MainWindow::analysisFinished);
    ASSERT_TRUE(main_->AnalyseFile(QFile::decodeName(fifo)));
    QTest::qWait(200);
    QElapsedTimer stopping;
    stopping.start();
    main_->StopCommand();
    EXPECT_LT(stopping.elapsed(), 5000);  // a hang, not a speed: the read waits 40 ms at a time
    EXPECT_TRUE(finished.count() == 1 || finished.wait(2000));
    EXPECT_TRUE(idle());
    ::close(writer);
}

// IQ options the program cannot use are usage errors named on one line,
// before any window opens.
TEST(BandOptionsTest, WrongIqOptionsAreUsageErrors)
{
    if (!QFile::exists(Tool("varnak"))) GTEST_SKIP() << "varnak not built";
    const struct {
        QStringList args;
        const char* says;
    } cases[] = {
        {{"--iq", "cu9", "--rate", "1M", "x"}, "--iq: unknown sample format 'cu9'"},
        {{"--iq", "cu8", "x"}, "give --rate"},
        {{"--iq", "cu8", "--rate", "50k", "x"}, "--rate: 50k is out of range"},
        {{"--iq", "cu8", "--rate", "1M", "--center", "fm", "x"}, "--center: 'fm' is not a frequency"},
        {{"--iq", "cu8", "--rate", "1M"}, "IQ input needs FILE"},
        {{"--sdr", "driver=rtlsdr"}, "give --center"},
        {{"--sdr", "driver=rtlsdr", "--center", "98M", "x"}, "leave out FILE"},
        {{"--gain", "20", "x"}, "--gain is for --sdr"},
        {{"--mpx-rate", "171k", "--iq", "cu8", "--rate", "1M", "x"}, "cannot both be given"},
    };
    for (const auto& c : cases) {
        QProcess p;
        p.start(Tool("varnak"), c.args);
        ASSERT_TRUE(p.waitForFinished(30000));
        const QString err = QString::fromLocal8Bit(p.readAllStandardError());
        EXPECT_EQ(p.exitCode(), 2) << c.args.join(' ').toStdString();
        EXPECT_TRUE(err.startsWith(QStringLiteral("varnak: ")) && err.contains(QString::fromLatin1(c.says)))
            << c.args.join(' ').toStdString() << ": " << err.toStdString();
    }
}

// The table model on its own: rows keep their place, changed cells are
// announced, and numbers sort as numbers.
TEST(BandStationModelTest, UpdatesInPlaceAndSortsNumbers)
{
    BandStationModel model;
    BandStationRow a{.id = 0, .mhz = 99.5, .levelDbfs = -9.5};
    BandStationRow b{.id = 1, .mhz = 100.1, .levelDbfs = -30};
    model.update({a, b});
    ASSERT_EQ(model.rowCount(), 2);
    int changed = 0;
    QObject::connect(&model, &QAbstractItemModel::dataChanged, [&](const QModelIndex& from, const QModelIndex& to) {
        EXPECT_EQ(from.row(), 1);
        EXPECT_EQ(from.column(), BandStationModel::Pi);
        EXPECT_EQ(to.column(), BandStationModel::Ps);
        ++changed;
    });
    b.hasRds = true;
    b.pi = 0xd3b2;
    b.ps = QStringLiteral("BRAVO   ");
    model.update({a, b});
    EXPECT_EQ(changed, 1);
    EXPECT_EQ(model.rowOf(1), 1);
    EXPECT_EQ(model.index(1, BandStationModel::Pi).data().toString(), QStringLiteral("D3B2"));
    EXPECT_EQ(StationLabelText(b), QStringLiteral("D3B2 BRAVO"));
    EXPECT_EQ(StationLabelText(a), QStringLiteral("99.5"));

    QSortFilterProxyModel proxy;
    proxy.setSourceModel(&model);
    proxy.setSortRole(BandStationModel::kSortRole);
    proxy.sort(BandStationModel::Level, Qt::AscendingOrder);  // -30 before -9.5, not as text
    EXPECT_EQ(proxy.index(0, BandStationModel::Frequency).data().toString(), QStringLiteral("100.10"));
}

}  // namespace
}  // namespace varnak

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
