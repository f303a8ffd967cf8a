// cardctl as a program, against cardsim on a free port: JSON event lines,
// exit codes, and an end-to-end live run whose saved hexadecimal text must
// decode to the same groups as the recording that cardsim streamed.
#include "event_printer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

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
        if (!l.isEmpty())
            lines.push_back(QJsonDocument::fromJson(l).object());
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

TEST(CardCtl, FailuresAndUsageErrors)
{
    // Nothing listens on a port that was just free.
    QString closedPort;
    {
        Sim probe({});
        closedPort = probe.port();
    }
    const Result search = run(binary("cardctl"), {"--port", closedPort, "search"});
    EXPECT_EQ(search.exitCode, 1);
    const auto lines = jsonLines(search.out);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].value("result").toInt(), 10061);
    EXPECT_FALSE(lines[0].value("text").toString().isEmpty());

    Sim sim({});
    const Result unknown = run(binary("cardctl"), {"--port", sim.port(), "--serial", "nope", "live"});
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_TRUE(unknown.err.contains("Err:-1 - Connect Error")) << unknown.err.data();

    for (const QStringList& args : {QStringList{}, QStringList{"dance"}, QStringList{"--port", "x", "search"},
                                    QStringList{"live"}, QStringList{"--card", "1", "--serial", "s", "live"},
                                    QStringList{"--card", "9", "live"}, QStringList{"--card", "1", "--seconds", "-1", "live"},
                                    QStringList{"--card", "1", "--input", "0", "live"}, QStringList{"--bogus"}}) {
        const Result r = run(binary("cardctl"), args);
        EXPECT_EQ(r.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_FALSE(r.err.isEmpty());
    }
    const Result help = run(binary("cardctl"), {"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains("--hex-out"));
}

TEST(CardCtl, LiveRunSavesHexThatDecodesLikeTheRecording)
{
    const QString decoder = binary("murlin-decode");
    if (!QFile::exists(decoder))
        GTEST_SKIP() << "murlin-decode is not built beside the tests";
    QFile sample(VARNAK_SAMPLE_BITS);
    if (!sample.open(QIODevice::ReadOnly))
        GTEST_SKIP() << "no sample recording at " VARNAK_SAMPLE_BITS;

    // About twenty seconds of RDS, streamed at eight times the bit rate: all
    // of it arrives during the five seconds of the start sequence.
    QTemporaryDir dir;
    const QString bits = dir.filePath("bits.txt");
    QFile part(bits);
    ASSERT_TRUE(part.open(QIODevice::WriteOnly));
    part.write(sample.read(24000));
    part.close();
    const QString hex = dir.filePath("live.hex");

    Sim sim({"--bits", bits, "--speed", "8"});
    ASSERT_FALSE(sim.port().isEmpty());
    const Result live = run(binary("cardctl"),
                         {"--port", sim.port(), "--card", "1", "--seconds", "1.5", "--hex-out", hex, "live"});
    ASSERT_EQ(live.exitCode, 0) << live.err.data();
    const auto lines = jsonLines(live.out);
    int connected = 0, binaries = 0;
    for (const QJsonObject& l : lines) {
        connected += l.value("event").toString() == "OnCardConnected";
        if (l.value("event").toString() == "OnCardDataBinary") {
            ++binaries;
            EXPECT_EQ(l.value("encoding").toString(), "base16");
            EXPECT_EQ(l.value("length").toInt() * 4, (l.value("bitCount").toInt() + 7) / 8 * 8);
        }
    }
    EXPECT_EQ(connected, 1);
    EXPECT_GT(binaries, 5);

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
