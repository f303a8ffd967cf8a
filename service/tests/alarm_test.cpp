#include <gtest/gtest.h>

#include "alarms.h"

namespace varnakd {
namespace {

TEST(AlarmTrackerTest, RaisesAndClearsAfterTheirHoldTimes)
{
    // (condition, now): events expected with their times; hold 5, clear 3.
    const struct {
        bool condition;
        int64_t now;
        std::optional<int64_t> event;
    } steps[] = {
        {true, 10, std::nullopt},  {true, 14, std::nullopt}, {false, 15, std::nullopt},  // too short
        {true, 20, std::nullopt},  {true, 26, 25},                                       // raised at 20 + 5
        {false, 30, std::nullopt}, {true, 31, std::nullopt},                             // clear hold restarts
        {false, 40, std::nullopt}, {false, 44, 43},                                      // cleared at 40 + 3
    };
    AlarmTracker t;
    for (const auto& s : steps) EXPECT_EQ(t.update(s.condition, s.now, s.now, 5, 3), s.event) << s.now;
    EXPECT_FALSE(t.active());
}

// The signal's alarms against a profile, second by second: what the band
// receiver measures (level, peak deviation, MPX power) and when it lost the
// carrier, with the events expected at each step.
TEST(StationAlarmsTest, SignalAlarmsRaiseAndClearOnTime)
{
    StationProfile p;
    p.key = "98.5";
    p.maxDeviation = 75;
    p.deviationTolerance = 2;
    p.maxMpxPower = 0;
    p.minLevel = -60;
    p.carrierLost = 5;
    p.raiseHold = 2;
    p.clearHold = 3;
    p.rdsLost = 1000;
    const struct {
        int64_t second;
        double level, deviation, mpxPower;
        bool gone;           // the band receiver lost the station
        const char* events;  // "kind+" raised, "kind-" cleared, space-separated
    } steps[] = {
        {0, -30, 70, -1.0, false, ""},
        {1, -30, 76.5, -0.5, false, ""},  // within the tolerance
        {2, -30, 78, 0.5, false, ""},     // both over: held 2 s
        {3, -30, 78, 0.5, false, ""},
        {4, -30, 78, 0.5, false, "deviation+ mpx-power+"},
        {5, -30, 70, 0.2, false, ""},
        {8, -30, 70, -0.1, false, "deviation-"},  // cleared 3 s after it went
        {11, -30, 70, -0.1, false, "mpx-power-"},
        {12, -65, 70, -0.1, false, ""},  // too weak: the carrier-lost hold is 5 s
        {16, -65, 70, -0.1, false, ""},
        {17, -65, 70, -0.1, false, "carrier-lost+"},
        {18, -30, 70, -0.1, false, ""},
        {21, -30, 70, -0.1, false, "carrier-lost-"},
        {30, -30, 90, 2.0, true, ""},  // lost: its last figures raise nothing
        {35, -30, 90, 2.0, true, "carrier-lost+"},
        {36, -30, 70, -1.0, false, ""},
        {39, -30, 70, -1.0, false, "carrier-lost-"},
    };
    StationAlarms alarms("north", "98.5", &p, 0);
    rdsformats::StationState state;
    for (const auto& step : steps) {
        const int64_t now = step.second * 100;
        state.signal.levelDbfs = step.level;
        state.signal.deviationKHz = step.deviation;
        state.signal.mpxPowerDbr = step.mpxPower;
        alarms.carrierGone(step.gone, now);
        std::vector<AlarmEvent> out;
        alarms.evaluate(state, now, out);
        std::string events;
        for (const AlarmEvent& e : out) {
            events += (events.empty() ? "" : " ") + e.kind + (e.raised ? "+" : "-");
            EXPECT_EQ(e.time, now) << e.kind << " at " << step.second;
        }
        EXPECT_EQ(events, step.events) << "at " << step.second << " s";
    }
}

}  // namespace
}  // namespace varnakd

// End to end: a generated recording whose PI changes, whose RDS stops for
// 20 s, whose clock is 5 min off and whose TA stays on; each alarm must be
// raised and cleared at its time, and reach two webhook receivers, one of
// which fails at first.
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlQuery>

#include "config.h"
#include "service_test_util.h"

namespace varnakd {
namespace {

std::string Station(const char* pi, bool ta, const char* ct)
{
    return std::string("pi ") + pi + "\npty 10\ntp 1\nta " + (ta ? "1" : "0") +
           "\nps \"KESTREL \"\nrt A \"Radio Kestrel\"\nct " + ct + " +1\n";
}

TEST(AlarmRunTest, RecordingRaisesAndClearsEachAlarmOnTime)
{
    test::App();
    QTemporaryDir dir;
    const QString d = dir.path();
    // Parts: 0..30 s fine, 30..50 s noise, 50..80 s another PI with the
    // clock 5 min ahead, 80..170 s TA on, 170..190 s TA off.
    std::string bits = test::Generate(d, Station("0xC2A1", false, "2026-12-08 19:55:00"), {"-d", "30"});
    bits += test::Generate(d, Station("0xC2A1", false, "2026-12-08 19:55:30"), {"-d", "20", "--error-rate", "0.5"});
    bits += test::Generate(d, Station("0xC2A2", false, "2026-12-08 20:00:50"), {"-d", "30"});
    bits += test::Generate(d, Station("0xC2A1", true, "2026-12-08 19:56:20"), {"-d", "90"});
    bits += test::Generate(d, Station("0xC2A1", false, "2026-12-08 19:57:50"), {"-d", "20"});
    ASSERT_EQ(bits.size(), 35625u * 2 + 23750 * 2 + 106875);
    test::Write(d + "/rec.txt", bits);

    test::HookServer good(0), flaky(2);
    test::Write(d + "/v.conf", "[service]\nsite = north\nstate = " + d.toStdString() +
                                   "\n[source rec]\nkind = bits\npath = " + (d + "/rec.txt").toStdString() +
                                   "\nfrequency = 98.5\nstart = 2026-12-08T19:55:00Z\n"
                                   "[station 98.5]\npi = C2A1\nps = KESTREL\npty = 10\nrds-lost = 10\nta-max = 1\n"
                                   "clock-offset = 60\n"
                                   "[webhook good]\nurl = " +
                                   good.url().toStdString() + "\n[webhook flaky]\nurl = " + flaky.url().toStdString() +
                                   "\nbackoff = 0.05\n");
    const test::Run run = test::RunVarnakd(d + "/v.conf");
    ASSERT_EQ(run.exitCode, 0) << run.log;

    const int64_t t0 = *ParseUtcTime("2026-12-08T19:55:00Z");
    // alarm, raised, earliest and latest time (s after the start)
    const test::ExpectedAlarm expected[] = {
        {"rds-lost", true, 39.5, 40.1}, {"rds-lost", false, 50.0, 51.5}, {"pi", true, 50.0, 51.5},
        {"clock", true, 50.0, 51.5},    {"pi", false, 80.0, 81.5},       {"clock", false, 80.0, 81.5},
        {"ta", true, 140.0, 141.5},     {"ta", false, 170.0, 171.5},
    };
    for (const test::HookServer* server : {&good, &flaky}) {
        ASSERT_EQ(server->bodies.size(), std::size(expected)) << run.log;
        for (const auto& e : expected) {
            bool found = false;
            for (const std::string& body : server->bodies) {
                const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(body)).object();
                if (o["alarm"].toString() != e.alarm || (o["state"].toString() == "raised") != e.raised) continue;
                found = true;
                const double at = double(*ParseUtcTime(o["time"].toString().toStdString()) - t0) / 100;
                EXPECT_GE(at, e.from) << body;
                EXPECT_LE(at, e.to) << body;
                EXPECT_EQ(o["site"].toString(), "north");
                EXPECT_EQ(o["name"].toString(), "98.5");
            }
            EXPECT_TRUE(found) << e.alarm << (e.raised ? " raised" : " cleared") << "\n" << run.log;
        }
    }
    EXPECT_EQ(flaky.requests, int(std::size(expected)) + 2);
    // The database holds the same alarms, each raised and cleared.
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "alarm-run");
        db.setDatabaseName(d + "/varnakd.db");
        ASSERT_TRUE(db.open());
        QSqlQuery q("SELECT kind, cleared - raised > 0 FROM alarms ORDER BY kind", db);
        std::string rows;
        while (q.next()) rows += q.value(0).toString().toStdString() + q.value(1).toString().toStdString() + ' ';
        EXPECT_EQ(rows, "clock1 pi1 rds-lost1 ta1 ");
        q.exec("SELECT text FROM texts WHERE kind = 'ps'");
        EXPECT_TRUE(q.next() && q.value(0).toString() == "KESTREL ");
        q.exec("SELECT COUNT(*), SUM(groups) FROM quality");
        EXPECT_TRUE(q.next() && q.value(0).toInt() >= 3 && q.value(1).toInt() > 1500);
    }
    QSqlDatabase::removeDatabase("alarm-run");
    EXPECT_NE(run.log.find("delivered after 2 retries"), std::string::npos) << run.log;
}

}  // namespace
}  // namespace varnakd

namespace varnakd {
namespace {

// A live source that cannot be opened raises the source alarm and is tried
// again; once it delivers, the alarm clears; a signal ends the service
// cleanly.
TEST(AlarmRunTest, FailingLiveSourceIsRetriedAndReported)
{
    test::App();
    QTemporaryDir dir;
    const QString d = dir.path();
    test::Write(d + "/v.conf", "[service]\nsite = s\nstate = " + d.toStdString() +
                                   "\n[source rx]\nkind = bits\nlive = yes\nretry = 0.2\npath = " +
                                   (d + "/later.txt").toStdString() + "\n");
    // A recording that cannot be read ends the run as a failure.
    test::Write(d + "/r.conf", "[service]\nstate = " + d.toStdString() +
                                   "\n[source rec]\nkind = bits\npath = " + (d + "/none.txt").toStdString() + "\n");
    const test::Run missing = test::RunVarnakd(d + "/r.conf");
    EXPECT_EQ(missing.exitCode, 1) << missing.log;
    EXPECT_NE(
        missing.log.find("varnakd: source rec: " + (d + "/none.txt").toStdString() + ": No such file or directory"),
        std::string::npos)
        << missing.log;

    QProcess p;
    p.start(VARNAKD_PATH, {"--config", d + "/v.conf"});
    std::string log;
    const auto waitFor = [&](const std::string& text) {
        for (int i = 0; i < 200 && log.find(text) == std::string::npos; ++i) {
            p.waitForReadyRead(50);
            log += p.readAllStandardError().toStdString();
        }
        return log.find(text) != std::string::npos;
    };
    ASSERT_TRUE(waitFor("varnakd: s/rx: alarm source raised")) << log;
    EXPECT_NE(log.find("later.txt: No such file or directory"), std::string::npos) << log;
    test::Write(d + "/later.txt", test::Generate(d, "pi 0xC2A1\nps \"KESTREL \"\n", {"-d", "2"}));
    EXPECT_TRUE(waitFor("varnakd: s/rx: alarm source cleared")) << log;
    EXPECT_TRUE(waitFor("input ended; opening it again")) << log;
    EXPECT_EQ(p.state(), QProcess::Running);
    p.terminate();
    ASSERT_TRUE(p.waitForFinished(10000));
    log += p.readAllStandardError().toStdString();
    EXPECT_EQ(p.exitCode(), 0) << log;
    EXPECT_NE(log.find("varnakd: stopping"), std::string::npos) << log;
}

}  // namespace
}  // namespace varnakd

namespace varnakd {
namespace {

// Every kind of source gives the same station: bit text, hexadecimal text,
// a group log and the multiplex (WAV), several at once in one service.
TEST(AlarmRunTest, EverySourceKindGivesTheStation)
{
    test::App();
    QTemporaryDir dir;
    const QString d = dir.path();
    const std::string station = "pi 0xC2A1\nps \"KESTREL \"\nrt A \"Radio Kestrel\"\n";
    test::Write(d + "/s.rds", station);
    const auto gen = [&](const QStringList& options) {
        QProcess p;
        p.start(RDSGEN_PATH, QStringList{d + "/s.rds", "-d", "5"} + options);
        return p.waitForFinished(60000) && p.exitCode() == 0;
    };
    ASSERT_TRUE(gen({"-o", d + "/s.txt", "--list-groups", d + "/s.log"}));
    ASSERT_TRUE(gen({"--hex", "-o", d + "/s.hex"}));
    ASSERT_TRUE(gen({"--mpx", "-o", d + "/s.wav"}));
    ASSERT_TRUE(gen({"--mpx", "--no-pilot", "-o", d + "/nopilot.wav"}));
    std::string config = "[service]\nsite = s\nstate = " + d.toStdString() + "\n";
    for (const char* kind : {"bits", "hex", "grouplog", "mpx"}) {
        const char* file = std::string(kind) == "bits"       ? "s.txt"
                           : std::string(kind) == "hex"      ? "s.hex"
                           : std::string(kind) == "grouplog" ? "s.log"
                                                             : "s.wav";
        config +=
            std::string("[source ") + kind + "]\nkind = " + kind + "\npath = " + d.toStdString() + "/" + file + "\n";
    }
    // A PS pattern: one the station misses, one it matches.
    config += "[station bits]\nps-pattern = NEWS.*\n[station hex]\nps-pattern = KES[A-Z]+ *\n";
    // Pilot expected: present in one multiplex, left out of the other.
    config += "[station mpx]\npilot = yes\n[source nopilot]\nkind = mpx\npath = " + d.toStdString() +
              "/nopilot.wav\n[station nopilot]\npilot = yes\n";
    test::Write(d + "/v.conf", config);
    const test::Run run = test::RunVarnakd(d + "/v.conf");
    ASSERT_EQ(run.exitCode, 0) << run.log;
    EXPECT_NE(run.log.find("s/bits: alarm ps raised"), std::string::npos) << run.log;
    EXPECT_EQ(run.log.find("s/hex: alarm ps"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("s/nopilot: alarm pilot raised"), std::string::npos) << run.log;
    EXPECT_EQ(run.log.find("s/mpx: alarm pilot"), std::string::npos) << run.log;
    for (const char* kind : {"bits", "hex", "grouplog", "mpx"})
        EXPECT_NE(run.log.find(std::string("varnakd: s/") + kind + ": C2A1 'KESTREL '"), std::string::npos)
            << kind << "\n"
            << run.log;
}

// A band source: every station of an IQ capture becomes a station of the
// service, named by its frequency, with its profile's alarms.
TEST(AlarmRunTest, BandSourceGivesEveryStationOfTheCapture)
{
    test::App();
    QTemporaryDir dir;
    const QString d = dir.path();
    test::Write(d + "/a.rds", "pi 0xC2A1\nps \"KESTREL \"\n");
    test::Write(d + "/b.rds", "pi 0xD3B2\nps \"HERON   \"\n");
    QProcess gen;
    gen.start(RDSGEN_PATH, {"--iq", "cu8", "--rate", "1.2M", "--center", "98M", "--station", "97.7M:" + d + "/a.rds",
                            "--station", "98.3M:" + d + "/b.rds:-6", "--cn", "30", "-d", "3", "-o", d + "/cap.cu8"});
    ASSERT_TRUE(gen.waitForFinished(120000) && gen.exitCode() == 0) << gen.readAllStandardError().toStdString();
    const std::string config = "[service]\nsite = s\nstate = " + d.toStdString() +
                               "\n[source air]\nband = yes\npath = " + d.toStdString() +
                               "/cap.cu8\niq = cu8\nrate = 1.2M\ncenter = 98M\n[station 98.3]\npi = D3B2\n"
                               "[station 97.7]\npi = 1234\n";
    test::Write(d + "/v.conf", config);
    const test::Run run = test::RunVarnakd(d + "/v.conf");
    ASSERT_EQ(run.exitCode, 0) << run.log;
    EXPECT_NE(run.log.find("varnakd: s/97.7: C2A1 'KESTREL '"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("varnakd: s/98.3: D3B2 'HERON   '"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("s/97.7: alarm pi raised"), std::string::npos) << run.log;
    EXPECT_EQ(run.log.find("s/98.3: alarm pi"), std::string::npos) << run.log;
}

}  // namespace
}  // namespace varnakd
