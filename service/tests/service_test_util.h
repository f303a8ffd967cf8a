// What the service's end-to-end tests share: a scratch folder, rdsgen
// recordings, varnakd runs, and a small HTTP server receiving webhooks.
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QCoreApplication>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <string>
#include <vector>

namespace varnakd::test {

inline QCoreApplication& App()
{
    static int argc = 1;
    static char name[] = "varnakd_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
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
inline Run RunVarnakd(const QString& config, int timeoutMs = 120000)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.start(VARNAKD_PATH, {"--config", config});
    QElapsedTimer timer;
    timer.start();
    while (p.state() != QProcess::NotRunning && timer.elapsed() < timeoutMs) {
        App().processEvents(QEventLoop::AllEvents, 20);
        p.waitForFinished(5);
    }
    if (p.state() != QProcess::NotRunning) p.kill(), p.waitForFinished();
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardError().toStdString()};
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
