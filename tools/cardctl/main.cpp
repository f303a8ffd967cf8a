// cardctl: a scriptable client for a decoder-card server. Searches for cards,
// or connects one, sets it up for the RDS bit stream and prints every event
// as a JSON line.
#include "command_line.h"
#include "event_printer.h"
#include "usage.h"

#include "quesmer/start_sequence.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <csignal>
#include <cstdio>

using namespace quesmer;
using namespace cardctl;

namespace {

constexpr const char* kProgram = "cardctl";
// How long the card may take to answer the connect request (its first
// indicator, or an error) before the set-up goes ahead anyway.
constexpr int kCardAnswerMs = 5000;

volatile std::sig_atomic_t interrupted = 0;

void onSignal(int) { interrupted = 1; }

int usageError(const QString& text) { return varnak::UsageError(kProgram, text.toStdString()); }

void failure(const QString& text) { std::fprintf(stderr, "%s: %s\n", kProgram, qPrintable(text)); }

// Runs the event loop for `ms` milliseconds, or less once `stop` holds.
void runUntil(int ms, const std::function<bool()>& stop)
{
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (stop()) loop.quit();
    });
    if (stop()) return;
    deadline.start(ms);
    poll.start(50);
    loop.exec();
}

struct LiveOptions {
    QString host;
    Long port = 33234;
    bool bySerial = false;
    Integer card = 1;
    QString serial;
    Integer input = 3;
    double seconds = 10;
    QString hexOut;
};

int search(QString host, Long port)
{
    CardLink link;
    EventPrinter printer(link, stdout);
    const Integer result = link.CardSearch(host, port);
    Integer error = result;
    const QString text = link.connectErrorText(error);
    printer.print({{"result", result}, {"text", text}});
    if (result == 0) return 0;  // a card list came, possibly an empty one
    failure(QString("no card list from %1:%2: Err:%3 - %4").arg(host).arg(port).arg(result).arg(text));
    return 1;
}

int live(LiveOptions o)
{
    QFile hexFile;
    bool writeFailed = false;
    if (!o.hexOut.isEmpty()) {
        hexFile.setFileName(o.hexOut);
        if (!hexFile.open(QIODevice::WriteOnly | QIODevice::Append)) {
            failure(QString("cannot open %1: %2").arg(o.hexOut, hexFile.errorString()));
            return 1;
        }
    }

    CardLink link;
    EventPrinter printer(link, stdout);
    if (hexFile.isOpen()) {
        printer.setBinarySink([&](EncTyp enc, const QString& bin) {
            if (enc != ENC_HEX || writeFailed) return;
            const QByteArray bytes = bin.toLatin1() + '\n';
            if (hexFile.write(bytes) != bytes.size() || !hexFile.flush()) {
                writeFailed = true;
                failure(QString("writing %1 failed: %2").arg(o.hexOut, hexFile.errorString()));
            }
        });
    }

    // What the server tells while the card is connected and set up.
    bool cardAnswered = false;
    QString cardError;
    QElapsedTimer firstData;
    QObject::connect(&link, &CardLink::OnCardConnected, [&] { cardAnswered = true; });
    QObject::connect(&link, &CardLink::OnCardError, [&](ErrTyp, const QString& desc) {
        if (!cardAnswered && cardError.isEmpty()) cardError = desc;
    });
    auto dataCame = [&] {
        if (!firstData.isValid()) firstData.start();
    };
    QObject::connect(&link, &CardLink::OnCardDataBinary, [&](EncTyp, Integer, const QString&) { dataCame(); });
    QObject::connect(&link, &CardLink::OnCardDataText,
                     [&](const QString&, Boolean, const QString&, const QString&, const QString&) { dataCame(); });

    const QString target = o.bySerial ? "serial " + o.serial : "card " + QString::number(o.card);
    const QString where = QString("%1:%2").arg(o.host).arg(o.port);
    const Integer result = o.bySerial ? link.CardConnectBySerial(o.host, o.port, o.serial)
                                      : link.CardConnectByNumber(o.host, o.port, o.card);
    if (result != 0) {
        Integer error = result;
        const QString text = link.connectErrorText(error);
        failure(QString("cannot connect %1 on %2: Err:%3 - %4").arg(target, where).arg(result).arg(text));
        return 1;
    }

    auto stopped = [&] { return interrupted || !link.connected(); };
    // The server answers the connect request with the card's first
    // indicator, or with an error when it has no such card: then the set-up
    // is not even started.
    runUntil(kCardAnswerMs, [&] { return stopped() || cardAnswered || !cardError.isEmpty(); });
    if (!cardAnswered && !cardError.isEmpty()) {
        failure(QString("cannot connect %1 on %2: %3").arg(target, where, cardError));
        link.CardDisconnect();
        return 1;
    }

    sendRdsStartSequence(link, o.input, [&](int ms) { runUntil(ms, stopped); });
    // --seconds counts from the first data received, which may have come
    // during the set-up; without any data the run ends that long after it.
    const int listenMs = int(o.seconds * 1000);
    if (!firstData.isValid()) runUntil(listenMs, [&] { return stopped() || firstData.isValid(); });
    if (firstData.isValid() && !stopped()) runUntil(int(std::max<qint64>(0, listenMs - firstData.elapsed())), stopped);

    const bool lost = !interrupted && !link.connected();
    const bool noData = !interrupted && !lost && !firstData.isValid();
    link.CardDisconnect();
    if (lost) {
        failure(QString("the connection to %1 ended").arg(where));
        return 1;
    }
    if (noData) {
        failure(QString("no data from %1 on %2 within %3 s").arg(target, where).arg(o.seconds));
        return 1;
    }
    return writeFailed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(kProgram);

    QCommandLineParser p;
    p.setApplicationDescription(
        "A scriptable client for a decoder-card server.\n\n"
        "Commands:\n"
        "  search   connect, wait for the server's card list, disconnect. Prints every\n"
        "           event as one JSON line, then {\"result\":R,\"text\":\"...\"}.\n"
        "           Exit 0 when a card list came (R is 0; an empty list is an\n"
        "           answer too), else 1 with the reason on standard error.\n"
        "  live     connect the card given by --card or --serial, set it up for the\n"
        "           RDS bit stream (about five seconds of automatic level setting),\n"
        "           print every event as one JSON line until --seconds have passed\n"
        "           since the first data arrived (data arriving during the set-up\n"
        "           counts), then release the card. Binary data is summarised as\n"
        "           encoding, bitCount and length; with --hex-out its hexadecimal\n"
        "           text is appended to a file, one batch per line (decode it with\n"
        "           murlin-decode --hex).\n"
        "           Exit 0 when all of that happened. Exit 1 with the reason on\n"
        "           standard error when connecting fails, the server refuses the\n"
        "           card (the set-up is then skipped), no data arrives within\n"
        "           --seconds after the set-up, the connection ends early or the\n"
        "           hex file cannot be written.\n\n"
        "Exit status 2: wrong usage.");
    p.addOption({"host", "Server host name or address (default 127.0.0.1).", "host", "127.0.0.1"});
    p.addOption({"port", "Server TCP port (default 33234).", "port", "33234"});
    p.addOption({"card", "live: card number to connect (1 to 7).", "n"});
    p.addOption({"serial", "live: serial number of the card to connect.", "serial"});
    p.addOption({"input", "live: IF input of the card, 1 to 6 (default 3).", "k", "3"});
    p.addOption({"seconds", "live: how long to listen, counted from the first data received (default 10).", "t", "10"});
    p.addOption({"hex-out", "live: append the hexadecimal bit-stream text to file.", "file"});
    p.addPositionalArgument("command", "search or live");
    if (const auto done = varnak::ParseStandardOptions(p, app.arguments(), kProgram, VARNAK_VERSION)) return *done;
    const QStringList args = p.positionalArguments();
    if (args.size() != 1 || (args[0] != "search" && args[0] != "live"))
        return usageError("give exactly one command: search or live");

    bool ok = false;
    const uint port = p.value("port").toUInt(&ok);
    if (!ok || port > 65535) return usageError("--port wants a number from 0 to 65535, not " + p.value("port"));
    const QString host = p.value("host");
    if (host.isEmpty()) return usageError("--host is empty");

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    if (args[0] == "search") {
        for (const char* opt : {"card", "serial", "hex-out"})
            if (p.isSet(opt)) return usageError(QString("--%1 belongs to the live command").arg(opt));
        return search(host, Long(port));
    }

    LiveOptions o;
    o.host = host;
    o.port = Long(port);
    if (p.isSet("card") == p.isSet("serial")) return usageError("live needs either --card N or --serial S");
    if (p.isSet("card")) {
        const int card = p.value("card").toInt(&ok);
        if (!ok || card < 1 || card > 7)
            return usageError("--card wants a card number from 1 to 7, not " + p.value("card"));
        o.card = Integer(card);
    } else {
        o.bySerial = true;
        o.serial = p.value("serial");
        if (o.serial.isEmpty()) return usageError("--serial is empty");
    }
    const int input = p.value("input").toInt(&ok);
    if (!ok || input < 1 || input > 6)
        return usageError("--input wants an IF input from 1 to 6, not " + p.value("input"));
    o.input = Integer(input);
    o.seconds = p.value("seconds").toDouble(&ok);
    if (!ok || !(o.seconds > 0) || o.seconds > 7 * 24 * 3600)
        return usageError("--seconds wants a positive number of seconds, not " + p.value("seconds"));
    o.hexOut = p.value("hex-out");
    return live(o);
}
