// The bit entry: block synchronisation, the block check against the offset
// words of EN 50067 Annex B and burst-error repair of the information bits.
#include <array>

#include "decoder.h"

namespace murlin {

namespace {

constexpr uint16_t kOffsetWords[5] = {0x0FC, 0x198, 0x168, 0x350, 0x1B4};
constexpr uint16_t kOffsetSyndromes[5] = {0x3D8, 0x3D4, 0x25C, 0x3CC, 0x258};
// Status block code of each position: A 1, B 2, C 3, C' 4, D 0.
constexpr int32_t kBlockCodes[5] = {1, 2, 3, 4, 0};
constexpr uint32_t kGenerator = 0x5B9;  // x^10 + x^8 + x^7 + x^5 + x^4 + x^3 + 1
constexpr uint32_t kRegisterMask = 0x3FFFFFF;

// Parity-check row of each bit of the 26-bit word (bit 25 is received first).
constexpr uint16_t ParityRow(int bit)
{
    constexpr uint16_t low[16] = {0x31B, 0x38F, 0x2A7, 0x0F7, 0x1EE, 0x3DC, 0x201, 0x1BB,
                                  0x376, 0x355, 0x313, 0x39F, 0x287, 0x0B7, 0x16E, 0x2DC};
    return bit >= 16 ? uint16_t(1u << (bit - 16)) : low[bit];
}

// The syndrome is linear in the word, so it is the XOR of four table entries,
// one per byte of the word: constant work per check instead of 26 steps.
using SyndromeTable = std::array<std::array<uint16_t, 256>, 4>;

constexpr SyndromeTable MakeSyndromeTable()
{
    SyndromeTable t{};
    for (int part = 0; part < 4; ++part)
        for (int value = 0; value < 256; ++value) {
            uint16_t s = 0;
            for (int bit = 0; bit < 8; ++bit) {
                const int position = part * 8 + bit;
                if (position < 26 && (value >> bit) & 1) s ^= ParityRow(position);
            }
            t[part][value] = s;
        }
    return t;
}

constexpr SyndromeTable kSyndromeTable = MakeSyndromeTable();

inline uint16_t Syndrome(uint32_t word)
{
    return kSyndromeTable[0][word & 0xFF] ^ kSyndromeTable[1][(word >> 8) & 0xFF] ^
           kSyndromeTable[2][(word >> 16) & 0xFF] ^ kSyndromeTable[3][(word >> 24) & 0x03];
}

inline uint16_t InfoWord(uint32_t reg) { return uint16_t(reg >> 10); }

// Block C or C' after block B, by the version bit of the stored block B.
inline int32_t PositionAfterB() { return (Current().blockWords[1] & 0x0800) ? kBlockCprime : kBlockC; }

int32_t NextPosition(int32_t position)
{
    switch (position) {
        case kBlockA:
            return kBlockB;
        case kBlockB:
            return PositionAfterB();
        case kBlockC:
        case kBlockCprime:
            return kBlockD;
        default:
            return kBlockA;
    }
}

// A check while searching (syncState 0) or waiting for block B (syncState 1).
int32_t Search()
{
    Synchroniser& s = Current().sync;
    s.correctedRun = 0;
    s.failedRun = 0;
    const int k = IdentifyOffset(s.shiftRegister);
    if (s.syncState == 0 && k == kBlockA) {
        Trace("Bloc Sync A  @%0lld\n", s.bitCount - 26);
        Current().blockWords[0] = InfoWord(s.shiftRegister);
        HandleBlockA(1);  // not yet confirmed: leaves pi alone
        s.groupDamaged = 0;
        s.syncState = 1;
        ++Current().blocksAccepted;
        s.bitsPerCheck = 26;
        return 0x1201;
    }
    if (s.syncState == 1 && k == kBlockB) {
        Trace("Bloc Sync B  @%0lld\n", s.bitCount - 26);
        Current().blockWords[1] = InfoWord(s.shiftRegister);
        HandleBlockB();
        s.expectedBlock = PositionAfterB();
        s.syncState = 2;
        ++Current().blocksAccepted;
        return 0x1002;
    }
    // Nothing usable: go on bit by bit from the next bit.
    s.syncState = 0;
    s.bitsPerCheck = 1;
    return kStatusNone;
}

// A check while synchronised: accept, repair, tolerate or lose the block.
int32_t CheckBlock()
{
    Synchroniser& s = Current().sync;
    int32_t position = s.expectedBlock;
    s.blockQuality = 0;
    int32_t sequence = 1;

    uint16_t syndrome = BlockSyndrome(s.shiftRegister, kOffsetWords[position]);
    // After a lost block B the expected C or C' is only the guess of the last
    // block B stored. A block that checks with the other offset arrived
    // intact: it is taken as it is, for the difference of the two offsets
    // looks like a burst in the information bits and its "repair" would
    // change a good word.
    if (syndrome != 0 && s.versionUnknown && (position == kBlockC || position == kBlockCprime)) {
        const int32_t other = position == kBlockC ? kBlockCprime : kBlockC;
        if (BlockSyndrome(s.shiftRegister, kOffsetWords[other]) == 0) {
            position = other;
            syndrome = 0;
        }
    }
    s.versionUnknown = 0;
    const uint16_t offset = kOffsetWords[position];
    if (syndrome != 0) {
        Trace("Bloc Bad CRC @%0lld\n", s.bitCount - 26);
        ++Current().blocksBadCheck;
        const uint16_t info = InfoWord(s.shiftRegister);
        const uint16_t repaired = CorrectBurst(info, syndrome);
        bool accepted = false;
        if (repaired != info) {
            s.shiftRegister = (s.shiftRegister & 0x3FF) | (uint32_t(repaired) << 10);
            if (BlockSyndrome(s.shiftRegister, offset) == 0) {
                Trace("Bloc Now Cor @%0lld\n", s.bitCount - 26);
                ++s.correctedRun;
                ++Current().blocksCorrected;
                s.blockQuality = 2;
                accepted = true;
            }
        }
        if (!accepted) {
            ++s.failedRun;
            s.groupDamaged = 1;
            if (s.failedRun == 1 && s.correctedRun == 0) {
                Trace("Bloc Not Cor @%0lld\n", s.bitCount - 26);
                s.expectedBlock = NextPosition(position);
                s.versionUnknown = position == kBlockB;
                return 0x1035;
            }
            s.syncState = 0;  // bitsPerCheck stays 26: next search one block on
            return 0x1335;
        }
    }

    const int slot = position >= kBlockCprime ? position - 1 : position;
    Current().blockWords[slot] = InfoWord(s.shiftRegister);
    switch (position) {
        case kBlockA:
            Trace("Bloc Sync A  @%0lld\n", s.bitCount - 26);
            s.expectedBlock = kBlockB;
            HandleBlockA(s.blockQuality);
            s.groupDamaged = 0;
            break;
        case kBlockB:
            Trace("Bloc Sync B  @%0lld\n", s.bitCount - 26);
            s.expectedBlock = PositionAfterB();
            HandleBlockB();
            break;
        case kBlockC:
            Trace("Bloc Sync C1 @%0lld\n", s.bitCount - 26);
            s.expectedBlock = kBlockD;
            break;
        case kBlockCprime:
            Trace("Bloc Sync C2 @%0lld\n", s.bitCount - 26);
            s.expectedBlock = kBlockD;
            break;
        default:
            Trace("Bloc Sync D  @%0lld\n", s.bitCount - 26);
            s.expectedBlock = kBlockA;
            if (s.groupDamaged == 0) {
                sequence = 0;
                DecodeGroup();
            }
            break;
    }
    ++Current().blocksAccepted;
    s.failedRun = 0;
    if (s.blockQuality == 0) s.correctedRun = 0;
    return sequence * 4096 + s.blockQuality * 16 + kBlockCodes[position];
}

}  // namespace

uint16_t OffsetWord(int position) { return kOffsetWords[position]; }

uint16_t BlockSyndrome(uint32_t word, uint16_t offset) { return Syndrome((word ^ offset) & kRegisterMask); }

int IdentifyOffset(uint32_t word)
{
    const uint16_t s = Syndrome(word & kRegisterMask);
    for (int k = 0; k < 5; ++k)
        if (s == kOffsetSyndromes[k]) return k;
    return -1;
}

// Burst-error trapping: repairs a burst of up to five bits lying in the
// 16 information bits. The caller re-checks the result.
uint16_t CorrectBurst(uint16_t info, uint16_t syndrome)
{
    uint32_t r = syndrome;
    uint32_t out = 0;
    for (int n = 15; n >= 0; --n) {
        uint32_t b = (info >> n) & 1u;
        if ((r & 0x1F) == 0) {
            b ^= (r >> 9) & 1u;
            r = (r << 1) & 0x7FF;
        } else {
            r = (r << 1) & 0x7FF;
            if (r & 0x400) r = (r ^ kGenerator) & 0x7FF;
        }
        out |= b << n;
    }
    return uint16_t(out);
}

int32_t CheckAtBit()
{
    Synchroniser& s = Current().sync;
    s.bitsSinceCheck = 0;
    // Two groups' worth of bits without even a block A: start afresh.
    if (s.bitCount == 208 && s.syncState == 0) {
        ResetDecoder();
        return kStatusAutoReset;
    }
    return s.syncState < 2 ? Search() : CheckBlock();
}

// Feeds the pending bits and then the byte, oldest first, stopping at the
// first event; the rest stays pending for the next call. An automatic reset
// empties the queue, dropping the bits not yet fed.
int32_t FeedByte(uint8_t byte, bool invert)
{
    Synchroniser& s = Current().sync;
    const uint32_t flip = invert ? 1u : 0u;
    // Fed by bytes alone, events are at least 26 bits apart and at most 7 bits
    // are pending here. Only a caller that feeds single bits between byte calls
    // can pile up more; then the oldest bits are fed at once to make room, so
    // no bit is ever lost (an event among them is not reported).
    while (s.bytePending > kQueueBits - 8) {
        --s.bytePending;
        const uint32_t bit = uint32_t(s.byteQueue >> s.bytePending) & 1u;
        s.byteQueue &= (uint64_t(1) << s.bytePending) - 1u;
        FeedBit(bit ^ flip);
    }
    s.byteQueue = (s.byteQueue << 8) | byte;
    s.bytePending = uint8_t(s.bytePending + 8);
    while (s.bytePending > 0) {
        --s.bytePending;
        const uint32_t bit = uint32_t(s.byteQueue >> s.bytePending) & 1u;
        s.byteQueue &= (uint64_t(1) << s.bytePending) - 1u;
        const int32_t status = FeedBit(bit ^ flip);
        if (status != kStatusNone) return status;  // an automatic reset has emptied the queue
    }
    return kStatusNone;
}

}  // namespace murlin
