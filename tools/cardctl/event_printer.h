// Writes every event of a CardLink as one JSON line, keys in a fixed order
// ("event" first). Binary data is summarised (encoding, bit count, length);
// its text can also go to a sink, e.g. the hexadecimal output file.
#pragma once

#include "quesmer/cardlink.h"

#include <QJsonValue>
#include <QObject>
#include <cstdio>
#include <functional>
#include <utility>
#include <vector>

namespace cardctl {

using JsonFields = std::vector<std::pair<QString, QJsonValue>>;

// One compact JSON object, fields in the given order, no line end.
QByteArray jsonLine(const JsonFields& fields);

// The wire word of an encoding ("base16" for ENC_HEX).
QString encodingName(quesmer::EncTyp encoding);

class EventPrinter : public QObject {
    Q_OBJECT
public:
    using BinarySink = std::function<void(quesmer::EncTyp, const QString&)>;

    // Lines go to `out` and are flushed at once, so a reader sees each event
    // as it happens.
    EventPrinter(quesmer::CardLink& link, std::FILE* out, QObject* parent = nullptr);

    void setBinarySink(BinarySink sink) { sink_ = std::move(sink); }
    void print(const JsonFields& fields);
    int disconnects() const { return disconnects_; }

private:
    std::FILE* out_;
    BinarySink sink_;
    int disconnects_ = 0;
};

}  // namespace cardctl
