#include "store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>
#include <QVariant>
#include <atomic>
#include <cerrno>
#include <cstring>

namespace varnakd {
namespace {

// Migration n brings the schema from version n - 1 to n. "%ID%" is the
// driver's auto-increment key.
const char* const kMigrations[] = {
    // 1: the first schema.
    "CREATE TABLE stations (id %ID%, site TEXT NOT NULL, name TEXT NOT NULL, pi INTEGER NOT NULL,"
    " callsign TEXT, first_seen BIGINT NOT NULL, last_seen BIGINT NOT NULL, UNIQUE (site, name, pi));"
    "CREATE TABLE texts (station_id BIGINT NOT NULL REFERENCES stations(id) ON DELETE CASCADE,"
    " kind TEXT NOT NULL, text TEXT NOT NULL, first_seen BIGINT NOT NULL, last_seen BIGINT NOT NULL,"
    " PRIMARY KEY (station_id, kind, text));"
    "CREATE TABLE quality (station_id BIGINT NOT NULL REFERENCES stations(id) ON DELETE CASCADE,"
    " minute BIGINT NOT NULL, groups INTEGER NOT NULL, blocks_missing INTEGER NOT NULL,"
    " block_error_rate REAL, rds_level REAL, pilot_level REAL, cnr REAL, PRIMARY KEY (station_id, minute));"
    "CREATE TABLE alarms (id %ID%, site TEXT NOT NULL, name TEXT NOT NULL, kind TEXT NOT NULL,"
    " raised BIGINT NOT NULL, cleared BIGINT, detail TEXT);"
    "CREATE INDEX alarms_open ON alarms (site, name, kind, cleared);"
    "CREATE INDEX quality_minute ON quality (minute)",
    // 2: what the RF signal tells: level (dBFS), peak deviation (kHz), MPX power (dBr over 60 s).
    "ALTER TABLE quality ADD COLUMN level REAL;"
    "ALTER TABLE quality ADD COLUMN deviation REAL;"
    "ALTER TABLE quality ADD COLUMN mpx_power REAL",
};

QVariant Optional(const std::optional<double>& value) { return value ? QVariant(*value) : QVariant(); }

}  // namespace

std::string SqlitePath(const ServiceConfig& config)
{
    if (config.database == "none" || config.database.rfind("postgresql://", 0) == 0) return {};
    if (config.database.empty()) return config.stateDir + "/varnakd.db";
    return config.database;
}

StationStore::~StationStore()
{
    if (!db_.isValid()) return;
    db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(connection_);
}

bool OpenStationDatabase(const ServiceConfig& config, const QString& connection, QSqlDatabase& db, bool& postgres,
                         std::string& described, std::string& error)
{
    postgres = false;
    if (config.database.rfind("postgresql://", 0) == 0) {
        const QUrl url(QString::fromStdString(config.database));
        if (!url.isValid() || url.host().isEmpty() || url.path().size() < 2) {
            error = "database: not a URL like postgresql://user@host:5432/name";
            return false;
        }
        postgres = true;
        db = QSqlDatabase::addDatabase("QPSQL", connection);
        db.setHostName(url.host());
        db.setPort(url.port(5432));
        db.setDatabaseName(url.path().mid(1));
        if (!url.userName().isEmpty()) db.setUserName(url.userName());
        if (!url.password().isEmpty()) db.setPassword(url.password());
        described =
            "PostgreSQL " + url.host().toStdString() + ":" + std::to_string(url.port(5432)) + url.path().toStdString();
    } else {
        const std::string path = SqlitePath(config);
        const QString folder = QFileInfo(QString::fromStdString(path)).absolutePath();
        const bool existed = QDir(folder).exists();
        if (!QDir().mkpath(folder)) {
            error = "cannot create the state folder " + folder.toStdString();
            return false;
        }
        if (!existed) QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        // Created readable by the service's user only, before SQLite opens it.
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) {
            error = "cannot open the database " + path + ": " + std::strerror(errno);
            return false;
        }
        ::fchmod(fd, 0600);
        ::close(fd);
        db = QSqlDatabase::addDatabase("QSQLITE", connection);
        db.setDatabaseName(QString::fromStdString(path));
        described = "SQLite " + path;
    }
    if (!db.isValid()) {
        error = "the Qt SQL driver for " + std::string(postgres ? "PostgreSQL" : "SQLite") + " is not installed";
        return false;
    }
    if (!db.open()) {
        error = "cannot open " + described + ": " + db.lastError().databaseText().toStdString();
        return false;
    }
    return true;
}

bool StationStore::open(const ServiceConfig& config, std::string& error)
{
    static std::atomic<int> count{0};
    connection_ = QString("varnakd-store-%1").arg(count++);
    retentionDays_ = config.retentionDays;
    qualityRetentionDays_ = config.qualityRetentionDays;
    if (!OpenStationDatabase(config, connection_, db_, postgres_, described_, error)) return false;
    if (!postgres_) {
        exec("PRAGMA journal_mode=WAL");
        exec("PRAGMA synchronous=NORMAL");
        exec("PRAGMA foreign_keys=ON");
        // SQLite gives its journal files the database's permissions.
    }
    return migrate(error);
}

bool StationStore::exec(const QString& sql, const std::vector<QVariant>& values)
{
    QSqlQuery q(db_);
    q.prepare(sql);
    for (const QVariant& v : values) q.addBindValue(v);
    if (q.exec()) return true;
    if (!reported_) std::fprintf(log_, "varnakd: database: %s\n", q.lastError().text().toStdString().c_str());
    reported_ = true;
    return false;
}

int StationStore::schemaVersion()
{
    QSqlQuery q(db_);
    if (!q.exec("SELECT version FROM schema_version") || !q.next()) return 0;
    return q.value(0).toInt();
}

bool StationStore::migrate(std::string& error)
{
    QSqlQuery q(db_);
    q.exec("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)");
    int version = schemaVersion();
    if (version > kSchemaVersion) {
        error = described_ + " has schema version " + std::to_string(version) + ", newer than this varnakd's " +
                std::to_string(kSchemaVersion);
        return false;
    }
    for (; version < kSchemaVersion; ++version) {
        db_.transaction();
        QString script = kMigrations[version];
        script.replace("%ID%", postgres_ ? "BIGSERIAL PRIMARY KEY" : "INTEGER PRIMARY KEY AUTOINCREMENT");
        for (const QString& statement : script.split(';', Qt::SkipEmptyParts)) {
            if (!q.exec(statement)) {
                error = "database migration " + std::to_string(version + 1) +
                        " failed: " + q.lastError().text().toStdString();
                db_.rollback();
                return false;
            }
        }
        q.exec("DELETE FROM schema_version");
        q.prepare("INSERT INTO schema_version (version) VALUES (?)");
        q.addBindValue(version + 1);
        q.exec();
        db_.commit();
    }
    return true;
}

qint64 StationStore::stationId(const std::string& site, const std::string& name, uint16_t pi, int64_t time,
                               const std::string& callsign)
{
    const auto key = std::make_tuple(site, name, pi);
    exec(
        "INSERT INTO stations (site, name, pi, callsign, first_seen, last_seen) VALUES (?, ?, ?, ?, ?, ?)"
        " ON CONFLICT (site, name, pi) DO UPDATE SET last_seen = excluded.last_seen",
        {QString::fromStdString(site), QString::fromStdString(name), int(pi),
         callsign.empty() ? QVariant() : QVariant(QString::fromStdString(callsign)), qint64(time), qint64(time)});
    if (const auto it = ids_.find(key); it != ids_.end()) return it->second;
    QSqlQuery q(db_);
    q.prepare("SELECT id FROM stations WHERE site = ? AND name = ? AND pi = ?");
    q.addBindValue(QString::fromStdString(site));
    q.addBindValue(QString::fromStdString(name));
    q.addBindValue(int(pi));
    if (!q.exec() || !q.next()) return -1;
    return ids_[key] = q.value(0).toLongLong();
}

void StationStore::stateChanged(const rdsformats::StationState& s)
{
    if (!s.pi) return;
    db_.transaction();
    const qint64 id = stationId(s.site, s.name, *s.pi, s.updated, s.callLetters);
    if (id >= 0) {
        const char* const kinds[] = {"ps", "radiotext"};
        const std::string* texts[] = {&s.ps, &s.radiotext};
        for (int i = 0; i < 2; ++i) {
            if (texts[i]->empty()) continue;
            exec(
                "INSERT INTO texts (station_id, kind, text, first_seen, last_seen) VALUES (?, ?, ?, ?, ?)"
                " ON CONFLICT (station_id, kind, text) DO UPDATE SET last_seen = excluded.last_seen",
                {id, kinds[i], QString::fromStdString(*texts[i]), qint64(s.updated), qint64(s.updated)});
        }
    }
    db_.commit();
}

void StationStore::quality(const QualityMinute& m)
{
    if (!m.pi) return;
    const qint64 id = stationId(m.site, m.station, *m.pi, m.start, {});
    if (id < 0) return;
    QVariant bler;
    if (m.blocks) bler = double(m.blocksMissing) / double(m.blocks);
    exec(
        "INSERT INTO quality (station_id, minute, groups, blocks_missing, block_error_rate, rds_level, pilot_level,"
        " cnr, level, deviation, mpx_power) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
        " ON CONFLICT (station_id, minute) DO UPDATE SET"
        " groups = excluded.groups, blocks_missing = excluded.blocks_missing,"
        " block_error_rate = excluded.block_error_rate, rds_level = excluded.rds_level,"
        " pilot_level = excluded.pilot_level, cnr = excluded.cnr, level = excluded.level,"
        " deviation = excluded.deviation, mpx_power = excluded.mpx_power",
        {id, qint64(m.start), int(m.groups), int(m.blocksMissing), bler, Optional(m.signal.rdsLevel),
         Optional(m.signal.pilotLevel), Optional(m.signal.cnrDb), Optional(m.signal.levelDbfs),
         Optional(m.signal.deviationKHz), Optional(m.signal.mpxPowerDbr)});
}

void StationStore::alarm(const AlarmEvent& e, const std::vector<AlarmEvent>& /*active*/)
{
    const QString site = QString::fromStdString(e.site), name = QString::fromStdString(e.station),
                  kind = QString::fromStdString(e.kind);
    if (e.raised)
        exec("INSERT INTO alarms (site, name, kind, raised, detail) VALUES (?, ?, ?, ?, ?)",
             {site, name, kind, qint64(e.time), QString::fromStdString(e.detail)});
    else
        exec("UPDATE alarms SET cleared = ? WHERE site = ? AND name = ? AND kind = ? AND cleared IS NULL",
             {qint64(e.time), site, name, kind});
}

void StationStore::applyRetention(int64_t now)
{
    constexpr int64_t kDay = 86400 * 100;
    const qint64 texts = now - retentionDays_ * kDay, quality = now - qualityRetentionDays_ * kDay;
    exec("DELETE FROM quality WHERE minute < ?", {quality});
    exec("DELETE FROM texts WHERE last_seen < ?", {texts});
    exec("DELETE FROM alarms WHERE raised < ? AND cleared IS NOT NULL", {texts});
    exec("DELETE FROM stations WHERE last_seen < ?", {texts});
}

StoreReader::~StoreReader()
{
    if (!db_.isValid()) return;
    db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(connection_);
}

bool StoreReader::open(const ServiceConfig& config, std::string& error)
{
    static std::atomic<int> count{0};
    connection_ = QString("varnakd-reader-%1").arg(count++);
    bool postgres = false;
    std::string described;
    return OpenStationDatabase(config, connection_, db_, postgres, described, error);
}

namespace {

std::optional<double> OptionalDouble(const QVariant& v)
{
    return v.isNull() ? std::nullopt : std::optional<double>(v.toDouble());
}

// Runs `sql` with `values`; false with the driver's message.
bool Run(QSqlQuery& q, const QString& sql, const std::vector<QVariant>& values, std::string& error)
{
    q.setForwardOnly(true);
    q.prepare(sql);
    for (const QVariant& v : values) q.addBindValue(v);
    if (q.exec()) return true;
    error = "database: " + q.lastError().text().toStdString();
    return false;
}

}  // namespace

bool StoreReader::alarmRows(const QString& where, const std::vector<QVariant>& values, std::vector<AlarmRow>& out,
                            bool& truncated)
{
    QSqlQuery q(db_);
    if (!Run(q,
             "SELECT site, name, kind, raised, cleared, detail FROM alarms WHERE " + where +
                 " ORDER BY raised, id LIMIT " + QString::number(kMaxRows + 1),
             values, error_))
        return false;
    while (q.next()) {
        if (out.size() == std::size_t(kMaxRows)) {
            truncated = true;
            break;
        }
        AlarmRow a;
        a.site = q.value(0).toString().toStdString();
        a.name = q.value(1).toString().toStdString();
        a.kind = q.value(2).toString().toStdString();
        a.raised = q.value(3).toLongLong();
        if (!q.value(4).isNull()) a.cleared = q.value(4).toLongLong();
        a.detail = q.value(5).toString().toStdString();
        out.push_back(std::move(a));
    }
    return true;
}

bool StoreReader::history(const std::string& site, const std::string& name, int64_t from, int64_t to, History& out)
{
    const QString s = QString::fromStdString(site), n = QString::fromStdString(name);
    const qint64 f = from, t = to;
    const QString limit = " LIMIT " + QString::number(kMaxRows + 1);
    QSqlQuery q(db_);
    // A station may have sent several PIs: its texts and minutes are those of all of them.
    if (!Run(q,
             "SELECT t.kind, t.text, MIN(t.first_seen), MAX(t.last_seen) FROM texts t JOIN stations s ON"
             " s.id = t.station_id WHERE s.site = ? AND s.name = ? AND t.last_seen >= ? AND t.first_seen <= ?"
             " GROUP BY t.kind, t.text ORDER BY MIN(t.first_seen), t.kind" +
                 limit,
             {s, n, f, t}, error_))
        return false;
    while (q.next()) {
        if (out.texts.size() == std::size_t(kMaxRows)) {
            out.truncated = true;
            break;
        }
        out.texts.push_back({q.value(0).toString().toStdString(), q.value(1).toString().toStdString(),
                             q.value(2).toLongLong(), q.value(3).toLongLong()});
    }
    if (!Run(q,
             "SELECT q.minute, q.groups, q.blocks_missing, q.block_error_rate, q.rds_level, q.pilot_level, q.cnr,"
             " q.level, q.deviation, q.mpx_power"
             " FROM quality q JOIN stations s ON s.id = q.station_id WHERE s.site = ? AND s.name = ? AND"
             " q.minute >= ? AND q.minute <= ? ORDER BY q.minute" +
                 limit,
             {s, n, f, t}, error_))
        return false;
    while (q.next()) {
        if (out.quality.size() == std::size_t(kMaxRows)) {
            out.truncated = true;
            break;
        }
        QualityRow r;
        r.minute = q.value(0).toLongLong();
        r.groups = q.value(1).toInt();
        r.blocksMissing = q.value(2).toInt();
        r.blockErrorRate = OptionalDouble(q.value(3));
        r.rdsLevel = OptionalDouble(q.value(4));
        r.pilotLevel = OptionalDouble(q.value(5));
        r.cnr = OptionalDouble(q.value(6));
        r.level = OptionalDouble(q.value(7));
        r.deviation = OptionalDouble(q.value(8));
        r.mpxPower = OptionalDouble(q.value(9));
        out.quality.push_back(r);
    }
    return alarmRows("site = ? AND name = ? AND raised <= ? AND (cleared IS NULL OR cleared >= ?)", {s, n, t, f},
                     out.alarms, out.truncated);
}

bool StoreReader::alarms(int64_t from, int64_t to, std::vector<AlarmRow>& out, bool& truncated)
{
    return alarmRows("raised <= ? AND (cleared IS NULL OR cleared >= ?)", {qint64(to), qint64(from)}, out, truncated);
}

}  // namespace varnakd
