#include "stream_helpers.h"

namespace murlintest {

std::string GroupBits(const std::vector<Group>& groups)
{
    std::string bits;
    for (const Group& g : groups) rdsenc::AppendGroup(bits, g.a, g.b, g.c, g.d);
    return bits;
}

std::vector<Event> FeedBits(const std::string& bits, bool invert)
{
    std::vector<Event> events;
    for (std::size_t i = 0; i < bits.size(); ++i) {
        const int32_t status = RDSBitFrame(bits[i] == '1', invert);
        if (status != MURLIN_STATUS_NONE) events.push_back({i, status});
    }
    return events;
}

void FlipBit(std::string& bits, std::size_t index) { bits[index] = bits[index] == '1' ? '0' : '1'; }

void StartStream(uint16_t pi)
{
    RDSInit();
    FeedBits(GroupBits({{pi, 0x5000, 0, 0}, {pi, 0x5000, 0, 0}}));
    RDSInit();
}

DecoderState Record()
{
    DecoderState s;
    RDSStruct(&s);
    return s;
}

}  // namespace murlintest
