#include "sim_config.h"

#include <QFile>
#include <QStringList>

namespace cardsim {

namespace {

struct FaultName {
    const char* name;
    Fault fault;
    const char* help;
};

const FaultName kFaults[] = {
    {"split", Fault::Split, "write frames in small pieces (--split-size), spread over time"},
    {"garbage", Fault::Garbage, "junk bytes, including half a marker, before every frame"},
    {"nop", Fault::Nop, "a NOP and a keep-alive frame before every message"},
    {"quit", Fault::Quit, "announce quitting right after the card list, then close"},
    {"unknown", Fault::Unknown, "a frame with an unknown payload code before the card list"},
    {"protocol-error", Fault::ProtocolError, "a protocol error before the card list"},
    {"bad-xml", Fault::BadXml, "malformed XML before the card list"},
    {"large", Fault::Large, "the card list as one message of over 70000 bytes, in fragments"},
    {"silent", Fault::Silent, "nothing at all after the handshake, not even keep-alives"},
    {"close", Fault::Close, "close the connection abruptly right after the handshake"},
};

std::optional<QByteArray> readWhole(const QString& path, QString* error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QString("cannot open %1: %2").arg(path, f.errorString());
        return std::nullopt;
    }
    QByteArray data = f.readAll();
    if (f.error() != QFileDevice::NoError) {
        *error = QString("cannot read %1: %2").arg(path, f.errorString());
        return std::nullopt;
    }
    return data;
}

QByteArray packBits(const QByteArray& bits)
{
    QByteArray out((bits.size() + 7) / 8, '\0');
    for (qsizetype i = 0; i < bits.size(); ++i)
        if (bits[i]) out[i / 8] = char(uint8_t(out[i / 8]) | (0x80 >> (i % 8)));
    return out;
}

}  // namespace

std::optional<QSet<Fault>> parseFaults(const QString& text, QString* error)
{
    QSet<Fault> faults;
    for (const QString& part : text.split(',', Qt::SkipEmptyParts)) {
        const QString name = part.trimmed();
        bool found = false;
        for (const FaultName& f : kFaults) {
            if (name == QLatin1String(f.name)) {
                faults.insert(f.fault);
                found = true;
            }
        }
        if (!found) {
            *error = QString("unknown fault \"%1\" (known: %2)").arg(name, faultNames());
            return std::nullopt;
        }
    }
    return faults;
}

QString faultNames()
{
    QStringList names;
    for (const FaultName& f : kFaults) names << QLatin1String(f.name);
    return names.join(", ");
}

QString faultHelp()
{
    QString text;
    for (const FaultName& f : kFaults)
        text += QString("  %1 %2\n").arg(QLatin1String(f.name), -15).arg(QLatin1String(f.help));
    return text;
}

QList<SimCard> defaultCards()
{
    SimCard c;
    c.number = 1;
    c.name = "DC1";
    c.device = "dc1-0";
    c.serial = "00012345";
    return {c};
}

std::optional<QList<SimCard>> loadCards(const QString& path, QString* error)
{
    auto data = readWhole(path, error);
    if (!data) return std::nullopt;
    QList<SimCard> cards;
    const QList<QByteArray> lines = data->split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = QString::fromUtf8(lines[i]).trimmed();
        if (line.isEmpty() || line.startsWith('#')) continue;
        const QString where = QString("%1 line %2").arg(path).arg(i + 1);
        const QStringList f = line.split(';');
        if (f.size() < 6 || f.size() > 7) {
            *error = QString(
                         "%1: expected 6 or 7 fields separated by ';' "
                         "(number;name;device;serial;access;status[;connections]), found %2")
                         .arg(where)
                         .arg(f.size());
            return std::nullopt;
        }
        SimCard c;
        bool ok = false;
        c.number = f[0].trimmed().toInt(&ok);
        if (!ok || c.number < 0 || c.number > 99) {
            *error = QString("%1: card number \"%2\" is not a number from 0 to 99").arg(where, f[0]);
            return std::nullopt;
        }
        c.name = f[1].trimmed();
        c.device = f[2].trimmed();
        c.serial = f[3].trimmed();
        const QString access = f[4].trimmed();
        if (access != "yes" && access != "no") {
            *error = QString("%1: access \"%2\" must be yes or no").arg(where, access);
            return std::nullopt;
        }
        c.access = access == "yes";
        c.status = f[5].trimmed();
        if (c.status.isEmpty()) {
            *error = QString("%1: the status is empty").arg(where);
            return std::nullopt;
        }
        if (f.size() == 7) {
            c.connections = f[6].trimmed().toInt(&ok);
            if (!ok || c.connections < 0) {
                *error = QString("%1: connections \"%2\" is not a count").arg(where, f[6]);
                return std::nullopt;
            }
        }
        cards.append(c);
    }
    return cards;
}

std::optional<QByteArray> loadBitFile(const QString& path, QString* error)
{
    auto data = readWhole(path, error);
    if (!data) return std::nullopt;
    QByteArray bits(data->size(), '\0');
    for (qsizetype i = 0; i < data->size(); ++i) bits[i] = data->at(i) == '1' ? 1 : 0;
    return bits;
}

std::optional<QByteArray> bitsFromHex(const QByteArray& hex, QString* error)
{
    QByteArray bits;
    bits.reserve(hex.size() * 4);
    for (qsizetype i = 0; i < hex.size(); ++i) {
        const char ch = hex[i];
        if (ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n') continue;
        int v;
        if (ch >= '0' && ch <= '9')
            v = ch - '0';
        else if (ch >= 'a' && ch <= 'f')
            v = ch - 'a' + 10;
        else if (ch >= 'A' && ch <= 'F')
            v = ch - 'A' + 10;
        else {
            *error = QString("character %1 (byte 0x%2) is not a hexadecimal digit")
                         .arg(i + 1)
                         .arg(uint8_t(ch), 2, 16, QChar('0'));
            return std::nullopt;
        }
        for (int b = 3; b >= 0; --b) bits.append(char((v >> b) & 1));
    }
    return bits;
}

std::optional<QByteArray> loadHexFile(const QString& path, QString* error)
{
    auto data = readWhole(path, error);
    if (!data) return std::nullopt;
    auto bits = bitsFromHex(*data, error);
    if (!bits) *error = path + ": " + *error;
    return bits;
}

QByteArray encodeBits(const QByteArray& bits, const QString& encoding)
{
    if (encoding == "base2") {
        QByteArray out(bits.size(), '0');
        for (qsizetype i = 0; i < bits.size(); ++i)
            if (bits[i]) out[i] = '1';
        return out;
    }
    const QByteArray packed = packBits(bits);
    if (encoding == "base64") return packed.toBase64();
    if (encoding == "base64-mime") {
        const QByteArray b64 = packed.toBase64();
        QByteArray out;
        for (qsizetype i = 0; i < b64.size(); i += 76) {
            if (i) out += "\r\n";
            out += b64.mid(i, 76);
        }
        return out;
    }
    return packed.toHex().toUpper();
}

}  // namespace cardsim
