#include "quesmer/requests.h"

namespace quesmer::requests {
namespace {

const QString CRLF = QStringLiteral("\r\n");

// <name attrs/> or <name attrs> content </name>, each piece on its own line.
QString element(const QString& name, const QString& attributes, const QString& content, bool hasContent)
{
    QString start = name;
    if (!attributes.isEmpty()) start += u' ' + attributes;
    if (!hasContent) return u'<' + start + QStringLiteral("/>") + CRLF;
    return u'<' + start + u'>' + CRLF + content + CRLF + QStringLiteral("</") + name + u'>' + CRLF;
}

QString parameter(const QString& name, const QString& value)
{
    return element(QStringLiteral("Parameter"), QStringLiteral("name=\"%1\" value=\"%2\"").arg(name, escape(value)),
                   QString(), false);
}

// Set around a parameter list; nothing when there are no parameters.
QString parameterRequest(const QString& parameters)
{
    if (parameters.isEmpty()) return QString();
    return set(element(QStringLiteral("ParameterList"), QString(), parameters, true));
}

QString number(long long value) { return QString::number(value); }

}  // namespace

QString escape(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        switch (c.unicode()) {
            case '&':
                out += QStringLiteral("&amp;");
                break;
            case '<':
                out += QStringLiteral("&lt;");
                break;
            case '>':
                out += QStringLiteral("&gt;");
                break;
            case '"':
                out += QStringLiteral("&quot;");
                break;
            case '\'':
                out += QStringLiteral("&apos;");
                break;
            default:
                out += c;
        }
    }
    return out;
}

QString formatDouble(double value)
{
    // QString::number always uses the C locale, so the separator is a point.
    return QString::number(value, 'g', 15);
}

QString envelope(const QString& body)
{
    return QStringLiteral("<Message version=\"1.0\">") + CRLF + QStringLiteral("<Command>") + CRLF + body +
           QStringLiteral("</Command>") + CRLF + QStringLiteral("</Message>") + CRLF;
}

QString raw(const QString& dat) { return envelope(dat); }

QString set(const QString& dat) { return envelope(element(QStringLiteral("Set"), QString(), dat, true)); }

QString get(const QString& dat) { return envelope(element(QStringLiteral("Get"), dat, QString(), false)); }

QString getStatus() { return get(QStringLiteral("item=\"card status\"")); }

QString getCodeList() { return get(QStringLiteral("item=\"metadata\" information=\"code-list\"")); }

QString getCodeInfo(QString& code)
{
    code = code.toLower();
    return get(
        QStringLiteral("item=\"metadata\" information=\"code\" additional-information=\"%1\"").arg(escape(code)));
}

QString activateGui(const QString& host, Long port)
{
    const QString server = QStringLiteral("<Server address=\"%1\" port=\"%2\"/>").arg(escape(host), number(port));
    return envelope(element(QStringLiteral("Activate"), QStringLiteral("item=\"GUI-Application\""), server, true));
}

QString setConfiguration(Integer headerLong, TXTTyp textFmt, EncTyp binFmt, Integer& indicatorPerMin,
                         Integer& fftPerSec)
{
    QString attributes;
    auto add = [&](const char* name, const QString& value) {
        attributes += QStringLiteral("%1=\"%2\" ").arg(QLatin1String(name), value);
    };
    if (headerLong != -1) add("message-header", headerLong == 0 ? QStringLiteral("short") : QStringLiteral("extended"));
    if (textFmt != -1) {
        const char* word = textFmt == TXT_TRANSLATED ? "translated" : textFmt == TXT_ALL ? "all" : "raw";
        add("text-data-format", QLatin1String(word));
    }
    if (binFmt != -1) {
        const char* word = binFmt == ENC_BIN       ? "base2"
                           : binFmt == ENC_B64     ? "base64"
                           : binFmt == ENC_B64MIME ? "base64-mime"
                                                   : "base16";
        add("binary-data-format", QLatin1String(word));
    }
    if (indicatorPerMin != -1) {
        if (indicatorPerMin > 6000) indicatorPerMin = 6001;
        add("information-indicators-interval-per-minute", number(indicatorPerMin));
    }
    if (fftPerSec != -1) {
        if (fftPerSec > 100) fftPerSec = 101;
        add("fft-interval-per-second", number(fftPerSec));
    }
    if (attributes.isEmpty()) return QString();
    return set(QStringLiteral("<Configuration ") + attributes + QStringLiteral("/>"));
}

QString setInput(Integer& source, Integer& gain, Long& translation, AGCTyp agc)
{
    QString p;
    if (source != -1) {
        if (source < 1 || source >= 7) source = 1;
        p += parameter(QStringLiteral("input"), QStringLiteral("inp") + number(source));
    }
    if (translation != -1) {
        if (translation < 0 || translation >= 21500001) translation = 1;
        p += parameter(QStringLiteral("translation"), number(translation));
    }
    if (gain != -1) {
        if (gain < 1 || gain >= 101) gain = 50;
        p += parameter(QStringLiteral("inputgain"), number(gain));
    }
    if (agc != -1) {
        const char* word = agc == AGC_ON ? "on" : agc == AGC_LOWNOISE ? "low-noise" : "off";
        p += parameter(QStringLiteral("agc"), QLatin1String(word));
    }
    return parameterRequest(p);
}

QString setAls(ALSTyp als)
{
    const char* word = als == ALS_OFF ? "off" : als == ALS_STOP ? "stop" : als == ALS_START ? "start" : "";
    return parameterRequest(parameter(QStringLiteral("als"), QLatin1String(word)));
}

QString setMode(QString& modulation, QString& code, double speed, double& shift, Integer polarity, QString& alphabet,
                Boolean autoMode)
{
    modulation = modulation.toLower();
    code = code.toLower();
    alphabet = alphabet.toLower();
    QString p;
    if (!modulation.isEmpty()) p += parameter(QStringLiteral("modulation"), modulation);
    if (!code.isEmpty()) p += parameter(QStringLiteral("code"), code);
    if (speed != -1.0) p += parameter(QStringLiteral("speed"), formatDouble(speed));
    if (shift != -1.0) {
        if (shift < 50 || shift > 160000) shift = 50;
        p += parameter(QStringLiteral("shift"), formatDouble(shift));
    }
    if (polarity != -1)
        p +=
            parameter(QStringLiteral("polarity"), polarity == 1 ? QStringLiteral("inverse") : QStringLiteral("normal"));
    if (!alphabet.isEmpty()) p += parameter(QStringLiteral("alphabet"), alphabet);
    if (autoMode != FALSE_B) p += parameter(QStringLiteral("auto-mode"), QStringLiteral("on"));
    return parameterRequest(p);
}

QString setFrequency(Integer& center, AFCTyp afc)
{
    QString p;
    if (center != -1) {
        if (center < 100 || center >= 22001) center = 1800;
        p += parameter(QStringLiteral("center"), number(center));
    }
    if (afc != -1) p += parameter(QStringLiteral("afc"), afc == AFC_ON ? QStringLiteral("on") : QStringLiteral("off"));
    return parameterRequest(p);
}

QString setFilter(Integer& center, Integer& bandwidth)
{
    QString p;
    if (center != -1) {
        if (center < 100 || center > 3600) center = 1800;
        p += parameter(QStringLiteral("passband-center"), number(center));
    }
    if (bandwidth != -1) {
        if (bandwidth < 100 || bandwidth > 3600) bandwidth = 3600;
        p += parameter(QStringLiteral("passband-bandwidth"), number(bandwidth));
    }
    return parameterRequest(p);
}

QString connectByNumber(Integer number_)
{
    return envelope(element(QStringLiteral("Connect"), QString(),
                            QStringLiteral("<Card number=\"%1\"/>").arg(number(number_)), true));
}

QString connectBySerial(const QString& serial)
{
    return envelope(element(QStringLiteral("Connect"), QString(),
                            QStringLiteral("<Card serial-nr=\"%1\"/>").arg(escape(serial)), true));
}

QString disconnect() { return envelope(element(QStringLiteral("Disconnect"), QString(), QString(), false)); }

}  // namespace quesmer::requests
