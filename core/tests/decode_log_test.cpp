// The decode log file: exact record bytes, path rule, and reported failures.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "decode_log.h"
#include "test_files.h"

namespace {

using varnaktest::ReadAll;

class DecodeLogFile : public ::testing::Test {
protected:
    const varnaktest::TempDir temp;
    const std::string dir = temp.path();
};

TEST_F(DecodeLogFile, RecordIsSeparatorAndFourLinesWithCrLf)
{
    const std::string path = dir + "/a.out";
    {
        std::ofstream old(path);
        old << "old content that must go";
    }
    varnak::DecodeLog log;
    ASSERT_TRUE(log.open(path)) << log.error();
    const std::string lines[4] = {"Bloc A: 0010000000000001 2001 - PI:2001", "B", "", "Bloc D: x"};
    EXPECT_TRUE(log.writeGroup(lines));
    EXPECT_TRUE(log.writeGroup(lines));
    EXPECT_TRUE(log.close());
    EXPECT_FALSE(log.isOpen());
    const std::string record = std::string(36, '-') + "\r\n" + lines[0] + "\r\nB\r\n\r\nBloc D: x\r\n";
    EXPECT_EQ(ReadAll(path), record + record);
    EXPECT_TRUE(log.close());  // closing twice is harmless
}

TEST_F(DecodeLogFile, CreateFailureNamesThePathAndReason)
{
    // A pipe that nothing reads is refused at once: waiting for a reader
    // would freeze the monitor's window.
    ASSERT_EQ(::mkfifo((dir + "/pipe.out").c_str(), 0600), 0);
    ASSERT_EQ(::mkdir((dir + "/folder.out").c_str(), 0700), 0);
    const struct {
        std::string path, reason;
    } cases[] = {
        {dir + "/no/such/folder/x.out", "No such file or directory"},
        {dir + "/pipe.out", "it is a pipe that nothing reads"},
        {dir + "/folder.out", "Is a directory"},
    };
    for (const auto& c : cases) {
        varnak::DecodeLog log;
        EXPECT_FALSE(log.open(c.path));
        EXPECT_FALSE(log.isOpen());
        EXPECT_EQ(log.error(), "cannot create " + c.path + ": " + c.reason);
        const std::string lines[4];
        EXPECT_FALSE(log.writeGroup(lines));
    }
}

TEST_F(DecodeLogFile, WriteErrorIsReportedAtFlushOrClose)
{
    varnak::DecodeLog log;
    ASSERT_TRUE(log.open("/dev/full"));
    const std::string lines[4] = {"a", "b", "c", "d"};
    log.writeGroup(lines);  // buffered: the error shows when the buffer goes out
    EXPECT_FALSE(log.close());
    EXPECT_EQ(log.error(), "cannot write /dev/full: No space left on device");
}

TEST_F(DecodeLogFile, AttachedStreamIsFlushedButLeftOpen)
{
    const std::string path = dir + "/attached";
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    {
        varnak::DecodeLog log;
        log.attach(f, "attached");
        const std::string lines[4] = {"1", "2", "3", "4"};
        EXPECT_TRUE(log.writeGroup(lines));
        EXPECT_TRUE(log.close());
    }
    EXPECT_GE(std::fputs("tail", f), 0);  // still open and writable
    std::fclose(f);
    EXPECT_EQ(ReadAll(path), std::string(36, '-') + "\r\n1\r\n2\r\n3\r\n4\r\ntail");
}

TEST(DecodeLogPath, CutsTheLastFourCharactersWhateverTheyAre)
{
    EXPECT_EQ(varnak::DecodeLogPath("/rds/morning.txt"), "/rds/morning.out");
    EXPECT_EQ(varnak::DecodeLogPath("/logs/run1.text"), "/logs/run1..out");
    EXPECT_EQ(varnak::DecodeLogPath("bits"), ".out");
    EXPECT_EQ(varnak::DecodeLogPath("x"), ".out");
}

}  // namespace
