// The decoder-card server simulator: accepts clients on a TCP port and runs
// one SimSession per connection. Usable in-process by tests.
#pragma once

#include "sim_session.h"

#include <QFile>
#include <QHostAddress>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QTcpServer>

namespace cardsim {

class SimServer : public QObject {
    Q_OBJECT
public:
    explicit SimServer(SessionOptions options, QObject* parent = nullptr);
    ~SimServer() override;

    // Starts listening; port 0 picks a free port. False with `error` set on failure.
    bool listen(const QHostAddress& address, quint16 port, QString* error);
    quint16 port() const { return server_.serverPort(); }
    QHostAddress address() const { return server_.serverAddress(); }

    // Writes every received frame and XML text as JSON lines to `path`.
    bool openLog(const QString& path, QString* error);

    // The open sessions, oldest first.
    QList<SimSession*> sessions() const;
    // Sends an XML message to every session that has completed the handshake.
    void broadcastXml(const QByteArray& xml);
    // Every received frame as logged (also kept when no log file is open).
    const QList<QJsonObject>& received() const { return received_; }

signals:
    void sessionOpened(int id);
    void sessionClosed(int id);

private:
    void onNewConnection();

    SessionOptions options_;
    QTcpServer server_;
    QMap<int, QPointer<SimSession>> sessions_;
    QFile logFile_;
    QList<QJsonObject> received_;
    int nextId_ = 1;
};

}  // namespace cardsim
