#include "web_server.h"

#include <QAbstractHttpServer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QLoggingCategory>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrlQuery>
#include <QWebSocket>
#include <charconv>
#include <cmath>
#include <fstream>
#include <future>

#include "json_text.h"
#include "station_pipeline.h"
#include "store.h"
#include "web_json.h"
#include "web_live.h"

#ifndef VARNAK_WEB_INSTALLED
#define VARNAK_WEB_INSTALLED "/usr/share/varnak/web"
#endif
#ifndef VARNAK_WEB_SOURCE
#define VARNAK_WEB_SOURCE ""
#endif

namespace varnakd {
namespace {

constexpr int64_t kDay = 86400 * 100;
constexpr int64_t kMaxRange = 31 * kDay;
constexpr qint64 kMaxFileBytes = 16 * 1024 * 1024;
constexpr int kSocketSendBuffer = 256 * 1024;
constexpr int kIdleMs = 30000;  // an HTTP connection without a byte for this long is closed

using Status = QHttpServerResponder::StatusCode;

struct Reply {
    Status status = Status::Ok;
    QByteArray type = "application/json";
    QByteArray body;
};

Reply Json(const std::string& body, Status status = Status::Ok)
{
    return {status, "application/json", QByteArray::fromStdString(body)};
}

Reply Error(Status status, const std::string& message) { return Json(ErrorJson(int(status), message), status); }

// Compares in time independent of where the texts differ.
bool SameSecret(const QByteArray& a, const std::string& b)
{
    if (std::size_t(a.size()) != b.size()) return false;
    unsigned char diff = 0;
    for (std::size_t i = 0; i < b.size(); ++i) diff |= static_cast<unsigned char>(a[qsizetype(i)] ^ b[i]);
    return diff == 0;
}

QByteArray Header(const QList<QPair<QByteArray, QByteArray>>& headers, const char* name)
{
    for (const auto& [key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0) return value;
    return {};
}

QByteArray BearerToken(const QByteArray& authorization)
{
    const QByteArray value = authorization.trimmed();
    if (value.size() < 7 || value.left(7).compare("Bearer ", Qt::CaseInsensitive) != 0) return {};
    return value.mid(7).trimmed();
}

QByteArray ContentType(const QString& path)
{
    static const std::pair<const char*, const char*> kTypes[] = {
        {".html", "text/html; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".json", "application/json"},
        {".svg", "image/svg+xml"},
        {".png", "image/png"},
        {".ico", "image/x-icon"},
        {".woff2", "font/woff2"},
        {".txt", "text/plain; charset=utf-8"},
    };
    for (const auto& [ext, type] : kTypes)
        if (path.endsWith(ext)) return type;
    return "application/octet-stream";
}

// Bounds the connections at once and what a connection may send before it
// is answered; the HTTP server takes the connections from here.
class BoundedTcpServer : public QTcpServer {
public:
    BoundedTcpServer(int maxConnections, qint64 maxPending, QObject* parent)
        : QTcpServer(parent), maxConnections_(maxConnections), maxPending_(maxPending)
    {
    }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto* socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        // The system's buffer for what a client has yet to take stays
        // modest: a client that stops reading shows in its queue soon, and
        // 200 clients cost little kernel memory.
        socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, kSocketSendBuffer);
        if (open_ >= maxConnections_) {
            Refuse(socket, "503 Service Unavailable", ErrorJson(503, "too many connections"));
            return;
        }
        ++open_;
        connect(socket, &QObject::destroyed, this, [this] { --open_; });
        // Connected before the HTTP server's own handler, so it sees every
        // byte first. A WebSocket upgrade takes these connections away.
        auto pending = std::make_shared<qint64>(0);
        auto* idle = new QTimer(socket);
        const QMetaObject::Connection reading =
            connect(socket, &QTcpSocket::readyRead, this, [this, socket, pending, idle] {
                idle->start();
                *pending += socket->bytesAvailable();
                if (*pending > maxPending_)
                    Refuse(socket, "413 Payload Too Large",
                           ErrorJson(413, "the request is larger than " + std::to_string(maxPending_ / 1024) + " KiB"));
            });
        connect(socket, &QTcpSocket::bytesWritten, this, [pending] { *pending = 0; });
        // An HTTP connection silent for a while is closed, so that idle or
        // half-sent requests cannot hold every connection. A WebSocket
        // upgrade cuts `reading` off (Qt takes the socket over): those stay.
        idle->setSingleShot(true);
        idle->setInterval(kIdleMs);
        connect(idle, &QTimer::timeout, socket, [socket, reading] {
            if (reading) socket->disconnectFromHost();
        });
        idle->start();
        addPendingConnection(socket);
    }

private:
    static void Refuse(QTcpSocket* socket, const char* status, const std::string& body)
    {
        // Only reading stops: the HTTP server's own connections free its request with the socket.
        QObject::disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
        QObject::disconnect(socket, &QTcpSocket::bytesWritten, nullptr, nullptr);
        socket->readAll();
        socket->write("HTTP/1.1 " + QByteArray(status) +
                      "\r\nContent-Type: application/json\r\nConnection: close\r\nContent-Length: " +
                      QByteArray::number(qsizetype(body.size())) + "\r\n\r\n" + QByteArray::fromStdString(body));
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        socket->disconnectFromHost();
        QTimer::singleShot(10000, socket, [socket] { socket->abort(); });
    }

    int maxConnections_;
    qint64 maxPending_;
    int open_ = 0;
};

// Answers the requests; everything runs on the web thread.
class HttpFace : public QAbstractHttpServer {
public:
    HttpFace(const ServiceConfig& config, WebSink& sink, const std::string& token, const std::string& dashboard)
        : config_(config),
          sink_(sink),
          token_(token),
          dashboard_(QString::fromStdString(dashboard)),
          started_(StationPipeline::WallClock()),
          hub_(sink, config.web.clients, qint64(config.web.clientQueueKib) * 1024, this)
    {
        connect(this, &QAbstractHttpServer::newWebSocketConnection, this, &HttpFace::takeWebSockets);
    }

protected:
    // Qt 6.4 asks here first about a WebSocket upgrade too: true lets it
    // happen, false has missingHandler() answer (the refusal kept here).
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override
    {
        ++requests_;
        const auto headers = request.headers();
        if (Header(headers, "Upgrade").compare("websocket", Qt::CaseInsensitive) == 0 &&
            Header(headers, "Connection").toLower().contains("upgrade")) {
            refusal_ = upgradeAnswer(request);
            return refusal_->body.isEmpty();
        }
        respond(answer(request), makeResponder(request, socket));
        return true;
    }
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override
    {
        respond(refusal_.value_or(Error(Status::NotFound, "not found")), makeResponder(request, socket));
        refusal_.reset();
    }

private:
    static void respond(const Reply& reply, QHttpServerResponder&& responder)
    {
        if (reply.status == Status::Unauthorized)
            responder.write(
                reply.body,
                {{"Content-Type", reply.type}, {"Cache-Control", "no-store"}, {"WWW-Authenticate", "Bearer"}},
                reply.status);
        else if (reply.status == Status::MethodNotAllowed)
            responder.write(reply.body, {{"Content-Type", reply.type}, {"Allow", "GET"}}, reply.status);
        else
            responder.write(reply.body,
                            {{"Content-Type", reply.type},
                             {"Cache-Control", reply.type == "application/json" ? "no-store" : "no-cache"},
                             {"X-Content-Type-Options", "nosniff"}},
                            reply.status);
    }

    bool authorised(const QByteArray& token) const { return token_.empty() || SameSecret(token, token_); }

    Reply answer(const QHttpServerRequest& request)
    {
        if (request.method() != QHttpServerRequest::Method::Get)
            return Error(Status::MethodNotAllowed, "only GET is answered: the API is read-only");
        const QString path = request.url().path();
        const bool api = path.startsWith("/api/") || path == "/api";
        if ((api || path == "/metrics") && !authorised(BearerToken(Header(request.headers(), "Authorization"))))
            return Error(Status::Unauthorized, "missing or wrong token");
        const QUrlQuery query = request.query();
        if (path == "/metrics") {
            if (!query.isEmpty()) return badParameter(query.queryItems().front().first.toStdString(), "unknown");
            return {Status::Ok, "text/plain; version=0.0.4; charset=utf-8",
                    QByteArray::fromStdString(MetricsText(sink_.stations(), sink_.sourceStatus(), counters()))};
        }
        if (path == "/api/live") return Error(Status::UpgradeRequired, "/api/live is a WebSocket");
        if (api) return apiAnswer(path.toStdString(), query);
        return staticFile(path);
    }

    // An empty body: the upgrade to /api/live may go on.
    Reply upgradeAnswer(const QHttpServerRequest& request)
    {
        if (request.url().path() != "/api/live") return Error(Status::NotFound, "no WebSocket here: it is /api/live");
        const auto headers = request.headers();
        QByteArray token = BearerToken(Header(headers, "Authorization"));
        if (token.isEmpty()) token = request.query().queryItemValue("token", QUrl::FullyDecoded).toUtf8();
        if (!authorised(token)) {
            ++refused_;
            return Error(Status::Unauthorized, "missing or wrong token");
        }
        // A page of another site must not read the stations through a visitor's browser.
        const QByteArray origin = Header(headers, "Origin");
        const QUrl originUrl(QString::fromUtf8(origin));
        const QString originHost =
            originUrl.host() + (originUrl.port() >= 0 ? ":" + QString::number(originUrl.port()) : QString());
        if (!origin.isEmpty() && originHost.compare(QString::fromUtf8(Header(headers, "Host")), Qt::CaseInsensitive))
            return Error(Status::Forbidden, "a page from " + origin.toStdString() + " may not connect");
        if (hub_.clients() >= config_.web.clients) {
            ++refused_;
            return Error(Status::ServiceUnavailable, "too many clients");
        }
        return {};
    }

    WebCounters counters() const
    {
        WebCounters c;
        c.clients = hub_.clients();
        c.clientsDropped = hub_.dropped();
        c.clientsRefused = hub_.refused() + refused_;
        c.requests = requests_;
        c.eventsLost = sink_.lost();
        std::copy(hub_.made(), hub_.made() + 3, c.messages);
        return c;
    }

    static Reply badParameter(const std::string& name, const std::string& why)
    {
        return Error(Status::BadRequest, "bad parameter '" + name + "': " + why);
    }

    // Reads from/to (ISO 8601 UTC) of `query`; nothing else may be given.
    // Without them: the last 24 hours.
    static std::optional<Reply> range(const QUrlQuery& query, int64_t& from, int64_t& to)
    {
        for (const auto& [key, value] : query.queryItems(QUrl::FullyDecoded))
            if (key != "from" && key != "to") return badParameter(key.toStdString(), "unknown");
        to = StationPipeline::WallClock();
        std::optional<int64_t> f, t;
        for (const char* name : {"from", "to"}) {
            if (!query.hasQueryItem(name)) continue;
            const std::string text = query.queryItemValue(name, QUrl::FullyDecoded).toStdString();
            const auto time = ParseUtcTime(text);
            if (!time) return badParameter(name, "not an ISO 8601 UTC time like 2026-12-09T10:44:42Z");
            (name[0] == 'f' ? f : t) = time;
        }
        if (t) to = *t;
        from = f ? *f : to - kDay;
        if (to < from) return badParameter("to", "before 'from'");
        if (to - from > kMaxRange) return badParameter("from", "the range is longer than 31 days");
        return std::nullopt;
    }

    Reply apiAnswer(const std::string& path, const QUrlQuery& query)
    {
        const int64_t now = StationPipeline::WallClock();
        if (path == "/api/stations") {
            if (!query.isEmpty()) return badParameter(query.queryItems().front().first.toStdString(), "unknown");
            std::string out = "{\"time\":" + TimeJson(now) + ",\"stations\":[";
            for (const WebStation& s : sink_.stations()) {
                if (out.back() != '[') out += ',';
                out += WebStationJson(s);
            }
            return Json(out + "]}");
        }
        if (path.rfind("/api/stations/", 0) == 0) return stationAnswer(path.substr(14), query);
        if (path == "/api/alarms") {
            if (query.isEmpty()) {
                std::string out = "{\"time\":" + TimeJson(now) + ",\"active\":[";
                for (const WebStation& s : sink_.stations())
                    for (const AlarmEvent& a : s.alarms) {
                        if (out.back() != '[') out += ',';
                        out += AlarmEventJson(a);
                    }
                return Json(out + "]}");
            }
            int64_t from = 0, to = 0;
            if (auto bad = range(query, from, to)) return *bad;
            StoreReader* store = reader();
            if (!store) return noDatabase();
            std::vector<StoreReader::AlarmRow> rows;
            bool truncated = false;
            if (!store->alarms(from, to, rows, truncated)) return databaseError(*store);
            return Json(PastAlarmsJson(from, to, rows, truncated));
        }
        if (path == "/api/health") {
            if (!query.isEmpty()) return badParameter(query.queryItems().front().first.toStdString(), "unknown");
            std::string out = "{\"time\":" + TimeJson(now) + ",\"started\":" + TimeJson(started_) +
                              ",\"uptime\":" + std::to_string((now - started_) / 100) + ",\"sources\":[";
            for (const SourceStatus& s : sink_.sourceStatus()) {
                if (out.back() != '[') out += ',';
                out += "{\"name\":";
                rdsformats::AppendUtf8JsonString(out, s.name);
                out += ",\"kind\":";
                rdsformats::AppendUtf8JsonString(out, s.kind);
                out += ",\"state\":\"" + s.state + "\",\"bits\":" + std::to_string(s.bits) +
                       ",\"dropped\":" + std::to_string(s.dropped) + ",\"error\":";
                rdsformats::AppendUtf8JsonString(out, s.error);
                out += '}';
            }
            return Json(out + "],\"clients\":" + std::to_string(hub_.clients()) + "}");
        }
        return Error(Status::NotFound, "no such endpoint " + path);
    }

    Reply stationAnswer(const std::string& rest, const QUrlQuery& query)
    {
        // SITE/NAME or SITE/NAME/history
        const std::size_t slash = rest.find('/');
        if (slash == std::string::npos || slash == 0) return Error(Status::NotFound, "no such endpoint");
        const std::string site = rest.substr(0, slash);
        std::string name = rest.substr(slash + 1);
        bool history = false;
        if (const std::size_t end = name.find('/'); end != std::string::npos) {
            if (name.substr(end) != "/history") return Error(Status::NotFound, "no such endpoint");
            history = true;
            name.resize(end);
        }
        // A name that is a number is a frequency in MHz: "98.50" is station 98.5.
        double mhz = 0;
        const char* end = name.data() + name.size();
        if (const auto [p, ec] = std::from_chars(name.data(), end, mhz);
            !name.empty() && ec == std::errc() && p == end) {
            if (!(mhz >= 0.1 && mhz <= 30000))
                return badParameter("frequency", "'" + name + "' is no frequency in MHz");
            name = rdsformats::FrequencyText(mhz);
        }
        const std::string id = StationId(site, name);
        const std::optional<WebStation> station = sink_.station(id);
        if (!history) {
            if (!query.isEmpty()) return badParameter(query.queryItems().front().first.toStdString(), "unknown");
            if (!station) return Error(Status::NotFound, "no station " + id);
            return Json(WebStationJson(*station, true));
        }
        int64_t from = 0, to = 0;
        if (auto bad = range(query, from, to)) return *bad;
        StoreReader* store = reader();
        if (!store) return noDatabase();
        StoreReader::History h;
        if (!store->history(site, name, from, to, h)) return databaseError(*store);
        if (!station && h.texts.empty() && h.quality.empty() && h.alarms.empty())
            return Error(Status::NotFound, "no station " + id);
        return Json(HistoryJson(id, from, to, h));
    }

    Reply noDatabase() const
    {
        return Error(Status::NotFound, "no history: this service keeps no station database (database = none)");
    }
    static Reply databaseError(const StoreReader& store)
    {
        std::fprintf(stderr, "varnakd: web: %s\n", store.lastError().c_str());
        return Error(Status::InternalServerError, "the station database could not be read");
    }

    // The reader of the station database, opened on this thread at its first use.
    StoreReader* reader()
    {
        if (config_.database == "none") return nullptr;
        if (!reader_) {
            auto opened = std::make_unique<StoreReader>();
            std::string error;
            if (!opened->open(config_, error)) {
                std::fprintf(stderr, "varnakd: web: %s\n", error.c_str());
                return nullptr;
            }
            reader_ = std::move(opened);
        }
        return reader_.get();
    }

    Reply staticFile(QString path) const
    {
        if (dashboard_.isEmpty()) return Error(Status::NotFound, "no dashboard is installed");
        if (path.isEmpty() || path == "/") path = "/index.html";
        // No hidden files, no way out of the folder.
        for (const QString& part : path.split('/', Qt::SkipEmptyParts))
            if (part.startsWith('.') || part.contains('\\')) return Error(Status::NotFound, "not found");
        const QString root = QFileInfo(dashboard_).canonicalFilePath();
        const QFileInfo file(root + path);
        const QString real = file.canonicalFilePath();
        if (!file.isFile() || real.isEmpty() || !real.startsWith(root + "/"))
            return Error(Status::NotFound, "not found: " + path.toStdString());
        QFile f(real);
        if (f.size() > kMaxFileBytes || !f.open(QIODevice::ReadOnly))
            return Error(Status::NotFound, "not found: " + path.toStdString());
        return {Status::Ok, ContentType(real), f.readAll()};
    }

    // Upgrades were checked by handleRequest: they may go to the hub.
    void takeWebSockets()
    {
        while (hasPendingWebSocketConnections())
            if (QWebSocket* socket = nextPendingWebSocketConnection().release()) hub_.add(socket);
    }

    const ServiceConfig& config_;
    WebSink& sink_;
    std::string token_;
    QString dashboard_;
    int64_t started_;
    LiveHub hub_;
    std::unique_ptr<StoreReader> reader_;
    std::optional<Reply> refusal_;
    uint64_t requests_ = 0, refused_ = 0;
};

}  // namespace

std::string DashboardFolder(const WebConfig& config)
{
    for (const std::string& dir : {config.dashboard, std::string(VARNAK_WEB_INSTALLED), std::string(VARNAK_WEB_SOURCE)})
        if (!dir.empty() && QFileInfo(QString::fromStdString(dir) + "/index.html").isFile()) return dir;
    return config.dashboard;
}

bool ReadToken(const std::string& path, std::string& token, std::string& error)
{
    std::ifstream in(path);
    if (!in) {
        error = "web: cannot read the token file " + path;
        return false;
    }
    std::getline(in, token);
    const auto b = token.find_first_not_of(" \t\r");
    token = b == std::string::npos ? std::string() : token.substr(b, token.find_last_not_of(" \t\r") - b + 1);
    if (token.size() < 16) {
        error = "web: the token in " + path + " is shorter than 16 characters";
        return false;
    }
    return true;
}

class WebServer::Thread : public QThread {
public:
    Thread(WebServer& owner) : owner_(owner) {}
    std::promise<std::string> started;  // "" or what went wrong
    int port = 0;

protected:
    void run() override
    {
        const WebConfig& web = owner_.config_.web;
        HttpFace face(owner_.config_, owner_.sink_, owner_.token_, owner_.dashboard_);
        auto* tcp = new BoundedTcpServer(web.connections, qint64(web.requestKib) * 1024, &face);
        const QHostAddress address = web.address == "localhost" ? QHostAddress(QHostAddress::LocalHost)
                                                                : QHostAddress(QString::fromStdString(web.address));
        if (!tcp->listen(address, quint16(web.port))) {
            started.set_value("web: cannot listen on " + web.address + ":" + std::to_string(web.port) + ": " +
                              tcp->errorString().toStdString());
            return;
        }
        port = tcp->serverPort();
        face.bind(tcp);
        started.set_value({});
        exec();
    }

private:
    WebServer& owner_;
};

WebServer::WebServer(const ServiceConfig& config, WebSink& sink, std::string token, std::string dashboard)
    : config_(config), sink_(sink), token_(std::move(token)), dashboard_(std::move(dashboard))
{
}

WebServer::~WebServer() { stop(); }

bool WebServer::start(std::string& error)
{
    // Qt warns of every refused WebSocket upgrade; a client could fill the log with them.
    QLoggingCategory::setFilterRules("qt.httpserver.warning=false");
    thread_ = std::make_unique<Thread>(*this);
    std::future<std::string> result = thread_->started.get_future();
    thread_->start();
    error = result.get();
    if (!error.empty()) {
        thread_->wait();
        thread_.reset();
        return false;
    }
    port_ = thread_->port;
    return true;
}

void WebServer::stop()
{
    if (!thread_) return;
    thread_->quit();
    thread_->wait();
    thread_.reset();
}

}  // namespace varnakd
