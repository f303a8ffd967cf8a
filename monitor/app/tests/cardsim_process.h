// The decoder-card server simulator run as a real process for the tests: it
// listens on a free port of 127.0.0.1 and is stopped with the object.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace varnak::test {

class CardSimProcess {
public:
    // Starts bin/cardsim (beside the test program) with `arguments` and a
    // free port; false with error() set when it does not come up.
    bool start(const QStringList& arguments);
    ~CardSimProcess();

    quint16 port() const { return port_; }
    const QString& error() const { return error_; }

private:
    QProcess process_;
    quint16 port_ = 0;
    QString error_;
};

// A port of 127.0.0.1 on which nothing listens.
quint16 ClosedPort();

// Writes a card file for the simulator into `dir`; each line as in the
// simulator's format ("1;DC1;dc1-0;00012345;yes;ready").
QString WriteCardFile(const QString& dir, const QStringList& lines);

}  // namespace varnak::test
