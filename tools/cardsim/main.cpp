// cardsim: a decoder-card server simulator for trying live decoding without a
// card, and a real TCP peer for the client's tests.
#include "command_line.h"
#include "sim_server.h"
#include "usage.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

using namespace cardsim;

namespace {

constexpr const char* kProgram = "cardsim";

int usageError(const QString& text) { return varnak::UsageError(kProgram, text.toStdString()); }

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(kProgram);

    QCommandLineParser p;
    p.setApplicationDescription(
        "Simulates a decoder-card server: greets each client, announces its cards,\n"
        "answers commands and, once a card is connected and set to the RDS bit-stream\n"
        "mode (modulation dbpsk, code hf-analysis-bit-stream), streams a recording at\n"
        "1187.5 bit/s times the speed factor.\n\n"
        "Card file: one card per line, fields separated by ';':\n"
        "  number;name;device;serial;access;status[;connections]\n"
        "  e.g.  1;DC1;dc1-0;00012345;yes;ready\n"
        "access is yes or no; status \"no-card\" marks an empty slot; lines starting\n"
        "with # are comments. Without --cards one ready card number 1 is announced.\n\n"
        "Faults for testing clients (--fault, comma-separated):\n" +
        faultHelp());
    p.addOption({"listen", "Address to listen on (default 127.0.0.1).", "addr", "127.0.0.1"});
    p.addOption({"port", "TCP port (default 33234); 0 picks a free port.", "port", "33234"});
    p.addOption({"cards", "Card list file (format above).", "file"});
    p.addOption({"bits", "Recording with one character per bit ('1' one, anything else zero).", "file"});
    p.addOption({"hex", "Recording as hexadecimal text (as saved by cardctl --hex-out).", "file"});
    p.addOption({"speed", "Factor on the bit rate of 1187.5 bit/s (default 1).", "x", "1"});
    p.addOption({"loop", "Start the recording again when it ends."});
    p.addOption({"batch-ms", "Milliseconds between data batches (default 250).", "ms", "250"});
    p.addOption({"fault", "Inject faults into every session (names above).", "list"});
    p.addOption({"split-size", "Bytes per TCP write with the split fault (default 3).", "n", "3"});
    p.addOption({"log", "Write every received frame and XML text as JSON lines to file.", "file"});
    if (const auto done = varnak::ParseStandardOptions(p, app.arguments(), kProgram, VARNAK_VERSION)) return *done;
    if (!p.positionalArguments().isEmpty())
        return usageError("unexpected argument '" + p.positionalArguments().first() + "'");

    SessionOptions options;
    QString error;
    bool ok = false;
    const uint port = p.value("port").toUInt(&ok);
    if (!ok || port > 65535) return usageError("--port wants a number from 0 to 65535, not " + p.value("port"));
    QHostAddress address;
    if (!address.setAddress(p.value("listen")))
        return usageError("--listen wants an IP address, not " + p.value("listen"));
    options.speed = p.value("speed").toDouble(&ok);
    if (!ok || !(options.speed > 0) || options.speed > 1000)
        return usageError("--speed wants a factor above 0 and up to 1000, not " + p.value("speed"));
    options.splitSize = p.value("split-size").toInt(&ok);
    if (!ok || options.splitSize < 1)
        return usageError("--split-size wants a positive number, not " + p.value("split-size"));
    options.batchMs = p.value("batch-ms").toInt(&ok);
    if (!ok || options.batchMs < 10 || options.batchMs > 10000)
        return usageError("--batch-ms wants a number from 10 to 10000, not " + p.value("batch-ms"));
    options.loop = p.isSet("loop");
    if (p.isSet("fault")) {
        auto faults = parseFaults(p.value("fault"), &error);
        if (!faults) return usageError(error);
        options.faults = *faults;
    }
    if (p.isSet("bits") && p.isSet("hex")) return usageError("give either --bits or --hex, not both");

    if (p.isSet("cards")) {
        auto cards = loadCards(p.value("cards"), &error);
        if (!cards) {
            std::fprintf(stderr, "cardsim: %s\n", qPrintable(error));
            return 1;
        }
        options.cards = *cards;
    } else {
        options.cards = defaultCards();
    }
    if (p.isSet("bits") || p.isSet("hex")) {
        auto bits = p.isSet("bits") ? loadBitFile(p.value("bits"), &error) : loadHexFile(p.value("hex"), &error);
        if (!bits) {
            std::fprintf(stderr, "cardsim: %s\n", qPrintable(error));
            return 1;
        }
        options.bits = *bits;
    }

    SimServer server(options);
    if (p.isSet("log") && !server.openLog(p.value("log"), &error)) {
        std::fprintf(stderr, "cardsim: %s\n", qPrintable(error));
        return 1;
    }
    if (!server.listen(address, quint16(port), &error)) {
        std::fprintf(stderr, "cardsim: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("listening on %s:%u\n", qPrintable(server.address().toString()), server.port());
    std::fflush(stdout);
    return app.exec();
}
