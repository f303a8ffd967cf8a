#include "block_decoder.h"

#include "rds_encoder.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

namespace varnak::radio {

namespace {

constexpr int kBlockBits = 26;
constexpr int kPositions = 5;  // A, B, C, C', D
constexpr unsigned kAllPositions = 0x1F;

// Acceptance of a block while synchronised: the estimated chance that the
// best candidate is the block sent (see chase() and decodeBlock()).
// Measured through the decoder library, 0.98 keeps wrong groups near 1 in
// 300 at -4 dB CNR even for content that never repeats.
constexpr float kAcceptConfidence = 0.98f;
// A block that needs symbols of more reliability than this flipped is
// doubtful whatever else is said: the reliabilities themselves are wrong
// (loops not settled, interference).
constexpr float kMostFlipped = 25;
// Reliability given to a symbol that a sure block decided.
constexpr float kKnown = 20;
// Blocks found while searching: two in sequence are needed on top.
constexpr float kSearchConfidence = 0.9f;
// Doubtful blocks in a row after which the alignment counts as lost, and
// after which a new alignment found by the search replaces the current one.
constexpr int kLoseAfter = 24;
constexpr int kRealignAfter = 2;
// Chase decoding of a block while synchronised: flips of up to kDecideFlips
// of the kDecideSymbols least reliable symbols.
constexpr int kDecideSymbols = 20, kDecideFlips = 4;
// A symbol below this reliability counts as erased; at most kMaxErasures of
// them are tried in every combination.
constexpr float kErased = 1.5f;
constexpr int kMaxErasures = 11;
// A block with more erasures than this sits in a fade, where the symbols'
// errors come in runs (the carrier's phase turns over for a few symbols)
// and their reliabilities promise too much: it must be surer.
constexpr int kManyErasures = 8;
constexpr float kAcceptErased = 0.998f;

rdsenc::Block BlockOf(int position) { return static_cast<rdsenc::Block>(position); }

// Block position (0 A .. 4 D) to its slot in the group (A 0, B 1, C/C' 2, D 3).
int SlotOf(int position) { return position <= 2 ? position : position - 1; }

struct CodeTables {
    uint16_t offset[kPositions];
    uint16_t bitSyndrome[kBlockBits];   // syndrome of a word with only bit b set
    uint32_t flipMask[kBlockBits + 1];  // data bits a flipped symbol i (0..26) toggles
    uint16_t flipSyndrome[kBlockBits + 1];
    int8_t positionOf[1024];  // block position whose offset a syndrome is, or -1

    CodeTables()
    {
        std::fill(std::begin(positionOf), std::end(positionOf), int8_t(-1));
        for (int p = 0; p < kPositions; ++p) {
            offset[p] = rdsenc::OffsetWord(BlockOf(p));
            positionOf[offset[p]] = int8_t(p);
        }
        // The syndrome is the remainder of the 26-bit word divided by the
        // generator; a block with offset X leaves the offset word X.
        for (int b = 0; b < kBlockBits; ++b)
            bitSyndrome[b] = b < 10
                                 ? uint16_t(1u << b)
                                 : uint16_t(rdsenc::CheckWord(uint16_t(1u << (b - 10)), rdsenc::Block::A) ^ offset[0]);
        // Symbol i of the block's 27 (i = 0 is the last of the previous
        // block) takes part in data bits i and i + 1 (word bits 26 - i and
        // 25 - i).
        for (int i = 0; i <= kBlockBits; ++i) {
            uint32_t mask = 0;
            if (i >= 1) mask |= 1u << (26 - i);
            if (i <= 25) mask |= 1u << (25 - i);
            flipMask[i] = mask;
            flipSyndrome[i] = syndrome(mask);
        }
    }
    uint16_t syndrome(uint32_t word) const
    {
        uint16_t s = 0;
        for (int b = 0; b < kBlockBits; ++b)
            if (word >> b & 1) s ^= bitSyndrome[b];
        return s;
    }
};

const CodeTables& Tables()
{
    static const CodeTables tables;
    return tables;
}

// Positions acceptable at a group slot, as a bit mask over A..D.
unsigned PositionsOfSlot(int slot)
{
    switch (slot) {
        case 0:
            return 1u << 0;
        case 1:
            return 1u << 1;
        case 2:
            return (1u << 2) | (1u << 3);
        default:
            return 1u << 4;
    }
}

}  // namespace

SoftBlockDecoder::SoftBlockDecoder(Groups groups)
    : typeC_(groups == Groups::TypeC), llr_(kRing, 0.0f), weight_(kRing, 1.0)
{
    Tables();
}

SoftBlockDecoder::Decision SoftBlockDecoder::chase(uint64_t end, unsigned positions, int leastReliable, int maxFlips,
                                                   float minConfidence) const
{
    const CodeTables& t = Tables();
    float rel[kBlockBits + 1];
    bool hard[kBlockBits + 1];
    for (int i = 0; i <= kBlockBits; ++i) {
        const float l = llrAt(end - kBlockBits + i);
        rel[i] = std::abs(l);
        hard[i] = l < 0;
    }
    uint32_t word = 0;
    for (int i = 1; i <= kBlockBits; ++i)
        if (hard[i] != hard[i - 1]) word |= 1u << (26 - i);
    const uint16_t syn = t.syndrome(word);

    int order[kBlockBits + 1];
    for (int i = 0; i <= kBlockBits; ++i) order[i] = i;
    const int n = std::min(leastReliable, kBlockBits + 1);
    std::partial_sort(order, order + n, order + kBlockBits + 1, [&](int a, int b) { return rel[a] < rel[b]; });

    // Likelihoods relative to the hard decisions: flipping a set of symbols
    // weighs e^-(their reliabilities). The patterns tried carry `listed` of
    // the whole mass `total`; the rest, spread evenly over the 1024
    // syndromes, stands for the patterns not tried that would also give a
    // valid block. The best candidate's share of all that is its chance of
    // being the block sent.
    double weight[kBlockBits + 1];
    double total = 1, listed = 0, valid = 0;
    for (int i = 0; i <= kBlockBits; ++i) {
        weight[i] = weight_[(end - kBlockBits + i) % kRing];
        total *= 1 + weight[i];
    }
    Decision best;
    if (minConfidence > 0) {
        // However the tried patterns fall, they carry at most the product
        // over the least reliable symbols; the rest bounds the confidence
        // from above. Below the bound asked for, no pattern need be tried.
        double tried = 1;
        for (int a = 0; a < n; ++a) tried *= 1 + weight[order[a]];
        const double unlisted = std::max(0.0, total - tried) * std::popcount(positions) / 1024;
        if (1 / (1 + unlisted) < minConfidence) return best;
    }
    double bestWeight = 0;
    auto consider = [&](uint16_t s, uint32_t flips, double w) {
        listed += w;
        const int p = t.positionOf[s];
        if (p < 0 || !(positions >> p & 1)) return;
        valid += w;
        if (w > bestWeight) {
            bestWeight = w;
            best.word = word ^ flips;
            best.position = p;
        }
    };
    consider(syn, 0, 1);
    // Every set of up to maxFlips of the n least reliable symbols (more
    // among erasures, below); sets too
    // unlikely to matter (below a thousandth of the best so far) are left
    // to the even spread of the patterns not tried.
    struct Frame {
        int next;
        uint16_t syndrome;
        uint32_t mask;
        double weight;
        int flips;
    };
    Frame stack[kBlockBits + 2];
    int depth = 0;
    // Symbols with next to no reliability (a fade) are erasures: any set of
    // them is tried, up to kMaxErasures, since a burst of up to ten erased
    // data bits still leaves a single valid block.
    int erased = 0;
    while (erased < n && erased < kMaxErasures && rel[order[erased]] < kErased) ++erased;
    stack[depth++] = {0, syn, 0, 1, 0};
    while (depth > 0) {
        Frame& f = stack[depth - 1];
        const bool more = f.flips < maxFlips || (f.next < erased && f.flips < kMaxErasures);
        if (f.next >= n || !more) {
            --depth;
            continue;
        }
        const int i = order[f.next++];
        const double w = f.weight * weight[i];
        if (w < bestWeight * 1e-3) {
            f.next = n;  // the rest of this level weighs even less
            continue;
        }
        const uint16_t s = f.syndrome ^ t.flipSyndrome[i];
        const uint32_t m = f.mask ^ t.flipMask[i];
        consider(s, m, w);
        stack[depth++] = {f.next, s, m, w, f.flips + 1};
    }
    // An impulse may leave a symbol (or two in a row) wrong yet as reliable
    // as any: every single symbol and every pair of neighbours is tried too,
    // so a short burst is found wherever it lies.
    uint32_t inList = 0;
    for (int a = 0; a < n; ++a) inList |= 1u << order[a];
    for (int i = 0; i <= kBlockBits; ++i) {
        if (!(inList >> i & 1)) consider(syn ^ t.flipSyndrome[i], t.flipMask[i], weight[i]);
        if (i < kBlockBits && (!(inList >> i & 1) || !(inList >> (i + 1) & 1)))
            consider(syn ^ t.flipSyndrome[i] ^ t.flipSyndrome[i + 1], t.flipMask[i] ^ t.flipMask[i + 1],
                     weight[i] * weight[i + 1]);
    }
    if (best.position >= 0) {
        best.found = true;
        best.metric = float(-std::log(bestWeight));
        const double unlisted = std::max(0.0, total - listed) * std::popcount(positions) / 1024;
        best.weight = bestWeight;
        best.mass = valid + unlisted;
        best.confidence = float(bestWeight / best.mass);
        best.erased = erased;
    }
    return best;
}

float SoftBlockDecoder::wordMetric(uint64_t end, uint32_t word, bool* firstSymbol, bool* lastSymbol) const
{
    // Symbols that carry `word`, starting from the received first symbol; the
    // other polarity flips every symbol and costs the rest.
    const bool start = hardAt(end - kBlockBits);
    bool symbol = start;
    float metric = 0, total = std::abs(llrAt(end - kBlockBits));
    for (int i = 1; i <= kBlockBits; ++i) {
        const float l = llrAt(end - kBlockBits + i);
        symbol = symbol != bool(word >> (26 - i) & 1);
        total += std::abs(l);
        if (symbol != (l < 0)) metric += std::abs(l);
    }
    const bool flip = metric > total - metric;
    if (firstSymbol) *firstSymbol = start != flip;
    if (lastSymbol) *lastSymbol = symbol != flip;
    return std::min(metric, total - metric);
}

void SoftBlockDecoder::push(float llr, std::string& bits)
{
    llr_[symbols_ % kRing] = std::isfinite(llr) ? llr : 0.0f;
    weight_[symbols_ % kRing] = std::exp(-double(std::abs(llr_[symbols_ % kRing])));
    const uint64_t j = symbols_++;  // the newest data bit
    // The search runs while no alignment holds, or once the current one
    // failed twice in a row (a bit slipped, or noise).
    if (j >= kBlockBits && (!synced_ || failedRun_ >= kRealignAfter)) searchAt(j, bits);
    while (synced_ && blockEnd_ <= j) decodeBlock(bits);
    if (!synced_ && j + 1 > kRawLag) emitRaw(j + 1 - kRawLag, bits);
}

void SoftBlockDecoder::finish(std::string& bits)
{
    emitPending(bits);
    emitRaw(symbols_, bits);
}

void SoftBlockDecoder::searchAt(uint64_t end, std::string& bits)
{
    const Decision d = chase(end, kAllPositions, 8, 3, kSearchConfidence);
    if (!d.found || d.confidence < kSearchConfidence) return;
    Found& slot = found_[end % kBlockBits];
    const bool inSequence =
        slot.position >= 0 && slot.end + kBlockBits == end && SlotOf(d.position) == (SlotOf(slot.position) + 1) % 4;
    const int previous = slot.position;
    slot = {end, d.position};
    if (!inSequence) return;
    if (synced_ && (end % kBlockBits == blockEnd_ % kBlockBits || failedRun_ < kRealignAfter)) return;

    // Take the new alignment from the first of the two blocks on, skipping
    // blocks whose bits were handed on already.
    emitPending(bits);
    uint64_t first = end - kBlockBits;
    int slotOfFirst = SlotOf(previous);
    while (first + 1 < emitted_ + kBlockBits) {
        first += kBlockBits;
        slotOfFirst = (slotOfFirst + 1) % 4;
    }
    synced_ = true;
    blockEnd_ = first;
    expected_ = slotOfFirst;
    failedRun_ = 0;
    haveB_ = false;
}

SoftBlockDecoder::Decision SoftBlockDecoder::decide(uint64_t end, unsigned positions) const
{
    Decision d = chase(end, positions, kDecideSymbols, kDecideFlips);
    if (!d.found) return d;
    d.ownDoubt = std::max(0.0, (d.mass - d.weight) / d.mass);
    const uint32_t ownBest = d.word;
    // Words seen before weigh by how often they came (and the chance of a
    // new one): the programme identification in block A, the repeated group
    // types in B, the cycling names and texts in C and D.
    double best = d.weight * (1 + prior(d.position, uint16_t(d.word >> 10)));
    double mass = d.mass + best - d.weight;
    for (int p = 0; p < kPositions; ++p) {
        if (!(positions >> p & 1)) continue;
        for (const Seen& seen : seen_[p]) {
            const uint32_t word = rdsenc::EncodeBlock(seen.info, BlockOf(p));
            if (word == d.word) continue;
            const double w = std::exp(-double(wordMetric(end, word))) * (1 + prior(p, seen.info));
            mass += w;
            if (w > best) {
                best = w;
                d.word = word;
                d.position = p;
            }
        }
    }
    d.confidence = float(std::min(1.0, best / mass));
    if (d.word != ownBest) d.ownDoubt = 1;  // taken against the block's own symbols
    const float accept = d.erased > kManyErasures ? kAcceptErased : kAcceptConfidence;
    if (d.confidence < accept || -std::log(best) > kMostFlipped) d.found = false;
    return d;
}

void SoftBlockDecoder::setKnown(uint64_t symbol, bool value)
{
    llr_[symbol % kRing] = value ? -kKnown : kKnown;
    weight_[symbol % kRing] = std::exp(-double(kKnown));
}

void SoftBlockDecoder::accepted(const Decision& d, uint64_t end)
{
    learn(d.position, uint16_t(d.word >> 10));
    // The block's last symbol is also the first of the next one: as part of
    // a sure block (in its likelier polarity) it is as good as known.
    bool last = false;
    wordMetric(end, d.word, nullptr, &last);
    setKnown(end, last);
}

void SoftBlockDecoder::decodeBlock(std::string& bits)
{
    const uint64_t end = blockEnd_;
    unsigned positions = PositionsOfSlot(expected_);
    if (expected_ == 2 && haveB_ && !typeC_) positions = (lastB_ & 0x0800) ? 1u << 3 : 1u << 2;
    int damagePosition = expected_ <= 1 ? expected_ : expected_ + 1;
    if (expected_ == 2) damagePosition = (haveB_ && !typeC_ && (lastB_ & 0x0800)) ? 3 : 2;

    const Decision d = decide(end, positions);
    if (d.found) {
        accepted(d, end);
        failedRun_ = 0;
        if (d.position == 1) {
            lastB_ = uint16_t(d.word >> 10);
            haveB_ = true;
        }
        // A doubtful block before a sure one gets a second chance: its last
        // symbol is now known too.
        if (pending_.active && !pending_.decision.found) {
            bool first = false;
            wordMetric(end, d.word, &first, nullptr);
            setKnown(end - kBlockBits, first);
            pending_.decision = decide(pending_.end, pending_.positions);
            if (pending_.decision.found) accepted(pending_.decision, pending_.end);
        }
    } else {
        if (expected_ == 1) haveB_ = false;
        ++failedRun_;
    }
    emitPending(bits);
    pending_ = {true, end, positions, damagePosition, d};
    if (failedRun_ >= kLoseAfter) {
        emitPending(bits);
        synced_ = false;
    }
    expected_ = (expected_ + 1) % 4;
    if (expected_ == 0) haveB_ = false;
    blockEnd_ += kBlockBits;
}

void SoftBlockDecoder::emitPending(std::string& bits)
{
    if (!pending_.active) return;
    pending_.active = false;
    const uint64_t end = pending_.end;
    emitRaw(end + 1 - kBlockBits, bits);
    if (pending_.decision.found) {
        const bool isSure = markSure_ && sure(pending_.decision);
        emitWord(pending_.decision.word, bits, isSure);
        ++clean_;
        if (isSure) ++sure_;
        return;
    }
    // Hand on a block the library cannot repair: the hard decisions'
    // information word with a check word one bit away from a valid one for
    // the expected position.
    uint32_t hard = 0;
    for (int i = 1; i <= kBlockBits; ++i)
        if (dataBit(end - kBlockBits + i)) hard |= 1u << (26 - i);
    const uint32_t word = rdsenc::EncodeBlock(uint16_t(hard >> 10), BlockOf(pending_.damagePosition));
    emitWord(word ^ (1u << kDamageBit), bits);
    ++damaged_;
}

void SoftBlockDecoder::emitRaw(uint64_t upTo, std::string& bits)
{
    for (; emitted_ < upTo; ++emitted_) bits.push_back(dataBit(emitted_) ? '1' : '0');
}

void SoftBlockDecoder::emitWord(uint32_t word, std::string& bits, bool sure)
{
    const char one = sure ? 'I' : '1', zero = sure ? 'O' : '0';
    for (int b = kBlockBits - 1; b >= 0; --b) bits.push_back(word >> b & 1 ? one : zero);
    emitted_ += kBlockBits;
}

bool SoftBlockDecoder::sure(const Decision& d)
{
    // The chance that another block was sent, from the block's own symbols
    // only: the words seen before must not make a block sure (that would
    // be confirmation by repetition again), and in a deep fade the
    // reliabilities promise too much.
    return d.found && d.ownDoubt <= kSureDoubt && d.erased <= kManyErasures;
}

double SoftBlockDecoder::prior(int position, uint16_t info) const
{
    // How much likelier this word is than an unknown one, from the counts:
    // a new word comes with chance `novel`, spread over 65536 words.
    const Stats& st = stats_[position];
    const double novel = (st.novel + 1) / (st.accepted + 2);
    for (const Seen& seen : seen_[position])
        if (seen.info == info) return (1 - novel) * seen.count / st.accepted * 65536 / novel;
    return 0;
}

void SoftBlockDecoder::learn(int position, uint16_t info)
{
    Stats& st = stats_[position];
    std::vector<Seen>& seen = seen_[position];
    st.accepted += 1;
    auto it = std::find_if(seen.begin(), seen.end(), [&](const Seen& e) { return e.info == info; });
    if (it != seen.end()) {
        it->count += 1;
    } else {
        st.novel += 1;
        if (seen.size() < kSeenWords) {
            seen.push_back({info, 1});
        } else {
            // The rarest word makes room.
            *std::min_element(seen.begin(), seen.end(),
                              [](const Seen& a, const Seen& b) { return a.count < b.count; }) = {info, 1};
        }
    }
    // Old counts fade, so the statistics follow a changing programme.
    if (st.accepted > 4096) {
        st.accepted /= 2;
        st.novel /= 2;
        for (Seen& e : seen) e.count /= 2;
    }
}

}  // namespace varnak::radio
