#include "rft.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "json_text.h"
#include "oda_names.h"
#include "rds_encoder.h"

namespace rdsformats {

namespace {

constexpr int kFidData = 0, kFidOda = 1, kFidAssign = 2;

uint32_t SegmentsFor(uint32_t size) { return uint32_t((size + kRftSegmentBytes - 1) / kRftSegmentBytes); }

// The chunk length of a CRC mode for a file of `size` bytes; 0 for the whole file.
uint32_t ChunkBytes(int mode, uint32_t size)
{
    if (mode == 0) return 0;
    if (mode == 7) mode = size <= 40960 ? 1 : size <= 81920 ? 2 : 3;
    return uint32_t(kRftSegmentBytes * (8u << unsigned(mode)));
}

bool ValidMode(int mode) { return mode <= 5 || mode == 7; }

void AppendHex(std::string& out, unsigned value, int digits)
{
    char text[16];
    std::snprintf(text, sizeof text, "\"%0*X\"", digits, value);
    out += text;
}

void AppendField(std::string& out, const char* name, long long value)
{
    out += ",\"";
    out += name;
    out += "\":";
    out += std::to_string(value);
}

TypeCGroup AssignmentGroup(int pipe, uint16_t aid, uint16_t c, uint16_t d)
{
    return {{uint16_t((kFidAssign << 14) | (0 << 8) | (0 << 6) | pipe), aid, c, d}};
}

}  // namespace

uint16_t RftCrc16(const uint8_t* data, std::size_t size)
{
    uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= uint16_t(data[i] << 8);
        for (int b = 0; b < 8; ++b) crc = (crc & 0x8000) ? uint16_t((crc << 1) ^ 0x1021) : uint16_t(crc << 1);
    }
    return uint16_t(crc ^ 0xFFFF);
}

std::vector<std::vector<TypeCGroup>> RftGroupCycle(const RftSendFile& file, int streams, int announceEvery)
{
    if (file.bytes.empty()) throw std::invalid_argument("the file is empty");
    if (file.bytes.size() > kRftMaxFileBytes)
        throw std::invalid_argument("the file has " + std::to_string(file.bytes.size()) +
                                    " bytes; RDS file transfer carries at most " + std::to_string(kRftMaxFileBytes));
    if (file.pipe < 0 || file.pipe >= kRftPipes || file.version < 0 || file.version > 7 || file.fileId < 0 ||
        file.fileId > 63)
        throw std::invalid_argument("RFT pipe, version or file id out of range");
    if (streams < 1 || streams > 3 || announceEvery < 2) throw std::invalid_argument("1 to 3 streams");

    const auto size = uint32_t(file.bytes.size());
    const uint16_t info = uint16_t((0 << 12) | (1 << 11) | (file.version << 8) | (file.fileId << 2) | (size >> 16));
    const TypeCGroup fileGroup = AssignmentGroup(file.pipe, file.aid, info, uint16_t(size & 0xFFFF));
    const uint16_t crc = RftCrc16(file.bytes.data(), file.bytes.size());
    const TypeCGroup crcGroup = AssignmentGroup(file.pipe, file.aid, uint16_t(1 << 12), crc);

    std::vector<std::vector<TypeCGroup>> out(static_cast<std::size_t>(streams));
    const uint32_t segments = SegmentsFor(size);
    auto byteAt = [&](std::size_t i) { return i < file.bytes.size() ? file.bytes[i] : uint8_t(0); };
    for (uint32_t s = 0; s < segments; ++s) {
        std::vector<TypeCGroup>& list = out[s % uint32_t(streams)];
        // The announcements first and then every announceEvery groups.
        if (list.size() % std::size_t(announceEvery) == 0) {
            list.push_back(fileGroup);
            list.push_back(crcGroup);
        }
        const std::size_t at = std::size_t(s) * kRftSegmentBytes;
        TypeCGroup g;
        g.words[0] = uint16_t((kFidData << 14) | ((0x20 | file.pipe) << 8) | (file.toggle ? 0x80 : 0) | (s >> 8));
        g.words[1] = uint16_t(((s & 0xFF) << 8) | byteAt(at));
        g.words[2] = uint16_t((byteAt(at + 1) << 8) | byteAt(at + 2));
        g.words[3] = uint16_t((byteAt(at + 3) << 8) | byteAt(at + 4));
        list.push_back(g);
    }
    // A stream the file is too short for still says what is sent.
    for (auto& list : out)
        if (list.empty()) list = {fileGroup, crcGroup};
    return out;
}

std::string TypeCGroupBits(const std::vector<TypeCGroup>& groups, std::size_t length)
{
    std::string bits;
    if (groups.empty()) return bits;
    bits.reserve(length + 104);
    for (std::size_t g = 0; bits.size() < length; g = (g + 1) % groups.size()) {
        const auto& w = groups[g].words;
        rdsenc::AppendBlock(bits, w[0], rdsenc::Block::A);
        rdsenc::AppendBlock(bits, w[1], rdsenc::Block::B);
        rdsenc::AppendBlock(bits, w[2], rdsenc::Block::C);
        rdsenc::AppendBlock(bits, w[3], rdsenc::Block::D);
    }
    bits.resize(length);
    return bits;
}

TypeCInfo ReadTypeC(const TypeCGroup& group)
{
    const auto& w = group.words;
    TypeCInfo i;
    i.fid = w[0] >> 14;
    i.fn = (w[0] >> 8) & 0x3F;
    if (i.fid == kFidData && i.fn == 0) {
        i.kind = TypeCInfo::Kind::Tunnelled;
    } else if (i.fid == kFidData && (i.fn & 0x30) == 0x20) {
        i.kind = TypeCInfo::Kind::RftData;
        i.pipe = i.fn & 0x0F;
        i.toggle = (w[0] & 0x80) != 0;
        i.segment = (uint32_t(w[0] & 0x7F) << 8) | (w[1] >> 8);
    } else if (i.fid == kFidOda) {
        i.kind = TypeCInfo::Kind::OdaData;
        i.channel = i.fn;
    } else if (i.fid == kFidAssign && i.fn == 0 && ((w[0] >> 6) & 3) == 0) {
        i.kind = TypeCInfo::Kind::Assignment;
        i.channel = w[0] & 0x3F;
        i.aid = w[1];
        if (i.channel < kRftPipes) {
            i.pipe = i.channel;
            i.variant = w[2] >> 12;
            if (i.variant == 0) {
                i.crcFlag = (w[2] & 0x0800) != 0;
                i.version = (w[2] >> 8) & 7;
                i.fileId = (w[2] >> 2) & 0x3F;
                i.size = (uint32_t(w[2] & 3) << 16) | w[3];
            } else if (i.variant == 1) {
                i.crcMode = (w[2] >> 9) & 7;
                i.chunk = w[2] & 0x1FF;
                i.crc = w[3];
            }
        }
    }
    return i;
}

void AppendTypeCJson(std::string& out, int stream, const TypeCGroup& group)
{
    const TypeCInfo i = ReadTypeC(group);
    out += "{\"stream\":" + std::to_string(stream) + ",\"group\":\"C\"";
    switch (i.kind) {
        case TypeCInfo::Kind::RftData:
            out += ",\"rft\":{\"pipe\":" + std::to_string(i.pipe);
            AppendField(out, "toggle", i.toggle ? 1 : 0);
            AppendField(out, "segment", i.segment);
            out += '}';
            break;
        case TypeCInfo::Kind::Assignment: {
            out += ",\"oda\":{\"channel\":" + std::to_string(i.channel) + ",\"aid\":";
            AppendHex(out, i.aid, 4);
            if (const char* name = OdaName(i.aid)) {
                out += ",\"name\":";
                AppendUtf8JsonString(out, name);
            }
            out += '}';
            if (i.variant == 0) {
                out += ",\"rftFile\":{\"pipe\":" + std::to_string(i.pipe);
                AppendField(out, "version", i.version);
                AppendField(out, "id", i.fileId);
                AppendField(out, "size", i.size);
                out += std::string(",\"crc\":") + (i.crcFlag ? "true" : "false") + '}';
            } else if (i.variant == 1) {
                out += ",\"rftCrc\":{\"pipe\":" + std::to_string(i.pipe);
                AppendField(out, "mode", i.crcMode);
                AppendField(out, "chunk", i.chunk);
                out += ",\"crc\":";
                AppendHex(out, i.crc, 4);
                out += '}';
            }
            break;
        }
        default:
            out += ",\"fid\":" + std::to_string(i.fid);
            AppendField(out, "fn", i.fn);
            if (i.kind == TypeCInfo::Kind::Tunnelled) out += ",\"tunnelled\":true";
            break;
    }
    out += ",\"blocks\":[";
    for (int n = 0; n < 4; ++n) {
        if (n) out += ',';
        AppendHex(out, group.words[std::size_t(n)], 4);
    }
    out += "]}";
}

std::string RftReceivedFile::extension() const
{
    const auto& b = bytes;
    if (b.size() >= 8 && b[0] == 0x89 && b[1] == 'P' && b[2] == 'N' && b[3] == 'G') return "png";
    if (b.size() >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) return "jpg";
    if (b.size() >= 6 && b[0] == 'G' && b[1] == 'I' && b[2] == 'F') return "gif";
    return "bin";
}

void RftReceiver::clearContent(Pipe& p)
{
    std::fill(p.have.begin(), p.have.end(), false);
    p.haveCount = 0;
    p.crcs.clear();
    p.crcMode = -1;
    p.fileCrc.reset();
    p.handedOn = false;
}

bool RftReceiver::feed(const TypeCGroup& group)
{
    const TypeCInfo i = ReadTypeC(group);
    if (i.pipe < 0) return false;
    Pipe& p = pipes_[std::size_t(i.pipe)];
    if (i.kind == TypeCInfo::Kind::Assignment) {
        // Another application on the pipe: what came for the last one goes.
        // Data that came before any assignment is kept.
        if (p.aid != 0 && p.aid != i.aid) {
            clearContent(p);
            p.haveInfo = false;
        }
        p.aid = i.aid;
        if (i.variant == 0) {
            if (i.size == 0 || i.size > kRftMaxFileBytes) return false;
            // Another file, or the same one changed: start again.
            if (p.haveInfo && (i.size != p.size || i.version != p.version || i.fileId != p.fileId)) clearContent(p);
            p.haveInfo = true;
            p.crcFlag = i.crcFlag;
            p.version = i.version;
            p.fileId = i.fileId;
            p.size = i.size;
        } else if (i.variant == 1 && ValidMode(i.crcMode)) {
            if (i.crcMode == 0) {
                p.fileCrc = i.crc;
            } else {
                if (p.crcMode != i.crcMode) p.crcs.clear();
                p.crcMode = i.crcMode;
                p.crcs[i.chunk] = i.crc;
            }
        } else {
            return false;
        }
        return tryComplete(i.pipe);
    }
    // RFT data.
    if (p.toggle && *p.toggle != i.toggle) clearContent(p);  // the content changed
    p.toggle = i.toggle;
    if (p.data.empty()) {
        p.data.assign(kRftMaxFileBytes, 0);
        p.have.assign(kRftMaxSegments, false);
    }
    const std::size_t at = std::size_t(i.segment) * kRftSegmentBytes;
    const auto& w = group.words;
    const uint8_t bytes[kRftSegmentBytes] = {uint8_t(w[1] & 0xFF), uint8_t(w[2] >> 8), uint8_t(w[2] & 0xFF),
                                             uint8_t(w[3] >> 8), uint8_t(w[3] & 0xFF)};
    std::copy(bytes, bytes + kRftSegmentBytes, p.data.begin() + std::ptrdiff_t(at));
    if (!p.have[i.segment]) {
        p.have[i.segment] = true;
        ++p.haveCount;
    }
    return tryComplete(i.pipe);
}

bool RftReceiver::tryComplete(int index)
{
    Pipe& p = pipes_[std::size_t(index)];
    if (!p.haveInfo || !p.crcFlag || p.handedOn || p.data.empty()) return false;
    const uint32_t need = SegmentsFor(p.size);
    if (p.haveCount < need) return false;  // the count alone says so, without a look at every segment
    for (uint32_t s = 0; s < need; ++s)
        if (!p.have[s]) return false;
    const uint8_t* data = p.data.data();
    bool ok = false;
    if (p.fileCrc) {
        ok = RftCrc16(data, p.size) == *p.fileCrc;
        if (!ok) clearContent(p);
    } else if (p.crcMode > 0) {
        const uint32_t chunk = ChunkBytes(p.crcMode, p.size);
        const uint32_t chunks = (p.size + chunk - 1) / chunk;
        for (uint32_t c = 0; c < chunks; ++c)
            if (!p.crcs.count(int(c))) return false;  // wait for every chunk's CRC
        ok = true;
        for (uint32_t c = 0; c < chunks; ++c) {
            const uint32_t from = c * chunk, length = std::min(chunk, p.size - from);
            if (RftCrc16(data + from, length) == p.crcs[int(c)]) continue;
            ok = false;
            // Gather the chunk's segments again.
            for (uint32_t s = from / kRftSegmentBytes; s < SegmentsFor(from + length); ++s)
                if (p.have[s]) {
                    p.have[s] = false;
                    --p.haveCount;
                }
        }
    } else {
        return false;  // the CRC has not come yet
    }
    if (!ok) {
        ++p.failures;
        return false;
    }
    p.handedOn = true;
    RftReceivedFile f;
    f.pipe = index;
    f.aid = p.aid;
    f.version = p.version;
    f.fileId = p.fileId;
    f.bytes.assign(data, data + p.size);
    done_.push_back(std::move(f));
    return true;
}

std::vector<RftReceivedFile> RftReceiver::takeFiles()
{
    std::vector<RftReceivedFile> out;
    out.swap(done_);
    return out;
}

std::vector<RftReceiver::Progress> RftReceiver::progress() const
{
    std::vector<Progress> out;
    for (int n = 0; n < kRftPipes; ++n) {
        const Pipe& p = pipes_[std::size_t(n)];
        if (!p.haveInfo && p.data.empty()) continue;
        Progress g;
        g.pipe = n;
        g.aid = p.aid;
        g.size = p.haveInfo ? p.size : 0;
        g.segmentsNeed = SegmentsFor(g.size);
        if (g.size == 0)
            g.segmentsHave = p.haveCount;
        else
            for (uint32_t s = 0; s < g.segmentsNeed && !p.have.empty(); ++s) g.segmentsHave += p.have[s] ? 1 : 0;
        g.crcSent = p.crcFlag;
        g.crcFailures = p.failures;
        g.complete = p.handedOn;
        out.push_back(g);
    }
    return out;
}

}  // namespace rdsformats
