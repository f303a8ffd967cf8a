// murlin-decode end to end: the real program and the real decoder library
// on streams built with the transmit-side encoder.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "history_station.h"
#include "test_files.h"
#include "test_streams.h"
#include "tmc_table.h"

namespace {

struct Result {
    int status = -1;
    std::string out, err;
};

using varnaktest::ReadAll;
using varnaktest::WriteFile;

bool Exists(const std::string& path) { return std::ifstream(path).good(); }

std::size_t Count(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + what.size())) ++n;
    return n;
}

class MurlinDecode : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(dir.empty()); }

    // Runs the program with `args` (already quoted) in the test folder.
    // `env` is put before the program ("TZ=UTC ").
    Result Run(const std::string& args, const std::string& env = "")
    {
        const std::string out = dir + "/.stdout", err = dir + "/.stderr";
        const std::string command =
            "cd '" + dir + "' && " + env + "'" MURLIN_DECODE_PATH "' " + args + " >'" + out + "' 2>'" + err + "'";
        const int raw = std::system(command.c_str());
        Result r;
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = ReadAll(out);
        r.err = ReadAll(err);
        std::remove(out.c_str());
        std::remove(err.c_str());
        return r;
    }

    // The names in the test folder, so a test can see that nothing was left behind.
    std::set<std::string> Files()
    {
        std::set<std::string> names;
        DIR* d = opendir(dir.c_str());
        while (dirent* e = readdir(d)) {
            const std::string n = e->d_name;
            if (n != "." && n != "..") names.insert(n);
        }
        closedir(d);
        return names;
    }

    const varnaktest::TempDir temp;
    const std::string dir = temp.path();
};

const std::string kSeparator = std::string(36, '-') + "\r\n";

TEST_F(MurlinDecode, WritesTheLogBesideTheInputAndASummary)
{
    WriteFile(dir + "/run1.text", varnaktest::StationBits(30));
    WriteFile(dir + "/morning.txt", varnaktest::StationBits(10));
    const Result r = Run("run1.text morning.txt");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Files(), (std::set<std::string>{"run1.text", "run1..out", "morning.txt", "morning.out"}));
    const std::string log = ReadAll(dir + "/run1..out");
    EXPECT_EQ(Count(log, kSeparator), 30u);
    EXPECT_EQ(log.substr(0, kSeparator.size()), kSeparator);
    EXPECT_EQ(Count(log, "\r\n"), 30u * 5);
    EXPECT_EQ(Count(log, "\n"), 30u * 5);  // no bare line feeds
    EXPECT_NE(
        r.err.find("run1.text: " + std::to_string(varnaktest::StationBits(30).size()) + " bits, 30 groups decoded, "),
        std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("PI 2001  PS 'VARNAK'"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("RT 'Varnak test stream"), std::string::npos) << r.err;
    EXPECT_EQ(Count(ReadAll(dir + "/morning.out"), kSeparator), 10u);
}

TEST_F(MurlinDecode, OutputOptionAndStandardOutputGiveTheSameLog)
{
    WriteFile(dir + "/in.txt", varnaktest::StationBits(20));
    ASSERT_EQ(Run("-q in.txt").status, 0);
    const std::string log = ReadAll(dir + "/in.out");
    const Result toStdout = Run("-q -o - in.txt");
    ASSERT_EQ(toStdout.status, 0) << toStdout.err;
    EXPECT_EQ(toStdout.out, log);
    EXPECT_EQ(toStdout.err, "");
    ASSERT_EQ(Run("--output=named.log in.txt").status, 0);
    EXPECT_EQ(ReadAll(dir + "/named.log"), log);
}

TEST_F(MurlinDecode, OutputThatIsNotARegularFileIsWrittenInPlace)
{
    WriteFile(dir + "/in.txt", varnaktest::StationBits(8));
    ASSERT_EQ(Run("-q in.txt").status, 0);
    const std::string log = ReadAll(dir + "/in.out");

    // A pipe stays a pipe: it is written to, not replaced by a file.
    ASSERT_EQ(mkfifo((dir + "/pipe").c_str(), 0600), 0);
    const std::string command = "cd '" + dir +
                                "' && { cat pipe > got & '" MURLIN_DECODE_PATH
                                "' -q -o pipe in.txt; status=$?; wait; exit $status; }";
    ASSERT_EQ(std::system(command.c_str()), 0);
    struct stat info {};
    ASSERT_EQ(lstat((dir + "/pipe").c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    EXPECT_EQ(ReadAll(dir + "/got"), log);

    // A character device stays a device, and one that refuses the text gives
    // the reason and exit 1. As root these are private copies of /dev/null
    // and /dev/full, so that a build that replaces devices harms nothing.
    const bool root = geteuid() == 0;
    const std::string full = root ? "full" : "/dev/full";
    if (root) {
        ASSERT_EQ(mknod((dir + "/null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
        ASSERT_EQ(mknod((dir + "/full").c_str(), S_IFCHR | 0666, makedev(1, 7)), 0);
        const Result r = Run("-q -o null in.txt");
        EXPECT_EQ(r.status, 0) << r.err;
    }
    const Result refused = Run("-q -o " + full + " in.txt");
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "murlin-decode: cannot write " + full + ": No space left on device\n");
    for (const char* device : {"null", "full"}) {
        if (!root) break;
        ASSERT_EQ(lstat((dir + "/" + device).c_str(), &info), 0);
        EXPECT_TRUE(S_ISCHR(info.st_mode)) << device;
        std::remove((dir + "/" + device).c_str());
    }

    // A symbolic link stays a link; the file it points to gets the log.
    WriteFile(dir + "/real.log", "old");
    ASSERT_EQ(symlink("real.log", (dir + "/link.log").c_str()), 0);
    ASSERT_EQ(Run("-q -o link.log in.txt").status, 0);
    ASSERT_EQ(lstat((dir + "/link.log").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(ReadAll(dir + "/real.log"), log);
}

// A run killed outright leaves its temporary file; the next run writing the
// same output recognises it by the dead process's number and removes it.
TEST_F(MurlinDecode, TemporaryFileOfAKilledRunIsRemovedByTheNext)
{
    WriteFile(dir + "/in.txt", varnaktest::StationBits(4));
    ASSERT_EQ(mkfifo((dir + "/feed").c_str(), 0600), 0);
    // The writer holds the pipe open, so the run waits for more input.
    const std::string bits = ReadAll(dir + "/in.txt"), feed = dir + "/feed";
    const pid_t writer = fork();
    if (writer == 0) {
        const int fd = open(feed.c_str(), O_WRONLY);
        if (fd >= 0 && write(fd, bits.data(), bits.size()) == static_cast<ssize_t>(bits.size())) sleep(30);
        _exit(0);
    }
    const pid_t run = fork();
    if (run == 0) {
        if (chdir(dir.c_str()) == 0) execl(MURLIN_DECODE_PATH, "murlin-decode", "-q", "-o", "x.log", "feed", nullptr);
        _exit(127);
    }
    std::string leftover;
    for (int i = 0; i < 500 && leftover.empty(); ++i) {
        usleep(10000);
        for (const std::string& n : Files())
            if (n.rfind(".x.log.", 0) == 0) leftover = n;
    }
    kill(run, SIGKILL);
    kill(writer, SIGKILL);
    waitpid(run, nullptr, 0);
    waitpid(writer, nullptr, 0);
    ASSERT_FALSE(leftover.empty()) << "no temporary file appeared";
    // Another process's temporary file that is still alive stays.
    const std::string alive = ".x.log.varnak-tmp." + std::to_string(getpid());
    WriteFile(dir + "/" + alive, "in use");
    EXPECT_EQ(Files().count(leftover), 1u);
    const Result r = Run("-q -o x.log in.txt");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Files().count(leftover), 0u) << leftover;
    EXPECT_EQ(Files().count(alive), 1u);
    EXPECT_EQ(Count(ReadAll(dir + "/x.log"), kSeparator), 4u);
}

TEST_F(MurlinDecode, HexTextAndInvertedBitsDecodeToTheSameLog)
{
    const std::string bits = varnaktest::StationBits(20);
    WriteFile(dir + "/bits.txt", bits);
    std::string hex = rdsenc::BitsToHex(bits);
    hex.insert(40, "\r\n");  // white space in hex text is ignored
    WriteFile(dir + "/card.hex", hex + "\n");
    WriteFile(dir + "/flip.txt", varnaktest::Inverted(bits));
    ASSERT_EQ(Run("-q bits.txt").status, 0);
    const std::string log = ReadAll(dir + "/bits.out");
    ASSERT_EQ(Count(log, kSeparator), 20u);

    const Result h = Run("-q --hex -o - card.hex");
    ASSERT_EQ(h.status, 0) << h.err;
    EXPECT_EQ(h.out, log);
    const Result inv = Run("-q --invert -o - flip.txt");
    ASSERT_EQ(inv.status, 0) << inv.err;
    EXPECT_EQ(inv.out, log);
    // Read with the wrong polarity the short stream gives nothing.
    const Result wrong = Run("-o - flip.txt");
    EXPECT_EQ(wrong.status, 1);
    EXPECT_EQ(wrong.out, "");
    EXPECT_NE(wrong.err.find("0 groups decoded"), std::string::npos) << wrong.err;
}

TEST_F(MurlinDecode, JsonGivesOneObjectPerGroupWithItsFields)
{
    WriteFile(dir + "/in.txt", varnaktest::StationBits(40));
    const Result r = Run("-q --json -o - in.txt");
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream lines(r.out);
    std::string line, lastPs, lastRt;
    int groups = 0;
    while (std::getline(lines, line)) {
        ++groups;
        EXPECT_EQ(line.front(), '{');
        EXPECT_EQ(line.back(), '}');
        // The PI of the group's own block A, also in the first group.
        EXPECT_NE(line.find("\"pi\":\"2001\",\"tp\":true,\"pty\":10,"), std::string::npos) << line;
        if (line.find("\"group\":\"0A\"") == 0 + 1) lastPs = line;
        if (line.find("\"group\":\"2A\"") == 0 + 1) lastRt = line;
    }
    EXPECT_EQ(groups, 40);
    EXPECT_NE(lastPs.find("\"ta\":true,\"ms\":true,"), std::string::npos) << lastPs;
    EXPECT_NE(lastPs.find("\"ps\":\"VARNAK  \""), std::string::npos) << lastPs;
    EXPECT_NE(lastPs.find("\"afCount\":5,\"af\":[87.6,87.7,87.8,"), std::string::npos) << lastPs;
    // Forty groups carry the radiotext's sixteen segments once, the first
    // four twice: only those are confirmed, so the text is partial.
    EXPECT_NE(lastRt.find(std::string("\"partialRadiotext\":\"") + varnaktest::kTestRadiotext +
                          "\",\"radiotextConfidence\":\"" + std::string(16, 'c') + std::string(48, 'p') + "\""),
              std::string::npos)
        << lastRt;
    EXPECT_EQ(lastRt.find("\"radiotext\""), std::string::npos) << lastRt;
    // Without -o the objects go to the derived path instead of the log records.
    ASSERT_EQ(Run("-q --json in.txt").status, 0);
    EXPECT_EQ(ReadAll(dir + "/in.out"), r.out);
}

TEST_F(MurlinDecode, JsonIsValidForClockAndUnusualCharacters)
{
    std::string bits = varnaktest::StationBits(8);
    const uint16_t pi = varnaktest::kTestPi, header = (1u << 10) | (10u << 5);
    // 4A: 2008-02-25 (MJD 54521) 15:51 UTC, local offset +1.0 h (two half hours).
    const unsigned mjd = 54521;
    rdsenc::AppendGroup(bits, pi, (4u << 12) | header | (mjd >> 15), static_cast<uint16_t>(((mjd & 0x7FFF) << 1) | 0),
                        static_cast<uint16_t>((15u << 12) | (51u << 6) | 2u));
    // 2A segment 0: a quote, a backslash, a letter of the RDS set (0xE9 is
    // "Ŋ") and the end-of-text code, received once: provisional.
    rdsenc::AppendGroup(bits, pi, (2u << 12) | header, 0x225C, 0xE90D);
    rdsenc::AppendGroup(bits, pi, (5u << 12) | header, 0x1234, 0x5678);
    WriteFile(dir + "/in.txt", bits);
    const Result r = Run("-q --json -o - in.txt");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"clock\":{\"year\":2008,\"month\":2,\"day\":25,\"hour\":15,\"minute\":51,"
                         "\"localOffset\":1.0,\"text\":\"2008/02/25 15:51TU +1.0\"}"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\"clockTime\":\"2008-02-25T16:51:00+01:00\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"partialRadiotext\":\"\\\"\\\\\xC5\x8A\",\"radiotextConfidence\":\"ppp\""),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("{\"group\":\"5A\",\"type\":5,\"version\":\"A\",\"pi\":\"2001\",\"tp\":true,\"pty\":10,"
                         "\"ptyName\":\"Pop Music\",\"blocks\":[\"2001\",\"5540\",\"1234\",\"5678\"]}\n"),
              std::string::npos)
        << r.out;
}

TEST_F(MurlinDecode, BadInputIsNamedAndLeavesNoOutputBehind)
{
    WriteFile(dir + "/bad.hex", "0A1B\n2C3x4D\n");
    WriteFile(dir + "/bad.out", "a log from an earlier run");
    WriteFile(dir + "/empty.txt", "");
    WriteFile(dir + "/good.txt", varnaktest::StationBits(6));

    Result r = Run("--hex bad.hex");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("bad.hex: line 2, column 4: 'x' is not a hexadecimal digit"), std::string::npos) << r.err;
    EXPECT_EQ(ReadAll(dir + "/bad.out"), "a log from an earlier run");

    r = Run("missing.txt");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("missing.txt: cannot read: No such file or directory"), std::string::npos) << r.err;

    r = Run("empty.txt");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("empty.txt: empty file"), std::string::npos) << r.err;

    r = Run("-o nowhere/x.out good.txt");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot create nowhere/x.out: No such file or directory"), std::string::npos) << r.err;

    r = Run("-o good.txt good.txt");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("would replace the input"), std::string::npos) << r.err;

    for (const char* format : {"", "--json "}) {
        const std::string command =
            "cd '" + dir + "' && '" MURLIN_DECODE_PATH "' -q " + format + "-o - good.txt >/dev/full 2>full.err";
        const int raw = std::system(command.c_str());
        EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 1) << format;
        EXPECT_EQ(ReadAll(dir + "/full.err"), "murlin-decode: cannot write standard output: No space left on device\n");
        std::remove((dir + "/full.err").c_str());
    }

    // A bad file among good ones: the good one is decoded, the exit status tells.
    r = Run("missing.txt good.txt");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Exists(dir + "/good.out"));

    EXPECT_EQ(Files(), (std::set<std::string>{"bad.hex", "bad.out", "empty.txt", "good.txt", "good.out"}));
}

TEST_F(MurlinDecode, SeveralInputsNeverReplaceEachOtherOrTheirLogs)
{
    const std::string six = varnaktest::StationBits(6), three = varnaktest::StationBits(3);
    WriteFile(dir + "/one.txt", six);
    WriteFile(dir + "/one.bit", three);
    WriteFile(dir + "/two.txt", three);
    WriteFile(dir + "/two.out", six);  // a recording that happens to end in .out

    // one.bit would get the log path of one.txt: the first log is kept.
    Result r = Run("one.txt one.bit");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("one.bit: the output one.out would replace the log of one.txt"), std::string::npos) << r.err;
    EXPECT_EQ(Count(ReadAll(dir + "/one.out"), kSeparator), 6u);

    // two.txt would replace two.out before it is read.
    r = Run("two.txt two.out");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("two.txt: the output two.out would replace the input two.out"), std::string::npos) << r.err;
    EXPECT_EQ(ReadAll(dir + "/two.out"), six);
}

TEST_F(MurlinDecode, UsageErrorsExitWithTwoAndOneWording)
{
    WriteFile(dir + "/a.txt", "0");
    WriteFile(dir + "/b.txt", "0");
    const std::string tryHelp = "Try 'murlin-decode --help'.\n";
    const struct {
        const char* args;
        std::string message;
    } cases[] = {
        {"--frobnicate a.txt", "unknown option '--frobnicate'"},
        {"a.txt -o", "option '-o' needs a file name"},
        {"--output= a.txt", "option '--output' needs a file name"},
        {"-o c.out a.txt b.txt", "several input files need their own logs: leave out -o, or use -o -"},
        // The reports and the decoded groups would be mixed on standard output.
        {"--history --json -o - a.txt",
         "--history prints on standard output, where the decoded groups go too: send them to a file with -o FILE "
         "(-o /dev/null for none)"},
        {"--stats a.txt - < b.txt",
         "--stats prints on standard output, where the decoded groups go too: send them to a file with -o FILE "
         "(-o /dev/null for none)"},
    };
    for (const auto& c : cases) {
        const Result r = Run(c.args);
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_EQ(r.err, "murlin-decode: " + c.message + "\n" + tryHelp) << c.args;
    }
    EXPECT_EQ(Files(), (std::set<std::string>{"a.txt", "b.txt"}));
    const Result help = Run("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: murlin-decode [OPTION]... [FILE]...\n", 0), 0u) << help.out;
    EXPECT_NE(help.out.find("levels\n(in % of full scale,"), std::string::npos) << help.out;
    const Result version = Run("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("murlin-decode ", 0), 0u) << version.out;
}

TEST_F(MurlinDecode, StandardInputAndDashWriteToStandardOutput)
{
    WriteFile(dir + "/in.txt", varnaktest::StationBits(12));
    ASSERT_EQ(Run("-q in.txt").status, 0);
    const std::string log = ReadAll(dir + "/in.out");
    ASSERT_EQ(Count(log, kSeparator), 12u);
    // No FILE with standard input not a terminal, "-", and "-" with -o.
    for (const char* args : {"-q < in.txt", "-q - < in.txt", "-q -o - - < in.txt", "-q < in.txt -o piped.log"}) {
        const Result r = Run(args);
        EXPECT_EQ(r.status, 0) << args << ": " << r.err;
        EXPECT_TRUE((std::string(args).find("piped.log") == std::string::npos ? r.out : ReadAll(dir + "/piped.log")) ==
                    log)
            << args;
    }
}

TEST_F(MurlinDecode, LongInputsDecodeTheSameWhateverTheirPiecesAndForm)
{
    // Long enough for many read chunks; the hex text has line breaks at odd
    // places, so digit pairs are split across chunk borders.
    const std::string bits = varnaktest::StationBits(6000);
    WriteFile(dir + "/long.txt", bits);
    std::string hex = rdsenc::BitsToHex(bits), broken;
    for (std::size_t i = 0; i < hex.size(); i += 4099) broken += hex.substr(i, 4099) + "\n";
    WriteFile(dir + "/long.hex", broken);
    ASSERT_EQ(Run("-q long.txt").status, 0);
    const std::string log = ReadAll(dir + "/long.out");
    ASSERT_EQ(Count(log, kSeparator), 6000u);
    for (const char* args : {"-q - < long.txt", "-q --hex -o - long.hex", "-q --hex - < long.hex"}) {
        const Result r = Run(args);
        EXPECT_EQ(r.status, 0) << args << ": " << r.err;
        EXPECT_TRUE(r.out == log) << args;
    }
}

TEST_F(MurlinDecode, InputInTheOtherFormIsPointedOut)
{
    const std::string bits = varnaktest::StationBits(20);
    WriteFile(dir + "/bits.txt", bits);
    WriteFile(dir + "/card.txt", rdsenc::BitsToHex(bits) + "\n");
    // Hex text is recognised; bit text forced to be read as hex decodes nothing.
    EXPECT_EQ(Run("-q -o - card.txt").out, Run("-q -o - bits.txt").out);
    const Result r = Run("--hex -o - bits.txt");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("no group decoded; this looks like bit text: try without --hex"), std::string::npos) << r.err;
}

TEST_F(MurlinDecode, MissingLibraryOrExportIsNamed)
{
    WriteFile(dir + "/in.txt", varnaktest::StationBits(4));
    // A copy of the program in a folder without the library.
    const std::string copy = dir + "/bin/murlin-decode";
    ASSERT_EQ(std::system(("mkdir '" + dir + "/bin' && cp '" MURLIN_DECODE_PATH "' '" + copy + "'").c_str()), 0);
    auto runCopy = [&] {
        const std::string command = "cd '" + dir + "' && env -u LD_LIBRARY_PATH '" + copy + "' in.txt 2>err";
        const int raw = std::system(command.c_str());
        return std::make_pair(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadAll(dir + "/err"));
    };
    // Every place tried is named: beside the program, the install layout's
    // library folder, the system library path (unless the library is
    // installed there: then the copy finds it).
    auto [status, err] = runCopy();
    if (std::system("/sbin/ldconfig -p | grep -q 'libmurlin\\.so\\.0 '") != 0) {
        EXPECT_EQ(status, 1);
        for (const std::string& part : {"cannot load libmurlin.so.0 (tried " + dir + "/bin/libmurlin.so.0: not found, ",
                                        std::string("/libmurlin.so.0: not found, the system library path: ")})
            EXPECT_NE(err.find(part), std::string::npos) << err;
    }
    std::remove((dir + "/in.out").c_str());

    ASSERT_EQ(std::system(("cp '" INCOMPLETE_MURLIN_PATH "' '" + dir + "/bin/libmurlin.so.0'").c_str()), 0);
    std::tie(status, err) = runCopy();
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find("libmurlin.so.0: export RDSBytFrame not found"), std::string::npos) << err;
    EXPECT_FALSE(Exists(dir + "/in.out"));
}

// ---------------------------------------------------------------------------
// Group logs, character set, RBDS, RT+ and statistics

// A station that fills the RDS set's letters and carries RT+ (AID 4BD7 in
// 11A): the title is "Harbour Lights" at 5 (14 long), the artist "Ölfa" at 22.
const char* const kRtPlusStation = R"(pi 0x3AAB
pty 5
ps "RADIO Ö "
rt A "Now: Harbour Lights - Ölfa"
oda 0x4BD7 11A 0x0000
raw 11A 0x08 0x229A 0x22C3
schedule 0A 2A 0A 3A 11A
)";

class MurlinDecodeFormats : public MurlinDecode {
protected:
    // Runs rdsgen on `description` with `args`; the bits go to `output`.
    void Generate(const std::string& description, const std::string& args, const std::string& output)
    {
        WriteFile(dir + "/station.rds", description);
        const std::string command = "cd '" + dir + "' && '" RDSGEN_PATH "' station.rds " + args + " -o " + output;
        ASSERT_EQ(std::system(command.c_str()), 0);
    }
};

TEST_F(MurlinDecodeFormats, GroupLogRoundTripGivesTheSameLogAndJson)
{
    Generate(kRtPlusStation, "-n 150", "station.txt");
    const Result hex = Run("-q --format hex -o station.groups station.txt");
    ASSERT_EQ(hex.status, 0) << hex.err;
    const std::string groups = ReadAll(dir + "/station.groups");
    EXPECT_EQ(Count(groups, "\n"), 150u);
    // First a 0A group of segment 0: no AF, "RA".
    EXPECT_EQ(groups.substr(0, 5), "3AAB ");
    EXPECT_EQ(groups.substr(9, 11), " E0CD 5241\n");
    EXPECT_EQ(Count(groups, "----"), 0u);

    ASSERT_EQ(Run("-q -o direct.out station.txt").status, 0);
    const Result back = Run("-q --groups -o back.out station.groups");
    ASSERT_EQ(back.status, 0) << back.err;
    EXPECT_EQ(ReadAll(dir + "/back.out"), ReadAll(dir + "/direct.out"));
    EXPECT_EQ(Count(ReadAll(dir + "/back.out"), kSeparator), 150u);

    const Result jsonBits = Run("-q --json -o - station.txt");
    const Result jsonGroups = Run("-q --groups --format json -o - station.groups");
    ASSERT_EQ(jsonGroups.status, 0) << jsonGroups.err;
    EXPECT_EQ(jsonGroups.out, jsonBits.out);
    EXPECT_EQ(Run("-q --groups --format hex -o - station.groups").out, groups);
    EXPECT_EQ(Run("-q --format log -o - station.txt").out, ReadAll(dir + "/direct.out"));
}

TEST_F(MurlinDecodeFormats, RdsTextRbdsAndRtPlus)
{
    Generate(kRtPlusStation, "-n 200", "station.txt");
    const Result r = Run("--rbds --json -o - station.txt");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"pi\":\"3AAB\",\"callsign\":\"KQED\",\"tp\":false,\"pty\":5,\"ptyName\":\"Rock\""),
              std::string::npos);
    EXPECT_NE(r.out.find("\"ps\":\"RADIO Ö \""), std::string::npos);
    const std::size_t last11A = r.out.rfind("{\"group\":\"11A\"");
    ASSERT_NE(last11A, std::string::npos);
    EXPECT_NE(r.out.find("\"rtPlus\":{\"item.title\":\"Harbour Lights\",\"item.artist\":\"Ölfa\"}}\n", last11A),
              std::string::npos)
        << r.out.substr(last11A, 400);
    EXPECT_NE(r.err.find("PS 'RADIO Ö'  RT 'Now: Harbour Lights - Ölfa'"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("RT+ item.title 'Harbour Lights', item.artist 'Ölfa'"), std::string::npos) << r.err;
    // European names without --rbds, no call letters; the log keeps the raw bytes.
    const Result eu = Run("-q --json -o - station.txt");
    EXPECT_NE(eu.out.find("\"pi\":\"3AAB\",\"tp\":false,\"pty\":5,\"ptyName\":\"Education\""), std::string::npos);
    EXPECT_EQ(Count(eu.out, "callsign"), 0u);
    EXPECT_NE(Run("-q -o - station.txt").out.find("('RADIO \xD7 ')"), std::string::npos);
}

// The last JSON line of `group` ("0A") in `out` that holds `key`, or "".
std::string LastLineWith(const std::string& out, const std::string& group, const std::string& key)
{
    std::istringstream lines(out);
    std::string line, found;
    while (std::getline(lines, line))
        if (line.rfind("{\"group\":\"" + group + "\"", 0) == 0 && line.find(key) != std::string::npos) found = line;
    return found;
}

TEST_F(MurlinDecodeFormats, NewerFeaturesEachInTheirGroups)
{
    Generate(R"(pi 0xC2A1
ps "KESTREL "
rt A "Radio Kestrel"
ert 12A "Now: Harbour Lights - Ölfa — Kestrel"
oda 0x4BD8 5A 0x0000
raw 5A 0x08 0x229A 0x22C3
long-ps "Radio Kestrel Küste"
dab-ensemble 13A 0xE1C2 225648 1
dab-service 13A 0xE1C2 0xD2C1
oda 0x4BD7 11A 0x0000
raw 11A 0x08 0x229A 0x22C3
eon 0xC2A2 ps="KESTRELX"
schedule 0A 2A 12A 15A 3A 13A 0A 12A 11A 15A 3A 14A 5A
)",
             "-n 400", "station.txt");
    const Result r = Run("-q --json -o - station.txt");
    ASSERT_EQ(r.status, 0) << r.err;
    const struct {
        const char* group;
        const char* expected;
    } cases[] = {
        {"3A", "\"odaAid\":\"6552\",\"odaName\":\"eRT\""},
        {"3A", "\"odaAid\":\"0093\",\"odaName\":\"DAB cross-reference\""},
        {"12A",
         "\"oda\":{\"aid\":\"6552\",\"name\":\"eRT\"},\"enhancedRadiotext\":\"Now: Harbour Lights - Ölfa — "
         "Kestrel\",\"ertPlus\":{\"item.title\":\"Harbour Lights\",\"item.artist\":\"Ölfa\"}}"},
        {"5A",
         "\"oda\":{\"aid\":\"4BD8\",\"name\":\"RT+ for eRT\"},\"ertPlus\":{\"item.title\":\"Harbour Lights\","
         "\"item.artist\":\"Ölfa\"},\"rtPlusTags\":[{\"type\":1,"},
        {"15A", "\"longPs\":\"Radio Kestrel Küste\""},
        {"13A", "\"dabEnsemble\":{\"eid\":\"E1C2\",\"frequencyKhz\":225648,\"mode\":\"I\"}"},
        {"13A", "\"dabService\":{\"sid\":\"D2C1\",\"eid\":\"E1C2\"}"},
        {"11A",
         "\"rtPlusTags\":[{\"type\":1,\"name\":\"item.title\",\"start\":5,\"length\":14},"
         "{\"type\":4,\"name\":\"item.artist\",\"start\":22,\"length\":4}]"},
        {"2A", "\"radiotext\":\"Radio Kestrel\","},
    };
    for (const auto& c : cases) EXPECT_NE(LastLineWith(r.out, c.group, c.expected), "") << c.group << " " << c.expected;
    // The other network sends only its PS: no PTY, PIN or AF of it appear.
    const std::string eon = LastLineWith(r.out, "14A", "\"eon\"");
    EXPECT_NE(eon.find("\"ps\":\"KESTRELX\""), std::string::npos) << eon;
    for (const char* absent : {"\"pty\":0,\"ps\"", "\"pin\"", "\"af\"", "\"ta\""})
        EXPECT_EQ(eon.find(absent), std::string::npos) << absent << " in " << eon;
    // The history names them too.
    const Result h = Run("-q --history -o /dev/null station.txt");
    for (const char* part :
         {"  AID 6552 eRT in 12A\n", "  'Now: Harbour Lights - Ölfa — Kestrel'\n", "  'Radio Kestrel Küste'\n",
          "  DAB   ensemble E1C2 on 225.648 MHz, mode I\n", "  DAB   service D2C1 in ensemble E1C2\n"})
        EXPECT_NE((h.out + h.err).find(part), std::string::npos) << part << h.out << h.err;
}

TEST_F(MurlinDecodeFormats, TmcLocationsFromATableInTheExchangeFormat)
{
    const std::string table = dir + "/lt";
    ASSERT_EQ(::mkdir(table.c_str(), 0755), 0);
    varnaktest::WriteTmcTable(table);
    Generate(R"(pi 0xC2A1
ps "KESTREL "
oda 0xCD46 8A
tmc event=101 location=203 extent=2 direction=0
tmc event=101 location=201 extent=1 direction=1
tmc event=101 location=999
schedule 0A 8A
)",
             "-n 60", "station.txt");
    const Result r = Run("-q --json --tmc-locations lt -o - station.txt");
    ASSERT_EQ(r.status, 0) << r.err;
    for (
        const char* place :
        {R"("location":203,"place":{"road":"A7","roadName":"Kestrel Coast Road","name":"Cliffside","direction":"positive","extentEnd":"Harbour"}})",
         R"("location":201,"place":{"road":"A7","roadName":"Kestrel Coast Road","name":"Harbour","direction":"negative","extentEnd":"Brücke"}})",
         R"("location":999})"})
        EXPECT_NE(r.out.find(place), std::string::npos) << place << "\n" << r.out.substr(0, 2000);
    // A broken table is named with its line, and nothing is decoded.
    WriteFile(table + "/NAMES.DAT", "CID;LID;NID;NAME;NCOMMENT;OFFICIALNAME\r\n58;1;x;Harbour;;\r\n");
    const Result bad = Run("-q --json --tmc-locations lt -o out.json station.txt");
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("lt/NAMES.DAT:2: NID 'x' is not a number"), std::string::npos) << bad.err;
    EXPECT_FALSE(Exists(dir + "/out.json"));
    const Result missing = Run("-q --json --tmc-locations nowhere -o out.json station.txt");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("nowhere: no LOCATIONCODES.DAT in the location table"), std::string::npos)
        << missing.err;
}

TEST_F(MurlinDecodeFormats, TmcQuantifierFilledIntoTheEventText)
{
    // Each message goes out as a two-group message with its quantifier;
    // the group that makes it whole carries the message and its text.
    const struct {
        int event, quantifier;
        const char* text;
    } cases[] = {
        {12, 3, "3 accidents, traffic being directed around accident area"},  // small number
        {12, 1, "1 accident, traffic being directed around accident area"},   // singular
        {204, 2, "Accident involving 2 heavy lorries"},                       // (a/Q), lorr(y/ies)
        {406, 2, "2nd entry slip road closed"},                               // ordinal
        {1921, 16, "200 parking spaces available"},                           // number
        {1106, 5, "Hail. Visibility reduced to less than 50 m"},              // visibility
        {1903, 16, "Car park 80 % full"},                                     // percentage
        {108, 6, "Queuing traffic with average speeds of up to 30 km/h"},     // speed
        {91, 12, "Delays of up to 2 hours for cars"},                         // duration
        {1079, 45, "Temperature falling rapidly to -6 °C"},                   // temperature, 8 bits
        {1615, 90, "Service suspended until 14:50"},                          // time of day
        {403, 120, "Closed for heavy vehicles over 20.0 t"},                  // weight
        {1861, 38, "Temporary height limit 3.8 m"},                           // length
        {1101, 12, "Heavy snowfall of up to 12 mm"},                          // precipitation
        {1908, 10, "Switch your car radio to 88.5 MHz"},                      // FM frequency
        {1913, 20, "Switch your car radio to 567 kHz"},                       // MF frequency
    };
    std::string station = "pi 0xC2A1\nps \"KESTREL \"\noda 0xCD46 8A\n";
    for (const auto& c : cases)
        station += "tmc event=" + std::to_string(c.event) + " location=203 quantifier=" + std::to_string(c.quantifier) +
                   " duration=2\n";
    station += "tmc event=101 location=203\nschedule 0A 8A\n";
    Generate(station, "-n 150", "station.txt");
    const Result r = Run("-q --json -o - station.txt");
    ASSERT_EQ(r.status, 0) << r.err;
    for (const auto& c : cases) {
        const std::string want = "\"tmcMessage\":{\"event\":" + std::to_string(c.event) + ",\"eventText\":\"" + c.text +
                                 "\",\"quantifier\":" + std::to_string(c.quantifier) + ",";
        EXPECT_NE(r.out.find(want), std::string::npos) << want;
    }
    EXPECT_NE(r.out.find(R"("tmcMessage":{"event":12,"eventText":"3 accidents, traffic being directed around accident )"
                         R"(area","quantifier":3,"quantity":"3","location":203,"direction":0,"extent":0,"duration":2,)"
                         R"("diversion":0,"groups":2})"),
              std::string::npos);
    // A single-group message has its phrase as it is.
    EXPECT_NE(r.out.find(R"("tmcMessage":{"event":101,"eventText":"Stationary traffic","location":203,)"),
              std::string::npos);
}

TEST_F(MurlinDecode, JsonLeavesOutWhatWasNotReceivedYet)
{
    // A station whose first 0A carries AF codes but not the list's count:
    // no AF fields until the count comes.
    std::string bits;
    const uint16_t pi = 0x2002, header = (1u << 10) | (10u << 5);
    for (int n = 0; n < 3; ++n) rdsenc::AppendGroup(bits, pi, header | 1, 0x0203, 0x4142);
    rdsenc::AppendGroup(bits, pi, header | 0, 0xE201, 0x4344);
    WriteFile(dir + "/in.txt", bits);
    const Result r = Run("-q --json -o - in.txt");
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream lines(r.out);
    std::vector<std::string> all;
    for (std::string line; std::getline(lines, line);) all.push_back(line);
    ASSERT_GE(all.size(), 2u) << r.out;
    for (std::size_t i = 0; i + 1 < all.size(); ++i) EXPECT_EQ(all[i].find("\"afCount\""), std::string::npos) << all[i];
    EXPECT_NE(all.back().find("\"afCount\":2"), std::string::npos) << all.back();
}

TEST_F(MurlinDecode, JsonGivesTextsOnlyOnceConfirmed)
{
    const uint16_t pi = varnaktest::kTestPi, header = (1u << 10) | (10u << 5);
    std::string bits = varnaktest::StationBits(1);
    const auto ps = [&](unsigned segment, const char* two) {
        rdsenc::AppendGroup(bits, pi, static_cast<uint16_t>(header | segment), 0xE0CD,
                            static_cast<uint16_t>(uint8_t(two[0]) << 8 | uint8_t(two[1])));
    };
    // "ABCDEFGH" twice: confirmed; then segment 1 turns "XY": the PS is
    // partial until every character is seen again.
    for (int round = 0; round < 2; ++round)
        for (unsigned s = 0; s < 4; ++s) ps(s, &"ABCDEFGH"[s * 2]);
    ps(1, "XY");
    ps(2, "EF");
    ps(1, "XY");
    for (unsigned s = 0; s < 4; ++s) ps(s, &"ABXYEFGH"[s * 2]);
    WriteFile(dir + "/in.txt", bits);
    const Result r = Run("-q --json -o - in.txt");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> shown;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("{\"group\":\"0A\"", 0) != 0) continue;
        const std::size_t at = line.find("\"psSegment\":");
        shown.push_back(line.substr(at + 14, line.find(",\"af", at) - at - 14));
    }
    const std::vector<std::string> expected = {
        R"("partialPs":"AB      ","psConfidence":"pp------")",
        R"("partialPs":"ABCD    ","psConfidence":"pppp----")",
        R"("partialPs":"ABCDEF  ","psConfidence":"pppppp--")",
        R"("partialPs":"ABCDEFGH","psConfidence":"pppppppp")",
        R"("partialPs":"ABCDEFGH","psConfidence":"ccpppppp")",
        R"("partialPs":"ABCDEFGH","psConfidence":"ccccpppp")",
        R"("partialPs":"ABCDEFGH","psConfidence":"ccccccpp")",
        R"("ps":"ABCDEFGH")",
        R"("partialPs":"ABXYEFGH","psConfidence":"pppppppp")",
        R"("partialPs":"ABXYEFGH","psConfidence":"ppppccpp")",
        R"("partialPs":"ABXYEFGH","psConfidence":"ppccccpp")",
        R"("partialPs":"ABXYEFGH","psConfidence":"ccccccpp")",
        R"("partialPs":"ABXYEFGH","psConfidence":"ccccccpp")",
        R"("partialPs":"ABXYEFGH","psConfidence":"ccccccpp")",
        R"("ps":"ABXYEFGH")",
    };
    // The first group of the station stream is a 0A of its own.
    ASSERT_EQ(shown.size(), expected.size() + 1) << r.out;
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(shown[i + 1], expected[i]) << i;
}

TEST_F(MurlinDecodeFormats, GroupLogsWithGapsTimeStampsAndBadLines)
{
    std::string log = "<recorder=\"RDS Logger\" date=\"2026/12/08\" time=\"19:55:10\">\r\n";
    const char* const lines[] = {
        "2001 0558 E501 5641 @2026/12/08 19:55:10.25",  // 0A segment 0: "VA"
        "junk",
        "2001 0559 0203 524E @2026/12/08 19:55:10.34",
        "2001 055A ---- 414B @2026/12/08 19:55:10.43",  // block C lost: the group is not decoded
        "\x01\x02 binary \xFF",
        "2001 055F 0203 2020 @2026/12/08 19:55:10.51",
        "2001 0558 E501 5641",
    };
    for (const char* l : lines) log += std::string(l) + "\r\n";
    WriteFile(dir + "/spy.spy", log);
    const Result r = Run("--groups --json -o - spy.spy", "TZ=UTC ");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Count(r.out, "\n"), 4u) << r.out;
    EXPECT_NE(r.out.find("{\"group\":\"0A\",\"type\":0,\"version\":\"A\",\"rxTime\":\"2026-12-08T19:55:10.25Z\","
                         "\"pi\":\"2001\""),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\"rxTime\":\"2026-12-08T19:55:10.51Z\""), std::string::npos);
    const std::string lastLine = r.out.substr(r.out.rfind("{\"group\""));
    EXPECT_EQ(Count(lastLine, "rxTime"), 0u);  // the last line has no time stamp
    EXPECT_NE(r.err.find("spy.spy: 5 groups read, 4 groups decoded, 19 blocks accepted, 1 check failures, 0 repaired"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("  2 malformed lines skipped (lines 3, 6)"), std::string::npos) << r.err;
    // Out again as a group log: the gap and the stamps are kept.
    const Result hex = Run("-q --groups --format hex -o - spy.spy", "TZ=UTC ");
    EXPECT_NE(hex.out.find("2001 055A ---- 414B @2026/12/08 19:55:10.43\n"), std::string::npos) << hex.out;
    EXPECT_NE(hex.out.find("\n2001 0558 E501 5641\n"), std::string::npos) << hex.out;
}

// Block B lost after a version-B group: block C came intact and goes out as it came.
TEST_F(MurlinDecodeFormats, GroupLogBlockCAfterALostBlockBIsKeptAsItCame)
{
    const std::string log = "C2A1 FD4F C2A1 FD4F\nC2A1 ---- 4B45 5354\nC2A1 054A 8EA8 5245\n";
    WriteFile(dir + "/lost.txt", log);
    const Result r = Run("--groups --format hex -o - lost.txt");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, log);
    EXPECT_NE(r.err.find(", 0 repaired blocks"), std::string::npos) << r.err;
}

TEST_F(MurlinDecodeFormats, StatisticsPerGroupTypeAndBlockErrorRate)
{
    std::string log;
    for (int i = 0; i < 10; ++i) log += "2001 0558 E501 5641\n";
    for (int i = 0; i < 5; ++i) log += "2001 2540 5661 726E\n";
    log += "2001 2541 ---- 2074\n";
    for (int i = 0; i < 4; ++i) log += "2001 4541 A9F2 FCC2\n";
    WriteFile(dir + "/s.txt", log);
    const Result text = Run("-q --groups --stats -o s.out s.txt");
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out,
              "s.txt: group statistics\n"
              "group   count   share\n"
              "0A         10   50.0%\n"
              "2A          6   30.0%\n"
              "4A          4   20.0%\n"
              "total      20 groups, 80 blocks, 1 not received, 0 repaired\n"
              "block error rate 1.25%\n");
    const Result json = Run("-q --groups --stats --json -o s.out s.txt");
    EXPECT_EQ(json.out,
              "{\"file\":\"s.txt\",\"groups\":20,\"types\":{\"0A\":{\"count\":10,\"percent\":50.00},"
              "\"2A\":{\"count\":6,\"percent\":30.00},\"4A\":{\"count\":4,\"percent\":20.00}},\"untyped\":0,"
              "\"blocks\":80,\"blocksMissing\":1,\"blocksRepaired\":0,\"blockErrorRate\":0.012500}\n");
}

TEST_F(MurlinDecodeFormats, InputsThatAreNoGroupLogAreNamed)
{
    WriteFile(dir + "/bits.txt", varnaktest::StationBits(4));
    WriteFile(dir + "/blob.bin", std::string("\x7F"
                                             "ELF\x02\x01\x01\0\0\0",
                                             10) +
                                     std::string(5000, '\xF0'));
    Result r = Run("--groups bits.txt blob.bin");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("murlin-decode: bits.txt: not a group log: it holds bit text\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("murlin-decode: blob.bin: not a recording: neither a group log nor bit or hexadecimal text\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(Files(), (std::set<std::string>{"bits.txt", "blob.bin"}));
    // A group log is recognised without --groups.
    WriteFile(dir + "/log.txt", "2001 0558 E501 5641\n2001 2540 5661 726E\n");
    r = Run("-o - log.txt");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, Run("--groups -o - log.txt").out);
    EXPECT_NE(r.err.find("log.txt: 2 groups read, 2 groups decoded"), std::string::npos) << r.err;
    EXPECT_EQ(Run("--format xml bits.txt").status, 2);
    EXPECT_EQ(Run("--groups --hex bits.txt").status, 2);
    EXPECT_EQ(Run("--groups --invert bits.txt").status, 2);
    EXPECT_EQ(Run("--json --format hex bits.txt").status, 2);
}

// A recording is read as what its content shows, whatever its name, as an
// option forcing its kind would read it. Forced to the wrong kind, or no
// recording at all, nothing decodes: exit 1, and the log of an earlier run
// stays as it was.
TEST_F(MurlinDecodeFormats, RecordingsAreReadAsTheirContentShows)
{
    Generate(kRtPlusStation, "-n 40", "bits.dat");
    Generate(kRtPlusStation, "-n 40 --hex", "card.dat");
    Generate(kRtPlusStation, "-n 40 --mpx", "radio.dat");
    ASSERT_EQ(Run("-q --format hex -o groups.dat bits.dat").status, 0);
    const struct {
        const char* file;
        const char* option;  // what forces the kind
        const char* summary;
    } kinds[] = {
        {"bits.dat", "", "bits.dat: 4160 bits, 40 groups decoded"},
        {"card.dat", "--hex", "card.dat: 4160 bits, 40 groups decoded"},
        {"groups.dat", "--groups", "groups.dat: 40 groups read, 40 groups decoded"},
        {"radio.dat", "--mpx", "  signal: "},
    };
    for (const auto& k : kinds) {
        const Result found = Run(std::string("--json -o found.json ") + k.file);
        ASSERT_EQ(found.status, 0) << k.file << ": " << found.err;
        EXPECT_NE(found.err.find(k.summary), std::string::npos) << found.err;
        ASSERT_EQ(Run(std::string("-q --json -o forced.json ") + k.option + " " + k.file).status, 0) << k.file;
        EXPECT_GT(Count(ReadAll(dir + "/found.json"), "\n"), 30u) << k.file;
        EXPECT_EQ(ReadAll(dir + "/found.json"), ReadAll(dir + "/forced.json")) << k.file;
    }
    WriteFile(dir + "/blob.dat", std::string("\x7F"
                                             "ELF\x02\x01\x01\0\0\0",
                                             10) +
                                     std::string(5000, '\xF0'));
    const struct {
        const char* args;
        const char* error;
    } wrong[] = {
        {"--hex bits.dat",
         "bits.dat: no group decoded; this looks like bit text: try without --hex; good.out not written"},
        {"--hex radio.dat", "radio.dat: line 1, column 1: 'R' is not a hexadecimal digit"},
        {"--groups radio.dat", "radio.dat: not a group log: it holds audio"},
        {"--mpx --rate 171000 bits.dat", "bits.dat: no group decoded; good.out not written"},
        {"blob.dat", "blob.dat: not a recording: neither bit text, hexadecimal text, a group log nor audio"},
        {"- < radio.dat", "-: audio is read from files only"},
    };
    for (const auto& w : wrong) {
        WriteFile(dir + "/good.out", "a good log");
        const Result r = Run(std::string("-o good.out ") + w.args);
        EXPECT_EQ(r.status, 1) << w.args;
        EXPECT_NE(r.err.find(std::string("murlin-decode: ") + w.error), std::string::npos) << w.args << ": " << r.err;
        EXPECT_EQ(ReadAll(dir + "/good.out"), "a good log") << w.args;
    }
}

// A recording cut short, whatever its container: what is there is decoded
// and written, with a warning.
TEST_F(MurlinDecodeFormats, TruncatedAudioOfEveryKindDecodesWhatIsThere)
{
    Generate(kRtPlusStation, "-n 80 --mpx", "whole.wav");
    {
        // The same samples as FLAC.
        SF_INFO in{}, out{};
        SNDFILE* wav = sf_open((dir + "/whole.wav").c_str(), SFM_READ, &in);
        ASSERT_NE(wav, nullptr);
        out.samplerate = in.samplerate;
        out.channels = in.channels;
        out.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
        SNDFILE* flac = sf_open((dir + "/whole.flac").c_str(), SFM_WRITE, &out);
        ASSERT_NE(flac, nullptr) << sf_strerror(nullptr);
        std::vector<short> samples(std::size_t(in.frames) * std::size_t(in.channels));
        EXPECT_EQ(sf_readf_short(wav, samples.data(), in.frames), in.frames);
        EXPECT_EQ(sf_writef_short(flac, samples.data(), in.frames), in.frames);
        sf_close(wav);
        sf_close(flac);
    }
    for (const std::string kind : {"wav", "flac"}) {
        const std::string whole = ReadAll(dir + "/whole." + kind);
        WriteFile(dir + "/cut." + kind, whole.substr(0, whole.size() / 2));
        for (const std::string option : {"--mpx ", ""}) {
            std::remove((dir + "/cut.out").c_str());
            const Result r = Run(option + "-o cut.out cut." + kind);
            EXPECT_EQ(r.status, 0) << option << kind << ": " << r.err;
            EXPECT_NE(r.err.find("murlin-decode: warning: cut." + kind + " is truncated: its header promises "),
                      std::string::npos)
                << r.err;
            EXPECT_GT(Count(ReadAll(dir + "/cut.out"), kSeparator), 30u) << option << kind;
        }
    }
}

// The history of a station with a changing PS, TA on and off, two
// radiotexts and known group shares: exactly what it sent, with times from
// the start of the recording (group n ends at n * 104 / 1187.5 s; the
// clock's 4A goes first, so the first PS is whole at the end of group 5).
TEST_F(MurlinDecodeFormats, HistoryOfAStationAsTextAndJson)
{
    Generate(varnaktest::HistoryStation(), "-n " + std::to_string(varnaktest::kHistoryGroups), "station.txt");
    const Result text = Run("-q --rbds --history -o /dev/null station.txt");
    ASSERT_EQ(text.status, 0) << text.err;
    const char* const expected[] = {
        "station.txt: station history\nstation 54A8 (WAAA), 192 groups, +00:00:00.08 to +00:00:16.81\n",
        "  PS   +00:00:00.43 to +00:00:01.83  \"KESTREL \"\n  PS   +00:00:02.53 to +00:00:03.94  \" TRAFFIC\"\n",
        "  RTA  +00:00:01.92 to +00:00:03.32  \"First radiotext\"\n  RTA  +00:00:04.72 to +00:00:06.13  \"Second one "
        "here\"\n",
        "  PTY  +00:00:00.08  10 Country\n  TA   +00:00:00.17  TP on, TA off\n  TA   +00:00:02.27  TP on, TA on\n",
        "  AF   87.6 MHz 99.5 MHz\n  CT   +00:00:00.08  2026-12-08T19:55Z local +01:00\n",
        // NOLINTNEXTLINE(bugprone-suspicious-missing-comma): ODA and the statistics are one part over several lines
        "  ODA  +00:00:00.78  AID 4BD7 RT+ in 11A\nstatistics over 16.82 s\ngroup   count   share   per s\n"
        "0A         96   50.0%    5.71\n1A         24   12.5%    1.43\n2A         48   25.0%    2.85\n"
        "3A         23   12.0%    1.37\n4A          1    0.5%    0.06\n"
        "total     192 groups, 768 blocks, 0 not received, 0 repaired\nblock error rate 0.00%\n",
    };
    // Each line is there; the lists in between are counted below.
    for (const char* part : expected) {
        std::istringstream lines(part);
        for (std::string line; std::getline(lines, line);)
            EXPECT_NE(text.out.find(line + "\n"), std::string::npos) << line << "\n" << text.out;
    }
    EXPECT_EQ(Count(text.out, "  PS "), 8u);
    EXPECT_EQ(Count(text.out, "  RTA  "), 6u);
    EXPECT_EQ(Count(text.out, "  TA "), 8u);

    const Result json = Run("-q --history --json --history-limit 3 -o /dev/null station.txt");
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json.out.substr(0, 82),
              "{\"file\":\"station.txt\",\"absoluteTimes\":false,\"limit\":3,\"truncated\":true,\"stations\":")
        << json.out;
    EXPECT_NE(json.out.find("\"ps\":[{\"text\":\" TRAFFIC\",\"first\":10.94,\"last\":12.34},{\"text\":\"KESTREL \","
                            "\"first\":13.04,\"last\":14.45},{\"text\":\" TRAFFIC\",\"first\":15.15,\"last\":16.55}],"
                            "\"psDropped\":5"),
              std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("\"af\":[87600,99500]"), std::string::npos);
    EXPECT_NE(json.out.find("\"rates\":{\"0A\":5.7083,\"1A\":1.4271,\"2A\":2.8542,\"3A\":1.3676,\"4A\":0.0595}"),
              std::string::npos);
    EXPECT_EQ(Run("--history-limit 0 station.txt").status, 2);
}

}  // namespace
