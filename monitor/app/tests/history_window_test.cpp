// The history window (offscreen, real widgets, real decoder): opened from
// the main window, it follows a file analysis and shows exactly what
// murlin-decode --history prints for the same recording; its exports parse
// back to the same content.
#include "history_window.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

#include <gtest/gtest.h>

#include "capturing_notifier.h"
#include "history_station.h"
#include "main_window.h"
#include "run_wait.h"
#include "settings_store.h"

namespace varnak {
namespace {

class HistoryWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        if (!QFile::exists(tool("rdsgen")) || !QFile::exists(tool("murlin-decode")))
            GTEST_SKIP() << "rdsgen or murlin-decode not built";
        main_ = std::make_unique<MainWindow>(store_, notifier_);
        main_->show();
        ASSERT_TRUE(store_.WriteSetting(MainWindow::AppName, {}, QStringLiteral("HistoryLimit"), 5000));
        history_ = AttachHistoryWindow(*main_, notifier_, store_);
    }
    static QString tool(const char* name) { return QCoreApplication::applicationDirPath() + '/' + name; }
    QString path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }

    // The station's recording, `groups` long.
    QString recording(const char* name, int groups)
    {
        QFile d(path("station.rds"));
        EXPECT_TRUE(d.open(QIODevice::WriteOnly));
        d.write(QByteArray::fromStdString(varnaktest::HistoryStation()));
        d.close();
        QString out = path(name);
        EXPECT_EQ(QProcess::execute(tool("rdsgen"), {path("station.rds"), QStringLiteral("-n"), QString::number(groups),
                                                     QStringLiteral("-o"), out}),
                  0);
        return out;
    }
    // What murlin-decode --history prints for `file`, without its first line.
    QByteArray headless(const QString& file, const QStringList& extra = {})
    {
        QProcess p;
        p.start(tool("murlin-decode"), QStringList{QStringLiteral("-q"), QStringLiteral("--history"),
                                                   QStringLiteral("-o"), QStringLiteral("/dev/null")} +
                                           extra + QStringList{file});
        EXPECT_TRUE(p.waitForFinished(30000));
        const QByteArray out = p.readAllStandardOutput();
        return extra.contains(QStringLiteral("--json")) ? out : out.mid(out.indexOf('\n') + 1);
    }
    static QByteArray read(const QString& file)
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

    QTemporaryDir dir_;
    SettingsStore store_{dir_.filePath(QStringLiteral("config/settings.reg"))};
    test::CapturingNotifier notifier_;
    std::unique_ptr<MainWindow> main_;
    HistoryWindow* history_ = nullptr;
};

TEST_F(HistoryWindowTest, OpensFromTheMainWindowAndShowsWhatTheHeadlessDecoderPrints)
{
    // The context menu offers it, F2 opens it; no control of the window moved.
    const QList<QAction*> actions = main_->actions();
    ASSERT_EQ(actions.size(), 1);
    EXPECT_EQ(actions[0]->text(), QStringLiteral("History and statistics…"));
    EXPECT_EQ(main_->contextMenuPolicy(), Qt::ActionsContextMenu);
    EXPECT_EQ(actions[0]->shortcut(), QKeySequence(Qt::Key_F2));
    EXPECT_EQ(history_->history().limit(), 5000u);  // from the settings
    EXPECT_FALSE(history_->isVisible());
    actions[0]->trigger();
    EXPECT_TRUE(history_->isVisible());

    const QString file = recording("station.txt", varnaktest::kHistoryGroups);
    ASSERT_TRUE(test::Analyse(*main_, file));
    const QByteArray expected = headless(file);
    const QByteArray shown = history_->historyText().toUtf8();
    EXPECT_TRUE(expected.startsWith(shown)) << shown.toStdString() << "\n---\n" << expected.toStdString();
    EXPECT_TRUE(shown.contains("  PS   +00:00:00.43 to +00:00:01.83  \"KESTREL \"\n"));
    EXPECT_EQ(shown.count("  TA   "), 8);

    // The statistics table: every type, its count, share and rate, then the totals.
    const QTableWidget* t = history_->table();
    ASSERT_EQ(t->rowCount(), 7);
    const char* const rows[][4] = {{"0A", "96", "50.0", "5.71"},         {"1A", "24", "12.5", "1.43"},
                                   {"2A", "48", "25.0", "2.85"},         {"3A", "23", "12.0", "1.37"},
                                   {"4A", "1", "0.5", "0.06"},           {"total", "192", "100.0", "11.42"},
                                   {"block error rate", "0", "0.00", ""}};
    for (int r = 0; r < 7; ++r)
        for (int c = 0; c < 4; ++c) EXPECT_EQ(t->item(r, c)->text(), QString::fromLatin1(rows[r][c])) << r << c;
    EXPECT_EQ(history_->notice(), QStringLiteral("Times count from the start of the recording."));

    // Exports: JSON parses back to what murlin-decode --history --json gives,
    // CSV holds one row per entry.
    ASSERT_TRUE(history_->exportTo(path("h.json"), HistoryWindow::Export::Json));
    ASSERT_TRUE(history_->exportTo(path("h.csv"), HistoryWindow::Export::HistoryCsv));
    ASSERT_TRUE(history_->exportTo(path("s.csv"), HistoryWindow::Export::StatisticsCsv));
    QJsonObject cli =
        QJsonDocument::fromJson(
            headless(file, {QStringLiteral("--json"), QStringLiteral("--history-limit"), QStringLiteral("5000")}))
            .object();
    cli.remove(QStringLiteral("file"));
    const QJsonObject exported = QJsonDocument::fromJson(read(path("h.json"))).object();
    EXPECT_FALSE(exported.isEmpty());
    EXPECT_EQ(exported, cli);
    const QList<QByteArray> csv = read(path("h.csv")).split('\n');
    EXPECT_EQ(csv[0], "pi,kind,first,last,value\r");
    EXPECT_EQ(csv[1], "54A8,PS,+00:00:00.43,+00:00:01.83,KESTREL \r");
    // 8 PS, 6 radiotexts, 1 PTY, 8 TA/TP, 2 AF, 1 clock, 1 ODA, header, last line end.
    EXPECT_EQ(csv.size(), 1 + 8 + 6 + 1 + 8 + 2 + 1 + 1 + 1);
    EXPECT_TRUE(read(path("s.csv")).contains("\r\n0A,96,50.00,5.7083\r\n"));
    QString error;
    EXPECT_FALSE(history_->exportTo(path("missing/x.csv"), HistoryWindow::Export::HistoryCsv, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("missing/x.csv"))) << error.toStdString();
}

TEST_F(HistoryWindowTest, KeepsItsContentUntilTheNextRunAndSaysWhenEntriesWereDropped)
{
    const QString file = recording("station.txt", varnaktest::kHistoryGroups);
    ASSERT_TRUE(test::Analyse(*main_, file));
    history_->show();
    const QString first = history_->historyText();
    EXPECT_FALSE(first.isEmpty());
    QApplication::processEvents();
    EXPECT_EQ(history_->historyText(), first);  // the run ended, the content stays

    history_->setLimit(3);
    ASSERT_TRUE(test::Analyse(*main_, recording("short.txt", 96)));
    EXPECT_NE(history_->historyText(), first);
    EXPECT_TRUE(
        history_->notice().contains(QStringLiteral("Older entries were dropped: each list keeps its newest 3.")))
        << history_->notice().toStdString();
    const QByteArray shown = history_->historyText().toUtf8();
    EXPECT_EQ(shown,
              headless(path("short.txt"), {QStringLiteral("--history-limit"), QStringLiteral("3")}).left(shown.size()));
    EXPECT_TRUE(shown.contains("(1 older PS entries dropped)")) << shown.toStdString();
}

// A radiotext of the full 64 characters is read whole: at the window's
// default size and in a narrow window, no line runs past the view's edge
// (the screen may be too narrow for it: then it wraps).
TEST_F(HistoryWindowTest, ShowsWholeRadiotextsAtAnyWidth)
{
    const std::string text = "Radio Kestrel 97.4 - the best music on the coast, news each hour";
    ASSERT_EQ(text.size(), 64u);
    QFile d(path("long.rds"));
    ASSERT_TRUE(d.open(QIODevice::WriteOnly));
    d.write(QByteArray::fromStdString("pi 0xC2A1\nps \"KESTREL \"\nrt A \"" + text + "\"\n"));
    d.close();
    ASSERT_EQ(QProcess::execute(tool("rdsgen"), {path("long.rds"), QStringLiteral("-n"), QStringLiteral("200"),
                                                 QStringLiteral("-o"), path("long.txt")}),
              0);
    history_->show();
    ASSERT_TRUE(test::Analyse(*main_, path("long.txt")));
    const auto* view = history_->findChild<QPlainTextEdit*>(QStringLiteral("history"));
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(history_->historyText().contains(QString::fromStdString(text)));
    for (const int width : {history_->width(), 300}) {
        history_->resize(width, history_->height());
        QApplication::processEvents();
        const int room = view->viewport()->width() - static_cast<int>(2 * view->document()->documentMargin());
        for (QTextBlock b = view->document()->begin(); b.isValid(); b = b.next())
            for (int i = 0; i < b.layout()->lineCount(); ++i)
                EXPECT_LE(b.layout()->lineAt(i).naturalTextWidth(), room)
                    << width << " px: " << b.text().toStdString() << " is cut off";
    }
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
