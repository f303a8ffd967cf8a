#include "settings_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSaveFile>
#include <QStringList>
#include <QtEndian>

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cfenv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace varnak {
namespace {

// First line of every store file; a file without it is not ours.
const QByteArray kMagic = "Ostrand Software settings store 1";
// A store holds a handful of values; anything much larger is not a store.
constexpr qint64 kMaxFileSize = 4 * 1024 * 1024;

struct Value {
    QString name;
    int type = 0;
    QByteArray data;
};

struct KeyEntry {
    QString path;                 // as first spelt
    QMap<QString, Value> values;  // by lower-case name: names ignore case
};

// The whole store: keys by lower-case path, like registry keys.
struct Hive {
    QMap<QString, KeyEntry> keys;
};

QString Fold(const QString& s) { return s.toLower(); }

QString JoinPath(const QString& parent, const QString& sub)
{
    const QStringList parts = sub.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    QString path = parent;
    for (const QString& part : parts) {
        if (!path.isEmpty()) path += QLatin1Char('\\');
        path += part;
    }
    return path;
}

enum class LoadResult { Ok, Missing, Foreign };

// Reads the store file. A missing file is an empty store; a file that cannot
// be read or parsed is Foreign and leaves `hive` empty.
LoadResult Load(const QString& filePath, Hive* hive, bool* reported)
{
    *hive = Hive{};
    // Only a regular file is opened: opening a pipe would wait for a writer
    // for ever, and a device is nobody's settings. Such a path is left alone.
    const QByteArray name = QFile::encodeName(filePath);
    struct stat info {};
    if (::stat(name.constData(), &info) != 0) return errno == ENOENT ? LoadResult::Missing : LoadResult::Foreign;
    if (!S_ISREG(info.st_mode)) {
        if (!*reported)
            std::fprintf(
                stderr,
                "varnak: the settings file %s is not a regular file; it is left alone and the defaults are used\n",
                name.constData());
        *reported = true;
        return LoadResult::Foreign;
    }
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxFileSize) return LoadResult::Foreign;
    const QByteArray all = file.readAll();
    if (file.error() != QFileDevice::NoError) return LoadResult::Foreign;
    const QList<QByteArray> lines = all.split('\n');
    if (lines.isEmpty() || lines.front().trimmed() != kMagic) return LoadResult::Foreign;

    KeyEntry* current = nullptr;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith('#')) continue;
        const QList<QByteArray> f = line.split(' ');
        if (f[0] == "key" && f.size() == 2) {
            const QString path = QString::fromUtf8(QByteArray::fromPercentEncoding(f[1]));
            KeyEntry& e = hive->keys[Fold(path)];
            if (e.path.isEmpty()) e.path = path;
            current = &e;
        } else if (f[0] == "value" && (f.size() == 4 || f.size() == 3) && current) {
            bool ok = false;
            Value v;
            v.name = QString::fromUtf8(QByteArray::fromPercentEncoding(f[1]));
            v.type = f[2].toInt(&ok);
            const QByteArray hex = f.size() == 4 ? f[3] : QByteArray();
            if (!ok || hex.size() % 2 != 0) return *hive = Hive{}, LoadResult::Foreign;
            for (char c : hex)
                if (!std::isxdigit(static_cast<unsigned char>(c))) return *hive = Hive{}, LoadResult::Foreign;
            v.data = QByteArray::fromHex(hex);
            current->values[Fold(v.name)] = v;
        } else {
            *hive = Hive{};
            return LoadResult::Foreign;
        }
    }
    return LoadResult::Ok;
}

// Writes the whole store through a temporary file renamed into place.
bool Save(const QString& filePath, const Hive& hive)
{
    if (!QDir().mkpath(QFileInfo(filePath).absolutePath())) return false;
    QByteArray out = kMagic + '\n';
    out += "# Per-user settings. Values: name, type (1 text, 4 number), bytes in hex.\n";
    for (const KeyEntry& key : hive.keys) {
        out += "key " + key.path.toUtf8().toPercentEncoding() + '\n';
        for (const Value& v : key.values)
            out += "value " + v.name.toUtf8().toPercentEncoding() + ' ' + QByteArray::number(v.type) + ' ' +
                   v.data.toHex().toUpper() + '\n';
    }
    QSaveFile file(filePath);
    if (!file.open(QIODevice::WriteOnly)) return false;
    if (file.write(out) != out.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

}  // namespace

SettingsStore::SettingsStore(QString filePath) : path_(std::move(filePath)) {}

QString SettingsStore::defaultPath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base)) base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/ostrand-software/settings.reg");
}

std::optional<SettingsStore::Key> SettingsStore::openKey(const Key& parent, const QString& subKey) const
{
    Hive hive;
    if (Load(path_, &hive, &reported_) != LoadResult::Ok) return std::nullopt;
    const QString path = JoinPath(parent.path, subKey);
    if (!path.isEmpty() && !hive.keys.contains(Fold(path))) return std::nullopt;
    return Key{path};
}

std::optional<SettingsStore::Key> SettingsStore::createKey(const Key& parent, const QString& subKey)
{
    Hive hive;
    if (Load(path_, &hive, &reported_) == LoadResult::Foreign) return std::nullopt;
    const QString path = JoinPath(parent.path, subKey);
    bool added = false;
    QString partial;
    for (const QString& part : path.split(QLatin1Char('\\'), Qt::SkipEmptyParts)) {
        partial = JoinPath(partial, part);
        KeyEntry& e = hive.keys[Fold(partial)];
        if (e.path.isEmpty()) {
            e.path = partial;
            added = true;
        }
    }
    if (added && !Save(path_, hive)) return std::nullopt;
    return Key{path};
}

bool SettingsStore::queryValue(const Key& key, const QString& name, ValueType type, int bufferSize,
                               QByteArray* data) const
{
    Hive hive;
    if (Load(path_, &hive, &reported_) != LoadResult::Ok) return false;
    const auto k = hive.keys.constFind(Fold(key.path));
    if (k == hive.keys.cend()) return false;
    const auto v = k->values.constFind(Fold(name));
    if (v == k->values.cend() || v->type != static_cast<int>(type) || v->data.size() > bufferSize) return false;
    *data = v->data;
    return true;
}

bool SettingsStore::setValue(const Key& key, const QString& name, ValueType type, const QByteArray& data)
{
    Hive hive;
    if (Load(path_, &hive, &reported_) == LoadResult::Foreign) return false;
    const auto k = hive.keys.find(Fold(key.path));
    if (k == hive.keys.end()) return false;
    Value& v = k->values[Fold(name)];
    if (v.name.isEmpty()) v.name = name;
    v.type = static_cast<int>(type);
    v.data = data;
    return Save(path_, hive);
}

namespace {
const QString kVendorKey = QStringLiteral("SOFTWARE\\Ostrand Software");

bool IsText(const QVariant& v) { return v.metaType().id() == QMetaType::QString; }
}  // namespace

QVariant SettingsStore::ReadSetting(const QString& app, const QString& /*section*/, const QString& key,
                                    const QVariant& defaultValue) const
{
    auto vendor = openKey(Key{}, kVendorKey);
    if (!vendor) return defaultValue;
    auto appKey = openKey(*vendor, app);
    if (!appKey) {
        closeKey(*vendor);
        return defaultValue;
    }
    QVariant result = defaultValue;
    QByteArray data;
    if (IsText(defaultValue)) {
        if (queryValue(*appKey, key, ValueType::Text, kTextBufferSize, &data) && !data.isEmpty()) {
            if (data.endsWith('\0')) data.chop(1);
            result = QString::fromLocal8Bit(data);
        }
    } else if (queryValue(*appKey, key, ValueType::Number, 4, &data) && data.size() == 4) {
        result = static_cast<int>(qFromLittleEndian<qint32>(data.constData()));
    }
    closeKey(*appKey);
    closeKey(*vendor);
    return result;
}

bool SettingsStore::WriteSetting(const QString& app, const QString& /*section*/, const QString& key,
                                 const QVariant& value)
{
    QByteArray data;
    ValueType type;
    if (IsText(value)) {
        type = ValueType::Text;
        data = value.toString().toLocal8Bit();
        data.append('\0');
    } else {
        bool ok = false;
        const double d = value.toDouble(&ok);
        if (!ok || !std::isfinite(d)) return false;
        // Round to nearest, halves to the even neighbour (1200.5 -> 1200).
        const int saved = std::fegetround();
        std::fesetround(FE_TONEAREST);
        const double r = std::nearbyint(d);
        std::fesetround(saved);
        if (r < std::numeric_limits<qint32>::min() || r > std::numeric_limits<qint32>::max()) return false;
        type = ValueType::Number;
        data.resize(4);
        qToLittleEndian<qint32>(static_cast<qint32>(r), data.data());
    }
    auto vendor = openKey(Key{}, kVendorKey);
    if (!vendor) vendor = createKey(Key{}, kVendorKey);
    if (!vendor) return false;
    auto appKey = openKey(*vendor, app);
    if (!appKey) appKey = createKey(*vendor, app);
    if (!appKey) {
        closeKey(*vendor);
        return false;
    }
    const bool ok = setValue(*appKey, key, type, data);
    closeKey(*appKey);
    closeKey(*vendor);
    return ok;
}

}  // namespace varnak
