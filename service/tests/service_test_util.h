// What the service's end-to-end tests share: a scratch folder, rdsgen
// recordings, varnakd runs, and a small HTTP server receiving webhooks.
#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace varnakd::test {

inline QCoreApplication& App()
{
    static int argc = 1;
    static char name[] = "varnakd_tests";
    static char* argv[] = {name, nullptr};
    [[maybe_unused]] static QCoreApplication* app =
        QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
    return *QCoreApplication::instance();
}

inline std::string ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
}

inline void Write(const QString& path, const std::string& text)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) f.write(text.data(), qint64(text.size()));
}

// rdsgen's bit text for `description` (a station file's text), `seconds` long.
inline std::string Generate(const QString& dir, const std::string& description, const QStringList& options)
{
    Write(dir + "/gen.rds", description);
    QProcess p;
    p.start(RDSGEN_PATH, QStringList{dir + "/gen.rds", "-o", dir + "/gen.txt"} + options);
    p.waitForFinished(60000);
    return ReadAll(dir + "/gen.txt");
}

// Runs varnakd with `config` while the event loop serves the test's servers.
struct Run {
    int exitCode = -1;
    std::string log;
};
inline std::vector<Run> RunVarnakds(const QStringList& configs, const std::function<void()>& meanwhile = {},
                                    int timeoutMs = 120000)
{
    std::vector<std::unique_ptr<QProcess>> processes;
    for (const QString& config : configs) {
        processes.push_back(std::make_unique<QProcess>());
        processes.back()->start(VARNAKD_PATH, {"--config", config});
        processes.back()->waitForStarted();
    }
    if (meanwhile) meanwhile();
    QElapsedTimer timer;
    timer.start();
    const auto running = [&] {
        for (auto& p : processes)
            if (p->state() != QProcess::NotRunning) return true;
        return false;
    };
    while (running() && timer.elapsed() < timeoutMs) {
        App().processEvents(QEventLoop::AllEvents, 20);
        for (auto& p : processes) p->waitForFinished(2);
    }
    std::vector<Run> runs;
    for (auto& p : processes) {
        if (p->state() != QProcess::NotRunning) p->kill(), p->waitForFinished();
        runs.push_back(
            {p->exitStatus() == QProcess::NormalExit ? p->exitCode() : -1, p->readAllStandardError().toStdString()});
    }
    return runs;
}
inline Run RunVarnakd(const QString& config) { return RunVarnakds({config}).front(); }

// A port nothing listens on now.
inline int FreePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// Ends a test's server process: asked first, then made to.
inline void Stop(QProcess& process)
{
    if (process.state() == QProcess::NotRunning) return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

// A real Mosquitto broker on 127.0.0.1, on a port of its own.
class Broker {
public:
    explicit Broker(const QString& dir) : dir_(dir), port_(FreePort())
    {
        Write(dir + "/mosquitto.conf", "listener " + std::to_string(port_) + " 127.0.0.1\nallow_anonymous true\n");
    }
    ~Broker() { stop(); }
    bool start()
    {
        process_.start("/usr/sbin/mosquitto", {"-c", dir_ + "/mosquitto.conf"});
        for (int i = 0; i < 100; ++i) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, quint16(port_));
            if (probe.waitForConnected(100)) return true;
            QThread::msleep(50);
        }
        return false;
    }
    void stop() { Stop(process_); }
    int port() const { return port_; }

private:
    QString dir_;
    int port_;
    QProcess process_;
};

// The card server simulator (cardsim) as a real process on 127.0.0.1,
// streaming a bit recording in a loop at four times its rate.
class CardServer {
public:
    explicit CardServer(QString bits) : bits_(std::move(bits)) {}
    ~CardServer() { stop(); }
    // On `port` (0: a free one); false when it does not come up.
    bool start(int port = 0)
    {
        process_.start(CARDSIM_PATH, {"--port", QString::number(port), "--bits", bits_, "--loop", "--speed", "4"});
        static const QRegularExpression listening("listening on .*:(\\d+)");
        QByteArray out;
        while (process_.waitForReadyRead(10000)) {
            out += process_.readAllStandardOutput();
            const auto m = listening.match(QString::fromLatin1(out));
            if (m.hasMatch()) return (port_ = m.captured(1).toInt()) > 0;
        }
        return false;
    }
    void stop() { Stop(process_); }
    int port() const { return port_; }

private:
    QString bits_;
    QProcess process_;
    int port_ = 0;
};

// An alarm expected at a time: raised (or cleared) between `from` and `to`
// seconds after the start of a recording.
struct ExpectedAlarm {
    const char* alarm;
    bool raised;
    double from, to;
};

// mosquitto_sub with `arguments` against `port`; its output.
inline std::string Subscribe(int port, const QStringList& arguments)
{
    QProcess p;
    p.start("mosquitto_sub", QStringList{"-h", "127.0.0.1", "-p", QString::number(port)} + arguments);
    p.waitForFinished(20000);
    return p.readAllStandardOutput().toStdString();
}

// Takes HTTP POSTs; answers 500 to the first `failFirst`, 200 to the rest.
class HookServer : public QObject {
public:
    explicit HookServer(int failFirst) : failFirst_(failFirst)
    {
        server_.listen(QHostAddress::LocalHost, 0);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = server_.nextPendingConnection()) {
                connect(s, &QTcpSocket::readyRead, this, [this, s] { read(s); });
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
    }
    QString url() const { return QString("http://127.0.0.1:%1/hook").arg(server_.serverPort()); }
    std::vector<std::string> bodies;  // the bodies taken (200)
    int requests = 0;

private:
    void read(QTcpSocket* s)
    {
        QByteArray& buffer = buffers_[s];
        buffer += s->readAll();
        const int end = buffer.indexOf("\r\n\r\n");
        if (end < 0) return;
        const int at = buffer.toLower().indexOf("content-length:");
        const int length = at < 0 ? 0 : buffer.mid(at + 15, buffer.indexOf("\r\n", at) - at - 15).trimmed().toInt();
        if (buffer.size() < end + 4 + length) return;
        ++requests;
        const bool fail = requests <= failFirst_;
        if (!fail) bodies.push_back(buffer.mid(end + 4, length).toStdString());
        s->write(fail ? "HTTP/1.1 500 Busy\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"
                      : "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        s->disconnectFromHost();
        buffers_.remove(s);
    }

    QTcpServer server_;
    int failFirst_;
    QHash<QTcpSocket*, QByteArray> buffers_;
};

}  // namespace varnakd::test
