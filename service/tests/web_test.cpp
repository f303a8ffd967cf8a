// The web API of a real varnakd on 127.0.0.1, asked by real clients (Qt's
// HTTP client, Qt's WebSocket, and a raw socket for a client that stops
// reading): the endpoints' JSON for a generated recording, the refusals
// (400, 401, 404, 405, 413), the live events and their subscriptions, the
// bound on clients, and a slow client dropped.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QUrlQuery>
#include <QWebSocket>

#include "service_test_util.h"

namespace varnakd {
namespace {

// A station with RT+ tags (title "Silver Morning", artist "Harbour Lights")
// in 11A groups; the profile expects another PI, so a PI alarm is raised.
const char* const kStation =
    "pi 0xC2A1\npty 10\ntp 1\nps \"KESTREL \"\naf 97.4 89.1\nrt A \"Harbour Lights - Silver Morning\"\n"
    "ct 2026-12-08 19:55:00 +1\noda 0x4BD7 11A 0x0000\nraw 11A 0x08 0x289A 0x200D\n";
const char* const kToken = "0123456789abcdef-token";

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

bool WaitUntil(const std::function<bool()>& done, int ms = 30000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms) test::App().processEvents(QEventLoop::AllEvents, 10);
    return done();
}

// varnakd with a [web] section on a free port, reading `path` (a recording
// or a FIFO), with the token and `extra` [web] settings.
class Daemon {
public:
    Daemon(const QString& dir, const QString& path, const std::string& extra = {}) : port_(test::FreePort())
    {
        QDir().mkpath(dir + "/dash");
        test::Write(dir + "/dash/index.html", "<title>dashboard</title>\n");
        test::Write(dir + "/token", std::string(kToken) + "\n");
        test::Write(dir + "/d.conf", "[service]\nsite = north\nstate = " + dir.toStdString() +
                                         "/state\n[source fm]\nkind = bits\npath = " + path.toStdString() +
                                         "\nfrequency = 98.5\nstart = 2026-12-08T19:55:00Z\n[station 98.5]\n"
                                         "pi = C2A2\n[web]\nlisten = 127.0.0.1:" +
                                         std::to_string(port_) + "\ntoken-file = " + dir.toStdString() +
                                         "/token\ndashboard = " + dir.toStdString() + "/dash\n" + extra);
        process_.start(VARNAKD_PATH, {"--config", dir + "/d.conf"});
    }
    ~Daemon() { stop(); }
    // Stops it as systemd would; its exit status.
    int stop()
    {
        if (process_.state() == QProcess::NotRunning) return process_.exitCode();
        process_.terminate();
        process_.waitForFinished(20000);
        log_ += process_.readAllStandardError().toStdString();
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }
    // Waits for `text` in the log.
    bool waitFor(const std::string& text)
    {
        return WaitUntil([&] {
                   log_ += process_.readAllStandardError().toStdString();
                   return Has(log_, text) || process_.state() == QProcess::NotRunning;
               }) &&
               Has(log_, text);
    }
    int port() const { return port_; }
    const std::string& log() const { return log_; }

private:
    int port_;
    QProcess process_;
    std::string log_;
};

struct Reply {
    int status = 0;
    std::string body;
    QByteArray authenticate;
};

Reply Get(int port, const QString& path, const QByteArray& token = kToken, const QByteArray& method = "GET",
          const QByteArray& upgradeFrom = {})
{
    static QNetworkAccessManager* manager = new QNetworkAccessManager;
    QNetworkRequest request(QUrl(QString("http://127.0.0.1:%1%2").arg(port).arg(path)));
    if (!token.isEmpty()) request.setRawHeader("Authorization", "Bearer " + token);
    if (!upgradeFrom.isEmpty()) {
        // A WebSocket handshake from a page of `upgradeFrom`, refused before the upgrade.
        request.setRawHeader("Upgrade", "websocket");
        request.setRawHeader("Connection", "Upgrade");
        request.setRawHeader("Sec-WebSocket-Key", "dGhlIHNhbXBsZSBub25jZQ==");
        request.setRawHeader("Sec-WebSocket-Version", "13");
        request.setRawHeader("Origin", upgradeFrom);
    }
    QNetworkReply* reply = manager->sendCustomRequest(request, method);
    WaitUntil([&] { return reply->isFinished(); });
    Reply r{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll().toStdString(),
            reply->rawHeader("WWW-Authenticate")};
    reply->deleteLater();
    return r;
}

// A live client keeping every message it gets.
struct LiveClient {
    QWebSocket socket;
    std::vector<std::string> messages;
    LiveClient(int port, const QString& query = {}, const QByteArray& token = kToken)
    {
        QObject::connect(&socket, &QWebSocket::textMessageReceived,
                         [this](const QString& m) { messages.push_back(m.toStdString()); });
        QNetworkRequest request(QUrl(QString("ws://127.0.0.1:%1/api/live%2").arg(port).arg(query)));
        if (!token.isEmpty()) request.setRawHeader("Authorization", "Bearer " + token);
        socket.open(request);
    }
    int count(const std::string& type) const
    {
        int n = 0;
        for (const std::string& m : messages) n += m.rfind("{\"type\":\"" + type + "\"", 0) == 0;
        return n;
    }
    // Subscribes, then sends a bad message: its answer shows the subscription was taken.
    bool subscribe(const QString& json)
    {
        if (!WaitUntil([&] { return count("hello") == 1; })) return false;
        socket.sendTextMessage(json);
        socket.sendTextMessage("{\"subscribe\":[]}");
        return WaitUntil([&] { return count("error") == 1; });
    }
};

int GroupsInHistory(int port)
{
    const Reply r = Get(port, "/api/stations/north/98.5/history?from=2026-12-08T19:00:00Z&to=2026-12-08T21:00:00Z");
    int groups = 0;
    for (const QJsonValue q : QJsonDocument::fromJson(QByteArray::fromStdString(r.body))["quality"].toArray())
        groups += q["groups"].toInt();
    return groups;
}

class WebTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        test::App();
        dir_ = new QTemporaryDir;
        test::Write(dir_->path() + "/rec.txt", test::Generate(dir_->path(), kStation, {"-d", "20"}));
        daemon_ = new Daemon(dir_->path(), dir_->path() + "/rec.txt");
        ASSERT_TRUE(daemon_->waitFor("every source has ended")) << daemon_->log();
    }
    static void TearDownTestSuite()
    {
        delete daemon_;
        delete dir_;
    }
    static QTemporaryDir* dir_;
    static Daemon* daemon_;
};
QTemporaryDir* WebTest::dir_ = nullptr;
Daemon* WebTest::daemon_ = nullptr;

TEST_F(WebTest, EndpointsGiveTheDecodedStation)
{
    const std::string station =
        "{\"site\":\"north\",\"name\":\"98.5\",\"freq\":98.50,\"pi\":\"C2A1\",\"ps\":\"KESTREL \",\"radiotext\":"
        "\"Harbour Lights - Silver Morning\",\"pty\":10,\"ptyName\":\"Pop Music\",\"tp\":true,\"ta\":false,\"af\":"
        "[89.1,97.4],\"clock\":\"2026-12-08T19:55:00.00Z\",\"clockOffset\":-0.08,\"quality\":{\"groupsPerSecond\":"
        "11.42,\"blockErrorRate\":0.0000},\"lastGroup\":\"2026-12-08T19:55:19.96Z\",\"updated\":"
        "\"2026-12-08T19:55:20.00Z\",\"id\":\"north/98.5\",\"alarms\":[";
    const std::string alarm =
        "{\"site\":\"north\",\"name\":\"98.5\",\"alarm\":\"pi\",\"state\":\"raised\",\"time\":"
        "\"2026-12-08T19:55:00.08Z\",\"since\":\"2026-12-08T19:55:00.08Z\",\"detail\":\"PI C2A1, expected C2A2\"}";
    const std::string range = "from=2026-12-08T19:00:00Z&to=2026-12-08T21:00:00Z";
    const struct {
        std::string path;
        std::vector<std::string> parts;  // in the body, in this order
    } cases[] = {
        {"/api/stations", {"{\"time\":\"", "\",\"stations\":[" + station + alarm + "]}]}"}},
        {"/api/stations/north/98.50",
         {station + alarm +
          "],\"rtPlus\":[{\"type\":1,\"name\":\"item.title\",\"text\":\"Silver Morning\"},{\"type\":4,\"name\":"
          "\"item.artist\",\"text\":\"Harbour Lights\"}],\"odas\":[{\"group\":\"11A\",\"aid\":\"4BD7\",\"name\":"
          "\"RT+\"}]}"}},
        {"/api/stations/north/98.5/history?" + range,
         {"{\"station\":\"north/98.5\",\"from\":\"2026-12-08T19:00:00.00Z\",\"to\":\"2026-12-08T21:00:00.00Z\","
          "\"texts\":[{\"kind\":\"ps\",\"text\":\"KESTREL \",\"first\":\"2026-12-08T19:55:00.61Z\",\"last\":"
          "\"2026-12-08T19:55:20.00Z\"},",
          "\"quality\":[{\"start\":\"2026-12-08T19:55:00.00Z\",\"groups\":228,\"groupsPerSecond\":3.80,",
          "\"alarms\":[{\"kind\":\"pi\",\"raised\":\"2026-12-08T19:55:00.08Z\",\"cleared\":null,\"detail\":"
          "\"PI C2A1, expected C2A2\"}]}"}},
        {"/api/alarms", {"\",\"active\":[" + alarm + "]}"}},
        {"/api/alarms?" + range,
         {"\"alarms\":[{\"site\":\"north\",\"station\":\"98.5\",\"kind\":\"pi\",\"raised\":"
          "\"2026-12-08T19:55:00.08Z\",\"cleared\":null,\"detail\":\"PI C2A1, expected C2A2\"}]}"}},
        {"/api/health", {"\"uptime\":", "\"sources\":[{\"name\":\"fm\",\"kind\":\"bits\",\"state\":\"ended\","}},
        {"/metrics",
         {"# TYPE varnak_groups_per_second gauge\nvarnak_groups_per_second{site=\"north\",station=\"98.5\"} 11.4",
          "varnak_alarms_active{site=\"north\",station=\"98.5\"} 1\n",
          "varnak_source_up{source=\"fm\",kind=\"bits\"} 0\n"}},
    };
    for (const auto& c : cases) {
        const Reply r = Get(daemon_->port(), QString::fromStdString(c.path));
        EXPECT_EQ(r.status, 200) << c.path << r.body;
        std::size_t at = 0;
        for (const std::string& part : c.parts) {
            at = r.body.find(part, at);
            EXPECT_NE(at, std::string::npos) << c.path << "\n" << part << "\nnot in\n" << r.body;
        }
        if (c.path != "/metrics") {
            EXPECT_FALSE(QJsonDocument::fromJson(QByteArray::fromStdString(r.body)).isNull()) << r.body;
        }
    }
    // The dashboard's files need no token; the token never shows.
    const Reply page = Get(daemon_->port(), "/", "");
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.body, "<title>dashboard</title>\n");
    EXPECT_FALSE(Has(daemon_->log(), kToken));
}

TEST_F(WebTest, RefusesBadRequestsWithJsonErrors)
{
    const std::string history = "/api/stations/north/98.5/history";
    const struct {
        std::string path;
        QByteArray token, method;
        int status;
        std::string error;
        QByteArray upgradeFrom{};  // a WebSocket handshake from this page, when given
    } cases[] = {
        {"/api/stations", "", "GET", 401, "missing or wrong token"},
        {"/api/stations", "0123456789abcdef-tokex", "GET", 401, "missing or wrong token"},
        {"/metrics", "", "GET", 401, "missing or wrong token"},
        {"/api/stations/north/99.1", kToken, "GET", 404, "no station north/99.1"},
        {"/api/stations/south/98.5", kToken, "GET", 404, "no station south/98.5"},
        {"/api/stations/north/-5", kToken, "GET", 400, "bad parameter 'frequency': '-5' is no frequency in MHz"},
        {"/api/stations?sort=pi", kToken, "GET", 400, "bad parameter 'sort': unknown"},
        {history + "?from=yesterday", kToken, "GET", 400,
         "bad parameter 'from': not an ISO 8601 UTC time like 2026-12-09T10:44:42Z"},
        {history + "?from=2026-12-08T20:00:00%2B01:00", kToken, "GET", 400,
         "bad parameter 'from': not an ISO 8601 UTC time like 2026-12-09T10:44:42Z"},
        {history + "?from=2026-12-08T20:00:00Z&to=2026-12-08T19:00:00Z", kToken, "GET", 400,
         "bad parameter 'to': before 'from'"},
        {history + "?from=2026-10-01T00:00:00Z&to=2026-12-01T00:00:00Z", kToken, "GET", 400,
         "bad parameter 'from': the range is longer than 31 days"},
        {"/api/alarms?to=soon", kToken, "GET", 400,
         "bad parameter 'to': not an ISO 8601 UTC time like 2026-12-09T10:44:42Z"},
        {"/api/stations/north/98.5/texts", kToken, "GET", 404, "no such endpoint"},
        {"/api/nothing", kToken, "GET", 404, "no such endpoint /api/nothing"},
        {"/%2e%2e/%2e%2e/etc/passwd", "", "GET", 404, "not found"},
        {"/.hidden", "", "GET", 404, "not found"},
        {"/api/stations", kToken, "DELETE", 405, "only GET is answered: the API is read-only"},
        {"/api/live", kToken, "GET", 426, "/api/live is a WebSocket"},
        {"/api/live", "", "GET", 401, "missing or wrong token", "http://127.0.0.1"},
        {"/api/live?token=0123456789abcdef", "", "GET", 401, "missing or wrong token", "http://127.0.0.1"},
        {"/api/live", kToken, "GET", 403, "a page from http://evil.example may not connect", "http://evil.example"},
        {"/api/stations", kToken, "GET", 404, "no WebSocket here: it is /api/live", "http://127.0.0.1"},
    };
    for (const auto& c : cases) {
        const Reply r = Get(daemon_->port(), QString::fromStdString(c.path), c.token, c.method, c.upgradeFrom);
        EXPECT_EQ(r.status, c.status) << c.path;
        const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(r.body));
        EXPECT_EQ(doc["status"].toInt(), c.status) << c.path << r.body;
        EXPECT_EQ(doc["error"].toString().left(int(c.error.size())).toStdString(), c.error) << c.path;
        if (c.status == 401) {
            EXPECT_EQ(r.authenticate, "Bearer");
        }
    }
    // A request larger than its bound (64 KiB) is cut off with 413.
    QTcpSocket raw;
    raw.connectToHost(QHostAddress::LocalHost, quint16(daemon_->port()));
    ASSERT_TRUE(raw.waitForConnected(5000));
    raw.write("GET /api/stations HTTP/1.1\r\nHost: x\r\nX-Big: " + QByteArray(100000, 'a') + "\r\n\r\n");
    std::string answer;
    WaitUntil([&] {
        answer += raw.readAll().toStdString();
        return raw.state() == QAbstractSocket::UnconnectedState;
    });
    EXPECT_TRUE(Has(answer, "HTTP/1.1 413 Payload Too Large\r\n")) << answer.substr(0, 200);
}

TEST(WebLiveTest, ClientsGetHelloStatesAlarmsAndWhatTheySubscribed)
{
    test::App();
    QTemporaryDir dir;
    const QString d = dir.path();
    const std::string bits = test::Generate(d, kStation, {"-d", "20"});
    ASSERT_EQ(mkfifo((d + "/fifo").toLocal8Bit().constData(), 0600), 0);
    Daemon daemon(d, d + "/fifo", "clients = 3\n");
    ASSERT_TRUE(daemon.waitFor("web API on")) << daemon.log();

    LiveClient all(daemon.port());
    LiveClient south(daemon.port());
    LiveClient groups(daemon.port(), QString("?token=") + kToken, "");  // as a browser gives it
    LiveClient unauthorised(daemon.port(), {}, "");
    ASSERT_TRUE(WaitUntil([&] { return all.count("hello") && south.count("hello") && groups.count("hello"); }));
    LiveClient tooMany(daemon.port());  // clients = 3
    const auto closed = [](const LiveClient& c) {
        return c.socket.state() == QAbstractSocket::UnconnectedState &&
               c.socket.error() != QAbstractSocket::UnknownSocketError;
    };
    ASSERT_TRUE(WaitUntil([&] { return closed(unauthorised) && closed(tooMany); }));
    EXPECT_TRUE(unauthorised.messages.empty() && tooMany.messages.empty());
    EXPECT_TRUE(Has(Get(daemon.port(), "/metrics").body, "\nvarnak_web_clients_refused_total 2\n"));
    ASSERT_TRUE(south.subscribe("{\"subscribe\":{\"sites\":[\"south\"]}}"));
    ASSERT_TRUE(groups.subscribe("{\"subscribe\":{\"stations\":[\"north/98.5\"],\"kinds\":[\"group\"]}}"));
    EXPECT_TRUE(Has(south.messages.back(), "bad subscription: expected {\\\"subscribe\\\":{...}}"))
        << south.messages.back();

    // The first message is the whole picture: the station, known before its first group.
    EXPECT_TRUE(
        Has(all.messages.at(0),
            "\"stations\":[{\"site\":\"north\",\"name\":\"98.5\",\"freq\":98.50,\"ps\":\"\",\"radiotext\":\"\""))
        << all.messages.at(0);
    {
        QFile fifo(d + "/fifo");
        ASSERT_TRUE(fifo.open(QIODevice::WriteOnly));
        fifo.write(bits.data(), qint64(bits.size()));
    }
    ASSERT_TRUE(daemon.waitFor("every source has ended")) << daemon.log();
    const int expected = GroupsInHistory(daemon.port());
    EXPECT_EQ(expected, 228);
    ASSERT_TRUE(WaitUntil([&] { return groups.count("group") >= expected && all.count("alarm") >= 1; }));
    WaitUntil([] { return false; }, 600);  // a few more rounds: nothing else may come

    EXPECT_EQ(all.count("alarm"), 1);
    EXPECT_GE(all.count("state"), 1);
    EXPECT_EQ(all.count("group"), 0);
    bool named = false;
    for (const std::string& m : all.messages) {
        named = named || Has(m,
                             "{\"type\":\"state\",\"station\":{\"site\":\"north\",\"name\":\"98.5\",\"freq\":98.50,"
                             "\"pi\":\"C2A1\",\"ps\":\"KESTREL \"");
        if (m.rfind("{\"type\":\"alarm\"", 0) == 0) {
            EXPECT_TRUE(Has(m,
                            "{\"type\":\"alarm\",\"alarm\":{\"site\":\"north\",\"name\":\"98.5\",\"alarm\":\"pi\","
                            "\"state\":\"raised\""))
                << m;
        }
    }
    EXPECT_TRUE(named);
    EXPECT_EQ(south.messages.size(), 2u);        // hello and the answer to its bad message
    EXPECT_EQ(groups.count("group"), expected);  // every group, nothing lost
    EXPECT_EQ(groups.count("state") + groups.count("alarm"), 0);
    EXPECT_TRUE(Has(groups.messages.back(), "{\"type\":\"group\",\"id\":\"north/98.5\",\"group\":{\"group\":"))
        << groups.messages.back();
    // Stopped with clients still there, it ends cleanly (and, sanitised, frees everything).
    EXPECT_EQ(daemon.stop(), 0) << daemon.log();
    EXPECT_FALSE(Has(daemon.log(), "ERROR")) << daemon.log();
}

TEST(WebLiveTest, ASlowClientIsDroppedWithAMessage)
{
    test::App();
    QTemporaryDir dir;
    const QString d = dir.path();
    const std::string bits = test::Generate(d, kStation, {"-d", "600"});
    ASSERT_EQ(mkfifo((d + "/fifo").toLocal8Bit().constData(), 0600), 0);
    Daemon daemon(d, d + "/fifo", "client-queue-kib = 256\n");
    ASSERT_TRUE(daemon.waitFor("web API on")) << daemon.log();

    // A client that asks for every group and then stops reading.
    // Its receive buffer is small from the start, so little hides in the system's buffers.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int size = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(quint16(daemon.port()));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    QTcpSocket slow;
    ASSERT_TRUE(slow.setSocketDescriptor(fd));
    slow.write(
        "GET /api/live HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\nAuthorization: Bearer " +
        QByteArray(kToken) + "\r\n\r\n");
    QByteArray got;
    ASSERT_TRUE(WaitUntil([&] {
        got += slow.readAll();
        return got.contains("\r\n\r\n") && got.contains("\"type\":\"hello\"");
    }));
    const QByteArray subscribe = R"({"subscribe":{"kinds":["group"]}})";
    slow.write(QByteArray("\x81") + char(0x80 | subscribe.size()) + QByteArray(4, '\0') + subscribe);
    slow.setReadBufferSize(1024);
    LiveClient healthy(daemon.port());
    ASSERT_TRUE(healthy.subscribe("{\"subscribe\":{\"kinds\":[\"group\"]}}"));

    {
        // Ten seconds of the stream at a time, as a fast receiver would give them.
        QFile fifo(d + "/fifo");
        ASSERT_TRUE(fifo.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        for (std::size_t at = 0; at < bits.size(); at += 11875) {
            fifo.write(bits.data() + at, qint64(std::min<std::size_t>(11875, bits.size() - at)));
            WaitUntil([] { return false; }, 30);
        }
    }
    ASSERT_TRUE(daemon.waitFor("every source has ended")) << daemon.log();
    const int expected = GroupsInHistory(daemon.port());
    EXPECT_GT(expected, 6800);
    EXPECT_TRUE(WaitUntil([&] { return healthy.count("group") >= expected; }))
        << healthy.count("group") << " of " << expected;
    EXPECT_EQ(healthy.count("dropped"), 0);
    EXPECT_TRUE(Has(Get(daemon.port(), "/metrics").body, "\nvarnak_web_clients_dropped_total 1\n"));
    EXPECT_LT(got.size(), 100000);

    // Reading again, the slow client finds the message and then the end.
    slow.setReadBufferSize(0);
    EXPECT_TRUE(WaitUntil([&] {
        got += slow.readAll();
        return slow.state() == QAbstractSocket::UnconnectedState;
    }));
    got += slow.readAll();
    EXPECT_TRUE(
        got.contains("{\"type\":\"dropped\",\"reason\":\"the client did not keep up: more than 256 KiB waited\"}"));
    EXPECT_LT(got.size(), 2 * 1024 * 1024) << "what waited for the slow client was bounded";
    EXPECT_EQ(daemon.stop(), 0) << daemon.log();
    EXPECT_FALSE(Has(daemon.log(), "ERROR")) << daemon.log();
}

}  // namespace
}  // namespace varnakd
