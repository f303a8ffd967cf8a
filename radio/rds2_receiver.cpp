#include "rds2_receiver.h"

#include "rds_encoder.h"

#include <algorithm>

namespace varnak::radio {

namespace {

constexpr int kBlockBits = 26;
constexpr int kLoseAfter = 12;
// Groups of a stream whose level is below this share of the pilot's are
// not taken: they are stream 0 leaking through the filters (a clean
// multiplex without RDS2 leaves nothing else in the extra bands, and the
// demodulator does not care how weak a clean signal is). Real injections are
// a good part of the pilot's (3 % against 9 %).
constexpr double kLeakToPilot = 0.02;

bool Checks(uint32_t block, rdsenc::Block position)
{
    return rdsenc::CheckWord(uint16_t(block >> 10), position) == (block & 0x3FF);
}

}  // namespace

void GroupFramer::push(const std::string& bits, std::vector<Group>& groups)
{
    for (char c : bits) {
        register_ = ((register_ << 1) | (c == '1' ? 1u : 0u)) & 0x3FFFFFF;
        ++bits_;
        if (!synced_) {
            if (bits_ < kBlockBits || !Checks(register_, rdsenc::Block::A)) continue;
            synced_ = true;
            words_[0] = uint16_t(register_ >> 10);
            groupGood_ = true;
            next_ = 1;
            count_ = 0;
            failedRun_ = 0;
            ++checked_;
            continue;
        }
        if (++count_ < kBlockBits) continue;
        count_ = 0;
        bool ok = false;
        switch (next_) {
            case 0:
                ok = Checks(register_, rdsenc::Block::A);
                break;
            case 1:
                ok = Checks(register_, rdsenc::Block::B);
                break;
            case 2:
                ok = Checks(register_, rdsenc::Block::C) || Checks(register_, rdsenc::Block::Cprime);
                break;
            default:
                ok = Checks(register_, rdsenc::Block::D);
                break;
        }
        if (next_ == 0) groupGood_ = true;
        if (ok) {
            ++checked_;
            failedRun_ = 0;
            words_[std::size_t(next_)] = uint16_t(register_ >> 10);
            if (next_ == 3 && groupGood_) groups.push_back(words_);
        } else {
            ++failed_;
            groupGood_ = false;
            if (++failedRun_ >= kLoseAfter) {
                synced_ = false;
                continue;
            }
        }
        next_ = (next_ + 1) % 4;
    }
}

struct Rds2Receiver::Stream {
    int number;
    RdsDemodulator demodulator;
    GroupFramer framer;
    std::string bits;
    std::vector<Group> groups;
    uint64_t delivered = 0;
    uint64_t leaked = 0;  // groups too weak to be RDS2 (see kLeakToPilot)
    Stream(int n, double rate) : number(n), demodulator(rate, kRds2CarrierHz[n]) {}
};

int Rds2Receiver::Carried(double sampleRate)
{
    int n = 0;
    for (int s = 1; s <= 3; ++s)
        if (RdsDemodulator::CarriesSubcarrier(sampleRate, kRds2CarrierHz[s])) n = s;
    return n;
}

Rds2Receiver::Rds2Receiver(double sampleRate) : rate_(sampleRate)
{
    for (int s = 1; s <= Carried(sampleRate); ++s) streams_.push_back(std::make_unique<Stream>(s, sampleRate));
}

Rds2Receiver::~Rds2Receiver() = default;

void Rds2Receiver::deliver(Stream& s)
{
    s.framer.push(s.bits, s.groups);
    s.bits.clear();
    if (s.groups.empty()) return;
    const SignalReport r = s.demodulator.report();
    if (r.pilotPresent && r.rdsLevel < kLeakToPilot * r.pilotLevel) {
        s.leaked += s.groups.size();
        s.groups.clear();
        return;
    }
    for (const Group& g : s.groups) {
        ++s.delivered;
        if (handler_) handler_(s.number, g);
    }
    s.groups.clear();
}

void Rds2Receiver::push(const float* samples, std::size_t count)
{
    for (auto& s : streams_) {
        s->demodulator.push(samples, count, s->bits);
        deliver(*s);
    }
    const uint64_t before = samples_;
    samples_ += count;
    if (dropAfter_ > 0 && before < dropAfter_ && samples_ >= dropAfter_)
        streams_.erase(
            std::remove_if(streams_.begin(), streams_.end(), [](const auto& s) { return s->delivered == 0; }),
            streams_.end());
}

void Rds2Receiver::finish()
{
    for (auto& s : streams_) {
        s->demodulator.finish(s->bits);
        deliver(*s);
    }
}

std::vector<Rds2Receiver::StreamReport> Rds2Receiver::report() const
{
    std::vector<StreamReport> out;
    for (const auto& s : streams_) {
        StreamReport r;
        r.stream = s->number;
        r.groups = s->delivered;
        r.blocksChecked = s->framer.blocksChecked();
        r.blocksFailed = s->framer.blocksFailed();
        r.signal = s->demodulator.report();
        out.push_back(r);
    }
    return out;
}

}  // namespace varnak::radio
