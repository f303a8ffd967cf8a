// Internal state and entry points of the decoder. The exports work on the
// selected decoder (Current()): the library's own one in static storage, or
// one in storage the program gave (RDSDecoderInit, RDSDecoderSelect). The
// files of src/ each do one job on it:
//   interface.cpp  the ten exports, RDSInit and ClearDecodedData
//   synchroniser.cpp  bit entry, block sync, syndrome and burst repair
//   groups.cpp     the group decoder (HandleBlockA/B, DecodeGroup)
//   render.cpp     display lines, clock text and trace output
//   tables.cpp     programme-type, duration and event descriptors
#pragma once

#include <cstdint>
#include <cstring>

#include "murlin.h"

namespace murlin {

constexpr int32_t kStatusNone = 0x1215;
constexpr int32_t kStatusAutoReset = 0x1115;
constexpr int kLineSize = 255;  // each display line, terminator included
constexpr int kTextSize = 256;  // working texts of the group decoder
constexpr int kQueueBits = 64;  // capacity of the byte entry's pending-bit queue

// Block positions as the synchroniser counts them.
enum BlockPosition : int32_t { kBlockA = 0, kBlockB = 1, kBlockC = 2, kBlockCprime = 3, kBlockD = 4 };

struct Synchroniser {
    uint32_t shiftRegister;  // last 26 bits, newest at bit 0
    int32_t syncState;       // 0 searching, 1 block A found, 2 synchronised
    int32_t expectedBlock;   // BlockPosition of the next check
    uint8_t bitsPerCheck;    // 1 while searching bit by bit, 26 once aligned
    uint8_t bitsSinceCheck;
    int64_t bitCount;       // bits since the last reset (64 bits: never wraps)
    uint16_t blockQuality;  // 0 correct, 2 repaired
    uint8_t correctedRun;
    uint8_t failedRun;
    uint8_t groupDamaged;
    uint8_t versionUnknown;  // block B of this group was lost: C or C' may follow
    uint64_t byteQueue;      // pending bits of RDSBytFrame, oldest highest
    uint8_t bytePending;     // how many bits of byteQueue are pending
};

struct Decoder {
    DecoderState record;
    Synchroniser sync;
    uint16_t blockWords[4];
    // Counters wrap as unsigned (never undefined); returned as 32-bit values.
    uint32_t blocksAccepted;
    uint32_t blocksBadCheck;
    uint32_t blocksCorrected;
    uint16_t lastPi;
    uint16_t lastEonPi;
    uint8_t afNext;
    uint8_t groupCode;
    uint8_t rtAddress;
    char diDigits[5];
    char diLetters[5];
    char displayLines[4][kLineSize];
};

// The library's own decoder, zero-initialised at load, and the one selected.
extern Decoder gOwnDecoder;
extern Decoder* gSelected;
inline Decoder& Current() { return *gSelected; }

// Sets `length` spaces and the terminating zero after them.
inline void FillSpaces(char* text, std::size_t length)
{
    std::memset(text, ' ', length);
    text[length] = '\0';
}

// interface.cpp
void ResetDecoder();  // what RDSInit does
void ClearDecodedData();
void ClearEonData();  // step 8 of ClearDecodedData

// synchroniser.cpp
uint16_t BlockSyndrome(uint32_t word, uint16_t offset);
int IdentifyOffset(uint32_t word);  // BlockPosition, or -1 for none
uint16_t CorrectBurst(uint16_t info, uint16_t syndrome);
uint16_t OffsetWord(int position);
int32_t CheckAtBit();  // the check made when a block's worth has arrived
int32_t FeedByte(uint8_t byte, bool invert);

// Shifts one bit (0/1, inversion applied) into the register; between checks
// that is all, so this part is inline in both entries.
inline int32_t FeedBit(uint32_t bit)
{
    Synchroniser& s = Current().sync;
    s.shiftRegister = ((s.shiftRegister << 1) | bit) & 0x3FFFFFFu;
    ++s.bitCount;
    if (++s.bitsSinceCheck != s.bitsPerCheck) return kStatusNone;
    return CheckAtBit();
}

// groups.cpp
uint16_t AfFrequency(unsigned code);    // 100 kHz units, 0 for 205..255
uint16_t LfMfFrequency(unsigned code);  // 0.1 kHz units
void HandleBlockA(uint16_t quality);
void HandleBlockB();
void DecodeGroup();

// render.cpp
void SetBlockLine(int n, const char* text);
void RenderClockText();
// Set once at load from the environment variable MURLIN_TRACE.
extern const bool gTraceEnabled;
void TraceMessage(const char* format, int64_t value);
// Writes one synchroniser trace line to stderr when MURLIN_TRACE is set; when
// it is not, a trace costs one test of a cached flag and no formatting.
inline void Trace(const char* format, int64_t value)
{
    if (gTraceEnabled) TraceMessage(format, value);
}

// tables.cpp
extern const char* const kPtyTexts[32];
extern const char* const kDurationTexts[8];
const char* FindEvent(int32_t code);

}  // namespace murlin
