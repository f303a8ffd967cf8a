#include "field_format.h"

#include <QLocale>

#include "rds_charset.h"

namespace varnak {

int32_t IntegerToUnsigned(int16_t value) { return value < 0 ? value + 65536 : value; }

QString IntegerToChar(int32_t word)
{
    const char bytes[2] = {static_cast<char>((word >> 8) & 0xFF), static_cast<char>(word & 0xFF)};
    QString s;
    // Byte by byte: a zero byte has no character here, it ends nothing.
    for (char b : bytes) {
        const std::string utf8 = b ? rdsformats::RdsToUtf8(&b, 1) : std::string(rdsformats::kPlaceholder);
        s += QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    }
    return s;
}

QString Hex(uint32_t value) { return QString::number(value, 16).toUpper(); }

QString HexZ(uint32_t value, int digits)
{
    return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

QString Hex4s(uint32_t value) { return QStringLiteral("%1").arg(Hex(value), 4); }

QString Dec(uint32_t value, int digits) { return QStringLiteral("%1").arg(value, digits, 10, QLatin1Char('0')); }

QString FlagNY(uint32_t value)
{
    if (value == 0) return QStringLiteral("N");
    if (value == 1) return QStringLiteral("Y");
    return QString();
}

QString LetterAB(uint32_t value)
{
    // The 8-bit character 65 + value; beyond the 8-bit range there is none.
    return value <= 190 ? QString(QChar(65 + static_cast<int>(value))) : QString();
}

QString Freq(uint32_t value)
{
    if (value == 0) return QString();
    // No digit grouping: 6553.5 stays one number, as on a receiver display.
    return Dec(value / 10, 2) + QLocale().decimalPoint() + QString::number(value % 10);
}

QString FieldText(const char* field, int size)
{
    const std::string utf8 = rdsformats::RdsToUtf8(field, static_cast<std::size_t>(size));
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

QString DiText(const uint8_t di[4])
{
    QString s;
    for (int i = 3; i >= 0; --i) s += di[i] == 0xFF ? QChar('_') : QChar(48 + di[i]);
    return s;
}

QString CounterText(const char* caption, int32_t count)
{
    return QString::fromLatin1(caption) + QStringLiteral("%1").arg(count, 7);
}

QString Sentence(const std::string& text)
{
    QString s = QString::fromLocal8Bit(text);
    // Every message of ours that does not begin with a name begins so.
    if (s.startsWith(QLatin1String("cannot "))) s[0] = QLatin1Char('C');
    return s;
}

}  // namespace varnak
