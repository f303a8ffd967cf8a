// XML replies from the decoder-card server: parsing into typed replies.
//
// A message is first scanned for its amount of markup and its nesting depth
// (and, when it declares a document type, read once with a streaming reader
// for well-formedness and depth), then loaded into a DOM tree and walked.
// Recognised elements may sit at any depth; each has its own reader below. The text comes from
// the network: no DTD is fetched, entity expansion is bounded by the reader,
// and absent attributes or numbers that do not parse give empty text or 0.
#include "reply_parser.h"

#include <QDomDocument>
#include <QXmlStreamReader>
#include <algorithm>
#include <initializer_list>
#include <limits>

namespace quesmer::reply {

namespace {

// Deeper documents are refused: the walk is recursive and no reply of a
// decoder-card server comes anywhere near this.
constexpr int kMaxDepth = 128;
// The XML reader compares each attribute of an element with all earlier ones,
// and every element and attribute becomes a node of the tree: a reply with a
// great many of them would take seconds and hundreds of MiB. No reply of a
// decoder-card server needs more than a few hundred.
constexpr int kMaxAttributesPerElement = 32;
constexpr int kMaxMarkup = 100000;  // start tags and attributes in one reply

// Local name of a node (prefix removed), lower-cased.
QString localName(const QDomNode& node)
{
    QString name = node.nodeName();
    const qsizetype colon = name.indexOf(':');
    if (colon >= 0 && node.isElement()) name = name.mid(colon + 1);
    return name.toLower();
}

// Value text of the first child, empty when there is none.
QString firstChildValue(const QDomNode& node)
{
    const QDomNode child = node.firstChild();
    return child.isNull() ? QString() : child.nodeValue();
}

// A whole number from attribute text: surrounding blanks are allowed, a
// fraction is rounded, anything else gives 0; the result is clamped to the
// target width instead of overflowing.
qint64 wholeNumber(const QString& text, qint64 lo, qint64 hi)
{
    const QString t = text.trimmed();
    bool ok = false;
    qint64 v = t.toLongLong(&ok);
    if (!ok) {
        const double d = t.toDouble(&ok);
        if (!ok || !(d == d)) return 0;
        if (d <= double(lo)) return lo;
        if (d >= double(hi)) return hi;
        v = qint64(d < 0 ? d - 0.5 : d + 0.5);
    }
    return std::clamp(v, lo, hi);
}

Integer toInteger(const QString& text)
{
    return Integer(wholeNumber(text, std::numeric_limits<Integer>::min(), std::numeric_limits<Integer>::max()));
}

Long toLong(const QString& text)
{
    return Long(wholeNumber(text, std::numeric_limits<Long>::min(), std::numeric_limits<Long>::max()));
}

// The leading decimal number of a text, point as separator, 0 when there is none.
double leadingNumber(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace()) ++i;
    const qsizetype start = i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    bool digits = false;
    while (i < text.size() && text[i].isDigit() && text[i].unicode() < 128) {
        ++i;
        digits = true;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && text[i].isDigit() && text[i].unicode() < 128) {
            ++i;
            digits = true;
        }
    }
    if (!digits) return 0;
    bool ok = false;
    const double v = text.mid(start, i - start).toDouble(&ok);
    return ok ? v : 0;
}

// Sets `target` to the value paired with `word`; an unknown word leaves it.
template <class T>
void pickWord(T& target, const QString& word, std::initializer_list<std::pair<const char*, T>> words)
{
    for (const auto& [w, v] : words) {
        if (word == QLatin1String(w)) {
            target = v;
            return;
        }
    }
}

// What the linear pre-scan of a reply found.
struct Scan {
    QString beyond;                // why the reply is refused, empty when it is not
    qsizetype at = 0;              // where
    bool hasDeclarations = false;  // a document type declaration, whose entities the scan cannot follow
};

// Counts start tags, their attributes (the '=' signs outside quoted values)
// and the nesting depth in one linear pass over the text, before any parser
// sees it; comments, character data sections and processing instructions
// are stepped over. For a well-formed text without a document type
// declaration this is the parser's own view, so the parser needs no second
// pass to bound the depth.
Scan scanMarkup(const QString& text)
{
    Scan scan;
    const qsizetype n = text.size();
    int markup = 0;
    int depth = 0;
    auto skipPast = [&](qsizetype from, QLatin1String end) {
        const qsizetype j = text.indexOf(end, from);
        return j < 0 ? n : j + end.size();
    };
    for (qsizetype i = text.indexOf(u'<'); i >= 0 && i + 1 < n; i = text.indexOf(u'<', i)) {
        const QStringView rest = QStringView(text).mid(i);
        if (rest.startsWith(u"<!--")) {
            i = skipPast(i + 4, QLatin1String("-->"));
            continue;
        }
        if (rest.startsWith(u"<![CDATA[")) {
            i = skipPast(i + 9, QLatin1String("]]>"));
            continue;
        }
        if (rest.startsWith(u"<?")) {
            i = skipPast(i + 2, QLatin1String("?>"));
            continue;
        }
        if (rest.startsWith(u"<!")) {
            scan.hasDeclarations = true;
            i += 2;
            continue;
        }
        const bool endTag = rest.startsWith(u"</");
        i += endTag ? 2 : 1;
        const QChar first = i < n ? text[i] : QChar();
        if (!first.isLetter() && first != u'_' && first != u':') continue;
        int attributes = 0;
        QChar quote;
        QChar last;
        for (; i < n; ++i) {
            const QChar c = text[i];
            if (!quote.isNull()) {
                if (c == quote) quote = QChar();
            } else if (c == u'"' || c == u'\'') {
                quote = c;
            } else if (c == u'=') {
                ++attributes;
                ++markup;
            } else if (c == u'>' || c == u'<') {
                break;
            } else if (!c.isSpace()) {
                last = c;
            }
            if (attributes > kMaxAttributesPerElement) {
                scan.at = i;
                scan.beyond = QStringLiteral("More than %1 attributes in one element.").arg(kMaxAttributesPerElement);
                return scan;
            }
        }
        if (endTag) {
            depth = std::max(0, depth - 1);
            continue;
        }
        if (++markup > kMaxMarkup) {
            scan.at = i;
            scan.beyond = QStringLiteral("More than %1 elements and attributes.").arg(kMaxMarkup);
            return scan;
        }
        if (last != u'/' && ++depth > kMaxDepth) {
            scan.at = i;
            scan.beyond = QStringLiteral("Elements nested deeper than %1 levels.").arg(kMaxDepth);
            return scan;
        }
    }
    return scan;
}

// Checks size and depth, and with a document type declaration also
// well-formedness (entities may add markup that the scan does not see).
// On failure fills number, reason and line.
bool checkDocument(const QString& text, int* number, QString* reason, qint64* line)
{
    const Scan scan = scanMarkup(text);
    if (!scan.beyond.isEmpty()) {
        *number = int(QXmlStreamReader::CustomError);
        *reason = scan.beyond;
        *line = QStringView(text).left(scan.at).count(u'\n') + 1;
        return false;
    }
    if (!scan.hasDeclarations) return true;
    QXmlStreamReader reader(text);
    int depth = 0;
    while (!reader.atEnd()) {
        const auto token = reader.readNext();
        if (token == QXmlStreamReader::StartElement && ++depth > kMaxDepth) {
            *number = int(QXmlStreamReader::CustomError);
            *reason = QStringLiteral("Elements nested deeper than %1 levels.").arg(kMaxDepth);
            *line = reader.lineNumber();
            return false;
        }
        if (token == QXmlStreamReader::EndElement) --depth;
    }
    if (reader.hasError()) {
        *number = int(reader.error());
        *reason = reader.errorString();
        *line = reader.lineNumber();
        return false;
    }
    return true;
}

}  // namespace

namespace {

int hexValue(QChar c)
{
    if (c >= u'0' && c <= u'9') return c.unicode() - u'0';
    if (c >= u'a' && c <= u'f') return c.unicode() - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c.unicode() - u'A' + 10;
    return -1;
}

// Replaces the escapes of text data: "~cr;" by a carriage return and "~lf;"
// by a line feed always, and "~#xH;" or "~#xHH;" (one or two hexadecimal
// digits) by the character with that code when `numeric` is set; anything
// else, a malformed numeric escape included, stays as it is. One pass from
// left to right: a character that an escape produces is never read again as
// part of another escape ("~#x7E;#x41;" gives "~#x41;"), and the time grows
// with the length of the text only, whatever the server puts into it.
QString unescapeCardText(const QString& text, bool numeric)
{
    const qsizetype n = text.size();
    auto at = [&](qsizetype i) { return i < n ? text[i] : QChar(); };
    QString out;
    qsizetype copied = 0;  // text before this index is already in `out`
    for (qsizetype pos = text.indexOf(u'~'); pos >= 0; pos = text.indexOf(u'~', pos)) {
        QChar replacement;
        qsizetype length = 0;
        const QStringView rest = QStringView(text).mid(pos + 1, 3);
        if (rest == u"cr;") {
            replacement = u'\r';
            length = 4;
        } else if (rest == u"lf;") {
            replacement = u'\n';
            length = 4;
        } else if (numeric && at(pos + 1) == u'#' && at(pos + 2) == u'x') {
            const int d1 = hexValue(at(pos + 3));
            const int d2 = hexValue(at(pos + 4));
            if (d1 >= 0 && at(pos + 4) == u';') {
                replacement = QChar(char16_t(d1));
                length = 5;
            } else if (d1 >= 0 && d2 >= 0 && at(pos + 5) == u';') {
                replacement = QChar(char16_t(d1 * 16 + d2));
                length = 6;
            }
        }
        if (length == 0) {
            ++pos;
            continue;
        }
        if (out.isEmpty()) out.reserve(n);
        out.append(QStringView(text).mid(copied, pos - copied));
        out.append(replacement);
        pos += length;
        copied = pos;
    }
    if (copied == 0) return text;
    out.append(QStringView(text).mid(copied));
    return out;
}

void readCards(const QDomElement& cards, std::vector<Reply>& out)
{
    out.push_back(CardListBegin{});
    for (QDomElement c = cards.firstChildElement(); !c.isNull(); c = c.nextSiblingElement()) {
        if (localName(c) != QLatin1String("card")) continue;
        const int slot = int(toInteger(c.attribute("number"))) - 1;
        const QString status = c.attribute("status");
        if (slot < 0 || slot > 7 || status == QLatin1String("no-card")) continue;
        CardStatus entry;
        entry.IsOk = TRUE_B;
        entry.Number = Integer(slot + 1);
        entry.Name = c.attribute("name");
        entry.Status = status;
        entry.Device = c.attribute("device");
        entry.Serial = c.attribute("serial-nr");
        entry.Connections = toInteger(c.attribute("connections"));
        entry.Access = c.attribute("remote-access") == QLatin1String("yes") ? TRUE_B : FALSE_B;
        entry.Ready = status == QLatin1String("ready") ? TRUE_B : FALSE_B;
        out.push_back(Card{entry});
    }
    out.push_back(CardListEnd{});
}

Indicator readIndicators(const QDomElement& e)
{
    Indicator r;
    r.info.Status = e.attribute("status");
    r.info.Level = toInteger(e.attribute("level"));
    r.info.Bargraph = e.attribute("bargraph");
    return r;
}

// A parameter list gives up to four replies, in this order: mode,
// frequency, input, filter; each only when one of its parameters is there.
void readParameters(const QDomElement& list, std::vector<Reply>& out)
{
    Mode mode;
    Frequency frequency;
    Input input;
    Filter filter;
    bool inputSeen = false, modeSeen = false, frequencySeen = false, filterSeen = false;
    for (QDomElement p = list.firstChildElement(); !p.isNull(); p = p.nextSiblingElement()) {
        if (localName(p) != QLatin1String("parameter")) continue;
        const QString name = p.attribute("name");
        const QString value = p.attribute("value");
        if (name == QLatin1String("input")) {
            input.source = toInteger(value.mid(3, 1));
            inputSeen = true;
        } else if (name == QLatin1String("inputgain")) {
            input.gain = toInteger(value);
            inputSeen = true;
        } else if (name == QLatin1String("translation")) {
            input.translation = toLong(value);
            inputSeen = true;
        } else if (name == QLatin1String("agc")) {
            pickWord(input.agc, value, {{"off", AGC_OFF}, {"on", AGC_ON}, {"low-noise", AGC_LOWNOISE}});
            inputSeen = true;
        } else if (name == QLatin1String("als")) {
            pickWord(input.als, value, {{"off", ALS_OFF}, {"stop", ALS_STOP}, {"start", ALS_START}});
            inputSeen = true;
        } else if (name == QLatin1String("modulation")) {
            mode.modulation = value;
            modeSeen = true;
        } else if (name == QLatin1String("code")) {
            mode.code = value;
            modeSeen = true;
        } else if (name == QLatin1String("speed")) {
            mode.speed = leadingNumber(value);
            modeSeen = true;
        } else if (name == QLatin1String("polarity")) {
            pickWord(mode.polarity, value, {{"normal", FALSE_B}, {"inverse", TRUE_B}});
            modeSeen = true;
        } else if (name == QLatin1String("shift")) {
            mode.shift = leadingNumber(value);
            modeSeen = true;
        } else if (name == QLatin1String("alphabet")) {
            mode.alphabet = value;
            modeSeen = true;
        } else if (name == QLatin1String("center")) {
            frequency.center = toInteger(value);
            frequencySeen = true;
        } else if (name == QLatin1String("bandwidth")) {
            (void)toInteger(value);  // read, not delivered
            frequencySeen = true;
        } else if (name == QLatin1String("afc")) {
            pickWord(frequency.afc, value, {{"off", AFC_OFF}, {"on", AFC_ON}});
            frequencySeen = true;
        } else if (name == QLatin1String("passband-center")) {
            filter.center = toInteger(value);
            filterSeen = true;
        } else if (name == QLatin1String("passband-bandwidth")) {
            filter.bandwidth = toInteger(value);
            filterSeen = true;
        }
    }
    if (modeSeen) out.push_back(mode);
    if (frequencySeen) out.push_back(frequency);
    if (inputSeen) out.push_back(input);
    if (filterSeen) out.push_back(filter);
}

void readMetadata(const QDomElement& metadata, const QString& wholeText, std::vector<Reply>& out)
{
    for (QDomElement c = metadata.firstChildElement(); !c.isNull(); c = c.nextSiblingElement()) {
        const QString info = c.attribute("info");
        if (info == QLatin1String("code-list"))
            out.push_back(CodeList{wholeText});
        else if (info == QLatin1String("code"))
            out.push_back(CodeInfo{wholeText});
    }
}

DataText readText(const QDomElement& c)
{
    DataText r;
    r.channel = c.hasAttribute("channel") ? c.attribute("channel") : QStringLiteral("A");
    r.error = c.attribute("error-indication") == QLatin1String("no") ? FALSE_B : TRUE_B;
    for (QDomElement t = c.firstChildElement(); !t.isNull(); t = t.nextSiblingElement()) {
        const QString part = localName(t);
        if (part == QLatin1String("translated")) {
            r.code = t.attribute("alphabet");
            r.text = t.hasChildNodes() ? firstChildValue(t) : QStringLiteral(" ");
        } else if (part == QLatin1String("raw")) {
            r.raw = t.hasChildNodes() ? firstChildValue(t) : QStringLiteral(" ");
        }
    }
    r.text = unescapeCardText(r.text, true);
    r.raw = unescapeCardText(r.raw, false);
    return r;
}

void readData(const QDomElement& data, std::vector<Reply>& out)
{
    for (QDomElement c = data.firstChildElement(); !c.isNull(); c = c.nextSiblingElement()) {
        const QString name = localName(c);
        if (name == QLatin1String("text")) {
            out.push_back(readText(c));
        } else if (name == QLatin1String("binary")) {
            DataBinary r;
            pickWord(r.encoding, c.attribute("encoding").toLower(),
                     {{"base16", ENC_HEX}, {"base64", ENC_B64}, {"base64-mime", ENC_B64MIME}});
            r.bitCount = toInteger(c.attribute("bit-count"));
            r.bits = firstChildValue(c);
            out.push_back(r);
        }
        // "graphic", "result" and anything else: nothing to do.
    }
}

// Reads the recognised elements among the children of `parent`, and looks
// inside any other element for more.
void walk(const QDomNode& parent, const QString& wholeText, std::vector<Reply>& out)
{
    for (QDomNode n = parent.firstChild(); !n.isNull(); n = n.nextSibling()) {
        const QDomElement e = n.toElement();
        const QString name = localName(n);
        if (e.isNull()) {
            // not an element: only its children may hold more
        } else if (name == QLatin1String("cards")) {
            readCards(e, out);
            continue;
        } else if (name == QLatin1String("indicators")) {
            out.push_back(readIndicators(e));
            continue;
        } else if (name == QLatin1String("parameterlist")) {
            readParameters(e, out);
            continue;
        } else if (name == QLatin1String("metadata")) {
            readMetadata(e, wholeText, out);
            continue;
        } else if (name == QLatin1String("data")) {
            readData(e, out);
            continue;
        } else if (name == QLatin1String("error")) {
            QString desc = firstChildValue(e);
            desc.remove('\n');
            out.push_back(ServerError{desc});
            continue;
        }
        if (n.hasChildNodes()) walk(n, wholeText, out);
    }
}

}  // namespace

std::vector<Reply> ReplyParser::parse(const QByteArray& xml)
{
    // One character per byte, so every byte value survives.
    const QString text = QString::fromLatin1(xml);
    int number = 0;
    QString reason;
    qint64 line = 0;
    QDomDocument doc;
    if (checkDocument(text, &number, &reason, &line)) {
        QString domReason;
        int domLine = 0;
        int domColumn = 0;
        if (!doc.setContent(text, false, &domReason, &domLine, &domColumn)) {
            number = int(QXmlStreamReader::NotWellFormedError);
            reason = domReason;
            line = domLine;
        } else {
            number = 0;
        }
    }
    if (number != 0 || doc.isNull())
        return {LoadError{QStringLiteral("Error Loading: %1 %2 line %3").arg(number).arg(reason).arg(line)}};
    std::vector<Reply> replies;
    walk(doc, text, replies);
    return replies;
}

}  // namespace quesmer::reply
