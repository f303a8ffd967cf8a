// The exports of the library, the reset and the clearing of decoded data.
#include <cstdint>
#include <cstring>
#include <new>

#include "decoder.h"

namespace murlin {

Decoder gOwnDecoder;
Decoder* gSelected = &gOwnDecoder;

void ClearEonData()
{
    DecoderState& r = Current().record;
    Current().lastEonPi = 0;
    r.eonPi = 0;
    r.eonPty = 0;
    r.eonPin = 0;
    r.eonTa = 0;
    r.eonAf1 = 0;
    r.eonAf2 = 0;
    FillSpaces(r.eonPs, 8);
    for (int i = 0; i < 5; ++i) {
        r.eonTuned[i] = 0;
        r.eonMapped[i] = 0;
    }
}

// Clears what was decoded from the stream. pi, the group header fields, the
// flags, textAB, eonTp, the clock fields, lastPi, the counters, the block
// words and the display lines are deliberately kept; the reserved bytes of the
// record are never written.
void ClearDecodedData()
{
    DecoderState& r = Current().record;
    std::memcpy(Current().diDigits, "....", 5);
    std::memcpy(Current().diLetters, "....", 5);
    r.groupsSeen = 0;

    for (auto& d : r.di) d = 0xFF;
    r.afCount = 0;
    FillSpaces(r.ps, 8);
    for (auto& f : r.afList) f = 0;

    r.rpc = 0;
    r.slc = 0;
    r.pin = 0;

    FillSpaces(r.radioText, 64);
    FillSpaces(r.radioTextB, 32);

    r.odaGroupType = 0;
    r.odaGroupVersion = 0;
    r.odaMessage = 0;
    r.odaAid = 0;

    FillSpaces(r.clockText, 24);

    r.tmcT = 0;
    r.tmcF = 0;
    r.tmcDP = 0;
    r.tmcD = 0;
    r.tmcPN = 0;
    r.tmcExtent = 0;
    r.tmcEvent = 0;
    r.tmcLocation = 0;

    ClearEonData();
}

void ResetDecoder()
{
    Synchroniser& s = Current().sync;
    s.shiftRegister = 0;
    s.expectedBlock = kBlockA;
    s.bitsPerCheck = 1;
    s.bitsSinceCheck = 0;
    s.bitCount = 0;
    s.failedRun = 0;
    s.correctedRun = 0;
    s.byteQueue = 0;
    s.bytePending = 0;
    s.groupDamaged = 0;
    s.versionUnknown = 0;
    s.syncState = 0;
    ClearDecodedData();
}

}  // namespace murlin

using namespace murlin;

extern "C" {

int32_t RDSInit(void)
{
    ResetDecoder();
    return 0;
}

int32_t RDSBitFrame(int32_t bit, int32_t invert)
{
    uint32_t b = (bit & 0xFF) != 0;
    if (invert & 0xFF) b ^= 1u;
    return FeedBit(b);
}

int32_t RDSBytFrame(int32_t byte, int32_t invert) { return FeedByte(uint8_t(byte & 0xFF), (invert & 0xFF) != 0); }

int32_t RDSStruct(DecoderState* buffer)
{
    if (buffer != nullptr)  // a null buffer receives nothing instead of crashing the caller
        std::memcpy(buffer, &Current().record, sizeof(DecoderState));
    return 0;
}

int32_t RDSStat(int32_t n)
{
    switch (n) {
        case 0:
            return int32_t(Current().blocksAccepted);
        case 1:
            return int32_t(Current().blocksBadCheck);
        case 2:
            return int32_t(Current().blocksCorrected);
        default:
            Current().blocksAccepted = 0;
            Current().blocksBadCheck = 0;
            Current().blocksCorrected = 0;
            return 0;
    }
}

int32_t RDSData(int32_t n)
{
    if (n < 0 || n > 3) return 0;
    return Current().blockWords[n];
}

const char* RDSDisplay(int32_t n)
{
    if (n < 0 || n > 3) return nullptr;
    return Current().displayLines[n];
}

const char* RDSPTYDesc(int32_t n)
{
    if (n < 0 || n > 31) return nullptr;
    return kPtyTexts[n];
}

const char* RDSDPDesc(int32_t n)
{
    if (n < 0 || n > 7) return nullptr;
    return kDurationTexts[n];
}

const char* RDSEVTDesc(int32_t n) { return FindEvent(n); }

static_assert(alignof(Decoder) <= MURLIN_DECODER_ALIGN, "decoder storage is promised to need 8-byte alignment");

size_t RDSDecoderSize(void) { return sizeof(Decoder); }

int32_t RDSDecoderInit(void* storage, size_t size)
{
    if (storage == nullptr || size < sizeof(Decoder) || reinterpret_cast<uintptr_t>(storage) % alignof(Decoder) != 0)
        return -1;
    auto* decoder = new (storage) Decoder{};
    Decoder* const before = gSelected;
    gSelected = decoder;
    ResetDecoder();
    gSelected = before;
    return 0;
}

void* RDSDecoderSelect(void* storage)
{
    void* const before = gSelected == &gOwnDecoder ? nullptr : gSelected;
    gSelected = storage != nullptr ? static_cast<Decoder*>(storage) : &gOwnDecoder;
    return before;
}

}  // extern "C"
