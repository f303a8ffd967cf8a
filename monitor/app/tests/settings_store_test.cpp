// The per-user settings store: typed values, defaults on every failure,
// atomic writes, foreign files left alone.
#include "settings_store.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

namespace varnak {
namespace {

const QString kApp = QStringLiteral("Varnak");

class SettingsStoreTest : public ::testing::Test {
protected:
    QTemporaryDir dir_;
    QString path() const { return dir_.filePath(QStringLiteral("ostrand-software/settings.reg")); }
    SettingsStore store_{path()};

    QVariant read(const QString& key, const QVariant& def) const { return store_.ReadSetting(kApp, {}, key, def); }
    bool write(const QString& key, const QVariant& v) { return store_.WriteSetting(kApp, {}, key, v); }
    QByteArray raw(const QString& key, SettingsStore::ValueType type) const
    {
        auto vendor = store_.openKey({}, QStringLiteral("SOFTWARE\\Ostrand Software"));
        if (!vendor) return "<no vendor key>";
        auto app = store_.openKey(*vendor, kApp);
        if (!app) return "<no app key>";
        QByteArray data;
        if (!store_.queryValue(*app, key, type, 1 << 20, &data)) return "<no value>";
        return data;
    }
};

TEST_F(SettingsStoreTest, FirstRunGivesDefaultsAndCreatesNothing)
{
    EXPECT_EQ(read(QStringLiteral("HostName"), QString()).toString(), QString());
    EXPECT_EQ(read(QStringLiteral("HostPort"), 33234).toInt(), 33234);
    EXPECT_EQ(read(QStringLiteral("X"), -120).toInt(), -120);
    EXPECT_FALSE(QFile::exists(path()));
    EXPECT_FALSE(QDir(dir_.filePath(QStringLiteral("ostrand-software"))).exists());
}

TEST_F(SettingsStoreTest, ValuesRoundTripInTheirStoredForms)
{
    ASSERT_TRUE(write(QStringLiteral("HostName"), QStringLiteral("127.0.0.1")));
    ASSERT_TRUE(write(QStringLiteral("HostPort"), 33235));
    ASSERT_TRUE(write(QStringLiteral("X"), -4000));
    // Text: its bytes and one zero byte; number: 4 bytes little-endian.
    EXPECT_EQ(raw(QStringLiteral("HostName"), SettingsStore::ValueType::Text), QByteArray("127.0.0.1\0", 10));
    EXPECT_EQ(raw(QStringLiteral("HostPort"), SettingsStore::ValueType::Number), QByteArray("\xD3\x81\0\0", 4));
    // A second store on the same file (the next start) sees them.
    SettingsStore again(path());
    EXPECT_EQ(again.ReadSetting(kApp, QStringLiteral("ignored"), QStringLiteral("HostName"), QString()).toString(),
              QStringLiteral("127.0.0.1"));
    EXPECT_EQ(again.ReadSetting(kApp, {}, QStringLiteral("hostport"), 1).toInt(), 33235);
    EXPECT_EQ(again.ReadSetting(kApp, {}, QStringLiteral("X"), 0).toInt(), -4000);
    // Another application's subkey is separate.
    EXPECT_EQ(again.ReadSetting(QStringLiteral("Other"), {}, QStringLiteral("X"), 7).toInt(), 7);
    // Overwriting replaces, also with another type.
    ASSERT_TRUE(write(QStringLiteral("X"), QStringLiteral("left")));
    EXPECT_EQ(read(QStringLiteral("X"), 5).toInt(), 5);
    EXPECT_EQ(read(QStringLiteral("X"), QString()).toString(), QStringLiteral("left"));
}

TEST_F(SettingsStoreTest, NumbersRoundHalvesToEven)
{
    const struct {
        double in;
        int stored;
    } cases[] = {{1200.5, 1200}, {1201.5, 1202}, {-0.5, 0}, {-1.5, -2}, {2.4999, 2}, {7.0, 7}};
    for (const auto& c : cases) {
        ASSERT_TRUE(write(QStringLiteral("X"), c.in));
        EXPECT_EQ(read(QStringLiteral("X"), 99).toInt(), c.stored) << c.in;
    }
    // Outside 32 bits nothing is stored.
    EXPECT_FALSE(write(QStringLiteral("X"), 3e9));
    EXPECT_EQ(read(QStringLiteral("X"), 99).toInt(), 7);
}

TEST_F(SettingsStoreTest, TypeMismatchesAndOddBytesGiveDefaultsOrAllBytes)
{
    // A text longer than four bytes read as a number gives the default.
    ASSERT_TRUE(write(QStringLiteral("HostPort"), QStringLiteral("not a port")));
    EXPECT_EQ(read(QStringLiteral("HostPort"), 33234).toInt(), 33234);
    // A text without its zero byte reads whole.
    auto vendor = store_.openKey({}, QStringLiteral("SOFTWARE\\Ostrand Software"));
    ASSERT_TRUE(vendor);
    auto app = store_.openKey(*vendor, kApp);
    ASSERT_TRUE(app);
    ASSERT_TRUE(store_.setValue(*app, QStringLiteral("HostName"), SettingsStore::ValueType::Text, "abc"));
    EXPECT_EQ(read(QStringLiteral("HostName"), QStringLiteral("d")).toString(), QStringLiteral("abc"));
    // Zero bytes of text give the default.
    ASSERT_TRUE(store_.setValue(*app, QStringLiteral("HostName"), SettingsStore::ValueType::Text, QByteArray()));
    EXPECT_EQ(read(QStringLiteral("HostName"), QStringLiteral("d")).toString(), QStringLiteral("d"));
    // A number of the wrong size is not a number.
    ASSERT_TRUE(store_.setValue(*app, QStringLiteral("Y"), SettingsStore::ValueType::Number, "\x01\x02"));
    EXPECT_EQ(read(QStringLiteral("Y"), 3).toInt(), 3);
}

TEST_F(SettingsStoreTest, TextReadsAreLimitedTo4095Characters)
{
    const QString longest(4095, QLatin1Char('h'));
    ASSERT_TRUE(write(QStringLiteral("HostName"), longest));
    EXPECT_EQ(read(QStringLiteral("HostName"), QString()).toString(), longest);
    ASSERT_TRUE(write(QStringLiteral("HostName"), longest + QLatin1Char('h')));
    EXPECT_EQ(read(QStringLiteral("HostName"), QStringLiteral("default")).toString(), QStringLiteral("default"));
}

TEST_F(SettingsStoreTest, ForeignOrCorruptFileReadsAsMissingAndIsKept)
{
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path()).absolutePath()));
    for (const QByteArray& content :
         {QByteArray("[General]\nHostPort=1\n"), QByteArray("Ostrand Software settings store 1\nkey A\nvalue X 4 ZZ\n"),
          QByteArray("Ostrand Software settings store 1\nvalue X 4 01000000\n"),
          QByteArray("\xff\xfe\x00garbage", 10)}) {
        QFile f(path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
        f.close();
        EXPECT_EQ(read(QStringLiteral("HostPort"), 33234).toInt(), 33234) << content.constData();
        EXPECT_FALSE(write(QStringLiteral("HostPort"), 1)) << content.constData();
        QFile back(path());
        ASSERT_TRUE(back.open(QIODevice::ReadOnly));
        EXPECT_EQ(back.readAll(), content);
    }
}

// A store path that is a pipe (or a folder) must not block the start-up on
// opening it, nor be replaced: the defaults are used, and stderr says why.
// The reads run in a child with an alarm, so a store that blocks fails the
// test instead of hanging it.
TEST_F(SettingsStoreTest, StoreThatIsNotARegularFileIsNeitherOpenedNorReplaced)
{
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path()).absolutePath()));
    for (const char* kind : {"pipe", "folder"}) {
        const QByteArray file = QFile::encodeName(path());
        ASSERT_EQ(kind[0] == 'p' ? ::mkfifo(file.constData(), 0600) : ::mkdir(file.constData(), 0700), 0) << kind;
        const QByteArray errors = QFile::encodeName(dir_.filePath(QStringLiteral("stderr")));
        const pid_t child = ::fork();
        if (child == 0) {
            ::alarm(10);
            if (!std::freopen(errors.constData(), "w", stderr)) ::_exit(3);
            const bool defaults =
                read(QStringLiteral("HostPort"), 33234).toInt() == 33234 && read(QStringLiteral("X"), 7).toInt() == 7;
            const bool refused = !write(QStringLiteral("X"), 10);
            std::fflush(stderr);
            ::_exit(defaults && refused ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << kind << ": status " << status;
        struct stat info {};
        ASSERT_EQ(::lstat(file.constData(), &info), 0);
        EXPECT_TRUE(kind[0] == 'p' ? S_ISFIFO(info.st_mode) : S_ISDIR(info.st_mode)) << kind;
        QFile err(QFile::decodeName(errors));
        ASSERT_TRUE(err.open(QIODevice::ReadOnly));
        const QByteArray said = err.readAll();
        EXPECT_EQ(said.count('\n'), 1) << kind << ": " << said.constData();  // said once
        EXPECT_TRUE(said.startsWith("varnak: ") && said.contains(file) && said.contains("not a regular file"))
            << kind << ": " << said.constData();
        ASSERT_EQ(::remove(file.constData()), 0);
    }
}

TEST_F(SettingsStoreTest, UnwritableLocationFailsQuietly)
{
    // The store's folder would have to be made inside a plain file.
    QFile blocker(dir_.filePath(QStringLiteral("plain")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    SettingsStore blocked(dir_.filePath(QStringLiteral("plain/ostrand-software/settings.reg")));
    EXPECT_FALSE(blocked.WriteSetting(kApp, {}, QStringLiteral("X"), 10));
    EXPECT_EQ(blocked.ReadSetting(kApp, {}, QStringLiteral("X"), 4).toInt(), 4);
}

TEST_F(SettingsStoreTest, WritesLeaveNoTemporaryFilesBehind)
{
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(write(QStringLiteral("X"), i));
    const QStringList files = QDir(QFileInfo(path()).absolutePath()).entryList(QDir::Files);
    EXPECT_EQ(files, QStringList{QStringLiteral("settings.reg")});
}

TEST(SettingsStorePath, FollowsXdgConfigHome)
{
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", "/srv/conf");
    EXPECT_EQ(SettingsStore::defaultPath(), QStringLiteral("/srv/conf/ostrand-software/settings.reg"));
    qputenv("XDG_CONFIG_HOME", "relative/ignored");
    EXPECT_EQ(SettingsStore::defaultPath(),
              QDir::homePath() + QStringLiteral("/.config/ostrand-software/settings.reg"));
    qputenv("XDG_CONFIG_HOME", saved);
}

}  // namespace
}  // namespace varnak
