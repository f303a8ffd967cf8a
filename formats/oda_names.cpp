#include "oda_names.h"

#include <cstdio>

namespace rdsformats {
namespace {

struct NamedAid {
    uint16_t aid;
    const char* name;
};

// Registered applications, sorted by AID.
constexpr NamedAid kNames[] = {
    {0x0093, "DAB cross-reference"},
    {0x0BCB, "Leisure & practical info for drivers"},
    {0x0D45, "TMC (test)"},
    {0x125F, "I-FM-RDS"},
    {0x1C68, "ITIS in-vehicle database"},
    {0x1DC5, "Encrypted TTI (ALERT-Plus)"},
    {0x4400, "RDS-Light"},
    {0x4AA1, "RASANT"},
    {0x4BD7, "RT+"},
    {0x4BD8, "RT+ for eRT"},
    {0x4D87, "Radio Commerce System"},
    {0x50DD, "Disaster warning"},
    {0x6365, "RDS2 9-bit AF lists"},
    {0x6552, "eRT"},
    {0x7373, "Enhanced early warning"},
    {0xC350, "NRSC song title and artist"},
    {0xC3A1, "Personal Radio Service"},
    {0xC3B0, "iTunes tagging"},
    {0xC3C3, "NAVTEQ Traffic Plus"},
    {0xC4D4, "eEAS"},
    {0xC737, "Utility Message Channel"},
    {0xCD46, "TMC"},
    {0xCD47, "TMC"},
    {0xCE6B, "Encrypted TTI (ALERT-Plus)"},
    {0xE911, "EAS open protocol"},
    {0xFF7F, "RFT: station logo"},
    {0xFF80, "RFT+"},
};

}  // namespace

const char* OdaName(uint16_t aid)
{
    for (const NamedAid& n : kNames)
        if (n.aid == aid) return n.name;
    return nullptr;
}

std::string OdaLabel(uint16_t aid)
{
    char hex[8];
    std::snprintf(hex, sizeof hex, "%04X", aid);
    const char* name = OdaName(aid);
    return name ? std::string(name) + " (" + hex + ")" : std::string(hex);
}

void OdaDirectory::announce(uint16_t blockB, uint16_t message, uint16_t aid)
{
    const int code = blockB & 0x1F;
    if (code == 0) {
        // Carried in no group of its own (or only in group types named
        // elsewhere): keep the message for applications such as RT+ for eRT.
        for (std::size_t i = 0; i < others_.size(); ++i) {
            if (others_[i] == aid || others_[i] == 0) {
                others_[i] = aid;
                othersMessage_[i] = message;
                return;
            }
        }
        return;
    }
    carried_[code] = aid;
    message_[code] = message;
}

int OdaDirectory::carrierOf(uint16_t aid) const
{
    if (aid == 0) return -1;
    for (int code = 1; code < 32; ++code)
        if (carried_[code] == aid) return code;
    return -1;
}

uint16_t OdaDirectory::messageOf(uint16_t aid) const
{
    if (const int code = carrierOf(aid); code >= 0) return message_[code];
    for (std::size_t i = 0; i < others_.size(); ++i)
        if (others_[i] == aid) return othersMessage_[i];
    return 0;
}

}  // namespace rdsformats
