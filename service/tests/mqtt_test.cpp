// MQTT with a real broker: two sites publish their retained states, alarms
// and status; alarm events held while the broker is away arrive after it
// returns.
#include <gtest/gtest.h>

#include <QSqlDatabase>
#include <QSqlQuery>

#include "service_test_util.h"

namespace varnakd {
namespace {

const char* const kStation =
    "pi 0xC2A1\npty 10\ntp 1\nps \"KESTREL \"\nrt A \"Radio Kestrel\"\n"
    "ct 2026-12-08 19:55:00 +1\n";

std::string SiteConfig(const QString& dir, const std::string& site, const char* expectedPi, int port)
{
    return "[service]\nsite = " + site + "\nstate = " + dir.toStdString() + "/" + site +
           "\n[source fm]\nkind = bits\npath = " + (dir + "/rec.txt").toStdString() +
           "\nfrequency = 98.5\nstart = 2026-12-08T19:55:00Z\n[station 98.5]\npi = " + expectedPi +
           "\n[mqtt]\nport = " + std::to_string(port) + "\n";
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(MqttTest, TwoSitesPublishRetainedStatesAlarmsAndStatus)
{
    test::App();
    QTemporaryDir dir;
    const QString d = dir.path();
    test::Write(d + "/rec.txt", test::Generate(d, kStation, {"-d", "20"}));
    test::Broker broker(d);
    ASSERT_TRUE(broker.start());
    test::Write(d + "/north.conf", SiteConfig(d, "north", "C2A2", broker.port()) + "groups = yes\n");
    test::Write(d + "/south.conf", SiteConfig(d, "south", "C2A1", broker.port()));
    QProcess events, groups;
    events.start("mosquitto_sub",
                 {"-h", "127.0.0.1", "-p", QString::number(broker.port()), "-v", "-t", "varnak/+/+/alarm"});
    groups.start("mosquitto_sub", {"-h", "127.0.0.1", "-p", QString::number(broker.port()), "-v", "-t",
                                   "varnak/+/+/groups", "-C", "1", "-W", "30"});
    QThread::msleep(300);
    const auto runs = test::RunVarnakds({d + "/north.conf", d + "/south.conf"});
    for (const auto& run : runs) ASSERT_EQ(run.exitCode, 0) << run.log;

    const std::string retained = test::Subscribe(broker.port(), {"-v", "-t", "varnak/#", "-W", "2"});
    for (const char* site : {"north", "south"}) {
        const std::string s = site;
        EXPECT_TRUE(Has(retained, "varnak/" + s + "/status offline")) << retained;
        EXPECT_TRUE(Has(retained, "varnak/" + s + "/98.5/state {\"site\":\"" + s +
                                      "\",\"name\":\"98.5\",\"freq\":98.50,\"pi\":\"C2A1\",\"ps\":\"KESTREL \""))
            << retained;
    }
    EXPECT_TRUE(Has(retained, "varnak/north/98.5/alarms [{\"site\":\"north\",\"name\":\"98.5\",\"alarm\":\"pi\""))
        << retained;
    EXPECT_FALSE(Has(retained, "varnak/south/98.5/alarms")) << retained;
    events.terminate();
    events.waitForFinished();
    const std::string seen = events.readAllStandardOutput().toStdString();
    EXPECT_TRUE(Has(seen,
                    "varnak/north/98.5/alarm {\"site\":\"north\",\"name\":\"98.5\",\"alarm\":\"pi\","
                    "\"state\":\"raised\",\"time\":\"2026-12-08T19:55:00.08Z\""))
        << seen;
    EXPECT_FALSE(Has(seen, "varnak/south/")) << seen;
    // Every group, as murlin-decode --json writes it, from the site that asked.
    groups.waitForFinished(30000);
    const std::string group = groups.readAllStandardOutput().toStdString();
    EXPECT_TRUE(Has(group,
                    "varnak/north/98.5/groups {\"group\":\"4A\",\"type\":4,\"version\":\"A\","
                    "\"rxTime\":\"2026-12-08T19:55:00.08Z\",\"pi\":\"C2A1\""))
        << group;
}

TEST(MqttTest, HeldAlarmEventsArriveAfterTheBrokerReturns)
{
    test::App();
    QTemporaryDir dir;
    const QString d = dir.path();
    test::Write(d + "/rec.txt", test::Generate(d, kStation, {"-d", "20"}));
    test::Broker broker(d);  // not started: the service begins without it
    test::Write(d + "/north.conf", SiteConfig(d, "north", "C2A2", broker.port()));
    QProcess events;
    const auto runs = test::RunVarnakds({d + "/north.conf"}, [&] {
        // The run is over by now, its alarm held; the client tries again
        // 1 s and 3 s after its first attempt.
        QThread::msleep(1500);
        ASSERT_TRUE(broker.start());
        events.start("mosquitto_sub", {"-h", "127.0.0.1", "-p", QString::number(broker.port()), "-v", "-t",
                                       "varnak/+/+/alarm", "-C", "1", "-W", "20"});
    });
    ASSERT_EQ(runs[0].exitCode, 0) << runs[0].log;
    EXPECT_TRUE(Has(runs[0].log, "delivering 1 held alarm events")) << runs[0].log;
    events.waitForFinished(20000);
    const std::string got = events.readAllStandardOutput().toStdString();
    EXPECT_TRUE(Has(got, "varnak/north/98.5/alarm {\"site\":\"north\",\"name\":\"98.5\",\"alarm\":\"pi\"")) << got;
}

}  // namespace
}  // namespace varnakd
