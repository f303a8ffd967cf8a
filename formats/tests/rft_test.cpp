// RDS file transfer: the groups the sender makes, read back by the receiver;
// a file is handed on whole and checked, never before.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>

#include "rft.h"

namespace rdsformats {
namespace {

using Cycle = std::vector<std::vector<TypeCGroup>>;

std::vector<uint8_t> Bytes(std::size_t n, unsigned seed = 7)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> b(n);
    for (auto& v : b) v = uint8_t(rng());
    return b;
}

bool IsCrcGroup(const TypeCGroup& g) { return (g.words[0] >> 14) == 2 && (g.words[2] >> 12) == 1; }
bool IsData(const TypeCGroup& g) { return (g.words[0] >> 14) == 0; }

// Feeds every group of the cycle, the streams interleaved as they arrive.
std::vector<RftReceivedFile> Receive(RftReceiver& r, const Cycle& cycle)
{
    std::size_t longest = 0;
    for (const auto& s : cycle) longest = std::max(longest, s.size());
    for (std::size_t i = 0; i < longest; ++i)
        for (const auto& s : cycle)
            if (i < s.size()) r.feed(s[i]);
    return r.takeFiles();
}

TEST(RftTest, CrcIsCcittAsRftUsesIt)
{
    const std::string check = "123456789";
    // CRC-16/CCITT from 0xFFFF, inverted: 0x29B1 ^ 0xFFFF.
    EXPECT_EQ(RftCrc16(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0xD64E);
}

TEST(RftTest, ReceiverHandsOnOnlyAWholeCheckedFile)
{
    const struct {
        const char* name;
        std::size_t size;
        std::function<void(Cycle&)> change;
        bool received;
    } cases[] = {
        {"one segment", 3, [](Cycle&) {}, true},
        {"segments of five and a short last one", 1234, [](Cycle&) {}, true},
        {"largest", kRftMaxFileBytes, [](Cycle&) {}, true},
        {"segments in any order, some twice", 1000,
         [](Cycle& c) {
             std::mt19937 rng(3);
             for (auto& s : c) {
                 const std::vector<TypeCGroup> copy = s;
                 s.insert(s.end(), copy.begin(), copy.begin() + std::ptrdiff_t(copy.size() / 2));
                 std::shuffle(s.begin(), s.end(), rng);
             }
         },
         true},
        {"CRC that does not match", 500,
         [](Cycle& c) {
             for (auto& s : c)
                 for (auto& g : s)
                     if (IsCrcGroup(g)) g.words[3] ^= 1;
         },
         false},
        {"a data byte changed", 500,
         [](Cycle& c) {
             for (auto& g : c[1])
                 if (IsData(g)) {
                     g.words[2] ^= 0x0100;
                     break;
                 }
         },
         false},
        {"a segment missing", 500,
         [](Cycle& c) {
             auto& s = c[2];
             s.erase(std::find_if(s.rbegin(), s.rend(), IsData).base() - 1);
         },
         false},
        {"no CRC sent", 500,
         [](Cycle& c) {
             for (auto& s : c) {
                 s.erase(std::remove_if(s.begin(), s.end(), IsCrcGroup), s.end());
                 for (auto& g : s)
                     if ((g.words[0] >> 14) == 2) g.words[2] &= uint16_t(~0x0800);  // CRC flag off
             }
         },
         false},
    };
    for (const auto& c : cases) {
        RftSendFile file;
        file.bytes = Bytes(c.size);
        file.version = 3;
        file.fileId = 9;
        Cycle cycle = RftGroupCycle(file, 3);
        c.change(cycle);
        RftReceiver r;
        const auto files = Receive(r, cycle);
        ASSERT_EQ(files.size(), c.received ? 1u : 0u) << c.name;
        const auto progress = r.progress();
        ASSERT_EQ(progress.size(), 1u) << c.name;
        EXPECT_EQ(progress[0].complete, c.received) << c.name;
        if (!c.received) continue;
        EXPECT_EQ(files[0].bytes, file.bytes) << c.name;
        EXPECT_EQ(files[0].aid, kRftLogoAid);
        EXPECT_EQ(files[0].version, 3);
        EXPECT_EQ(files[0].fileId, 9);
        // Sent again, it is not handed on twice.
        EXPECT_TRUE(Receive(r, cycle).empty()) << c.name;
    }
}

// A failed CRC drops what was gathered; the next cycle, sent right, brings
// the file. A changed toggle bit (new content) starts the file afresh.
TEST(RftTest, RecoversFromABadCycleAndFollowsNewContent)
{
    RftSendFile file;
    file.bytes = Bytes(400);
    Cycle bad = RftGroupCycle(file, 2);
    for (auto& g : bad[0])
        if (IsData(g)) {
            g.words[3] ^= 0x8000;
            break;
        }
    RftReceiver r;
    EXPECT_TRUE(Receive(r, bad).empty());
    EXPECT_EQ(r.progress()[0].crcFailures, 1);
    auto files = Receive(r, RftGroupCycle(file, 2));
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].bytes, file.bytes);

    RftSendFile next = file;
    next.bytes = Bytes(400, 99);
    next.toggle = true;
    files = Receive(r, RftGroupCycle(next, 2));
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].bytes, next.bytes);
}

// Chunk CRCs (mode 1, 80-byte chunks) as another sender may send them: a
// chunk whose CRC fails is gathered again, the rest kept.
TEST(RftTest, ChunkCrcs)
{
    RftSendFile file;
    file.bytes = Bytes(300);
    Cycle cycle = RftGroupCycle(file, 1);
    auto& s = cycle[0];
    s.erase(std::remove_if(s.begin(), s.end(), IsCrcGroup), s.end());
    std::vector<TypeCGroup> crcs;
    for (int chunk = 0; chunk * 80 < 300; ++chunk) {
        const uint16_t crc = RftCrc16(file.bytes.data() + chunk * 80, std::min(80, 300 - chunk * 80));
        crcs.push_back({{uint16_t(0x8000), kRftLogoAid, uint16_t(0x1000 | 1 << 9 | chunk), crc}});
    }
    RftReceiver r;
    std::vector<TypeCGroup> spoilt = crcs;
    spoilt[2].words[3] ^= 0x10;
    for (const auto& g : spoilt) r.feed(g);
    EXPECT_TRUE(Receive(r, cycle).empty());
    EXPECT_LT(r.progress()[0].segmentsHave, r.progress()[0].segmentsNeed);  // chunk 2's segments dropped
    for (const auto& g : crcs) r.feed(g);
    const auto files = Receive(r, cycle);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].bytes, file.bytes);
}

TEST(RftTest, SenderRefusesWhatCannotBeSent)
{
    RftSendFile empty;
    EXPECT_THROW(RftGroupCycle(empty, 3), std::invalid_argument);
    RftSendFile large;
    large.bytes.resize(kRftMaxFileBytes + 1);
    EXPECT_THROW(RftGroupCycle(large, 3), std::invalid_argument);
    RftSendFile pipe;
    pipe.bytes = {1};
    pipe.pipe = 16;
    EXPECT_THROW(RftGroupCycle(pipe, 3), std::invalid_argument);
}

TEST(RftTest, JsonNamesWhatTheGroupCarries)
{
    RftSendFile file;
    file.bytes = Bytes(12);
    const Cycle cycle = RftGroupCycle(file, 1);
    std::string json;
    for (const auto& g : cycle[0]) {
        AppendTypeCJson(json, 2, g);
        json += '\n';
    }
    EXPECT_NE(json.find(R"({"stream":2,"group":"C","oda":{"channel":0,"aid":"FF7F","name":"RFT: station logo"},)"
                        R"("rftFile":{"pipe":0,"version":0,"id":0,"size":12,"crc":true})"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find(R"("rftCrc":{"pipe":0,"mode":0,"chunk":0,"crc":")"), std::string::npos) << json;
    EXPECT_NE(json.find(R"({"stream":2,"group":"C","rft":{"pipe":0,"toggle":0,"segment":2},)"), std::string::npos)
        << json;
}

}  // namespace
}  // namespace rdsformats
