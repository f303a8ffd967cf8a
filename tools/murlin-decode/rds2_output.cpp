#include "rds2_output.h"

#include <cerrno>
#include <cstring>

#include "json_text.h"
#include "output_file.h"

namespace murlindecode {

std::string ReceivedFileName(const rdsformats::RftReceivedFile& file)
{
    char name[64];
    if (file.aid == rdsformats::kRftLogoAid)
        std::snprintf(name, sizeof name, "logo-v%d-%d.%s", file.version, file.fileId, file.extension().c_str());
    else
        std::snprintf(name, sizeof name, "rft%d-%04X-v%d-%d.%s", file.pipe, file.aid, file.version, file.fileId,
                      file.extension().c_str());
    return name;
}

void Rds2Output::write(const std::string& text)
{
    if (!json_ || failed()) return;
    if (std::fwrite(text.data(), 1, text.size(), json_) != text.size())
        error_ = std::string("cannot write the JSON output: ") + std::strerror(errno ? errno : EIO);
}

void Rds2Output::onGroup(int stream, const varnak::radio::Rds2Receiver::Group& words)
{
    const rdsformats::TypeCGroup group{words};
    if (json_) {
        line_.clear();
        rdsformats::AppendTypeCJson(line_, stream, group);
        line_ += '\n';
        write(line_);
    }
    if (!rft_.feed(group)) return;
    for (const rdsformats::RftReceivedFile& file : rft_.takeFiles()) {
        ++files_;
        std::string saved;
        if (!saveDir_.empty()) {
            save(file);
            if (!failed()) saved = saved_.back();
        }
        if (json_) {
            line_ = "{\"stream\":" + std::to_string(stream) +
                    ",\"rftFileReceived\":{\"pipe\":" + std::to_string(file.pipe) + ",\"aid\":\"";
            char aid[8];
            std::snprintf(aid, sizeof aid, "%04X", file.aid);
            line_ += aid;
            line_ += "\",\"version\":" + std::to_string(file.version) + ",\"id\":" + std::to_string(file.fileId) +
                     ",\"size\":" + std::to_string(file.bytes.size()) + ",\"crcOk\":true";
            if (!saved.empty()) {
                line_ += ",\"savedAs\":";
                rdsformats::AppendUtf8JsonString(line_, saved);
            }
            line_ += "}}\n";
            write(line_);
        }
    }
}

void Rds2Output::save(const rdsformats::RftReceivedFile& file)
{
    const std::string path = saveDir_ + "/" + ReceivedFileName(file);
    varnak::OutputFile out;
    if (!out.create(path)) {
        error_ = out.error();
        return;
    }
    if (std::fwrite(file.bytes.data(), 1, file.bytes.size(), out.stream()) != file.bytes.size()) {
        (void)out.commit();
        error_ = out.error().empty() ? "cannot write " + path : out.error();
        return;
    }
    if (!out.commit()) {
        error_ = out.error();
        return;
    }
    saved_.push_back(path);
}

std::string Rds2Output::summary(const std::vector<varnak::radio::Rds2Receiver::StreamReport>& streams) const
{
    std::string text = "  RDS2:";
    if (streams.empty()) return text + " the sample rate carries no extra stream (160 kHz carries all three)\n";
    for (const auto& s : streams) {
        char part[96];
        std::snprintf(part, sizeof part, " stream %d %llu groups%s;", s.stream,
                      static_cast<unsigned long long>(s.groups), s.groups == 0 ? " (none found)" : "");
        text += part;
    }
    text += " files " + std::to_string(files_) + "\n";
    for (const auto& p : rft_.progress()) {
        if (p.complete) continue;
        char line[200];
        if (p.size == 0)
            std::snprintf(line, sizeof line,
                          "  RDS2 file on pipe %d: %u segments, its size and CRC never announced: not taken\n", p.pipe,
                          p.segmentsHave);
        else
            std::snprintf(line, sizeof line, "  RDS2 file on pipe %d (%04X): %u of %u segments%s%s: not taken\n",
                          p.pipe, p.aid, p.segmentsHave, p.segmentsNeed, p.crcSent ? "" : ", no CRC sent",
                          p.crcFailures > 0 ? ", the CRC failed" : "");
        text += line;
    }
    for (const std::string& path : saved_) text += "  saved: " + path + "\n";
    return text;
}

}  // namespace murlindecode
