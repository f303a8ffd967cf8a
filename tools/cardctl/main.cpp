// cardctl: a scriptable client for a decoder-card server. Searches for cards,
// or connects one, sets it up for the RDS bit stream and prints every event
// as a JSON line.
#include "event_printer.h"

#include "quesmer/start_sequence.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <csignal>
#include <cstdio>

using namespace quesmer;
using namespace cardctl;

namespace {

volatile std::sig_atomic_t interrupted = 0;

void onSignal(int) { interrupted = 1; }

int usageError(const QString& text)
{
    std::fprintf(stderr, "cardctl: %s\nTry 'cardctl --help'.\n", qPrintable(text));
    return 2;
}

// Runs the event loop for `ms` milliseconds, or less once `stop` holds.
void runUntil(int ms, const std::function<bool()>& stop)
{
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (stop())
            loop.quit();
    });
    if (stop())
        return;
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
    const QString text = link.CardConnectError(error);
    printer.print({{"result", result}, {"text", text}});
    return result == 0 ? 0 : 1;
}

int live(LiveOptions o)
{
    QFile hexFile;
    bool writeFailed = false;
    if (!o.hexOut.isEmpty()) {
        hexFile.setFileName(o.hexOut);
        if (!hexFile.open(QIODevice::WriteOnly | QIODevice::Append)) {
            std::fprintf(stderr, "cardctl: cannot open %s: %s\n", qPrintable(o.hexOut),
                         qPrintable(hexFile.errorString()));
            return 1;
        }
    }

    CardLink link;
    EventPrinter printer(link, stdout);
    if (hexFile.isOpen()) {
        printer.setBinarySink([&](EncTyp enc, const QString& bin) {
            if (enc != ENC_HEX || writeFailed)
                return;
            const QByteArray bytes = bin.toLatin1() + '\n';
            if (hexFile.write(bytes) != bytes.size() || !hexFile.flush()) {
                writeFailed = true;
                std::fprintf(stderr, "cardctl: writing %s failed: %s\n", qPrintable(o.hexOut),
                             qPrintable(hexFile.errorString()));
            }
        });
    }

    const QString target = o.bySerial ? "serial " + o.serial : "card " + QString::number(o.card);
    const Integer result = o.bySerial ? link.CardConnectBySerial(o.host, o.port, o.serial)
                                      : link.CardConnectByNumber(o.host, o.port, o.card);
    if (result != 0) {
        Integer error = result;
        const QString text = link.CardConnectError(error);
        std::fprintf(stderr, "cardctl: cannot connect %s on %s:%d: Err:%d - %s\n", qPrintable(target),
                     qPrintable(o.host), int(o.port), int(result), qPrintable(text));
        return 1;
    }

    auto stopped = [&] { return interrupted || !link.connected(); };
    sendRdsStartSequence(link, o.input, [&](int ms) { runUntil(ms, stopped); });
    if (!stopped())
        runUntil(int(o.seconds * 1000), stopped);

    const bool lost = !interrupted && !link.connected();
    link.CardDisconnect();
    if (lost) {
        std::fprintf(stderr, "cardctl: the connection to %s:%d ended\n", qPrintable(o.host), int(o.port));
        return 1;
    }
    return writeFailed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("cardctl");
    QCoreApplication::setApplicationVersion(VARNAK_VERSION);

    QCommandLineParser p;
    p.setApplicationDescription(
        "A scriptable client for a decoder-card server.\n\n"
        "Commands:\n"
        "  search   connect, wait for the server's card list, disconnect. Prints every\n"
        "           event as one JSON line, then {\"result\":R,\"text\":\"...\"}.\n"
        "           Exit 0 when R is 0, else 1.\n"
        "  live     connect the card given by --card or --serial, set it up for the\n"
        "           RDS bit stream (about five seconds of automatic level setting),\n"
        "           print every event as one JSON line for --seconds, then release\n"
        "           the card. Binary data is summarised as encoding, bitCount and\n"
        "           length; with --hex-out its hexadecimal text is appended to a file,\n"
        "           one batch per line (decode it with murlin-decode --hex).\n"
        "           Exit 1 with the reason on standard error when connecting fails or\n"
        "           the connection ends early.\n\n"
        "Exit status 2: wrong usage.");
    p.addHelpOption();
    p.addVersionOption();
    p.addOption({"host", "Server host name or address (default 127.0.0.1).", "host", "127.0.0.1"});
    p.addOption({"port", "Server TCP port (default 33234).", "port", "33234"});
    p.addOption({"card", "live: card number to connect (1 to 7).", "n"});
    p.addOption({"serial", "live: serial number of the card to connect.", "serial"});
    p.addOption({"input", "live: IF input of the card, 1 to 6 (default 3).", "k", "3"});
    p.addOption({"seconds", "live: how long to listen after the set-up (default 10).", "t", "10"});
    p.addOption({"hex-out", "live: append the hexadecimal bit-stream text to file.", "file"});
    p.addPositionalArgument("command", "search or live");
    if (!p.parse(app.arguments()))
        return usageError(p.errorText());
    if (p.isSet("help")) {
        std::fputs(qPrintable(p.helpText()), stdout);
        return 0;
    }
    if (p.isSet("version"))
        p.showVersion();  // exits
    const QStringList args = p.positionalArguments();
    if (args.size() != 1 || (args[0] != "search" && args[0] != "live"))
        return usageError("give exactly one command: search or live");

    bool ok = false;
    const uint port = p.value("port").toUInt(&ok);
    if (!ok || port > 65535)
        return usageError("--port wants a number from 0 to 65535, not " + p.value("port"));
    const QString host = p.value("host");
    if (host.isEmpty())
        return usageError("--host is empty");

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    if (args[0] == "search") {
        for (const char* opt : {"card", "serial", "hex-out"})
            if (p.isSet(opt))
                return usageError(QString("--%1 belongs to the live command").arg(opt));
        return search(host, Long(port));
    }

    LiveOptions o;
    o.host = host;
    o.port = Long(port);
    if (p.isSet("card") == p.isSet("serial"))
        return usageError("live needs either --card N or --serial S");
    if (p.isSet("card")) {
        const int card = p.value("card").toInt(&ok);
        if (!ok || card < 1 || card > 7)
            return usageError("--card wants a card number from 1 to 7, not " + p.value("card"));
        o.card = Integer(card);
    } else {
        o.bySerial = true;
        o.serial = p.value("serial");
        if (o.serial.isEmpty())
            return usageError("--serial is empty");
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
