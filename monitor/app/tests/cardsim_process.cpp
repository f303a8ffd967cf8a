#include "cardsim_process.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>

namespace varnak::test {

bool CardSimProcess::start(const QStringList& arguments)
{
    const QString program = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("cardsim"));
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    process_.start(program, QStringList{QStringLiteral("--port"), QStringLiteral("0")} + arguments);
    if (!process_.waitForStarted(5000)) {
        error_ = QStringLiteral("cannot start %1: %2").arg(program, process_.errorString());
        return false;
    }
    // The simulator announces "listening on ADDRESS:PORT" once it listens.
    static const QRegularExpression listening(QStringLiteral("listening on .*:(\\d+)"));
    QByteArray out;
    while (process_.waitForReadyRead(10000)) {
        out += process_.readAllStandardOutput();
        const auto m = listening.match(QString::fromLatin1(out));
        if (m.hasMatch()) {
            port_ = static_cast<quint16>(m.captured(1).toUInt());
            return true;
        }
    }
    error_ = QStringLiteral("cardsim did not listen: %1 %2")
                 .arg(QString::fromLatin1(out), QString::fromLocal8Bit(process_.readAllStandardError()));
    return false;
}

CardSimProcess::~CardSimProcess()
{
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();
    if (!process_.waitForFinished(3000)) {
        process_.kill();
        process_.waitForFinished(3000);
    }
}

quint16 ClosedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

QString WriteCardFile(const QString& dir, const QStringList& lines)
{
    QString path = QDir(dir).filePath(QStringLiteral("cards.txt"));
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(lines.join(u'\n').toLatin1() + '\n');
    return path;
}

}  // namespace varnak::test
