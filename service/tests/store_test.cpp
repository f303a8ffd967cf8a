// The station database on SQLite (and PostgreSQL): schema and migrations,
// what a run leaves in it, what the web API reads back, and its file's
// permissions.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <unistd.h>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTcpServer>
#include <QTemporaryDir>

#include "store.h"

namespace varnakd {
namespace {

ServiceConfig Config(const QString& dir)
{
    ServiceConfig c;
    c.stateDir = dir.toStdString() + "/state";
    c.retentionDays = 10;
    c.qualityRetentionDays = 2;
    return c;
}

std::vector<std::string> Rows(QSqlDatabase& db, const QString& sql)
{
    std::vector<std::string> rows;
    QSqlQuery q(db);
    EXPECT_TRUE(q.exec(sql)) << sql.toStdString();
    while (q.next()) {
        std::string row;
        for (int i = 0; i < q.record().count(); ++i) row += (i ? "|" : "") + q.value(i).toString().toStdString();
        rows.push_back(row);
    }
    return rows;
}

// Writes a station's state, quality and an alarm, applies retention and
// checks what the database holds.
void CheckStore(const ServiceConfig& config)
{
    std::string error;
    constexpr int64_t kDay = 8640000;
    const int64_t now = 1796760000LL * 100;
    {
        StationStore store(stderr);
        ASSERT_TRUE(store.open(config, error)) << error;
        rdsformats::StationState s;
        s.site = "north";
        s.name = "98.5";
        s.pi = 0xC2A1;
        s.ps = "KESTREL ";
        s.updated = now - 100;
        store.stateChanged(s);
        s.ps = "NEWS    ";
        s.updated = now;
        store.stateChanged(s);
        s.updated = now + 50;
        store.stateChanged(s);  // seen again: last seen moves, no new row
        QualityMinute old{"north", "98.5", 0xC2A1, now - 3 * kDay, 600, 2400, 24, {}};
        rdsformats::SignalFigures rf;
        rf.levelDbfs = -31.5;
        rf.deviationKHz = 71.25;
        rf.mpxPowerDbr = -0.5;
        QualityMinute recent{"north", "98.5", 0xC2A1, now - 6000, 650, 2600, 26, rf};
        store.quality(old);
        store.quality(recent);
        store.alarm({"north", "98.5", "pi", true, now - 500, now - 500, "PI C2A2"}, {});
        store.alarm({"north", "98.5", "pi", false, now - 200, now - 500, ""}, {});
        store.applyRetention(now);
        QSqlDatabase& db = store.database();
        EXPECT_EQ(Rows(db, "SELECT site, name, pi FROM stations"), (std::vector<std::string>{"north|98.5|49825"}));
        EXPECT_EQ(
            Rows(
                db,
                "SELECT kind, text, CASE WHEN first_seen = last_seen THEN 1 ELSE 0 END FROM texts ORDER BY first_seen"),
            (std::vector<std::string>{"ps|KESTREL |1", "ps|NEWS    |0"}));
        EXPECT_EQ(Rows(db, "SELECT groups, block_error_rate, level, deviation, mpx_power FROM quality"),
                  (std::vector<std::string>{"650|0.01|-31.5|71.25|-0.5"}));
        EXPECT_EQ(Rows(db, "SELECT kind, raised, cleared FROM alarms"),
                  (std::vector<std::string>{"pi|" + std::to_string(now - 500) + "|" + std::to_string(now - 200)}));
        EXPECT_EQ(store.schemaVersion(), StationStore::kSchemaVersion);
    }
    // The web API's reader, on a connection of its own: a station's history
    // over a range, and every station's alarms of a range.
    StoreReader reader;
    ASSERT_TRUE(reader.open(config, error)) << error;
    StoreReader::History h;
    ASSERT_TRUE(reader.history("north", "98.5", now - kDay, now + 100, h)) << reader.lastError();
    ASSERT_EQ(h.texts.size(), 2u);
    EXPECT_EQ(h.texts[1].text, "NEWS    ");
    EXPECT_EQ(h.texts[1].first, now);
    EXPECT_EQ(h.texts[1].last, now + 50);
    ASSERT_EQ(h.quality.size(), 1u);
    EXPECT_EQ(h.quality[0].groups, 650);
    EXPECT_EQ(h.quality[0].level, -31.5);
    EXPECT_EQ(h.quality[0].mpxPower, -0.5);
    ASSERT_EQ(h.alarms.size(), 1u);
    EXPECT_EQ(h.alarms[0].cleared, now - 200);
    EXPECT_FALSE(h.truncated);
    StoreReader::History other;
    ASSERT_TRUE(reader.history("north", "99.1", now - kDay, now, other));
    EXPECT_TRUE(other.texts.empty() && other.quality.empty() && other.alarms.empty());
    const struct {
        int64_t from, to;
        std::size_t alarms;
    } ranges[] = {{now - 600, now - 550, 0}, {now - 600, now - 500, 1}, {now - 200, now, 1}, {now - 199, now, 0}};
    for (const auto& r : ranges) {
        std::vector<StoreReader::AlarmRow> rows;
        bool truncated = false;
        ASSERT_TRUE(reader.alarms(r.from, r.to, rows, truncated));
        EXPECT_EQ(rows.size(), r.alarms) << r.from - now << ".." << r.to - now;
    }

    // Opened again: the schema is there, nothing migrates twice.
    StationStore again(stderr);
    ASSERT_TRUE(again.open(config, error)) << error;
    EXPECT_EQ(Rows(again.database(), "SELECT COUNT(*) FROM stations"), (std::vector<std::string>{"1"}));
}

TEST(StoreTest, KeepsStationsTextsQualityAndAlarmsPrivately)
{
    QTemporaryDir dir;
    CheckStore(Config(dir.path()));
    struct stat info {};
    ASSERT_EQ(::stat((dir.path() + "/state/varnakd.db").toUtf8().constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

// The same on PostgreSQL: a throwaway cluster on a free port, run as an
// unprivileged user when the tests run as root.
TEST(StoreTest, PostgresqlTakesTheSameSchema)
{
    const QString bin = "/usr/lib/postgresql/15/bin";
    if (!QFileInfo::exists(bin + "/initdb") || !QSqlDatabase::isDriverAvailable("QPSQL"))
        GTEST_SKIP() << "PostgreSQL or Qt's driver for it is not installed";
    QTemporaryDir dir;
    const QString data = dir.path() + "/pg";
    QDir().mkpath(data);
    QStringList prefix;
    if (::geteuid() == 0) {
        ::chmod(dir.path().toUtf8().constData(), 0755);
        ASSERT_EQ(QProcess::execute("chown", {"nobody", data}), 0);
        prefix = {"runuser", "-u", "nobody", "--"};
    }
    const auto run = [&](const QStringList& command) {
        QProcess p;
        const QStringList all = prefix + command;
        p.start(all.front(), all.mid(1));
        p.waitForFinished(60000);
        return p.exitCode() == 0 && p.exitStatus() == QProcess::NormalExit;
    };
    ASSERT_TRUE(run({bin + "/initdb", "-D", data, "-U", "varnak", "-A", "trust"}));
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const int port = probe.serverPort();
    probe.close();
    ASSERT_TRUE(run({bin + "/pg_ctl", "-D", data, "-w", "-l", data + "/log", "-o",
                     QString("-p %1 -k %2 -c listen_addresses=127.0.0.1").arg(port).arg(data), "start"}));
    ServiceConfig config = Config(dir.path());
    config.database = "postgresql://varnak@127.0.0.1:" + std::to_string(port) + "/postgres";
    CheckStore(config);
    run({bin + "/pg_ctl", "-D", data, "-m", "immediate", "stop"});
}

TEST(StoreTest, RefusesASchemaNewerThanItKnows)
{
    QTemporaryDir dir;
    std::string error;
    {
        StationStore store(stderr);
        ASSERT_TRUE(store.open(Config(dir.path()), error)) << error;
        QSqlQuery(store.database()).exec("UPDATE schema_version SET version = 99");
    }
    StationStore store(stderr);
    EXPECT_FALSE(store.open(Config(dir.path()), error));
    EXPECT_NE(
        error.find("schema version 99, newer than this varnakd's " + std::to_string(StationStore::kSchemaVersion)),
        std::string::npos)
        << error;
}

// A database of the first schema is brought up to date and keeps its rows.
TEST(StoreTest, MigratesTheFirstSchemaKeepingItsRows)
{
    QTemporaryDir dir;
    const ServiceConfig config = Config(dir.path());
    QDir().mkpath(dir.path() + "/state");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "schema-1");
        db.setDatabaseName(dir.path() + "/state/varnakd.db");
        ASSERT_TRUE(db.open());
        for (const char* sql :
             {"CREATE TABLE schema_version (version INTEGER NOT NULL)", "INSERT INTO schema_version VALUES (1)",
              "CREATE TABLE quality (station_id BIGINT NOT NULL, minute BIGINT NOT NULL, groups INTEGER NOT NULL,"
              " blocks_missing INTEGER NOT NULL, block_error_rate REAL, rds_level REAL, pilot_level REAL, cnr REAL,"
              " PRIMARY KEY (station_id, minute))",
              "INSERT INTO quality VALUES (1, 6000, 600, 0, 0, 0.04, 0.09, 20)"})
            ASSERT_TRUE(QSqlQuery(db).exec(sql)) << sql;
        db.close();
    }
    QSqlDatabase::removeDatabase("schema-1");
    StationStore store(stderr);
    std::string error;
    ASSERT_TRUE(store.open(config, error)) << error;
    EXPECT_EQ(store.schemaVersion(), StationStore::kSchemaVersion);
    EXPECT_EQ(Rows(store.database(), "SELECT groups, cnr, level, deviation, mpx_power FROM quality"),
              (std::vector<std::string>{"600|20|||"}));
}

}  // namespace
}  // namespace varnakd
