// The connection and frame layer of CardLink against a loopback server:
// handshake, acknowledgements, keep-alive, watchdog, quit, sequence numbers,
// the memory bound under floods and re-entry. How bytes become frames and
// messages is FrameReader's, tested without a socket in frame_reader_test.
#include "test_server.h"

#include "quesmer/requests.h"

#include <gtest/gtest.h>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <limits>

using namespace quesmer;
using namespace quesmer::test;
using Access = CardLinkTestAccess;

namespace {

class Framing : public ::testing::Test {
protected:
    void SetUp() override
    {
        link.setTiming(fastTiming());
        QObject::connect(&link, &CardLink::OnCardError, [this](ErrTyp e, const QString& d) {
            errors.push_back({e, d});
        });
        QObject::connect(&link, &CardLink::OnCardDisconnected, [this](Boolean r, const QString& c) {
            disconnects.push_back({r, c});
        });
        QObject::connect(&link, &CardLink::OnServerInformation,
                         [this](const ServerInformation& i) { infos.push_back(i); });
    }
    void open()
    {
        ASSERT_EQ(Access::open(link, "127.0.0.1", server.port()), 0);
        ASSERT_TRUE(waitUntil([&] { return server.clientConnected(); }));
    }
    void openInSession()
    {
        open();
        ASSERT_TRUE(server.handshake(link));
        server.take();
    }
    // Ends the enumeration wait the way the timer does, after 30 ticks.
    void endEnumeration()
    {
        for (int i = 0; i < 30; ++i) Access::tick(link);
        ASSERT_TRUE(link.enumerationDone());
    }
    size_t keepAlives() const
    {
        size_t n = 0;
        for (const Frame& f : server.frames()) n += f.header.sequence == SEQ_KEEPALIVE;
        return n;
    }

    TestServer server;
    CardLink link;
    std::vector<std::pair<ErrTyp, QString>> errors;
    std::vector<std::pair<Boolean, QString>> disconnects;
    std::vector<ServerInformation> infos;
};

}  // namespace

// ---- Opening and handshake ------------------------------------------------

TEST_F(Framing, OpenTurnsTheIndicatorOrangeAndRefusalGivesTheSocketError)
{
    EXPECT_EQ(link.light(), LinkLight::None);
    open();
    EXPECT_TRUE(link.connected());
    EXPECT_EQ(link.light(), LinkLight::Open);
    EXPECT_FALSE(link.sessionOpen());

    // A port that was just free: listen on it, then stop listening.
    quint16 unused = 0;
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        unused = probe.serverPort();
    }
    CardLink other;
    const int result = Access::open(other, "127.0.0.1", unused);
    if (result != 0) {  // the port may, rarely, have been taken again
        EXPECT_EQ(result, 10061);
        EXPECT_EQ(other.lastErrorNumber(), 10061);
        EXPECT_FALSE(other.lastErrorText().isEmpty());
        EXPECT_FALSE(other.connected());
    }
    EXPECT_EQ(Access::open(other, "127.0.0.1", 70000), 10049);
    EXPECT_EQ(other.lastErrorText(), "Invalid port 70000");
}

TEST_F(Framing, HandshakeAnswersHelloAndAcknowledgesServerInformation)
{
    open();
    server.sendFrame(41, codePayload(MSG_HELLO));
    ASSERT_TRUE(waitUntil([&] { return server.frameCount() == 1; }));
    std::vector<Frame> f = server.frames();
    EXPECT_EQ(f[0].header.marker, FRAME_MARKER);
    EXPECT_EQ(f[0].header.sequence, 41);
    EXPECT_EQ(f[0].header.flag, 1);
    const QByteArray hello = QByteArray::fromHex(
        "00002000"
        "00000000"
        "00000000"
        "0102"
        "ffffffff"
        "0001"
        "01000000"
        "00000000"
        "0000"
        "0100");
    EXPECT_EQ(f[0].payload, hello);
    EXPECT_FALSE(link.sessionOpen());

    server.sendFrame(42, serverInfoPayload(0xCAFEBABE, "Dec  8 2026", "20:00:01", "2.4.1 \xe9", "DC1"));
    ASSERT_TRUE(waitUntil([&] { return server.frameCount() == 2; }));
    f = server.frames();
    EXPECT_EQ(f[1].header.sequence, 42);
    EXPECT_EQ(f[1].header.length, 4u);
    EXPECT_EQ(f[1].payload, QByteArray::fromHex("02002000"));

    ASSERT_EQ(infos.size(), 1u);
    const ServerInformation& i = infos[0];
    EXPECT_EQ(i.IsOk, TRUE_B);
    EXPECT_EQ(uint32_t(i.ConnectionInfo), 0xCAFEBABEu);
    EXPECT_EQ(i.ServerMajorVersion, 2);
    EXPECT_EQ(i.ServerMinorVersion, 7);
    EXPECT_EQ(i.ProtocolMajorVersion, 1);
    EXPECT_EQ(i.ProtocolMinorVersion, 3);
    EXPECT_EQ(i.ServerBuildId, 4711);
    EXPECT_EQ(i.BuildDate, "Dec  8 2026");
    EXPECT_EQ(i.BuildTime, "20:00:01");
    EXPECT_EQ(i.SoftwareRelease, QString::fromLatin1("2.4.1 \xe9"));  // every byte survives
    EXPECT_EQ(i.CardType, "DC1");
    EXPECT_TRUE(link.sessionOpen());
    EXPECT_EQ(link.light(), LinkLight::InSession);
    EXPECT_EQ(link.lastSequence(), 42);
}

TEST_F(Framing, TruncatedServerInformationFillsWhatIsThereWithoutReadingPastTheEnd)
{
    open();
    QByteArray p = serverInfoPayload();
    p.truncate(24);  // the BuildDate length claims more than follows
    server.sendFrame(5, p);
    ASSERT_TRUE(waitUntil([&] { return !infos.empty(); }));
    EXPECT_EQ(infos[0].ServerBuildId, 4711);
    EXPECT_EQ(infos[0].BuildDate, "Dec ");
    EXPECT_TRUE(infos[0].CardType.isEmpty());
}

// ---- Commands and sequence numbers ---------------------------------------

TEST_F(Framing, NoCommandIsSentBeforeTheServerInformation)
{
    open();
    server.sendFrame(1, codePayload(MSG_HELLO));
    ASSERT_TRUE(waitUntil([&] { return server.frameCount() == 1; }));
    link.CardGetStatus();
    link.CardSetALS(ALS_START);
    spin(50);
    EXPECT_EQ(server.frameCount(), 1u);

    server.sendFrame(2, serverInfoPayload());
    ASSERT_TRUE(waitUntil([&] { return server.frameCount() == 2; }));
    link.CardGetStatus();
    ASSERT_TRUE(waitUntil([&] { return server.frameCount() == 3; }));
    const Frame f = server.frames()[2];
    EXPECT_EQ(f.header.sequence, 3);  // last received sequence plus one
    EXPECT_EQ(f.header.flag, 1);
    EXPECT_EQ(f.code(), MSG_XML);
    EXPECT_EQ(f.header.length, uint32_t(4 + requests::getStatus().size()));
    EXPECT_EQ(f.xml(), requests::getStatus().toLatin1());
}

TEST_F(Framing, SequenceFollowsTheLastReceivedFrameAndWrapsToZero)
{
    openInSession();
    server.sendFrame(std::numeric_limits<int32_t>::max(), codePayload(MSG_SERVER_INFO_ACK));  // ignored code
    ASSERT_TRUE(waitUntil([&] { return link.lastSequence() == std::numeric_limits<int32_t>::max(); }));
    link.CardGetCodeList();
    link.CardGetCodeList();  // nothing received in between: same number again
    ASSERT_TRUE(waitUntil([&] { return server.frameCount() == 2; }));
    EXPECT_EQ(server.frames()[0].header.sequence, 0);
    EXPECT_EQ(server.frames()[1].header.sequence, 0);

    // Control sequences leave the last sequence alone.
    server.sendFrame(-1, QByteArray());
    server.sendFrame(-7, codePayload(MSG_CLIENT_HELLO));  // a negative, non-control number counts
    ASSERT_TRUE(waitUntil([&] { return link.lastSequence() == -7; }));
    link.CardGetCodeList();
    ASSERT_TRUE(waitUntil([&] { return server.frameCount() == 3; }));
    EXPECT_EQ(server.frames()[2].header.sequence, -6);
    EXPECT_TRUE(errors.empty());
}

// ---- Timer: enumeration time-out, keep-alive, watchdog -------------------

TEST_F(Framing, EnumerationTimesOutOnTheThirtiethTickWithoutSendingKeepAlives)
{
    openInSession();
    for (int i = 0; i < 29; ++i) Access::tick(link);
    EXPECT_FALSE(link.enumerationDone());
    Access::tick(link);
    EXPECT_TRUE(link.enumerationDone());
    EXPECT_EQ(link.lastErrorNumber(), 10999);
    EXPECT_EQ(link.lastErrorText(), "Card enumeration time-out");
    spin(20);
    EXPECT_EQ(keepAlives(), 0u);
}

TEST_F(Framing, KeepAliveGoesOutOnEveryFifthIdleSendTick)
{
    openInSession();
    endEnumeration();
    Access::tick(link);  // the handshake replies still count as sent
    for (int i = 0; i < 4; ++i) Access::tick(link);
    spin(20);
    EXPECT_EQ(keepAlives(), 0u);
    Access::tick(link);
    ASSERT_TRUE(waitUntil([&] { return keepAlives() == 1; }));
    const Frame f = server.frames().back();
    EXPECT_EQ(f.header.length, 0u);
    EXPECT_EQ(f.header.flag, 1);
    EXPECT_EQ(server.received().size(), 16);

    // A command in between does not reset the count: that tick just does not count.
    Access::tick(link);
    Access::tick(link);
    link.CardGetStatus();
    Access::tick(link);  // sent flag set: not counted
    Access::tick(link);
    Access::tick(link);
    spin(20);
    EXPECT_EQ(keepAlives(), 1u);
    Access::tick(link);
    ASSERT_TRUE(waitUntil([&] { return keepAlives() == 2; }));
}

TEST_F(Framing, WatchdogClosesOnTheNinetiethTickWithoutData)
{
    openInSession();
    endEnumeration();             // these ticks do not count for the watchdog
    Access::tick(link);           // data arrived before: not counted
    for (int i = 0; i < 50; ++i)  // idle ticks 1 to 50
        Access::tick(link);
    server.sendFrame(-3, QByteArray());  // a keep-alive from the server
    ASSERT_TRUE(waitUntil([&] { return Access::bufferedBytes(link) == 0 && server.client()->bytesToWrite() == 0; }));
    spin(10);
    Access::tick(link);           // received: not counted, and not reset either
    for (int i = 0; i < 39; ++i)  // idle ticks 51 to 89
        Access::tick(link);
    EXPECT_TRUE(link.connected());
    EXPECT_TRUE(disconnects.empty());
    Access::tick(link);
    EXPECT_FALSE(link.connected());
    EXPECT_FALSE(link.sessionOpen());
    EXPECT_EQ(link.light(), LinkLight::Closed);
    ASSERT_EQ(disconnects.size(), 1u);
    EXPECT_EQ(disconnects[0].first, FALSE_B);
    EXPECT_EQ(disconnects[0].second, "Network connexion lost");
    EXPECT_TRUE(waitUntil([&] { return !server.clientConnected(); }));
}

TEST(Timer, RunsByItselfWithTheInjectedInterval)
{
    TestServer server;
    CardLink link;
    Timing t = fastTiming();
    t.tickMs = 2;
    link.setTiming(t);
    std::vector<QString> causes;
    QObject::connect(&link, &CardLink::OnCardDisconnected, [&](Boolean, const QString& c) { causes.push_back(c); });
    ASSERT_EQ(Access::open(link, "127.0.0.1", server.port()), 0);
    // 30 ticks of enumeration, keep-alives, then the watchdog after 90 more ticks.
    ASSERT_TRUE(waitUntil([&] { return !causes.empty(); }, 5000));
    EXPECT_EQ(causes[0], "Network connexion lost");
    EXPECT_EQ(link.lastErrorNumber(), 10999);
    EXPECT_GE(server.frames().size(), 10u);  // keep-alives: the server never answered anything
}

// ---- Closing ---------------------------------------------------------------

TEST_F(Framing, ServerQuitTurnsBlueThenClosesAndRaisesTheEvent)
{
    openInSession();
    std::vector<LinkLight> lights;
    QObject::connect(&link, &CardLink::lightChanged, [&](LinkLight l) { lights.push_back(l); });
    server.send(encodeControlFrame(SEQ_QUIT));
    ASSERT_TRUE(waitUntil([&] { return !disconnects.empty(); }));
    EXPECT_EQ(disconnects[0].first, TRUE_B);
    EXPECT_EQ(disconnects[0].second, "Server quit");
    EXPECT_FALSE(link.connected());
    EXPECT_FALSE(link.sessionOpen());
    EXPECT_EQ(link.lastSequence(), 0);
    EXPECT_EQ(link.serverInformation().IsOk, FALSE_B);
    ASSERT_GE(lights.size(), 2u);
    EXPECT_EQ(lights[lights.size() - 2], LinkLight::ServerQuit);
    EXPECT_EQ(lights.back(), LinkLight::Closed);
    EXPECT_TRUE(waitUntil([&] { return !server.clientConnected(); }));
}

TEST_F(Framing, PeerCloseOnlyClearsTheConnectedFlagAndEndsAPendingWaitWithAnError)
{
    for (const bool listCame : {false, true}) {
        openInSession();
        if (listCame) {  // ends the enumeration, as a card list would
            server.sendFrame(3, codePayload(0x00100002));
            ASSERT_TRUE(waitUntil([&] { return link.enumerationDone(); }));
        }
        EXPECT_EQ(link.enumerationDone(), listCame);
        server.closeClient();
        ASSERT_TRUE(waitUntil([&] { return !link.connected(); }));
        EXPECT_TRUE(disconnects.empty());
        EXPECT_EQ(link.light(), LinkLight::InSession);  // keeps its colour
        EXPECT_TRUE(link.enumerationDone());            // a card-list wait would end here
        EXPECT_EQ(link.lastErrorNumber(), listCame ? 0 : ERR_CONNECTION_LOST) << listCame;
        EXPECT_EQ(link.lastErrorText(), listCame ? "" : "Connection closed before the card list arrived");
    }
}

TEST_F(Framing, ServerQuitDuringTheEnumerationEndsTheWaitWithAnError)
{
    openInSession();
    server.send(encodeControlFrame(SEQ_QUIT));
    ASSERT_TRUE(waitUntil([&] { return !disconnects.empty(); }));
    EXPECT_TRUE(link.enumerationDone());
    EXPECT_EQ(link.lastErrorNumber(), ERR_CONNECTION_LOST);
}

// ---- Reassembly and dispatch ---------------------------------------------

TEST_F(Framing, ProtocolErrorAndShortMessagesAreReported)
{
    open();
    server.sendFrame(1, codePayload(MSG_PROTOCOL_ERROR, QByteArray("\x05\0\0\0oops", 8)));
    server.sendFrame(2, QByteArray("\x01\x02", 2));  // too short to hold a code
    server.sendFrame(3, codePayload(MSG_CLIENT_HELLO));
    ASSERT_TRUE(waitUntil([&] { return errors.size() == 2; }));
    spin(20);
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0], std::make_pair(ERR_NET, QString("Protocol error ")));
    EXPECT_EQ(errors[1], std::make_pair(ERR_MSG, QString("Unknown message")));
}

TEST_F(Framing, FloodsStayWithinTheBoundAndTheLinkRecovers)
{
    // Whatever a server floods the control with, the socket and the receive
    // buffers hold at most a few MiB besides one message of at most
    // MAX_MESSAGE_SIZE; an oversized message is reported and dropped, and
    // the frames after the flood are read as usual.
    const qsizetype flood = 40 << 20;
    QByteArray oversized;
    for (const uint32_t v : {FRAME_MARKER, 20u, uint32_t(flood), 0u}) appendU32(oversized, v);
    // Inside the oversized payload: frames that must not be taken for frames.
    oversized += encodeFrame(99, codePayload(0x00100002)).repeated(int(flood / 20));
    oversized += QByteArray(flood - (oversized.size() - FRAME_HEADER_SIZE), '\0');
    QByteArray fragments;
    for (int i = 0; i <= MAX_MESSAGE_SIZE / FRAGMENT_SIZE; ++i)
        fragments += encodeFrame(100 + i, QByteArray(FRAGMENT_SIZE, 'f'), 0);
    fragments += encodeFrame(1, QByteArray(FRAGMENT_SIZE, 'f'), 0);  // more of the lost message: ignored
    const std::vector<std::pair<const char*, QByteArray>> cases = {
        {"no marker", QByteArray(flood, 'x')},
        {"oversized frame", oversized},
        {"fragments beyond the bound", fragments},
        {"keep-alives", encodeControlFrame(SEQ_KEEPALIVE).repeated(1 << 19)},
    };
    // The standard flash: the server keeps sending while a step pauses.
    Timing t = fastTiming();
    t.flashMs = 40;
    link.setTiming(t);
    openInSession();
    for (const auto& [what, bytes] : cases) {
        errors.clear();
        server.send(bytes);
        server.sendFrame(21, codePayload(MSG_PROTOCOL_ERROR));  // ends a lost message: dropped
        server.sendFrame(22, codePayload(0x00100002));
        qint64 peak = 0;
        ASSERT_TRUE(waitUntil(
            [&] {
                peak = std::max(
                    peak, Access::socketBytes(link) + Access::bufferedBytes(link) + Access::reassemblyBytes(link));
                return !errors.empty() && errors.back().second == "Unknown message";
            },
            60000))
            << what;
        EXPECT_LE(peak, MAX_MESSAGE_SIZE + (9 << 20)) << what;
        // A lost message is reported and its end piece dropped; otherwise
        // that piece is a protocol error of its own.
        const bool lost = QByteArray(what).contains("oversized") || QByteArray(what).contains("fragments");
        ASSERT_EQ(errors.size(), 2u) << what;
        EXPECT_EQ(errors[0].second, lost ? "Message too long" : "Protocol error ") << what;
        EXPECT_EQ(Access::reassemblyBytes(link), 0) << what;
        EXPECT_TRUE(link.connected()) << what;
    }
}

TEST_F(Framing, AStepFlashesOrangeForTheFlashTimeThenTakesEveryBufferedFrameAndStepsKeepThatPace)
{
    Timing t = fastTiming();
    t.flashMs = 40;
    link.setTiming(t);
    openInSession();
    QElapsedTimer clock;
    clock.start();
    std::vector<std::pair<qint64, LinkLight>> lights;  // when each colour came
    std::vector<std::pair<qint64, LinkLight>> seen;    // the colour each event saw
    QObject::connect(&link, &CardLink::lightChanged, [&](LinkLight l) { lights.push_back({clock.elapsed(), l}); });
    QObject::connect(&link, &CardLink::OnCardError, [&](ErrTyp, const QString&) {
        seen.push_back({clock.elapsed(), link.light()});
    });
    // Three frames at once are one step; then a frame every 5 ms for 300 ms.
    server.send(encodeFrame(1, codePayload(0x00100002)).repeated(3));
    ASSERT_TRUE(waitUntil([&] { return seen.size() == 3; }));
    for (int i = 0; i < 60; ++i) {
        server.sendFrame(i, codePayload(0x00100002));
        spin(5);
    }
    ASSERT_TRUE(waitUntil([&] { return seen.size() == 63; }));
    ASSERT_GE(lights.size(), 4u);
    EXPECT_EQ(lights[0].second, LinkLight::Open);
    EXPECT_EQ(lights[1].second, LinkLight::InSession);
    EXPECT_GE(lights[1].first - lights[0].first, 39);
    EXPECT_EQ(seen[2].first, seen[0].first) << "the first three frames in one step";
    for (const auto& [when, light] : seen) EXPECT_EQ(light, LinkLight::InSession);  // events come after the flash
    size_t steps = 0;
    for (size_t i = 1; i < lights.size(); ++i) {
        if (lights[i].second == LinkLight::InSession && lights[i - 1].second == LinkLight::Open) {
            ++steps;
            EXPECT_GE(lights[i].first - lights[i - 1].first, 39) << "step " << steps;
        }
    }
    // One step per flash at most, each taking all that came: however slowly
    // the frames were sent, no more steps than flashes fit into the run.
    const qint64 span = seen.back().first - seen.front().first;
    EXPECT_LE(steps, size_t(2 + span / 40));
}

TEST_F(Framing, BytesTakenDuringAStepCountAsTrafficForTheWatchdog)
{
    // Each frame's handler lets a timer tick pass while the next frame
    // arrives; the extraction takes that frame without a new arrival
    // notice. A steady stream like this never looks like a silent line.
    open();
    endEnumeration();
    int frames = 0;
    QObject::connect(&link, &CardLink::OnCardError, [&](ErrTyp, const QString&) {
        Access::tick(link);
        if (++frames < 100) {
            server.sendFrame(frames, codePayload(0x00100002));
            spin(3);
        }
    });
    server.sendFrame(1000, codePayload(0x00100002));
    ASSERT_TRUE(waitUntil([&] { return frames == 100 || !disconnects.empty(); }, 20000));
    EXPECT_TRUE(disconnects.empty());
    EXPECT_TRUE(link.connected());
}

// ---- Re-entry --------------------------------------------------------------

TEST_F(Framing, DataArrivingDuringTheFlashDoesNotStartASecondExtraction)
{
    Timing t = fastTiming();
    t.flashMs = 5;
    link.setTiming(t);
    open();
    int depth = 0, maxDepth = 0, count = 0;
    QObject::connect(&link, &CardLink::OnCardError, [&](ErrTyp, const QString&) {
        ++depth;
        maxDepth = std::max(maxDepth, depth);
        ++count;
        if (count == 1) {  // let more data arrive while inside an event
            server.sendFrame(2, codePayload(0x00100002));
            spin(30);
        }
        --depth;
    });
    server.sendFrame(1, codePayload(0x00100002));
    ASSERT_TRUE(waitUntil([&] { return count == 2; }));
    EXPECT_EQ(maxDepth, 1);
}

TEST_F(Framing, AHostMayReconnectFromInsideAnEventHandler)
{
    openInSession();
    bool reconnected = false;
    QObject::connect(&link, &CardLink::OnCardDisconnected, [&](Boolean, const QString&) {
        // Still inside the old socket's data handling: the new connection's
        // frames must nevertheless be taken while this handler waits.
        server.onConnect = [&] {
            server.sendFrame(1, codePayload(MSG_HELLO));
            server.sendFrame(2, serverInfoPayload());
        };
        ASSERT_EQ(Access::open(link, "127.0.0.1", server.port()), 0);
        reconnected = waitUntil([&] { return link.sessionOpen(); });
    });
    server.send(encodeControlFrame(SEQ_QUIT) + encodeControlFrame(SEQ_NOP));
    ASSERT_TRUE(waitUntil([&] { return !disconnects.empty(); }));
    EXPECT_TRUE(reconnected);
    EXPECT_EQ(infos.size(), 2u);
    // The revived connection keeps working after the handler returned.
    server.take();
    link.CardGetStatus();
    ASSERT_TRUE(waitUntil([&] { return server.frameCount() == 1; }));
    EXPECT_EQ(server.frames()[0].header.sequence, 3);
}

TEST_F(Framing, TheAcknowledgementOfAnOldSessionDoesNotReachAConnectionOpenedByItsHandler)
{
    open();
    TestServer other;
    other.onConnect = [&] {
        other.sendFrame(1, codePayload(MSG_HELLO));
        other.sendFrame(40, serverInfoPayload());
    };
    bool reconnected = false;
    QObject::connect(&link, &CardLink::OnServerInformation, [&](const ServerInformation&) {
        if (infos.size() != 1) return;
        // The first session's handler moves the control to another server.
        ASSERT_EQ(Access::open(link, "127.0.0.1", other.port()), 0);
        reconnected = waitUntil([&] { return link.sessionOpen() && other.frameCount() >= 2; });
    });
    server.sendFrame(1, codePayload(MSG_HELLO));
    server.sendFrame(7, serverInfoPayload());
    ASSERT_TRUE(waitUntil([&] { return infos.size() == 2; }));
    ASSERT_TRUE(reconnected);
    spin(50);
    // The other server sees its greeting answered and its own information
    // acknowledged, nothing that belongs to the first connection.
    const std::vector<Frame> frames = other.frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].code(), MSG_CLIENT_HELLO);
    EXPECT_EQ(frames[1].code(), MSG_SERVER_INFO_ACK);
    EXPECT_EQ(frames[1].header.sequence, 40);
}

TEST(Watchdog, AHandlerMayDestroyTheControlWhenTheConnectionIsLost)
{
    TestServer server;
    auto* doomed = new CardLink;
    Timing t = fastTiming();
    t.tickMs = 1;  // the enumeration time-out, then 90 idle ticks, run by the timer itself
    doomed->setTiming(t);
    bool lost = false;
    QObject::connect(doomed, &CardLink::OnCardDisconnected, [&](Boolean remote, const QString&) {
        lost = remote == FALSE_B;
        delete doomed;  // a host that drops its control with the connection
        doomed = nullptr;
    });
    ASSERT_EQ(CardLinkTestAccess::open(*doomed, "127.0.0.1", server.port()), 0);
    EXPECT_TRUE(waitUntil([&] { return doomed == nullptr; }, 10000));
    EXPECT_TRUE(lost);
    delete doomed;
}
