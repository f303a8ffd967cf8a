#include "sim_server.h"

#include <QJsonDocument>
#include <QTcpSocket>

namespace cardsim {

SimServer::SimServer(SessionOptions options, QObject* parent) : QObject(parent), options_(std::move(options))
{
    connect(&server_, &QTcpServer::newConnection, this, &SimServer::onNewConnection);
}

SimServer::~SimServer()
{
    for (auto& s : sessions_) delete s.data();
}

bool SimServer::listen(const QHostAddress& address, quint16 port, QString* error)
{
    if (!server_.listen(address, port)) {
        *error = QString("cannot listen on %1:%2: %3").arg(address.toString()).arg(port).arg(server_.errorString());
        return false;
    }
    return true;
}

bool SimServer::openLog(const QString& path, QString* error)
{
    logFile_.setFileName(path);
    if (!logFile_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        *error = QString("cannot open log file %1: %2").arg(path, logFile_.errorString());
        return false;
    }
    return true;
}

QList<SimSession*> SimServer::sessions() const
{
    QList<SimSession*> list;
    for (const auto& s : sessions_)
        if (s) list.append(s.data());
    return list;
}

void SimServer::broadcastXml(const QByteArray& xml)
{
    for (SimSession* s : sessions())
        if (s->inSession()) s->sendXml(xml);
}

void SimServer::onNewConnection()
{
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        const int id = nextId_++;
        auto logger = [this](const QJsonObject& entry) {
            received_.append(entry);
            if (logFile_.isOpen()) {
                logFile_.write(QJsonDocument(entry).toJson(QJsonDocument::Compact) + "\n");
                logFile_.flush();
            }
        };
        auto* session = new SimSession(socket, id, options_, logger, this);
        sessions_.insert(id, session);
        connect(session, &SimSession::closed, this, [this](int closedId) {
            if (auto s = sessions_.take(closedId)) s->deleteLater();
            emit sessionClosed(closedId);
        });
        emit sessionOpened(id);
    }
}

}  // namespace cardsim
