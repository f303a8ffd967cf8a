// Checks the generated TMC event table as the decoder's lookup sees it.
#include "event_table.h"

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using murlin::kEventTable;
using murlin::kEventTableSize;

// The event codes of the table, a-b standing for every code from a to b.
const char* const kCodeRanges =
    "1-2 11-12 16 20 22-28 36-37 40-42 51-53 55-57 61-64 70-76 91 101-143 200-272 "
    "274-383 385 387-388 390-397 399 401-663 671-673 676 678-680 701-856 898-1045 "
    "1047-1048 1050 1054-1070 1073-1075 1079-1083 1101-1116 1126-1128 1130 1132 "
    "1134-1137 1170-1180 1190-1191 1201-1205 1209-1215 1217 1301-1305 1307-1310 "
    "1312-1314 1318-1326 1332 1337-1338 1340 1345-1346 1450-1496 1501-1591 "
    "1601-1663 1695-1696 1700-1712 1720-1721 1731-1741 1751-1771 1801-1852 "
    "1854-1857 1861-1862 1864-1911 1913-1916 1918 1920-1932 1934 1938 1940-1957 "
    "1961-1963 1971-1974 1977-1979 1982 2000 2006-2007 2013 2021-2022 2028-2030 "
    "2033-2035 2038-2040 2047";

std::vector<int> ExpectedCodes()
{
    std::vector<int> codes;
    std::istringstream in(kCodeRanges);
    std::string part;
    while (in >> part) {
        auto dash = part.find('-');
        int first = std::stoi(part.substr(0, dash));
        int last = dash == std::string::npos ? first : std::stoi(part.substr(dash + 1));
        for (int c = first; c <= last; ++c) codes.push_back(c);
    }
    return codes;
}

std::map<int, std::string> TableByCode()
{
    std::map<int, std::string> rows;
    for (int i = 0; i < kEventTableSize; ++i) rows[kEventTable[i].code] = kEventTable[i].text;
    return rows;
}

TEST(kEventTable, HoldsExactlyTheListedCodesInAscendingOrder)
{
    ASSERT_EQ(kEventTableSize, 1375);
    for (int i = 1; i < kEventTableSize; ++i) ASSERT_LT(kEventTable[i - 1].code, kEventTable[i].code) << "row " << i;
    std::vector<int> codes;
    codes.reserve(kEventTableSize);
    for (int i = 0; i < kEventTableSize; ++i) codes.push_back(kEventTable[i].code);
    EXPECT_EQ(codes, ExpectedCodes());
    EXPECT_EQ(kEventTable[0].code, 1);
    EXPECT_EQ(kEventTable[kEventTableSize - 1].code, 2047);
}

TEST(kEventTable, QuotedRowsReadExactly)
{
    const std::map<int, std::string> quoted = {
        {1, "Traffic problem"},
        {2, "Queuing traffic (with average speeds Q). Danger of stationary traffic"},
        {101, "Stationary traffic"},
        {102, "Stationary traffic for km"},
        {201, "(Q) accident(s)"},
        {401, "Closed"},
        {1001, "Hazardous driving conditions (above Q hundred metres)"},
        {1201, "Tornadoes"},
        {1501, "Major event"},
        {1801, "Lane control signs not working"},
        {2000, "Closed due to smog alert (until Q)"},
        {2013, "Dervice area busy"},
        {2021, "Dervice not operating, substitute service available"},
        {2047, "Null message"},
    };
    auto rows = TableByCode();
    for (const auto& [code, text] : quoted) EXPECT_EQ(rows[code], text) << "event " << code;
}

TEST(kEventTable, MessageCancelledStandsForItsThirtyOneCodes)
{
    const std::set<int> cancelled = {128,  334,  399,  468,  625,  672,  673,  801,  971,  1025, 1127,
                                     1214, 1314, 1585, 1589, 1620, 1703, 1763, 1837, 1857, 1883, 1911,
                                     2028, 2029, 2030, 2033, 2034, 2035, 2038, 2039, 2040};
    ASSERT_EQ(cancelled.size(), 31u);
    std::set<int> found;
    for (int i = 0; i < kEventTableSize; ++i)
        if (std::string(kEventTable[i].text) == "Message cancelled") found.insert(kEventTable[i].code);
    EXPECT_EQ(found, cancelled);
}

TEST(kEventTable, PhrasesAreCleanAndFitALine)
{
    // Phrases longer than 78 characters are the list's own phrases, unchanged.
    const std::map<int, std::string> longOnes = {
        {1062, "Icy patches above Q hundred metres on bridges, in shaded areas and on slip roads"},
        {1909, "Alarm call: important new information on this frequency follows now in normal programme"},
        {1910, "Alarm set: new information will be broadcast between these times in normal programme"},
    };
    int withQ = 0;
    for (int i = 0; i < kEventTableSize; ++i) {
        const int code = kEventTable[i].code;
        ASSERT_NE(kEventTable[i].text, nullptr) << "event " << code;
        const std::string text = kEventTable[i].text;
        ASSERT_FALSE(text.empty()) << "event " << code;
        if (text.size() > 78) {
            auto it = longOnes.find(code);
            ASSERT_NE(it, longOnes.end()) << "event " << code << " too long: " << text;
            EXPECT_EQ(text, it->second);
        }
        EXPECT_EQ(text.find_first_of("{}\t\n\""), std::string::npos) << "event " << code;
        EXPECT_EQ(text.find("  "), std::string::npos) << "event " << code;
        EXPECT_NE(text.front(), ' ');
        EXPECT_NE(text.back(), ' ');
        // The first letter is upper case.
        auto first = text.find_first_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ");
        ASSERT_NE(first, std::string::npos);
        EXPECT_TRUE(std::isupper(static_cast<unsigned char>(text[first]))) << "event " << code;
        // Brackets are balanced.
        int depth = 0;
        for (char ch : text) {
            depth += ch == '(' ? 1 : ch == ')' ? -1 : 0;
            ASSERT_GE(depth, 0) << "event " << code;
        }
        EXPECT_EQ(depth, 0) << "event " << code;
        withQ += text.find('Q') != std::string::npos;
    }
    // About 768 phrases take the quantifier.
    EXPECT_NEAR(withQ, 768, 20);
}

}  // namespace
