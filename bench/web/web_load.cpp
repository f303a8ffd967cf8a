// The load of varnakd's web API (bench/web/run.sh starts it against a
// varnakd with ten FIFO sources): paces each station's bit text into its
// FIFO in real time, keeps WebSocket clients subscribed to everything, one
// of them a client that stops reading, and asks /api/stations at a steady
// rate on a thread of its own, timing each answer. Prints what each kind of
// client saw and what the server says it sent.
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QWebSocket>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Options {
    int port = 0;
    QByteArray token;
    int clients = 200;
    double rate = 100;  // requests per second
    int seconds = 60;
    std::vector<std::pair<QString, QString>> feeds;  // FIFO, bit text file
};

// Serves events until `done` or `ms` have passed, sleeping while nothing happens.
void Wait(
    int ms, const std::function<bool()>& done = [] { return false; })
{
    QElapsedTimer t;
    t.start();
    QTimer tick;
    tick.start(10);
    while (!done() && t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// Writes each file into its FIFO at 1187.5 bits per second; the pipes are
// made small, so a service that does not keep up blocks the writer and the
// lateness shows.
class Pacer {
public:
    Pacer(const std::vector<std::pair<QString, QString>>& feeds, int seconds) : seconds_(seconds)
    {
        for (const auto& [fifo, file] : feeds) {
            QFile f(file);
            f.open(QIODevice::ReadOnly);
            texts_.push_back(f.readAll());
            fifos_.push_back(fifo);
        }
    }
    void start()
    {
        thread_ = std::thread([this] { run(); });
    }
    void join() { thread_.join(); }
    double lateness() const { return lateness_; }  // seconds behind the schedule at worst

private:
    void run()
    {
        std::vector<int> fds;
        for (const QString& fifo : fifos_) {
            const int fd = ::open(fifo.toLocal8Bit().constData(), O_WRONLY);
            ::fcntl(fd, F_SETPIPE_SZ, 4096);  // 3.4 s of bits
            fds.push_back(fd);
        }
        const auto start = std::chrono::steady_clock::now();
        std::vector<std::size_t> sent(fds.size(), 0);
        for (;;) {
            const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            if (t >= seconds_) break;
            const auto due = static_cast<std::size_t>(t * 1187.5);
            for (std::size_t i = 0; i < fds.size(); ++i) {
                const std::size_t end = std::min(due, std::size_t(texts_[i].size()));
                while (sent[i] < end) {
                    const ssize_t n = ::write(fds[i], texts_[i].constData() + sent[i], end - sent[i]);
                    if (n <= 0) break;
                    sent[i] += std::size_t(n);
                }
            }
            const double after = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            lateness_ = std::max(lateness_, after - t);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        for (const int fd : fds) ::close(fd);
    }

    int seconds_;
    std::vector<QByteArray> texts_;
    std::vector<QString> fifos_;
    std::thread thread_;
    double lateness_ = 0;
};

// GET /api/stations at a steady rate on this thread, every answer timed.
class Asker : public QThread {
public:
    Asker(const Options& o) : o_(o) {}
    std::vector<double> ms;
    int errors = 0;
    std::atomic<bool> stop{false};

protected:
    void run() override
    {
        QNetworkAccessManager manager;
        QTimer timer;
        int open = 0;
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [&] {
            if (stop) return quit();
            QNetworkRequest request(QUrl(QString("http://127.0.0.1:%1/api/stations").arg(o_.port)));
            if (!o_.token.isEmpty()) request.setRawHeader("Authorization", "Bearer " + o_.token);
            auto clock = std::make_shared<QElapsedTimer>();
            clock->start();
            QNetworkReply* reply = manager.get(request);
            ++open;
            QObject::connect(reply, &QNetworkReply::finished, [&, reply, clock] {
                --open;
                ms.push_back(double(clock->nsecsElapsed()) / 1e6);
                if (reply->error() != QNetworkReply::NoError || !reply->readAll().startsWith("{\"time\":")) ++errors;
                reply->deleteLater();
            });
        });
        timer.start(int(1000 / o_.rate));
        exec();
        while (open > 0) QCoreApplication::processEvents();
    }

private:
    const Options& o_;
};

struct Counts {
    uint64_t hello = 0, state = 0, alarm = 0, group = 0, dropped = 0;
};

double Percentile(std::vector<double> v, double p)
{
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(p * double(v.size())))];
}

std::string Metric(const std::string& text, const std::string& name)
{
    const std::size_t at = text.find("\n" + name + " ");
    return at == std::string::npos ? "?"
                                   : text.substr(at + name.size() + 2, text.find('\n', at + 1) - at - name.size() - 2);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const QString value = argv[i + 1];
        if (key == "--port")
            o.port = value.toInt();
        else if (key == "--token")
            o.token = value.toUtf8();
        else if (key == "--clients")
            o.clients = value.toInt();
        else if (key == "--rate")
            o.rate = value.toDouble();
        else if (key == "--seconds")
            o.seconds = value.toInt();
        else if (key == "--feed")
            o.feeds.push_back({value.section(':', 0, 0), value.section(':', 1)});
        else
            return std::fprintf(stderr, "bench_web_load: unknown option %s\n", key.c_str()), 2;
    }
    const QString live = QString("ws://127.0.0.1:%1/api/live").arg(o.port);
    const QByteArray subscribe = R"({"subscribe":{"kinds":["state","alarm","group"]}})";

    // The clients, each subscribed to everything.
    std::vector<std::unique_ptr<QWebSocket>> sockets;
    std::vector<Counts> counts(std::size_t(o.clients));
    for (int i = 0; i < o.clients; ++i) {
        auto socket = std::make_unique<QWebSocket>();
        Counts& c = counts[std::size_t(i)];
        QObject::connect(socket.get(), &QWebSocket::textMessageReceived, [&c](const QString& m) {
            const QStringView type = QStringView(m).mid(9, 5);
            if (type == u"hello")
                ++c.hello;
            else if (type == u"state")
                ++c.state;
            else if (type == u"alarm")
                ++c.alarm;
            else if (type == u"group")
                ++c.group;
            else if (type.startsWith(u"drop"))
                ++c.dropped;
        });
        QWebSocket* s = socket.get();
        QObject::connect(s, &QWebSocket::connected, [s, &subscribe] { s->sendTextMessage(subscribe); });
        QNetworkRequest request{QUrl(live)};
        if (!o.token.isEmpty()) request.setRawHeader("Authorization", "Bearer " + o.token);
        s->open(request);
        sockets.push_back(std::move(socket));
    }
    Wait(30000, [&] { return std::all_of(counts.begin(), counts.end(), [](const Counts& c) { return c.hello > 0; }); });

    // The slow client: asks for everything, then stops reading.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int small = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(quint16(o.port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QTcpSocket slow;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 || !slow.setSocketDescriptor(fd)) {
        std::fprintf(stderr, "bench_web_load: cannot connect to port %d: %s\n", o.port, std::strerror(errno));
        return 1;
    }
    slow.write(
        "GET /api/live HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\nAuthorization: Bearer " +
        o.token + "\r\n\r\n");
    QByteArray slowGot;
    Wait(5000, [&] { return (slowGot += slow.readAll()).contains("hello"); });
    slow.write(QByteArray("\x81") + char(0x80 | subscribe.size()) + QByteArray(4, '\0') + subscribe);
    slow.setReadBufferSize(1024);
    Wait(500);

    Pacer pacer(o.feeds, o.seconds);
    Asker asker(o);
    std::fprintf(stderr, "bench_web_load: %d clients connected; %d s of load\n", o.clients, o.seconds);
    pacer.start();
    asker.start();
    // Once the server says it dropped the slow client, that client reads
    // again: the message must be there, after what it had been sent.
    QNetworkAccessManager manager;
    const auto metrics = [&] {
        QNetworkRequest request(QUrl(QString("http://127.0.0.1:%1/metrics").arg(o.port)));
        if (!o.token.isEmpty()) request.setRawHeader("Authorization", "Bearer " + o.token);
        QNetworkReply* reply = manager.get(request);
        Wait(10000, [&] { return reply->isFinished(); });
        reply->deleteLater();
        return reply->readAll().toStdString();
    };
    QElapsedTimer run;
    run.start();
    double droppedAt = -1;
    while (run.elapsed() < o.seconds * 1000) {
        Wait(1000);
        if (droppedAt < 0 && Metric(metrics(), "varnak_web_clients_dropped_total") != "0") {
            droppedAt = double(run.elapsed()) / 1000;
            slow.setReadBufferSize(0);
        }
        if (droppedAt >= 0) slowGot += slow.readAll();
    }
    pacer.join();
    asker.stop = true;
    asker.wait();
    Wait(2000);  // the last rounds

    const std::string text = metrics();
    slow.setReadBufferSize(0);
    Wait(15000, [&] {
        slowGot += slow.readAll();
        return slow.state() == QAbstractSocket::UnconnectedState;
    });
    slowGot += slow.readAll();

    Counts least{~0ull, ~0ull, ~0ull, ~0ull, 0}, most;
    int closed = 0;
    for (std::size_t i = 0; i < counts.size(); ++i) {
        const Counts& c = counts[i];
        least = {std::min(least.hello, c.hello), std::min(least.state, c.state), std::min(least.alarm, c.alarm),
                 std::min(least.group, c.group), 0};
        most = {std::max(most.hello, c.hello), std::max(most.state, c.state), std::max(most.alarm, c.alarm),
                std::max(most.group, c.group), most.dropped + c.dropped};
        closed += sockets[i]->state() != QAbstractSocket::ConnectedState;
    }
    std::printf("HTTP GET /api/stations: %zu answers at %.0f/s, p50 %.1f ms, p99 %.1f ms, max %.1f ms, %d errors\n",
                asker.ms.size(), o.rate, Percentile(asker.ms, 0.5), Percentile(asker.ms, 0.99),
                Percentile(asker.ms, 1.0), asker.errors);
    std::printf("server made: %s state, %s alarm, %s group messages; events lost before the clients: %s\n",
                Metric(text, "varnak_web_messages_total{type=\"state\"}").c_str(),
                Metric(text, "varnak_web_messages_total{type=\"alarm\"}").c_str(),
                Metric(text, "varnak_web_messages_total{type=\"group\"}").c_str(),
                Metric(text, "varnak_web_events_lost_total").c_str());
    std::printf(
        "%d WebSocket clients: groups %llu..%llu, states %llu..%llu, alarms %llu..%llu each; %llu dropped, "
        "%d closed\n",
        o.clients, (unsigned long long)least.group, (unsigned long long)most.group, (unsigned long long)least.state,
        (unsigned long long)most.state, (unsigned long long)least.alarm, (unsigned long long)most.alarm,
        (unsigned long long)most.dropped, closed);
    const bool dropped = slowGot.contains("{\"type\":\"dropped\"");
    std::printf("slow client (stops reading): %s %.0f s into the run, after %lld bytes; server counts %s dropped\n",
                dropped ? "got {\"type\":\"dropped\"} and was closed" : "NOT dropped", droppedAt,
                (long long)slowGot.size(), Metric(text, "varnak_web_clients_dropped_total").c_str());
    std::printf("pacing: at worst %.2f s behind its schedule (the service read every station's bits in time)\n",
                pacer.lateness());
    return 0;
}
