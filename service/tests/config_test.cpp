// The configuration: every problem named with its line, and what a good
// file gives.
#include <gtest/gtest.h>

#include "config.h"
#include "service_test_util.h"

namespace varnakd {
namespace {

std::vector<ConfigProblem> Problems(const std::string& text)
{
    std::vector<ConfigProblem> problems;
    ParseConfig(text, problems);
    return problems;
}

TEST(ConfigTest, ReadsAGoodFile)
{
    std::vector<ConfigProblem> problems;
    const ServiceConfig c = ParseConfig(R"(# a site
[service]
site = tower1
state = /tmp/x

[source fm]
kind = mpx
path = "/run/rtl fm"   # quoted: spaces kept
rate = 171k0
frequency = 98.50

[source log]
kind = grouplog
path = groups.txt
start = 2026-12-08T19:55:57Z

[station 98.5]
pi = C2A1
ps = KESTREL, NEWS
af = 97.4 89.1 531
ta-max = 5
block-error-rate = 10
max-deviation = 75
deviation-tolerance = 2.5
max-mpx-power = 0
min-level = -70
carrier-lost = 30

[source dc1]
kind = card
port = 33234
serial = 00012345
input = 2
)",
                                        problems);
    ASSERT_EQ(problems.size(), 1u);  // "171k0" is no number
    EXPECT_EQ(problems[0].line, 9);
    EXPECT_EQ(c.site, "tower1");
    ASSERT_EQ(c.sources.size(), 3u);
    EXPECT_EQ(c.sources[2].serial, "00012345");
    EXPECT_EQ(c.sources[2].input, 2);
    EXPECT_TRUE(c.sources[2].live);
    EXPECT_EQ(c.sources[0].path, "/run/rtl fm");
    EXPECT_EQ(c.sources[0].stationName(), "98.5");
    EXPECT_EQ(c.sources[1].stationName(), "log");
    EXPECT_EQ(c.sources[1].start, int64_t(1796759757) * 100);
    ASSERT_EQ(c.stations.size(), 1u);
    const StationProfile& p = c.stations[0];
    EXPECT_EQ(p.key, "98.5");
    EXPECT_EQ(p.pi, 0xC2A1);
    EXPECT_EQ(p.ps, (std::vector<std::string>{"KESTREL", "NEWS"}));
    EXPECT_EQ(p.af, (std::set<int>{97400, 89100, 531}));
    EXPECT_EQ(p.taMax, 300.0);
    EXPECT_DOUBLE_EQ(*p.blockErrorRate, 0.1);
    EXPECT_EQ(p.maxDeviation, 75.0);
    EXPECT_EQ(p.deviationTolerance, 2.5);
    EXPECT_EQ(p.maxMpxPower, 0.0);
    EXPECT_EQ(p.minLevel, -70.0);
    EXPECT_EQ(p.carrierLost, 30.0);
}

TEST(ConfigTest, NamesEachProblemWithItsLine)
{
    const struct {
        const char* text;
        int line;
        const char* message;
    } cases[] = {
        {"x = 1\n", 1, "setting before the first section"},
        {"[service]\nsite\n", 2, "expected 'key = value'"},
        {"[services]\n", 1, "unknown section [services]"},
        {"[service]\nsite = a\nsite = b\n", 3, "'site' is given twice"},
        {"[service]\nsite = a/b\n", 1, "site: 'a/b' holds a character MQTT topics cannot carry"},
        {"[source a]\nkind = mpx\n", 1, "source 'a': no path"},
        {"[source a]\nkind = tape\n", 1, "source 'a': unknown kind 'tape'"},
        {"[source a]\nband = yes\ncentre = 98M\n", 3, "unknown setting 'centre' in [source]"},
        {"[source a]\nkind = bits\npath = x\nrate = 1\n", 4, "rate: '1' is not a number from 128000 to 384000"},
        {"[source a]\nkind = bits\npath = x\nspeed = 2\n", 4, "unknown setting 'speed' in [source]"},
        {"[source a]\nkind = bits\npath = x\nstart = yesterday\n", 4,
         "start: 'yesterday' is not a time like 2026-12-08T19:55:57Z"},
        {"[source a]\nkind = bits\npath = x\nstart = 2026-12-08T20:55:57+01:00\n", 4,
         "start: '2026-12-08T20:55:57+01:00' is not a time like 2026-12-08T19:55:57Z"},
        {"[source a]\nkind = bits\npath = x\n[station a]\npi = C2G1\n", 5, "pi: 'C2G1' is not four hexadecimal digits"},
        {"[source a]\nkind = bits\npath = x\n[station a]\nps = A\nps-pattern = B.*\n", 4,
         "ps and ps-pattern contradict: give one"},
        {"[source a]\nkind = bits\npath = x\n[station a]\nps-pattern = (\n", 5,
         "ps-pattern: '(' is not a valid pattern"},
        {"[source a]\nkind = bits\npath = x\n[station 99.1]\n", 4, "station '99.1': no source receives it"},
        {"[source a]\nkind = bits\npath = x\n[mqtt]\npassword = hunter2\n", 5,
         "password: give it in a file with password-file, not in the configuration"},
        {"[source a]\nkind = bits\npath = x\n[webhook w]\nurl = ftp://x\n", 4,
         "webhook: url must start with http:// or https://"},
        {"[service]\n", 0, "no [source NAME] section: nothing to watch"},
        {"[source a]\nkind = bits\npath = x\n[web]\nlisten = 0.0.0.0:8080\n", 5,
         "listen: 0.0.0.0 is not a loopback address: give token-file too, so that only holders of the token are "
         "answered"},
        {"[source a]\nkind = bits\npath = x\n[web]\nlisten = [::]:80\n", 5,
         "listen: :: is not a loopback address: give token-file too, so that only holders of the token are answered"},
        {"[source a]\nkind = bits\npath = x\n[web]\nlisten = 127.0.0.1:99999\n", 5,
         "listen: '127.0.0.1:99999' is not ADDRESS:PORT like 127.0.0.1:8080"},
        {"[source a]\nkind = bits\npath = x\n[web]\nlisten = example.org:80\n", 5,
         "listen: 'example.org:80' is not ADDRESS:PORT like 127.0.0.1:8080"},
        {"[source a]\nkind = bits\npath = x\n[web]\ntoken = s3cret\n", 5,
         "token: give it in a file with token-file, not in the configuration"},
        {"[source a]\nkind = bits\npath = x\n[web]\nclients = 0\n", 5, "clients: '0' is not a number from 1 to 100000"},
        {"[source c]\nkind = card\n", 1, "source 'c': a card source needs the server's port"},
        {"[source c]\nkind = card\nport = 33234\ncard = 1\nserial = 0001\n", 1,
         "source 'c': give card or serial, not both"},
        {"[source c]\nkind = card\nport = 33234\ninput = 7\n", 4, "input: '7' is not a number from 1 to 6"},
        {"[source c]\nkind = bits\npath = x\ncard = 2\n", 4, "card: only for card sources"},
        {"[source a]\nkind = bits\npath = x\nfull-scale-khz = 75\n", 1, "full-scale-khz: only for mpx sources"},
        {"[source a]\nkind = bits\npath = x\nlive = yes\nrealtime = 20\n", 1,
         "realtime: only for recordings (live inputs come at their own pace)"},
        {"[source a]\nkind = bits\npath = x\n[station a]\nmax-deviation = fast\n", 5,
         "max-deviation: 'fast' is not a number from 1 to 200"},
        {"[source a]\nkind = bits\npath = x\n[station a]\nmax-mpx-power = 40\n", 5,
         "max-mpx-power: '40' is not a number from -30 to 30"},
    };
    for (const auto& c : cases) {
        const auto problems = Problems(c.text);
        ASSERT_FALSE(problems.empty()) << c.text;
        bool found = false;
        for (const auto& p : problems) found = found || (p.line == c.line && p.message == c.message);
        EXPECT_TRUE(found) << c.text << "\nfirst: " << problems[0].line << ": " << problems[0].message;
    }
}

TEST(ConfigTest, SecretsStayOutOfMessages)
{
    for (const char* text : {"[source a]\nkind = bits\npath = x\n[mqtt]\npassword = hunter2\n",
                             "[source a]\nkind = bits\npath = x\n[web]\ntoken = hunter2\n"})
        for (const auto& p : Problems(text)) EXPECT_EQ(p.message.find("hunter2"), std::string::npos);
}

TEST(ConfigTest, WebListensOnLoopbackUnlessATokenIsGiven)
{
    const struct {
        const char* web;
        const char* address;
        int port;
    } cases[] = {
        {"", "127.0.0.1", 8080},
        {"listen = 9000\n", "127.0.0.1", 9000},
        {"listen = [::1]:9001\n", "::1", 9001},
        {"listen = localhost:9002\n", "localhost", 9002},
        {"listen = 192.0.2.7:443\ntoken-file = /etc/varnak/web-token\n", "192.0.2.7", 443},
    };
    for (const auto& c : cases) {
        std::vector<ConfigProblem> problems;
        const ServiceConfig config =
            ParseConfig(std::string("[source a]\nkind = bits\npath = x\n[web]\n") + c.web, problems);
        EXPECT_TRUE(problems.empty()) << c.web << problems[0].message;
        EXPECT_TRUE(config.web.enabled);
        EXPECT_EQ(config.web.address, c.address);
        EXPECT_EQ(config.web.port, c.port);
    }
}

// The program: the example configuration passes; a bad file is refused
// with each problem on a line of its own, and exit status 2.
TEST(ConfigTest, CheckConfigReportsEveryProblem)
{
    const struct {
        std::string text;
        int status;
        std::string output;
    } cases[] = {
        {test::ReadAll(EXAMPLE_CONFIG), 0, ""},
        {"[service]\nsite = a b\n[source x]\nkind = mpx\n", 2,
         "c.conf:1: site: 'a b' holds a character MQTT topics cannot carry\nc.conf:3: source 'x': no path\n"},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        test::Write(dir.path() + "/c.conf", c.text);
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.start(VARNAKD_PATH, {"--check-config", "c.conf"});
        ASSERT_TRUE(p.waitForFinished(30000));
        EXPECT_EQ(p.exitCode(), c.status);
        EXPECT_EQ(p.readAllStandardError().toStdString(), c.output);
    }
}

}  // namespace
}  // namespace varnakd
