#include "dab_xref.h"

namespace rdsformats {

void DabCrossReference::feed(uint16_t b, uint16_t c, uint16_t d)
{
    if (!((b >> 4) & 1)) {
        // Ensemble table: mode in bits 3..2, the frequency's top two bits
        // in 1..0 and its low sixteen in block C, block D the ensemble.
        const uint32_t units = (uint32_t(b & 3) << 16) | c;
        ensemble_ = DabEnsemble{d, units * 16, (b >> 2) & 3};
        return;
    }
    // Service table: variant 0 links the service (block D) to its ensemble
    // (block C); the other variants carry linkage and are left alone here.
    if ((b & 0xF) == 0) service_ = DabService{c, d};
}

const char* DabCrossReference::ModeName(int mode)
{
    static const char* const kNames[4] = {"unspecified", "I", "II or III", "IV"};
    return kNames[mode & 3];
}

}  // namespace rdsformats
