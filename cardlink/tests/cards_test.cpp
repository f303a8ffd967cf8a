// Card search and selection of CardLink: against the cardsim server program
// and against a test-owned loopback server that sends exactly what a case
// needs. Covers results, write-backs, the card table, the waits and the
// requests that go out (or must not).
#include "test_server.h"

#include "quesmer/start_sequence.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

using namespace quesmer;
using namespace quesmer::test;
using Access = CardLinkTestAccess;

namespace {

const QByteArray kTwoCards =
    "<Message><Information><Cards>"
    "<Card number=\"1\" name=\"One\" serial-nr=\"S1\" status=\"ready\" remote-access=\"yes\"/>"
    "<Card number=\"2\" name=\"Two\" serial-nr=\"S2\" status=\"busy\"/>"
    "<Card number=\"3\" name=\"Three\" serial-nr=\"S3\" status=\"ready\" connections=\"1\"/>"
    "</Cards></Information></Message>";

// A cardsim process on a free port; skipped when the program is not built.
class CardSimProcess {
public:
    bool start(const QStringList& args)
    {
        const QString program = QCoreApplication::applicationDirPath() + "/cardsim";
        if (!QFile::exists(program)) return false;
        process_.start(program, QStringList{"--port", "0"} + args);
        if (!process_.waitForStarted(5000) || !waitUntil([&] { return process_.canReadLine(); }, 10000)) return false;
        const QByteArray line = process_.readLine().trimmed();  // "listening on 127.0.0.1:PORT"
        port_ = line.mid(line.lastIndexOf(':') + 1).toInt();
        return port_ > 0;
    }
    ~CardSimProcess()
    {
        process_.kill();
        process_.waitForFinished(3000);
    }
    Long port() const { return port_; }

private:
    QProcess process_;
    Long port_ = 0;
};

class Cards : public ::testing::Test {
protected:
    void SetUp() override
    {
        link.setTiming(fastTiming());
        QObject::connect(&link, &CardLink::OnCardStatus, [this](Integer n, const CardStatus& s) {
            statuses.push_back({n, s});
        });
        QObject::connect(&link, &CardLink::OnServerInformation, [this](const ServerInformation&) { ++infos; });
        QObject::connect(&link, &CardLink::OnCardConnected, [this] { ++connectedEvents; });
    }

    // The loopback server greets every new client and sends `cards` (if any).
    void serve(const QByteArray& cards)
    {
        server.onConnect = [this, cards] {
            server.sendFrame(1, codePayload(MSG_HELLO));
            server.sendFrame(2, serverInfoPayload());
            if (!cards.isEmpty()) server.sendXml(3, cards);
        };
    }

    // XML commands the client sent to the loopback server.
    std::vector<QString> commands() const
    {
        std::vector<QString> out;
        for (const Frame& f : server.frames())
            if (f.code() == MSG_XML) out.push_back(QString::fromLatin1(f.xml()));
        return out;
    }

    TestServer server;
    CardLink link;
    std::vector<std::pair<Integer, CardStatus>> statuses;
    int infos = 0;
    int connectedEvents = 0;
};

}  // namespace

// ---- CardSearch --------------------------------------------------------------

TEST_F(Cards, SearchAgainstCardsimReturnsZeroAfterTwoCardsAndClosesTheConnection)
{
    QTemporaryDir dir;
    const QString cardFile = dir.filePath("cards.txt");
    QFile f(cardFile);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("# two cards\n1;Roof;dc1-0;R-0001;yes;ready\n2;Cellar;dc1-1;C-0002;no;busy;1\n");
    f.close();
    CardSimProcess sim;
    if (!sim.start({"--cards", cardFile})) GTEST_SKIP() << "cardsim is not built beside the tests";

    QString host = "127.0.0.1";
    Long port = sim.port();
    EXPECT_EQ(link.CardSearch(host, port), 0);
    EXPECT_EQ(infos, 1);
    ASSERT_EQ(statuses.size(), 2u);
    EXPECT_EQ(statuses[0].second.Name, "Roof");
    EXPECT_EQ(statuses[1].second.Serial, "C-0002");
    EXPECT_EQ(statuses[1].second.Ready, FALSE_B);
    EXPECT_EQ(statuses[1].second.Access, FALSE_B);
    EXPECT_EQ(statuses[1].second.Connections, 1);
    EXPECT_FALSE(link.connected());
    EXPECT_EQ(link.light(), LinkLight::Closed);
}

TEST_F(Cards, SearchSurvivesTheServerFaultsOfCardsim)
{
    // Each fault set still ends the search with the card list (or, for a
    // protocol error or unknown message, with the wait ended early).
    const std::vector<std::pair<QString, int>> cases = {
        {"split,garbage,nop", 1}, {"large", 1}, {"bad-xml", 1}, {"protocol-error", 0}, {"unknown", 0}};
    for (const auto& [faults, cards] : cases) {
        CardSimProcess sim;
        if (!sim.start({"--fault", faults})) GTEST_SKIP() << "cardsim is not built beside the tests";
        CardLink fresh;
        fresh.setTiming(fastTiming());
        fresh.setErrorNotifier([](const QString&) {});
        int statusEvents = 0, errors = 0;
        QObject::connect(&fresh, &CardLink::OnCardStatus, [&](Integer, const CardStatus&) { ++statusEvents; });
        QObject::connect(&fresh, &CardLink::OnCardError, [&](ErrTyp, const QString&) { ++errors; });
        const Integer result = fresh.CardSearch(QString("127.0.0.1"), sim.port());
        if (cards == 1) {
            EXPECT_EQ(result, 0) << faults.toStdString();
            EXPECT_EQ(statusEvents, 1) << faults.toStdString();
            EXPECT_EQ(errors, 0) << faults.toStdString();
        } else {
            // The list right behind the error may be read in the same step;
            // success only with the list.
            EXPECT_EQ(result, statusEvents == 1 ? 0 : ERR_NO_CARD_LIST) << faults.toStdString();
            EXPECT_LE(statusEvents, 1) << faults.toStdString();
            EXPECT_EQ(errors, 1) << faults.toStdString();
        }
        EXPECT_FALSE(fresh.connected());
    }
}

TEST_F(Cards, SearchAgainstASilentServerTimesOut)
{
    // The timer is the clock: 30 ticks of 5 ms end the enumeration wait.
    Timing t = fastTiming();
    t.tickMs = 5;
    link.setTiming(t);
    serve(QByteArray());
    Long port = server.port();
    Integer result = link.CardSearch(QString("127.0.0.1"), port);
    EXPECT_EQ(result, ERR_ENUM_TIMEOUT);
    EXPECT_EQ(link.CardConnectError(result), "Card enumeration time-out");
    EXPECT_EQ(result, ERR_ENUM_TIMEOUT);
    EXPECT_FALSE(link.connected());
}

TEST_F(Cards, SearchResultSaysWhetherACardListCame)
{
    // What the server sends after its information; then the search's result
    // and its text, and how many indicator flashes (extractor steps) it took.
    const QByteArray emptyList = "<Cards></Cards>";
    QByteArray tooLong;
    for (int i = 0; i <= MAX_MESSAGE_SIZE / FRAGMENT_SIZE; ++i)
        tooLong += encodeFrame(3, QByteArray(FRAGMENT_SIZE, 'f'), 0);
    struct Case {
        const char* what;
        QByteArray bytes;
        bool lateList;  // the enumeration times out before the list is read
        int result;
        QString text;
        size_t cards;
    };
    const std::vector<Case> cases = {
        {"keep-alives", encodeControlFrame(SEQ_KEEPALIVE).repeated(1000) + encodeFrame(3, xmlPayload(kTwoCards)), false,
         0, "", 3},
        {"empty list", encodeFrame(3, xmlPayload(emptyList)), false, 0, "", 0},
        {"late list", encodeFrame(3, xmlPayload(kTwoCards)), true, 0, "", 3},
        {"protocol error", encodeFrame(3, codePayload(MSG_PROTOCOL_ERROR)), false, ERR_NO_CARD_LIST,
         "No card list: Protocol error", 0},
        {"message too long", tooLong, false, ERR_NO_CARD_LIST, "No card list: Message too long", 0},
    };
    for (const Case& c : cases) {
        CardLink fresh;
        fresh.setTiming(fastTiming());
        size_t cards = 0;
        int flashes = 0;
        QObject::connect(&fresh, &CardLink::OnCardStatus, [&](Integer, const CardStatus&) { ++cards; });
        QObject::connect(&fresh, &CardLink::lightChanged, [&](LinkLight l) { flashes += l == LinkLight::Open; });
        QObject::connect(&fresh, &CardLink::OnServerInformation, [&](const ServerInformation&) {
            for (int i = 0; c.lateList && i < 30; ++i) Access::tick(fresh);
        });
        server.onConnect = [&] {
            server.send(encodeFrame(1, codePayload(MSG_HELLO)) + encodeFrame(2, serverInfoPayload()) + c.bytes);
        };
        Integer result = fresh.CardSearch(QString("127.0.0.1"), Long(server.port()));
        EXPECT_EQ(result, c.result) << c.what;
        EXPECT_EQ(fresh.CardConnectError(result), c.text) << c.what;
        EXPECT_EQ(cards, c.cards) << c.what;
        EXPECT_LT(flashes, 20) << c.what;
    }
}

TEST_F(Cards, SearchWritesBackDefaultHostAndPort)
{
    QString host;
    Long port = -5;
    (void)link.CardSearch(host, port);  // only the written-back arguments matter here
    EXPECT_EQ(host, "127.0.0.1");
    EXPECT_EQ(port, 33234);
}

TEST_F(Cards, RefusedConnectionGivesTheSocketErrorAndItsText)
{
    quint16 unused = 0;
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        unused = probe.serverPort();
    }
    Integer result = link.CardConnectByNumber(QString("127.0.0.1"), Long(unused), Integer(1));
    EXPECT_EQ(result, 10061);
    const QString text = link.CardConnectError(result);
    EXPECT_FALSE(text.isEmpty());
    EXPECT_EQ(link.CardConnectError(Integer(0)), "");
    EXPECT_EQ(link.CardConnectError(Integer(-1)), "Connect Error");
}

// ---- CardConnectByNumber ---------------------------------------------------------

TEST_F(Cards, NumberZeroAsksForCardOneAndTheFirstIndicatorConnectsIt)
{
    serve(kTwoCards);
    Integer number = 0;
    ASSERT_EQ(link.CardConnectByNumber(QString("127.0.0.1"), Long(server.port()), number), 0);
    EXPECT_EQ(number, 1);
    EXPECT_EQ(link.selectedCard(), 1);
    EXPECT_TRUE(link.connected());
    ASSERT_TRUE(waitUntil([&] { return !commands().empty(); }));
    EXPECT_TRUE(commands().back().contains("<Connect>\r\n<Card number=\"1\"/>\r\n</Connect>\r\n"))
        << commands().back().toStdString();

    server.sendXml(4, "<Indicators status=\"a\" level=\"1\"/>");
    server.sendXml(5, "<Indicators status=\"b\" level=\"2\"/>");
    ASSERT_TRUE(waitUntil([&] { return link.lastIndicator().Status == "b"; }));
    EXPECT_EQ(connectedEvents, 1);
    EXPECT_EQ(link.cardEntry(0).IsConnected, TRUE_B);
}

TEST_F(Cards, SelectionsThatCannotSucceedSendNothingAndLeaveTheConnectionClosed)
{
    enum Server { HelloThenClose, InformationThenClose, NoList, TwoCards };
    struct Case {
        const char* what;
        Server server;
        int method;      // 0 search, else connect by this card number
        Integer result;  // 1: any error number
        const char* text;
    };
    const std::vector<Case> cases = {
        {"search: closed before the list", HelloThenClose, 0, 1, nullptr},
        {"connect: closed during the wait", InformationThenClose, 1, 1, nullptr},
        {"connect: number 8", TwoCards, 8, -1, "Connect Error: card number 8 is beyond 7"},
        {"connect: enumeration time-out", NoList, 1, -1, "Connect Error: Card enumeration time-out"},
    };
    for (const Case& c : cases) {
        Timing t = fastTiming();
        t.tickMs = c.server == NoList ? 5 : t.tickMs;
        link.setTiming(t);
        if (c.server == TwoCards || c.server == NoList)
            serve(c.server == TwoCards ? kTwoCards : QByteArray());
        else
            server.onConnect = [this, &c] {
                server.sendFrame(1, codePayload(MSG_HELLO));
                if (c.server == InformationThenClose) server.sendFrame(2, serverInfoPayload());
                server.closeClient();
            };
        Integer number = Integer(c.method);
        Integer result = c.method == 0 ? link.CardSearch(QString("127.0.0.1"), Long(server.port()))
                                       : link.CardConnectByNumber(QString("127.0.0.1"), Long(server.port()), number);
        EXPECT_TRUE(c.result == 1 ? result != 0 : result == c.result) << c.what << ": " << result;
        const Integer error = result;
        EXPECT_EQ(link.connectErrorText(result), c.text ? c.text : link.CardConnectError(result)) << c.what;
        EXPECT_FALSE(link.CardConnectError(result).isEmpty()) << c.what;
        EXPECT_EQ(link.CardConnectError(Integer(error)) == "Connect Error", error == -1) << c.what;
        EXPECT_FALSE(link.connected()) << c.what;
        spin(20);
        EXPECT_TRUE(commands().empty()) << c.what;
    }
}

TEST_F(Cards, ConnectedMarkSurvivesALostConnectionSoNoSecondConnectedEvent)
{
    serve(kTwoCards);
    ASSERT_EQ(link.CardConnectByNumber(QString("127.0.0.1"), Long(server.port()), Integer(3)), 0);
    server.sendXml(4, "<Indicators status=\"x\"/>");
    ASSERT_TRUE(waitUntil([&] { return connectedEvents == 1; }));
    // The server quits; the mark stays, also through a new card list.
    server.sendFrame(SEQ_QUIT, QByteArray());
    ASSERT_TRUE(waitUntil([&] { return !link.connected(); }));
    ASSERT_EQ(link.CardConnectByNumber(QString("127.0.0.1"), Long(server.port()), Integer(3)), 0);
    server.sendXml(4, "<Indicators status=\"y\"/>");
    ASSERT_TRUE(waitUntil([&] { return link.lastIndicator().Status == "y"; }));
    EXPECT_EQ(connectedEvents, 1);
}

// ---- CardConnectBySerial -----------------------------------------------------------

TEST_F(Cards, SerialSelectsItsSlotOrFailsWithoutSending)
{
    serve(kTwoCards);
    QString serial = "S2";
    ASSERT_EQ(link.CardConnectBySerial(QString("127.0.0.1"), Long(server.port()), serial), 0);
    EXPECT_EQ(link.selectedCard(), 2);
    ASSERT_TRUE(waitUntil([&] { return !commands().empty(); }));
    EXPECT_TRUE(commands().back().contains("<Card serial-nr=\"S2\"/>"));

    // Case counts, and an empty serial looks for eight hyphens.
    QString lower = "s2";
    Integer result = link.CardConnectBySerial(QString("127.0.0.1"), Long(server.port()), lower);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(link.connectErrorText(result), "Connect Error: no card with serial number \"s2\" in the card list");
    EXPECT_EQ(link.selectedCard(), -1);
    EXPECT_FALSE(link.connected());
    QString empty;
    EXPECT_EQ(link.CardConnectBySerial(QString("127.0.0.1"), Long(server.port()), empty), -1);
    EXPECT_EQ(empty, "--------");
    spin(50);
    EXPECT_TRUE(commands().empty());
}

// ---- CardStatus --------------------------------------------------------------

TEST_F(Cards, StatusLooksUpTheTableOnlyAfterAList)
{
    CardStatus status;
    Integer number = 3;
    EXPECT_EQ(link.CardStatus(number, status), FALSE_B);
    EXPECT_EQ(number, 3);

    serve(kTwoCards);
    ASSERT_EQ(link.CardSearch(QString("127.0.0.1"), Long(server.port())), 0);
    EXPECT_EQ(link.CardStatus(number, status), TRUE_B);
    EXPECT_EQ(number, 2);
    EXPECT_EQ(status.Name, "Three");
    EXPECT_EQ(status.Connections, 1);

    Integer eight = 8;
    EXPECT_EQ(link.CardStatus(eight, status), FALSE_B);
    // Below 1 is out of range: a plain failure, not a crash.
    Integer zero = 0;
    Integer negative = -32768;
    EXPECT_EQ(link.CardStatus(zero, status), FALSE_B);
    EXPECT_EQ(link.CardStatus(negative, status), FALSE_B);
    EXPECT_EQ(status.Name, "Three");
}

// ---- CardDisconnect -------------------------------------------------------------

TEST_F(Cards, DisconnectSendsTheRequestOnlyForASelectedCard)
{
    serve(kTwoCards);
    ASSERT_EQ(link.CardSearch(QString("127.0.0.1"), Long(server.port())), 0);
    link.CardDisconnect();  // nothing selected: nothing sent, still closed
    EXPECT_FALSE(link.connected());

    ASSERT_EQ(Access::open(link, "127.0.0.1", server.port()), 0);
    ASSERT_TRUE(waitUntil([&] { return link.sessionOpen(); }));
    server.take();
    link.CardDisconnect();
    EXPECT_FALSE(link.connected());
    spin(50);
    EXPECT_TRUE(commands().empty());

    ASSERT_EQ(link.CardConnectByNumber(QString("127.0.0.1"), Long(server.port()), Integer(1)), 0);
    server.sendXml(4, "<Indicators status=\"z\"/>");
    ASSERT_TRUE(waitUntil([&] { return link.cardEntry(0).IsConnected == TRUE_B; }));
    link.CardDisconnect();
    EXPECT_EQ(link.selectedCard(), -1);
    EXPECT_EQ(link.cardEntry(0).IsOk, FALSE_B);
    EXPECT_EQ(link.cardEntry(0).IsConnected, FALSE_B);
    EXPECT_FALSE(link.connected());
    ASSERT_TRUE(waitUntil([&] { return commands().size() >= 2; }));
    EXPECT_TRUE(commands().back().contains("<Disconnect/>\r\n"));
}

TEST_F(Cards, DisconnectRequestReachesTheServerWhileDataIsStillArriving)
{
    // The server keeps streaming while the client lets go: the client has
    // unread bytes when it closes, and its Disconnect request must still
    // reach the server rather than be thrown away with the connection.
    serve(kTwoCards);
    ASSERT_EQ(link.CardConnectByNumber(QString("127.0.0.1"), Long(server.port()), Integer(1)), 0);
    server.sendXml(4, "<Indicators status=\"z\"/>");
    ASSERT_TRUE(waitUntil([&] { return link.cardEntry(0).IsConnected == TRUE_B; }));
    server.take();
    const QByteArray batch =
        "<data><binary encoding=\"base16\" bit-count=\"8000\">" + QByteArray(2000, 'A') + "</binary></data>";
    for (int i = 0; i < 64; ++i) server.sendXml(5 + i, batch);
    link.CardDisconnect();
    EXPECT_FALSE(link.connected());
    ASSERT_TRUE(waitUntil([&] {
        for (const QString& c : commands())
            if (c.contains("<Disconnect/>")) return true;
        return false;
    }));
}

// ---- Start sequence ---------------------------------------------------------------

TEST_F(Cards, StartSequenceSendsTheBitStreamSetUpWithItsPauses)
{
    serve(kTwoCards);
    ASSERT_EQ(link.CardConnectByNumber(QString("127.0.0.1"), Long(server.port()), Integer(1)), 0);
    ASSERT_TRUE(waitUntil([&] { return commands().size() == 1; }));
    server.take();

    // Recorded pauses; each lets events run once, so the handlers stay live.
    std::vector<int> pauses;
    sendRdsStartSequence(link, Integer(3), [&](int ms) {
        pauses.push_back(ms);
        QCoreApplication::processEvents();
    });
    std::vector<int> expected(10, 20);
    expected.insert(expected.end(), 101, 50);
    EXPECT_EQ(pauses, expected);

    ASSERT_TRUE(waitUntil([&] { return commands().size() == 7; })) << commands().size();
    const auto sent = commands();
    auto body = [&](size_t i) {
        const QString& xml = sent[i];
        const qsizetype from = xml.indexOf("<Command>\r\n") + 11;
        return xml.mid(from, xml.indexOf("</Command>") - from).toStdString();
    };
    // HeaderLong is passed as true (-1), which is also "left out": no header attribute.
    EXPECT_EQ(body(0),
              "<Set>\r\n<Configuration text-data-format=\"raw\" "
              "binary-data-format=\"base16\" />\r\n</Set>\r\n");
    EXPECT_EQ(body(1),
              "<Set>\r\n<ParameterList>\r\n<Parameter name=\"modulation\" value=\"dbpsk\"/>\r\n"
              "<Parameter name=\"code\" value=\"hf-analysis-bit-stream\"/>\r\n"
              "<Parameter name=\"speed\" value=\"1187.5\"/>\r\n<Parameter name=\"shift\" value=\"2400\"/>\r\n"
              "\r\n</ParameterList>\r\n\r\n</Set>\r\n");
    EXPECT_NE(body(2).find("<Parameter name=\"input\" value=\"inp3\"/>\r\n<Parameter name=\"translation\" "
                           "value=\"57000\"/>\r\n<Parameter name=\"inputgain\" value=\"40\"/>\r\n\r\n</ParameterList>"),
              std::string::npos);
    EXPECT_NE(body(3).find("<Parameter name=\"passband-center\" value=\"1200\"/>\r\n"
                           "<Parameter name=\"passband-bandwidth\" value=\"2400\"/>"),
              std::string::npos);
    EXPECT_NE(body(4).find("<Parameter name=\"center\" value=\"1200\"/>\r\n<Parameter name=\"afc\" value=\"off\"/>"),
              std::string::npos);
    EXPECT_NE(body(5).find("<Parameter name=\"als\" value=\"start\"/>"), std::string::npos);
    EXPECT_NE(body(6).find("<Parameter name=\"als\" value=\"stop\"/>"), std::string::npos);
}

TEST_F(Cards, StartSequenceStopsWhenAHandlerDestroysTheLink)
{
    auto* doomed = new CardLink;
    doomed->setTiming(fastTiming());
    int pausesAfter = 0;
    sendRdsStartSequence(*doomed, Integer(1), [&](int) {
        if (doomed) {
            delete doomed;
            doomed = nullptr;
        } else {
            ++pausesAfter;
        }
    });
    EXPECT_EQ(pausesAfter, 0);
}

TEST_F(Cards, TheConnectingMethodsReturnWhenTheControlIsDestroyedDuringTheirWaits)
{
    serve(QByteArray());  // greets, never lists: the card-list wait goes on
    // Destroyed at once (while the connection is being opened) or later
    // (while the card list is awaited), by something the event loop runs.
    for (int delayMs : {0, 30}) {
        for (int method = 0; method < 3; ++method) {
            SCOPED_TRACE(testing::Message() << "delay " << delayMs << " method " << method);
            auto* doomed = new CardLink;
            doomed->setTiming(fastTiming());
            QTimer::singleShot(delayMs, [&doomed] {
                delete doomed;
                doomed = nullptr;
            });
            QString host("127.0.0.1");
            Long port = server.port();
            Integer result = 0;
            if (method == 0)
                result = doomed->CardSearch(host, port);
            else if (method == 1)
                result = doomed->CardConnectByNumber(host, port, Integer(1));
            else
                result = doomed->CardConnectBySerial(host, port, QString("S1"));
            EXPECT_EQ(doomed, nullptr);
            EXPECT_NE(result, 0);
            delete doomed;
        }
    }
}

TEST_F(Cards, AHandlerOfACardListMayDestroyTheControl)
{
    serve(kTwoCards);
    auto* doomed = new CardLink;
    doomed->setTiming(fastTiming());
    QPointer<QTcpSocket> socket;
    QObject::connect(doomed, &CardLink::OnCardStatus, [&](Integer, const CardStatus&) {
        socket = doomed->findChild<QTcpSocket*>();
        delete doomed;
        doomed = nullptr;
    });
    QString host("127.0.0.1");
    Long port = server.port();
    const Integer result = doomed->CardSearch(host, port);
    EXPECT_EQ(doomed, nullptr);
    EXPECT_NE(result, 0);
    EXPECT_TRUE(waitUntil([&] { return socket.isNull(); }));  // the socket is not leaked
}
