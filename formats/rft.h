// RDS2's extra data streams (the subcarriers at 66.5, 71.25 and 76 kHz)
// carry type C groups, and on them the RDS file transfer (RFT) that brings a
// station's logo. This is both sides of it without any signal processing:
// the groups that send a file, and the receiver that reads type C groups,
// gathers a file's segments and hands the file on only once its size and
// CRC check.
//
// A type C group is four 16-bit words with no programme identification. The
// first byte of block 1 is the function header: two bits FID, six bits FN.
//   FID 0, FN 0        an A or B group tunnelled through the stream
//   FID 0, FN 10pppp   RFT data on pipe p: block 1 bit 7 the toggle bit,
//                      bits 6..0 and block 2 bits 15..8 the 15-bit segment
//                      address, then five bytes of the file (block 2's low
//                      byte, blocks 3 and 4)
//   FID 1, FN n        seven bytes of a type C open data application, channel n
//   FID 2, FN 0        assignment of an application (AID, block 2) to a
//                      channel (block 1 bits 5..0; bits 7..6 the method, 0 here);
//                      for a pipe (channels 0..15) block 3 bits 15..12 say
//                      what blocks 3 and 4 hold:
//                        0 the file: bit 11 CRC sent, 10..8 version,
//                          7..2 file id, 1..0 and block 4 its size in bytes
//                        1 a CRC-16: bits 11..9 mode, 8..0 chunk address,
//                          block 4 the CRC (mode 0: of the whole file; 1..5:
//                          of chunks of 5 x 8 x 2^mode bytes; 7: the mode
//                          chosen by the file's size)
// A file is at most 2^15 segments of five bytes (163 840 bytes). The CRC is
// CRC-16/CCITT (polynomial 0x1021, start 0xFFFF, result inverted).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace rdsformats {

// The application identification of the station logo sent by RFT.
constexpr uint16_t kRftLogoAid = 0xFF7F;
constexpr std::size_t kRftSegmentBytes = 5;
constexpr std::size_t kRftMaxSegments = std::size_t(1) << 15;
constexpr std::size_t kRftMaxFileBytes = kRftMaxSegments * kRftSegmentBytes;
constexpr int kRftPipes = 16;

struct TypeCGroup {
    std::array<uint16_t, 4> words{};
};

// CRC-16/CCITT as RFT uses it.
uint16_t RftCrc16(const uint8_t* data, std::size_t size);

// A file to send on an RFT pipe.
struct RftSendFile {
    std::vector<uint8_t> bytes;  // at most kRftMaxFileBytes
    uint16_t aid = kRftLogoAid;
    int pipe = 0;     // 0..15
    int version = 0;  // 0..7
    int fileId = 0;   // 0..63
    bool toggle = false;
};

// One cycle of type C groups that sends `file` on `streams` data streams (1
// to 3): every segment once, spread over the streams in turn, with the
// assignment (file size and version) and the CRC of the whole file repeated
// on every stream every `announceEvery` groups. Throws std::invalid_argument
// for a file that is empty or too large or a pipe, version or id out of range.
std::vector<std::vector<TypeCGroup>> RftGroupCycle(const RftSendFile& file, int streams, int announceEvery = 16);

// The bit text ('0'/'1') of `groups` sent over and over, cut to `length`
// bits: the four blocks with offsets A, B, C and D.
std::string TypeCGroupBits(const std::vector<TypeCGroup>& groups, std::size_t length);

// What one type C group said, for the JSON of the group.
struct TypeCInfo {
    int fid = 0, fn = 0;
    enum class Kind { Tunnelled, RftData, OdaData, Assignment, Other } kind = Kind::Other;
    int pipe = -1;  // RFT data and pipe assignments
    bool toggle = false;
    uint32_t segment = 0;
    int channel = -1;  // assignment: the channel; ODA data: FN
    uint16_t aid = 0;
    int variant = -1;  // assignment of a pipe: 0 file, 1 CRC, else other
    bool crcFlag = false;
    int version = 0, fileId = 0;
    uint32_t size = 0;
    int crcMode = 0, chunk = 0;
    uint16_t crc = 0;
};

TypeCInfo ReadTypeC(const TypeCGroup& group);

// Appends the JSON object of a type C group received on `stream` (1..3):
// {"stream":1,"group":"C", ...} with what the group carries.
void AppendTypeCJson(std::string& out, int stream, const TypeCGroup& group);

// A file received whole, its size and CRC checked.
struct RftReceivedFile {
    int pipe = 0;
    uint16_t aid = 0;
    int version = 0, fileId = 0;
    std::vector<uint8_t> bytes;
    // "png", "jpg", "gif" by the file's first bytes, else "bin".
    std::string extension() const;
};

// Gathers files from the type C groups of all streams (a pipe's segments may
// come on any of them). A file is handed on (once per version and content)
// when its announced size is reached and its CRC (the whole file's, or every
// chunk's) matches; a file whose CRC fails has the failing segments dropped
// and is gathered again. A file sent without CRC is never handed on: nothing
// would tell a corrupted one from a good one. Memory: up to 160 kB per pipe
// in use.
class RftReceiver {
public:
    // Feeds one type C group; true when it completed a file (then in takeFiles()).
    bool feed(const TypeCGroup& group);
    std::vector<RftReceivedFile> takeFiles();

    struct Progress {
        int pipe = 0;
        uint16_t aid = 0;
        uint32_t size = 0;          // announced, 0 before
        uint32_t segmentsHave = 0;  // received of those the size needs (all received before it is known)
        uint32_t segmentsNeed = 0;
        bool crcSent = false;
        int crcFailures = 0;    // completions whose CRC did not match
        bool complete = false;  // handed on, size and CRC checked
    };
    // The pipes that have received something.
    std::vector<Progress> progress() const;

private:
    struct Pipe {
        uint16_t aid = 0;
        bool haveInfo = false;
        bool crcFlag = false;
        int version = -1, fileId = 0;
        uint32_t size = 0;
        std::optional<bool> toggle;
        std::vector<uint8_t> data;
        std::vector<bool> have;
        uint32_t haveCount = 0;
        int crcMode = -1;  // of the chunk CRCs received, -1 none
        std::map<int, uint16_t> crcs;
        std::optional<uint16_t> fileCrc;
        bool handedOn = false;
        int failures = 0;
    };
    void clearContent(Pipe& p);
    bool tryComplete(int index);

    std::array<Pipe, kRftPipes> pipes_;
    std::vector<RftReceivedFile> done_;
};

}  // namespace rdsformats
