// Request texts, byte for byte, without a socket.
#include "quesmer/requests.h"

#include <gtest/gtest.h>

using namespace quesmer;
namespace rq = quesmer::requests;

namespace {
QString wrap(const QString& body)
{
    return "<Message version=\"1.0\">\r\n<Command>\r\n" + body + "</Command>\r\n</Message>\r\n";
}
}  // namespace

TEST(Requests, GetStatusIsAnEmptyGetElementInTheEnvelope)
{
    EXPECT_EQ(rq::getStatus(), wrap("<Get item=\"card status\"/>\r\n"));
}
