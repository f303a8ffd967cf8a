// The station database through Qt SQL: SQLite by default (a file under the
// state folder, readable by its owner only), PostgreSQL for a network
// ("postgresql://user@host:port/name", the password from PGPASSWORD or
// ~/.pgpass as libpq reads them, or in the URL). One schema for both,
// brought up to date by numbered migrations:
//   stations  site, name (frequency or source), PI, call letters, first/last seen
//   texts     PS and radiotext per station with first and last seen
//   quality   one row per station and minute: groups, lost blocks, block
//             error rate, levels where known; RF level, peak deviation and
//             MPX power where the source measures them (migration 2)
//   alarms    what, raised, cleared, detail
// Times are hundredths of a second since the epoch (UTC). Retention
// removes quality rows, texts and alarms older than their settings.
#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QVariant>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "config.h"
#include "events.h"

namespace varnakd {

class StationStore : public EventSink {
public:
    static constexpr int kSchemaVersion = 2;

    explicit StationStore(std::FILE* log) : log_(log) {}
    ~StationStore() override;

    // Opens (creating the file or schema as needed) the database the
    // configuration names; false with `error` (one line, no password).
    bool open(const ServiceConfig& config, std::string& error);

    void stateChanged(const rdsformats::StationState& state) override;
    void alarm(const AlarmEvent& event, const std::vector<AlarmEvent>& active) override;
    void quality(const QualityMinute& minute) override;

    // Deletes what is older than the retention settings, counted from `now`.
    void applyRetention(int64_t now);
    int schemaVersion();
    QSqlDatabase& database() { return db_; }
    // The connection name and the driver, for a log line without secrets.
    std::string describe() const { return described_; }

private:
    bool migrate(std::string& error);
    // The row of (site, name, pi), created when new; -1 on failure.
    qint64 stationId(const std::string& site, const std::string& name, uint16_t pi, int64_t time,
                     const std::string& callsign);
    bool exec(const QString& sql, const std::vector<QVariant>& values = {});

    std::FILE* log_;
    QSqlDatabase db_;
    QString connection_;
    bool postgres_ = false;
    int retentionDays_ = 365, qualityRetentionDays_ = 90;
    std::string described_;
    std::map<std::tuple<std::string, std::string, uint16_t>, qint64> ids_;
    bool reported_ = false;  // a write error was logged
};

// Reads the station database for the web API's history, on a thread of its
// own: a Qt SQL connection belongs to the thread that opened it, so the
// reader has its own beside the store's. Every list is bounded: a list
// longer than kMaxRows is cut there and says so.
class StoreReader {
public:
    static constexpr int kMaxRows = 50000;

    StoreReader() = default;
    ~StoreReader();
    StoreReader(const StoreReader&) = delete;
    StoreReader& operator=(const StoreReader&) = delete;

    // Opens the database the configuration names, which the store has
    // created; false with `error` (one line, no password).
    bool open(const ServiceConfig& config, std::string& error);

    struct TextSpan {
        std::string kind, text;  // kind: ps or radiotext
        int64_t first = 0, last = 0;
    };
    struct QualityRow {
        int64_t minute = 0;
        int groups = 0, blocksMissing = 0;
        std::optional<double> blockErrorRate, rdsLevel, pilotLevel, cnr, level, deviation, mpxPower;
    };
    struct AlarmRow {
        std::string site, name, kind, detail;
        int64_t raised = 0;
        std::optional<int64_t> cleared;
    };
    struct History {
        std::vector<TextSpan> texts;
        std::vector<QualityRow> quality;
        std::vector<AlarmRow> alarms;
        bool truncated = false;
    };
    // A station's texts seen, quality minutes and alarms active within [from, to].
    bool history(const std::string& site, const std::string& name, int64_t from, int64_t to, History& out);
    // Every station's alarms active within [from, to].
    bool alarms(int64_t from, int64_t to, std::vector<AlarmRow>& out, bool& truncated);
    std::string lastError() const { return error_; }

private:
    bool alarmRows(const QString& where, const std::vector<QVariant>& values, std::vector<AlarmRow>& out,
                   bool& truncated);
    QSqlDatabase db_;
    QString connection_;
    std::string error_;
};

// Opens the database the configuration names as the Qt SQL connection
// `connection` (creating a SQLite file readable by its owner only); false
// with `error` (one line, no password). `described`: for a log line.
bool OpenStationDatabase(const ServiceConfig& config, const QString& connection, QSqlDatabase& db, bool& postgres,
                         std::string& described, std::string& error);

// The database file the configuration gives, or "" for PostgreSQL and none.
std::string SqlitePath(const ServiceConfig& config);

}  // namespace varnakd
