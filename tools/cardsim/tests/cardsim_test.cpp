// The decoder-card server simulator seen from a raw TCP client: handshake,
// card list, commands, bit streaming, faults, logging, and the program's
// command line.
#include "sim_server.h"

#include "quesmer/frame_reader.h"

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <optional>

using namespace cardsim;
using namespace quesmer;

namespace {

bool waitUntil(const std::function<bool()>& done, int ms = 5000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(200);
    }
    return true;
}

struct Frame {
    FrameHeader header;
    QByteArray payload;
    uint32_t code() const { return payload.size() >= 4 ? readU32(payload, 0) : 0; }
    QString xml() const { return QString::fromLatin1(payload.mid(4)); }
};

// A bare protocol client: reads frames with the shared FrameReader (which
// skips junk and joins fragments), counts arrivals.
class RawClient {
public:
    bool connectTo(quint16 port)
    {
        QObject::connect(&socket_, &QTcpSocket::readyRead, [this] {
            ++arrivals;
            reader_.push(socket_.readAll());
        });
        socket_.connectToHost("127.0.0.1", port);
        return waitUntil([&] { return socket_.state() == QAbstractSocket::ConnectedState; });
    }
    // The next control frame or whole message; nothing after `ms` without one.
    std::optional<Frame> next(int ms = 3000)
    {
        std::optional<Frame> out;
        waitUntil([&] { return (out = take()).has_value(); }, ms);
        return out;
    }
    // The next whole message; control frames on the way are collected.
    std::optional<Frame> message(int ms = 3000)
    {
        for (;;) {
            auto f = next(ms);
            if (!f || f->header.sequence >= 0) return f;
            controls.push_back(f->header.sequence);
        }
    }
    // Waits for a message whose XML contains `text`.
    std::optional<Frame> xmlWith(const QString& text, int ms = 3000)
    {
        while (auto f = message(ms))
            if (f->xml().contains(text)) return f;
        return std::nullopt;
    }
    void send(int32_t seq, const QByteArray& payload) { socket_.write(encodeFrame(seq, payload)); }
    void command(const QByteArray& body)
    {
        send(++seq_, xmlPayload("<Message version=\"1.0\">\r\n<Command>\r\n" + body + "</Command>\r\n</Message>\r\n"));
    }
    // HELLO -> client hello -> SERVER_INFO -> ack; returns the server information frame.
    std::optional<Frame> handshake()
    {
        auto hello = message();
        if (!hello || hello->code() != MSG_HELLO) return std::nullopt;
        send(hello->header.sequence, clientHelloPayload());
        auto info = message();
        if (!info || info->code() != MSG_SERVER_INFO) return std::nullopt;
        QByteArray ack;
        appendU32(ack, MSG_SERVER_INFO_ACK);
        send(info->header.sequence, ack);
        seq_ = info->header.sequence;
        return info;
    }
    bool closed() const { return socket_.state() == QAbstractSocket::UnconnectedState; }
    qsizetype skipped = 0;
    int arrivals = 0;
    std::vector<int32_t> controls;
    QTcpSocket socket_;

private:
    std::optional<Frame> take()
    {
        while (auto e = reader_.pop()) {
            if (e->kind == ReadEvent::Kind::Skipped)
                skipped += e->skipped;
            else if (e->kind == ReadEvent::Kind::Control || e->kind == ReadEvent::Kind::Message)
                return Frame{e->header, e->payload};
        }
        return std::nullopt;
    }
    FrameReader reader_{16 * 1024 * 1024};
    int32_t seq_ = 0;
};

QByteArray bitsOf(const QByteArray& text)
{
    QByteArray bits;
    for (char c : text) bits.append(c == '1' ? 1 : 0);
    return bits;
}

SessionOptions twoCards()
{
    SessionOptions o;
    o.cards = defaultCards();
    SimCard second;
    second.number = 2;
    second.name = "Spare <2>";
    second.serial = "00099999";
    second.status = "no-card";
    o.cards.append(second);
    return o;
}

const QByteArray kBitStreamMode =
    "<Set>\r\n<ParameterList>\r\n<Parameter name=\"modulation\" value=\"dbpsk\"/>\r\n"
    "<Parameter name=\"code\" value=\"hf-analysis-bit-stream\"/>\r\n\r\n</ParameterList>\r\n\r\n</Set>\r\n";
const QByteArray kConnectCard1 = "<Connect>\r\n<Card number=\"1\"/>\r\n</Connect>\r\n";

// Starts `server` on a free port, connects `client` and completes the handshake.
::testing::AssertionResult greet(SimServer& server, RawClient& client)
{
    QString error;
    if (!server.listen(QHostAddress::LocalHost, 0, &error)) return ::testing::AssertionFailure() << error.toStdString();
    if (!client.connectTo(server.port())) return ::testing::AssertionFailure() << "no connection";
    if (!client.handshake()) return ::testing::AssertionFailure() << "no handshake";
    return ::testing::AssertionSuccess();
}

// The text inside the Binary element of a data message.
QString binaryText(const Frame& f)
{
    const QString xml = f.xml();
    const qsizetype open = xml.indexOf('>', xml.indexOf("<Binary")) + 1;
    return xml.mid(open, xml.indexOf("</Binary>") - open);
}

}  // namespace

// ---- Protocol ------------------------------------------------------------------

TEST(CardSim, HandshakeThenCardListThenCommandReplies)
{
    SimServer server(twoCards());
    QString error;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0, &error)) << error.toStdString();
    RawClient client;
    ASSERT_TRUE(client.connectTo(server.port()));
    auto info = client.handshake();
    ASSERT_TRUE(info);
    EXPECT_GT(info->payload.size(), 32);

    auto list = client.message();
    ASSERT_TRUE(list);
    EXPECT_TRUE(isXmlCode(list->code()));
    EXPECT_TRUE(
        list->xml().contains("<Card number=\"1\" name=\"DC1\" device=\"dc1-0\" serial-nr=\"00012345\""
                             " remote-access=\"yes\" status=\"ready\" connections=\"0\"/>"))
        << list->xml().toStdString();
    EXPECT_TRUE(list->xml().contains("name=\"Spare &lt;2&gt;\""));

    client.command("<Get item=\"card status\"/>\r\n");
    EXPECT_TRUE(client.xmlWith("<Cards>"));
    client.command("<Get item=\"metadata\" information=\"code-list\"/>\r\n");
    EXPECT_TRUE(client.xmlWith("info=\"code-list\""));
    client.command("<Get item=\"parameters\"/>\r\n");
    EXPECT_TRUE(client.xmlWith("<Parameter name=\"passband-bandwidth\" value=\"3600\"/>"));
    client.command("<Get item=\"nonsense\"/>\r\n");
    EXPECT_TRUE(client.xmlWith("<Error>Unknown item nonsense</Error>"));
    client.send(9, xmlPayload("<Message><Command><Set>"));
    EXPECT_TRUE(client.xmlWith("<Error>Malformed command"));

    // Connecting card 2 (an empty slot) fails; card 1 answers with an indicator.
    client.command("<Connect>\r\n<Card number=\"2\"/>\r\n</Connect>\r\n");
    EXPECT_TRUE(client.xmlWith("<Error>Unknown card number 2</Error>"));
    client.command("<Connect>\r\n<Card serial-nr=\"00012345\"/>\r\n</Connect>\r\n");
    EXPECT_TRUE(client.xmlWith("<Indicators status=\"ready\""));

    // Keep-alives are answered.
    client.controls.clear();
    client.socket_.write(encodeControlFrame(SEQ_KEEPALIVE));
    ASSERT_TRUE(waitUntil([&] {
        client.message(50);
        return std::count(client.controls.begin(), client.controls.end(), SEQ_KEEPALIVE) > 0;
    }));
}

TEST(CardSim, StreamsTheRecordingOnlyInBitStreamModeAndStopsOnDisconnect)
{
    SessionOptions o = twoCards();
    QByteArray text;
    for (int i = 0; i < 300; ++i) text += (i * 7919 % 13) < 6 ? '1' : '0';
    o.bits = bitsOf(text);
    o.speed = 10;
    SimServer server(o);
    RawClient client;
    ASSERT_TRUE(greet(server, client));
    client.command(kBitStreamMode);  // no card yet: nothing streams
    client.command("<Set>\r\n<Configuration binary-data-format=\"base2\" />\r\n</Set>\r\n");
    ASSERT_TRUE(client.xmlWith("<ParameterList>"));
    EXPECT_FALSE(client.xmlWith("<Binary", 300));

    client.command(kConnectCard1);
    QByteArray received;
    while (received.size() < text.size()) {
        auto f = client.xmlWith("<Binary", 3000);
        ASSERT_TRUE(f) << "only " << received.size() << " bits";
        received += binaryText(*f).toLatin1();
        EXPECT_TRUE(f->xml().contains("encoding=\"base2\""));
    }
    EXPECT_EQ(received, text);
    ASSERT_EQ(server.sessions().size(), 1);
    EXPECT_FALSE(server.sessions()[0]->streaming());  // the recording ended without --loop

    client.command("<Disconnect/>\r\n");
    ASSERT_TRUE(waitUntil([&] { return server.sessions()[0]->selectedCard() == -1; }));
}

TEST(CardSim, HexBatchesPackBitsMostSignificantFirstAndLoop)
{
    SessionOptions o;
    o.cards = defaultCards();
    o.bits = bitsOf("1111000010100101");
    o.loop = true;
    o.speed = 5;
    SimServer server(o);
    RawClient client;
    ASSERT_TRUE(greet(server, client));
    client.command(kConnectCard1);
    client.command(kBitStreamMode);
    QString hex;
    while (hex.size() < 40) {
        auto f = client.xmlWith("encoding=\"base16\"");
        ASSERT_TRUE(f);
        hex += binaryText(*f);
    }
    EXPECT_TRUE(hex.startsWith("F0A5F0A5F0A5F0A5F0A5")) << hex.toStdString();
    EXPECT_TRUE(server.sessions()[0]->streaming());
}

TEST(CardSim, SeveralClientsAreServedAndLogged)
{
    SimServer server(twoCards());
    QString error;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0, &error));
    RawClient a, b;
    ASSERT_TRUE(a.connectTo(server.port()));
    ASSERT_TRUE(b.connectTo(server.port()));
    ASSERT_TRUE(a.handshake());
    ASSERT_TRUE(b.handshake());
    EXPECT_TRUE(a.xmlWith("<Cards>"));
    EXPECT_TRUE(b.xmlWith("<Cards>"));
    b.command("<Get item=\"card status\"/>\r\n");
    EXPECT_TRUE(b.xmlWith("<Cards>"));
    bool logged = false;
    for (const QJsonObject& e : server.received())
        logged |=
            e.value("session").toInt() == 2 && e.value("xml").toString().contains("<Get item=\"card status\"/>\r\n");
    EXPECT_TRUE(logged);
    a.socket_.abort();
    ASSERT_TRUE(waitUntil([&] { return server.sessions().size() == 1; }));
}

// ---- Faults ------------------------------------------------------------------

TEST(CardSimFaults, JunkNopsAndSplitWritesStillCarryEveryMessage)
{
    SessionOptions o = twoCards();
    o.faults = {Fault::Garbage, Fault::Nop, Fault::Split};
    SimServer server(o);
    RawClient client;
    ASSERT_TRUE(greet(server, client));
    EXPECT_TRUE(client.xmlWith("<Cards>"));
    EXPECT_GT(client.skipped, 0);
    EXPECT_GT(client.arrivals, 20);  // the frames came in many small pieces
    EXPECT_NE(std::find(client.controls.begin(), client.controls.end(), SEQ_NOP), client.controls.end());
}

TEST(CardSimFaults, UnknownCodeProtocolErrorBadXmlLargeAndQuit)
{
    SessionOptions o = twoCards();
    o.faults = {Fault::Unknown, Fault::ProtocolError, Fault::BadXml, Fault::Large, Fault::Quit};
    SimServer server(o);
    RawClient client;
    ASSERT_TRUE(greet(server, client));
    auto unknown = client.message();
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->code(), 0x00100002u);
    auto protocol = client.message();
    ASSERT_TRUE(protocol);
    EXPECT_EQ(protocol->code(), MSG_PROTOCOL_ERROR);
    auto bad = client.message();
    ASSERT_TRUE(bad);
    EXPECT_FALSE(bad->xml().contains("</Cards>"));
    auto large = client.message();
    ASSERT_TRUE(large);
    EXPECT_GT(large->payload.size(), 70000);  // came in fragments: a lone large frame is dropped
    EXPECT_TRUE(large->xml().contains("</Cards>"));
    ASSERT_TRUE(waitUntil([&] {
        client.message(50);
        return std::count(client.controls.begin(), client.controls.end(), SEQ_QUIT) > 0 && client.closed();
    }));
}

TEST(CardSimFaults, SilentAndAbruptClose)
{
    SessionOptions o = twoCards();
    o.faults = {Fault::Silent};
    SimServer silent(o);
    RawClient quiet;
    ASSERT_TRUE(greet(silent, quiet));
    EXPECT_FALSE(quiet.next(1500));  // not even a keep-alive

    o.faults = {Fault::Close};
    SimServer closing(o);
    RawClient dropped;
    ASSERT_TRUE(greet(closing, dropped));
    EXPECT_TRUE(waitUntil([&] { return dropped.closed(); }));
}

// ---- Files and the program -----------------------------------------------------------

TEST(CardSimFiles, CardFileErrorsNameTheLineAndField)
{
    QTemporaryDir dir;
    auto write = [&](const QByteArray& text) {
        QFile f(dir.filePath("cards.txt"));
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(text);
        return f.fileName();
    };
    QString error;
    auto cards = loadCards(write("# comment\n\n1;A;d;s;yes;ready\n9;B;d;t;no;no-card;3\n"), &error);
    ASSERT_TRUE(cards);
    ASSERT_EQ(cards->size(), 2);
    EXPECT_EQ((*cards)[1].connections, 3);
    EXPECT_FALSE((*cards)[1].access);

    EXPECT_FALSE(loadCards(write("1;A;d;s;yes\n"), &error));
    EXPECT_TRUE(error.contains("line 1")) << error.toStdString();
    EXPECT_FALSE(loadCards(write("\nx;A;d;s;yes;ready\n"), &error));
    EXPECT_TRUE(error.contains("line 2") && error.contains("\"x\"")) << error.toStdString();
    EXPECT_FALSE(loadCards(write("1;A;d;s;maybe;ready\n"), &error));
    EXPECT_TRUE(error.contains("maybe"));
    EXPECT_FALSE(loadCards(dir.filePath("missing.txt"), &error));
    EXPECT_TRUE(error.contains("missing.txt"));

    EXPECT_FALSE(bitsFromHex("0a 1G", &error));
    EXPECT_TRUE(error.contains("character 5"));
    EXPECT_EQ(encodeBits(*bitsFromHex("a5 0\n1", &error), "base16"), "A501");
    EXPECT_EQ(encodeBits(bitsOf("1010"), "base16"), "A0");  // padded with zero bits
    EXPECT_EQ(encodeBits(bitsOf("11111111"), "base64"), "/w==");
    QString faultError;
    EXPECT_FALSE(parseFaults("split,wobble", &faultError));
    EXPECT_TRUE(faultError.contains("wobble"));
}

TEST(CardSimProgram, PortZeroIsPrintedUsageErrorsExitTwoAndTheLogHoldsCommands)
{
    const QString program = QCoreApplication::applicationDirPath() + "/cardsim";
    ASSERT_TRUE(QFile::exists(program));
    QProcess bad;
    bad.start(program, {"--port", "70000"});
    ASSERT_TRUE(bad.waitForFinished(10000));
    EXPECT_EQ(bad.exitCode(), 2);
    EXPECT_TRUE(bad.readAllStandardError().contains("--port"));
    bad.start(program, {"--fault", "nonsense"});
    ASSERT_TRUE(bad.waitForFinished(10000));
    EXPECT_EQ(bad.exitCode(), 2);
    bad.start(program, {"--port", "0", "--bits", "/nonexistent/bits.txt"});
    ASSERT_TRUE(bad.waitForFinished(10000));
    EXPECT_EQ(bad.exitCode(), 1);
    EXPECT_TRUE(bad.readAllStandardError().contains("/nonexistent/bits.txt"));

    QTemporaryDir dir;
    const QString log = dir.filePath("log.jsonl");
    QProcess sim;
    sim.start(program, {"--port", "0", "--log", log});
    ASSERT_TRUE(sim.waitForStarted(5000));
    ASSERT_TRUE(waitUntil([&] { return sim.canReadLine(); }, 10000));
    const QByteArray line = sim.readLine().trimmed();
    ASSERT_TRUE(line.startsWith("listening on 127.0.0.1:")) << line.data();
    const quint16 port = quint16(line.mid(line.lastIndexOf(':') + 1).toUInt());
    RawClient client;
    ASSERT_TRUE(client.connectTo(port));
    ASSERT_TRUE(client.handshake());
    client.command("<Get item=\"card status\"/>\r\n");
    ASSERT_TRUE(client.xmlWith("<Cards>"));
    ASSERT_TRUE(client.xmlWith("<Cards>"));
    sim.kill();
    sim.waitForFinished(3000);

    QFile f(log);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    bool sawHello = false, sawCommand = false;
    for (const QByteArray& l : f.readAll().split('\n')) {
        const QJsonObject e = QJsonDocument::fromJson(l).object();
        sawHello |= e.value("code").toString() == "0x00200000";
        sawCommand |=
            e.value("xml").toString() ==
            "<Message version=\"1.0\">\r\n<Command>\r\n<Get item=\"card status\"/>\r\n</Command>\r\n</Message>\r\n";
    }
    EXPECT_TRUE(sawHello);
    EXPECT_TRUE(sawCommand);
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
