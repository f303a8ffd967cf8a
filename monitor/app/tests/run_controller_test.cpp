// The run controller without a window: a recording decoded in slices that
// return to the event loop, Stop ending the run at once, and a new run
// replacing it.
#include "run_controller.h"

#include <QCoreApplication>
#include <QFile>
#include <QSignalSpy>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include "murlin_binding.h"
#include "test_streams.h"

namespace varnak {
namespace {

// What the runs ask of a user interface, noted.
class NotingView : public RunView {
public:
    bool startOn = true, stopOn = false, inverted_ = false;
    QStringList told;
    int draws = 0;

    const MurlinApi* decoder(bool) override { return murlin(); }
    void tell(const QString& text) override { told << text; }
    void setStartEnabled(bool on) override { startOn = on; }
    void setStopEnabled(bool on) override { stopOn = on; }
    bool stopEnabled() const override { return stopOn; }
    void showLogPath(const QString&) override {}
    void clearBlockLines() override {}
    void setTitleState(const QString&) override {}
    void setDecoding(bool) override {}
    void showDecoded() override { ++draws; }
    bool inverted() const override { return inverted_; }
    void setInverted(bool inverted, bool) override { inverted_ = inverted; }
    void showOverflow(bool) override {}
    void releaseCard() override {}
};

struct GroupCount : FrameListener {
    int groups = 0;
    void onGroup(const DecodedGroup&) override { ++groups; }
};

QString Write(const QTemporaryDir& dir, const char* name, const std::string& text)
{
    QString path = dir.filePath(QString::fromLatin1(name));
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text.data(), static_cast<qint64>(text.size()));
    return path;
}

int Records(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? static_cast<int>(f.readAll().count("------------------------------------\r\n"))
                                       : -1;
}

TEST(RunController, SlicesServeTheEventLoopStopEndsARunAtOnceAndANewOneReplacesIt)
{
    ASSERT_NE(murlin(), nullptr) << "libmurlin.so must stand beside the test";
    QTemporaryDir dir;
    NotingView view;
    GroupCount display;
    RunController runs(view, display);
    const QString first = Write(dir, "long.txt", test::StationBits(1500));
    const QString second = Write(dir, "short.txt", test::StationBits(24, 300));

    QSignalSpy finished(&runs, &RunController::finished);
    int turns = 0, groupsAtStop = -1;
    bool replaced = false;
    QTimer turn;  // counts the event loop's turns during the first run
    turn.setInterval(0);
    QObject::connect(&turn, &QTimer::timeout, [&] {
        if (!runs.isAnalysing() || ++turns < 3) return;
        turn.stop();
        runs.stop();
        groupsAtStop = display.groups;
        EXPECT_FALSE(runs.isAnalysing());
        EXPECT_FALSE(runs.isLogOpen());
        EXPECT_EQ(finished.size(), 1) << "Stop ends the run at once";
        EXPECT_TRUE(view.startOn);
        EXPECT_FALSE(view.stopOn);
        replaced = runs.analyseFile(second);
    });
    turn.start();
    ASSERT_TRUE(runs.analyseFile(first));
    EXPECT_EQ(display.groups, 0) << "decoding starts from the event loop";
    while (finished.size() < 2 && finished.wait(60000)) {
    }
    ASSERT_EQ(finished.size(), 2);
    EXPECT_TRUE(replaced);
    EXPECT_TRUE(finished[0][0].toBool());
    EXPECT_TRUE(finished[1][0].toBool());
    EXPECT_GT(view.draws, 2) << "every slice lets the window draw";
    EXPECT_TRUE(view.told.isEmpty()) << view.told.join(QLatin1Char('\n')).toStdString();

    // The stopped log holds exactly the groups decoded before Stop; the new
    // run decoded its whole recording into its own log.
    EXPECT_GT(groupsAtStop, 0);
    EXPECT_LT(groupsAtStop, 1500 * test::kGroupsPerCycle);
    EXPECT_EQ(Records(dir.filePath(QStringLiteral("long.out"))), groupsAtStop);
    EXPECT_EQ(Records(dir.filePath(QStringLiteral("short.out"))), 24 * test::kGroupsPerCycle);
    EXPECT_EQ(display.groups - groupsAtStop, 24 * test::kGroupsPerCycle);
    EXPECT_EQ(runs.currentPath(), second);
}

}  // namespace
}  // namespace varnak

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
