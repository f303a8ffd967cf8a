// Configuration of the decoder-card server simulator: the cards it announces,
// the bit stream it plays and the faults it injects for tests.
#pragma once

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <optional>

namespace cardsim {

// One card of the simulated server's card list.
struct SimCard {
    int number = 1;
    QString name;
    QString device;
    QString serial;
    bool access = true;        // sent as remote-access="yes" / "no"
    QString status = "ready";  // "ready", "busy", "no-card", ...
    int connections = 0;
};

// Faults the simulator can inject into every session.
enum class Fault {
    Split,          // write frames in small pieces, spread over time
    Garbage,        // put junk bytes before every frame marker
    Nop,            // send a NOP and a keep-alive frame before every message
    Quit,           // announce quitting (SEQ_QUIT) right after the card list
    Unknown,        // send a frame with an unknown payload code before the card list
    ProtocolError,  // send MSG_PROTOCOL_ERROR before the card list
    BadXml,         // send malformed XML before the card list
    Large,          // send the card list as one large, fragmented message
    Silent,         // after the handshake send nothing at all
    Close,          // close the connection abruptly right after the handshake
};

// Parses a comma-separated fault list ("split,nop"); nothing on an unknown name,
// with `error` naming it.
std::optional<QSet<Fault>> parseFaults(const QString& text, QString* error);
QString faultNames();  // the accepted names, for error messages
QString faultHelp();   // one line per fault with what it does, for --help

// The cards when no card file is given: one ready card.
QList<SimCard> defaultCards();

// Reads a card file. Format, one card per line, fields separated by ';':
//   number;name;device;serial;access;status[;connections]
// access is "yes" or "no"; blank lines and lines starting with '#' are skipped.
// Returns nothing on error, with `error` naming the file, line and field.
std::optional<QList<SimCard>> loadCards(const QString& path, QString* error);

// Bit streams are held as one byte per bit, 0 or 1, in transmission order.
// A bit file has one character per bit: '1' is a one, every other character a
// zero (as the monitor reads recordings).
std::optional<QByteArray> loadBitFile(const QString& path, QString* error);
// A hex file holds hexadecimal digits, first bit in the most significant bit of
// each digit; white space is skipped, any other character is an error.
std::optional<QByteArray> loadHexFile(const QString& path, QString* error);
std::optional<QByteArray> bitsFromHex(const QByteArray& hex, QString* error);

// Encodes `bits` (0/1 bytes) as the text of a binary data element.
// "base16": two digits per byte, first bit in the most significant bit, a last
// partial byte padded with zero bits; "base2": one '0'/'1' per bit;
// "base64" / "base64-mime": the packed bytes in base64 (MIME breaks lines at 76).
QByteArray encodeBits(const QByteArray& bits, const QString& encoding);

}  // namespace cardsim
