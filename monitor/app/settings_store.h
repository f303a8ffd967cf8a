// The per-user settings store of the monitor.
//
// A small hierarchical key-value store kept in one file, with the five
// operations of a registry: open a key, create a key, query a typed value,
// set a typed value, close a key. Values are text (stored as its 8-bit bytes
// followed by one zero byte) or 32-bit signed numbers (4 bytes,
// little-endian). Reads never create anything; every write replaces the file
// atomically, so a crash cannot leave a half-written store. A file that is
// not a settings store reads as an empty store and is never overwritten; a
// path that is not a regular file (a pipe, a device, a folder) is not even
// opened, and standard error says so once.
//
// ReadSetting/WriteSetting sit on top, under the key
// SOFTWARE\Ostrand Software\<App>; they never report an error: a failed read
// gives the caller's default, a failed write returns false.
#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <optional>

namespace varnak {

class SettingsStore {
public:
    enum class ValueType { Text = 1, Number = 4 };  // REG_SZ, REG_DWORD

    // An open key: its full path below the root ("" is the root itself).
    struct Key {
        QString path;
    };

    // The store kept in `filePath`.
    explicit SettingsStore(QString filePath);

    // The per-user store file: $XDG_CONFIG_HOME (or ~/.config when unset or
    // not absolute) / ostrand-software / settings.reg.
    static QString defaultPath();

    const QString& filePath() const { return path_; }

    // Opens an existing key below `parent` ("A\B" opens nested keys).
    std::optional<Key> openKey(const Key& parent, const QString& subKey) const;
    // Opens the key, creating it and any missing key above it.
    std::optional<Key> createKey(const Key& parent, const QString& subKey);
    // Reads the bytes of value `name` of `type` into *data, as a query into
    // a caller buffer of `bufferSize` bytes would. Fails when the value is
    // missing, of another type or larger than the buffer.
    bool queryValue(const Key& key, const QString& name, ValueType type, int bufferSize, QByteArray* data) const;
    // Stores `data` as value `name` of `type` under an existing key.
    bool setValue(const Key& key, const QString& name, ValueType type, const QByteArray& data);
    // Releases a key handle (nothing to release for a file store).
    void closeKey(Key& key) const { key.path.clear(); }

    // Reads `key` of application `app`; `section` is ignored. The type of
    // `defaultValue` chooses the read: text when it is a string, a 32-bit
    // number (returned as int) otherwise. Any failure gives `defaultValue`.
    QVariant ReadSetting(const QString& app, const QString& section, const QString& key,
                         const QVariant& defaultValue) const;
    // Stores `value` as text when it is a string and as a 32-bit number
    // otherwise (halves rounded to even). True when the store accepted it.
    bool WriteSetting(const QString& app, const QString& section, const QString& key, const QVariant& value);

    // Largest text read back, in bytes including the terminating zero.
    static constexpr int kTextBufferSize = 4096;

private:
    QString path_;
    mutable bool reported_ = false;  // a path that is not a regular file was told once
};

}  // namespace varnak
