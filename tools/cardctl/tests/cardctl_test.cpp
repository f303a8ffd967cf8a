// cardctl as a program, against cardsim on a free port: JSON event lines,
// exit codes, and an end-to-end live run whose saved hexadecimal text must
// decode to the same groups as the recording that cardsim streamed.
#include "event_printer.h"

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

using namespace cardctl;

namespace {

QString binary(const char* name) { return QCoreApplication::applicationDirPath() + "/" + name; }

struct Result {
    int exitCode = -1;
    QByteArray out, err;
};

Result run(const QString& program, const QStringList& args, int timeoutMs = 60000)
{
    QProcess p;
    p.start(program, args);
    Result r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

// cardsim on a free port for the length of a test.
class Sim {
public:
    explicit Sim(const QStringList& args)
    {
        process_.start(binary("cardsim"), QStringList{"--port", "0"} + args);
        if (process_.waitForStarted(5000) && process_.waitForReadyRead(10000)) {
            const QByteArray line = process_.readLine().trimmed();
            port_ = line.mid(line.lastIndexOf(':') + 1);
        }
    }
    ~Sim()
    {
        process_.kill();
        process_.waitForFinished(3000);
    }
    QString port() const { return port_; }

private:
    QProcess process_;
    QString port_;
};

std::vector<QJsonObject> jsonLines(const QByteArray& out)
{
    std::vector<QJsonObject> lines;
    for (const QByteArray& l : out.split('\n'))
        if (!l.isEmpty()) lines.push_back(QJsonDocument::fromJson(l).object());
    return lines;
}

}  // namespace

TEST(CardCtlJson, FieldsKeepTheirOrderAndTextIsEscaped)
{
    EXPECT_EQ(jsonLine({{"event", "OnCardError"}, {"error", "ERR_XML"}, {"desc", "a\"b\\c\r\n\x01"}}),
              "{\"event\":\"OnCardError\",\"error\":\"ERR_XML\",\"desc\":\"a\\\"b\\\\c\\r\\n\\u0001\"}");
    EXPECT_EQ(jsonLine({{"result", 10999}, {"ok", false}, {"t", QString::fromLatin1("\xe9")}}),
              "{\"result\":10999,\"ok\":false,\"t\":\"\xc3\xa9\"}");
    EXPECT_EQ(encodingName(quesmer::ENC_B64MIME), "base64-mime");
}

TEST(CardCtl, SearchPrintsEventsThenTheResult)
{
    Sim sim({});
    ASSERT_FALSE(sim.port().isEmpty());
    const Result r = run(binary("cardctl"), {"--port", sim.port(), "search"});
    EXPECT_EQ(r.exitCode, 0) << r.err.data();
    const auto lines = jsonLines(r.out);
    ASSERT_EQ(lines.size(), 3u) << r.out.data();
    EXPECT_EQ(lines[0].value("event").toString(), "OnServerInformation");
    EXPECT_EQ(lines[1].value("event").toString(), "OnCardStatus");
    EXPECT_EQ(lines[1].value("number").toInt(), 1);
    EXPECT_EQ(lines[1].value("serial").toString(), "00012345");
    EXPECT_TRUE(r.out.split('\n')[0].startsWith("{\"event\":"));
    EXPECT_EQ(lines[2].value("result").toInt(), 0);
    EXPECT_EQ(lines[2].value("text").toString(), "");
}

TEST(CardCtl, ExitsZeroOnlyWhenWhatWasAskedHappened)
{
    // Nothing listens on a port that was just free.
    QString closedPort;
    {
        Sim probe({});
        closedPort = probe.port();
    }
    const Result refused = run(binary("cardctl"), {"--port", closedPort, "search"});
    EXPECT_EQ(refused.exitCode, 1);
    const auto lines = jsonLines(refused.out);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].value("result").toInt(), 10061);
    EXPECT_TRUE(refused.err.contains("Err:10061 - Connection refused")) << refused.err.data();

    QTemporaryDir dir;
    const QString emptyCards = dir.filePath("cards.txt");
    QFile cards(emptyCards);
    ASSERT_TRUE(cards.open(QIODevice::WriteOnly));
    cards.write("1;DC1;dc1-0;S1;yes;no-card\n");
    cards.close();

    // Server options, cardctl arguments, exit status, what standard error
    // says, and an event that must not appear on standard output.
    struct Case {
        QStringList sim, args;
        int exitCode;
        QByteArray err, absent;
    };
    const std::vector<Case> cases = {
        {{"--cards", emptyCards}, {"search"}, 0, "", "OnCardStatus"},  // an empty list is an answer
        {{"--fault", "close"}, {"search"}, 1, "no card list from 127.0.0.1:", "\"result\":0"},
        {{},
         {"--serial", "nope", "live"},
         1,
         "Err:-1 - Connect Error: no card with serial number \"nope\" in the card list",
         "OnCardConnected"},
        // The server has no card 5: its error is told and the set-up skipped.
        {{}, {"--card", "5", "live"}, 1, "cannot connect card 5 on 127.0.0.1:", "OnCardGetMode"},
        // A card that never streams: no data within --seconds after the set-up.
        {{}, {"--card", "1", "--seconds", "0.5", "live"}, 1, "no data from card 1", ""},
    };
    for (const Case& c : cases) {
        Sim sim(c.sim);
        ASSERT_FALSE(sim.port().isEmpty());
        const Result r = run(binary("cardctl"), QStringList{"--port", sim.port()} + c.args);
        const std::string what = c.args.join(' ').toStdString();
        EXPECT_EQ(r.exitCode, c.exitCode) << what << "\n" << r.err.data();
        EXPECT_TRUE(r.err.contains(c.err)) << what << "\n" << r.err.data();
        if (!c.absent.isEmpty()) {
            EXPECT_FALSE(r.out.contains(c.absent)) << what << "\n" << r.out.data();
        }
    }
}

TEST(CardCtl, UsageErrorsExitTwo)
{
    for (const QStringList& args :
         {QStringList{}, QStringList{"dance"}, QStringList{"--port", "x", "search"}, QStringList{"live"},
          QStringList{"--card", "1", "--serial", "s", "live"}, QStringList{"--card", "9", "live"},
          QStringList{"--card", "1", "--seconds", "-1", "live"}, QStringList{"--card", "1", "--input", "0", "live"},
          QStringList{"--port"}}) {
        const Result r = run(binary("cardctl"), args);
        EXPECT_EQ(r.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(r.err.startsWith("cardctl: ")) << r.err.data();
        EXPECT_TRUE(r.err.endsWith("\nTry 'cardctl --help'.\n")) << r.err.data();
    }
    const Result help = run(binary("cardctl"), {"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains("--hex-out"));
    EXPECT_TRUE(help.out.contains("since the first data arrived"));
}

TEST(CardTools, FollowTheCommandLineConventionsOfTheSuite)
{
    for (const QString program : {"cardctl", "cardsim"}) {
        const Result bogus = run(binary(qPrintable(program)), {"--bogus"});
        EXPECT_EQ(bogus.exitCode, 2);
        EXPECT_EQ(bogus.err, (program + ": unknown option '--bogus'\nTry '" + program + " --help'.\n").toLatin1());
        const Result version = run(binary(qPrintable(program)), {"--version"});
        EXPECT_EQ(version.exitCode, 0);
        EXPECT_EQ(version.out, (program + " " VARNAK_VERSION "\n").toLatin1());
        const Result help = run(binary(qPrintable(program)), {"--help"});
        EXPECT_EQ(help.exitCode, 0);
        EXPECT_TRUE(help.out.startsWith(("Usage: " + program + " [options]").toLatin1())) << help.out.left(80).data();
    }
}

TEST(CardCtl, AFastLiveStreamArrivesWholeAndDecodesLikeTheRecording)
{
    const QString decoder = binary("murlin-decode");
    if (!QFile::exists(decoder)) GTEST_SKIP() << "murlin-decode is not built beside the tests";
    QFile sample(VARNAK_SAMPLE_BITS);
    if (!sample.open(QIODevice::ReadOnly)) GTEST_SKIP() << "no sample recording at " VARNAK_SAMPLE_BITS;

    // About a hundred seconds of RDS, streamed at twenty times the bit rate
    // in batches every 10 ms (100 messages a second, five seconds long):
    // every bit must arrive while the start sequence runs and after it.
    QTemporaryDir dir;
    const QString bits = dir.filePath("bits.txt");
    QFile part(bits);
    ASSERT_TRUE(part.open(QIODevice::WriteOnly));
    const QByteArray recording = sample.read(120000);
    part.write(recording);
    part.close();
    const QString hex = dir.filePath("live.hex");

    Sim sim({"--bits", bits, "--speed", "20", "--batch-ms", "10"});
    ASSERT_FALSE(sim.port().isEmpty());
    const Result live =
        run(binary("cardctl"), {"--port", sim.port(), "--card", "1", "--seconds", "6.5", "--hex-out", hex, "live"});
    ASSERT_EQ(live.exitCode, 0) << live.err.data();
    const auto lines = jsonLines(live.out);
    int connected = 0, binaries = 0, disconnected = 0;
    qint64 bitCount = 0;
    for (const QJsonObject& l : lines) {
        connected += l.value("event").toString() == "OnCardConnected";
        disconnected += l.value("event").toString() == "OnCardDisconnected";
        if (l.value("event").toString() == "OnCardDataBinary") {
            ++binaries;
            bitCount += l.value("bitCount").toInt();
            EXPECT_EQ(l.value("encoding").toString(), "base16");
            EXPECT_EQ(l.value("length").toInt() * 4, (l.value("bitCount").toInt() + 7) / 8 * 8);
        }
    }
    EXPECT_EQ(connected, 1);
    EXPECT_EQ(disconnected, 0);
    EXPECT_GT(binaries, 100);
    EXPECT_EQ(bitCount, recording.size());

    const Result fromBits = run(decoder, {"-q", "-o", "-", bits});
    const Result fromHex = run(decoder, {"-q", "--hex", "-o", "-", hex});
    ASSERT_EQ(fromBits.exitCode, 0) << fromBits.err.data();
    ASSERT_EQ(fromHex.exitCode, 0) << fromHex.err.data();
    EXPECT_GT(fromBits.out.count("------------------------------------"), 50);
    EXPECT_EQ(fromHex.out, fromBits.out);
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
