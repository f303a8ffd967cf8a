// The RF side of the service end to end: a band capture whose station
// over-deviates, then vanishes and comes back, raises and clears the
// deviation and carrier-lost alarms at their times; a card source reads a
// card through the real card server simulator and rides out the server's
// restart.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>

#include "alarms.h"
#include "config.h"
#include "service_test_util.h"
#include "station_state.h"

namespace varnakd {
namespace {

TEST(StationStateJsonTest, QualityCarriesTheSignalFigures)
{
    rdsformats::StationState s;
    s.name = "98.5";
    s.signal.levelDbfs = -31.25;
    s.signal.deviationKHz = 71.04;
    s.signal.mpxPowerDbr = -0.456;
    const QJsonObject q = QJsonDocument::fromJson(QByteArray::fromStdString(rdsformats::StationStateJson(s)))
                              .object()["quality"]
                              .toObject();
    EXPECT_DOUBLE_EQ(q["level"].toDouble(), -31.2);
    EXPECT_DOUBLE_EQ(q["deviation"].toDouble(), 71.0);
    EXPECT_DOUBLE_EQ(q["mpxPower"].toDouble(), -0.46);
    // Unmeasured figures are left out, not written as zero.
    const std::string bare = rdsformats::StationStateJson(rdsformats::StationState{});
    for (const char* key : {"\"level\"", "\"deviation\"", "\"mpxPower\""})
        EXPECT_EQ(bare.find(key), std::string::npos) << key;
}

// Seconds after the start at which `alarm` was raised (or cleared), from the log.
std::vector<double> AlarmTimes(const std::string& log, const std::string& alarm, bool raised, int64_t start)
{
    std::vector<double> times;
    const QRegularExpression line(QString::fromStdString("alarm " + alarm + (raised ? " raised" : " cleared")) +
                                  " at (\\S+):");
    auto it = line.globalMatch(QString::fromStdString(log));
    while (it.hasNext()) times.push_back(double(*ParseUtcTime(it.next().captured(1).toStdString()) - start) / 100);
    return times;
}

TEST(SignalRunTest, BandStationOverDeviatingAndVanishing)
{
    test::App();
    QTemporaryDir dir;
    const QString d = dir.path();
    test::Write(d + "/s.rds", "pi 0xC2A1\nps \"KESTREL \"\n");
    const auto capture = [&](const QString& name, const QStringList& extra) {
        QProcess gen;
        gen.start(RDSGEN_PATH,
                  QStringList{"--iq", "cu8", "--rate", "600k", "--center", "98M", "--station", "98.1M:" + d + "/s.rds",
                              "--cn", "30", "--stereo", "-d", "8", "-o", d + "/" + name} +
                      extra);
        return gen.waitForFinished(120000) && gen.exitCode() == 0;
    };
    ASSERT_TRUE(capture("fine.cu8", {}));
    ASSERT_TRUE(capture("hot.cu8", {"--peak-khz", "130"}));
    // 0..8 s fine, 8..16 s over-deviating, 16..26 s no carrier, 26..34 s fine.
    const std::string fine = test::ReadAll(d + "/fine.cu8");
    test::Write(d + "/cap.cu8",
                fine + test::ReadAll(d + "/hot.cu8") + std::string(std::size_t(600000 * 2 * 10), '\x80') + fine);
    test::Write(d + "/v.conf", "[service]\nsite = s\nstate = " + d.toStdString() +
                                   "\n[source air]\nband = yes\npath = " + d.toStdString() +
                                   "/cap.cu8\niq = cu8\nrate = 600k\ncenter = 98M\nstart = 2026-12-08T19:55:00Z\n"
                                   "[station 98.1]\nmax-deviation = 75\ndeviation-tolerance = 2\ncarrier-lost = 2\n");
    const test::Run run = test::RunVarnakd(d + "/v.conf");
    ASSERT_EQ(run.exitCode, 0) << run.log;
    const int64_t t0 = *ParseUtcTime("2026-12-08T19:55:00Z");
    // alarm, raised, earliest and latest time (s after the start)
    const test::ExpectedAlarm expected[] = {
        {"deviation", true, 8.0, 11.0},
        {"carrier-lost", true, 18.0, 25.0},  // lost after five searches without it, then held 2 s
        {"carrier-lost", false, 26.0, 28.5},
        {"deviation", false, 26.0, 30.0},
    };
    for (const auto& e : expected) {
        const auto times = AlarmTimes(run.log, e.alarm, e.raised, t0);
        ASSERT_EQ(times.size(), 1u) << e.alarm << (e.raised ? " raised" : " cleared") << "\n" << run.log;
        EXPECT_GE(times[0], e.from) << e.alarm << "\n" << run.log;
        EXPECT_LE(times[0], e.to) << e.alarm << "\n" << run.log;
    }
    // The station's minute in the database carries its RF figures.
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "signal-run");
        db.setDatabaseName(d + "/varnakd.db");
        ASSERT_TRUE(db.open());
        QSqlQuery q("SELECT COUNT(*) FROM quality WHERE level < 0 AND deviation > 0", db);
        EXPECT_TRUE(q.next() && q.value(0).toInt() >= 1);
    }
    QSqlDatabase::removeDatabase("signal-run");
}

TEST(SignalRunTest, CardSourceReadsTheCardAndOutlivesItsServer)
{
    test::App();
    QTemporaryDir dir;
    const QString d = dir.path();
    test::Write(d + "/s.txt", test::Generate(d, "pi 0xC2A1\nps \"KESTREL \"\n", {"-d", "10"}));
    test::CardServer server(d + "/s.txt");
    ASSERT_TRUE(server.start());
    test::Write(d + "/v.conf", "[service]\nsite = s\nstate = " + d.toStdString() +
                                   "\n[source card]\nkind = card\nhost = 127.0.0.1\nport = " +
                                   std::to_string(server.port()) + "\ncard = 1\ninput = 3\nretry = 0.5\n");
    QProcess p;
    p.start(VARNAKD_PATH, {"--config", d + "/v.conf"});
    std::string log;
    const auto waitFor = [&](const std::string& text, std::size_t from) {
        for (int i = 0; i < 600 && log.find(text, from) == std::string::npos; ++i) {
            p.waitForReadyRead(50);
            log += p.readAllStandardError().toStdString();
        }
        return log.find(text, from) != std::string::npos;
    };
    ASSERT_TRUE(waitFor("varnakd: s/card: C2A1 'KESTREL '", 0)) << log;
    server.stop();
    ASSERT_TRUE(waitFor("varnakd: s/card: alarm source raised", 0)) << log;
    EXPECT_TRUE(waitFor("Connection refused", 0)) << log;
    const std::size_t restarted = log.size();
    ASSERT_TRUE(server.start(server.port()));
    EXPECT_TRUE(waitFor("varnakd: s/card: alarm source cleared", restarted)) << log;
    EXPECT_EQ(p.state(), QProcess::Running);
    p.terminate();
    ASSERT_TRUE(p.waitForFinished(10000));
    log += p.readAllStandardError().toStdString();
    EXPECT_EQ(p.exitCode(), 0) << log;
}

}  // namespace
}  // namespace varnakd
