// The synchroniser's trace on stderr; ctest runs this with MURLIN_TRACE set
// (the library reads the variable once, when it is loaded).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "stream_helpers.h"

using namespace murlintest;

namespace {

TEST(Trace, SynchroniserDecisionsWithBitPositions)
{
    if (std::getenv("MURLIN_TRACE") == nullptr) GTEST_SKIP() << "run with MURLIN_TRACE set";
    std::string bits = "000" + GroupBits({{0x2001, 0x0000, 0x1111, 0x2222},
                                          {0x2001, 0x0800, 0x1111, 0x2222},
                                          {0x2001, 0x0000, 0x1111, 0x2222}});
    FlipBit(bits, BlockStart(3, 1, 0) + 2);   // A of group 2: repaired
    FlipBit(bits, BlockStart(3, 2, 2) + 20);  // C of group 3: check bits, not repairable
    RDSInit();
    testing::internal::CaptureStderr();
    FeedBits(bits);
    const std::string trace = testing::internal::GetCapturedStderr();
    EXPECT_EQ(trace,
              "Bloc Sync A  @3\n"
              "Bloc Sync B  @29\n"
              "Bloc Sync C1 @55\n"
              "Bloc Sync D  @81\n"
              "Bloc Bad CRC @107\n"
              "Bloc Now Cor @107\n"
              "Bloc Sync A  @107\n"
              "Bloc Sync B  @133\n"
              "Bloc Sync C2 @159\n"
              "Bloc Sync D  @185\n"
              "Bloc Sync A  @211\n"
              "Bloc Sync B  @237\n"
              "Bloc Bad CRC @263\n"
              "Bloc Not Cor @263\n"
              "Bloc Sync D  @289\n");
}

}  // namespace
