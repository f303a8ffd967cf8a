#include "tmc_locations.h"

#include <dirent.h>

#include <charconv>
#include <fstream>
#include <string_view>
#include <vector>

#include "rds_charset.h"

namespace rdsformats {
namespace {

// The file `name` (".DAT" in any case) in `folder`, or "" when absent.
std::string FindFile(const std::string& folder, const std::string& name)
{
    std::string found;
    DIR* d = opendir(folder.c_str());
    if (!d) return found;
    while (const dirent* e = readdir(d)) {
        std::string n = e->d_name;
        std::string upper = n;
        for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
        if (upper == name + ".DAT" || upper == name + ".TXT" || upper == name) {
            found = folder + "/" + n;
            break;
        }
    }
    closedir(d);
    return found;
}

// Text in UTF-8 as it is, else read as Latin-1.
std::string ToUtf8(std::string_view text)
{
    for (std::size_t pos = 0; pos < text.size();) {
        if (NextUtf8(text, pos) < 0) {
            std::string out;
            for (const char c : text) AppendUtf8(out, static_cast<unsigned char>(c));
            return out;
        }
    }
    return std::string(text);
}

std::vector<std::string> Split(const std::string& line)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = line.find(';', start);
        std::string f = line.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (f.size() >= 2 && f.front() == '"' && f.back() == '"') f = f.substr(1, f.size() - 2);
        fields.push_back(f);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return fields;
}

// One table file: its rows as maps from column name to value.
class TableFile {
public:
    bool read(const std::string& folder, const std::string& name, bool required, std::string& error)
    {
        path_ = FindFile(folder, name);
        if (path_.empty()) {
            if (required) error = folder + ": no " + name + ".DAT in the location table";
            return !required;
        }
        std::ifstream in(path_, std::ios::binary);
        if (!in) {
            error = path_ + ": cannot be read";
            return false;
        }
        std::string line;
        int number = 0;
        while (std::getline(in, line)) {
            ++number;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (number == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
            if (line.empty()) continue;
            std::vector<std::string> fields = Split(line);
            if (header_.empty()) {
                header_ = fields;
                continue;
            }
            if (fields.size() != header_.size()) {
                error = path_ + ":" + std::to_string(number) + ": " + std::to_string(fields.size()) +
                        " fields where the header names " + std::to_string(header_.size());
                return false;
            }
            rows_.push_back(std::move(fields));
            lines_.push_back(number);
        }
        return true;
    }
    std::size_t rows() const { return rows_.size(); }
    // The column `name` of row `r`, "" when the file has no such column.
    const std::string& field(std::size_t r, const std::string& name) const
    {
        static const std::string kNone;
        for (std::size_t i = 0; i < header_.size(); ++i)
            if (header_[i] == name) return rows_[r][i];
        return kNone;
    }
    // A number column (empty is 0); false with `error` set when malformed.
    bool number(std::size_t r, const std::string& name, uint32_t& out, std::string& error) const
    {
        const std::string& text = field(r, name);
        out = 0;
        if (text.empty()) return true;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
        if (ec == std::errc{} && end == text.data() + text.size()) return true;
        error = path_ + ":" + std::to_string(lines_[r]) + ": " + name + " '" + text + "' is not a number";
        return false;
    }
    bool hasColumn(const std::string& name) const
    {
        for (const std::string& h : header_)
            if (h == name) return true;
        return false;
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::vector<std::string> header_;
    std::vector<std::vector<std::string>> rows_;
    std::vector<int> lines_;
};

}  // namespace

std::string TmcPlaceText(const TmcPlace& place, bool negative)
{
    std::string road = place.roadNumber;
    if (!place.roadName.empty()) road += (road.empty() ? "" : " ") + place.roadName;
    std::string out = road.empty() ? place.name : road + ": " + place.name;
    out += negative ? ", negative direction" : ", positive direction";
    if (!place.extentEnd.empty()) out += ", to " + place.extentEnd;
    return out;
}

std::optional<TmcLocationTable> TmcLocationTable::Load(const std::string& folder, std::string& error)
{
    TableFile codes, names, roads, segments, points, offsets;
    if (!codes.read(folder, "LOCATIONCODES", true, error) || !names.read(folder, "NAMES", true, error) ||
        !roads.read(folder, "ROADS", true, error) || !segments.read(folder, "SEGMENTS", true, error) ||
        !points.read(folder, "POINTS", true, error) || !offsets.read(folder, "OFFSETS", false, error))
        return std::nullopt;
    for (const TableFile* f : {&codes, &roads, &segments, &points}) {
        if (!f->hasColumn("LCD")) {
            error = f->path() + ": the header has no LCD column";
            return std::nullopt;
        }
    }
    TmcLocationTable t;
    for (std::size_t r = 0; r < names.rows(); ++r) {
        uint32_t id = 0;
        if (!names.number(r, "NID", id, error)) return std::nullopt;
        t.names_[id] = ToUtf8(names.field(r, "NAME"));
    }
    // Roads first: segments and points take their number from them.
    for (const TableFile* f : {&roads, &segments, &points}) {
        for (std::size_t r = 0; r < f->rows(); ++r) {
            uint32_t code = 0, n1 = 0, n2 = 0, rn = 0, road = 0;
            if (!f->number(r, "LCD", code, error) || !f->number(r, "N1ID", n1, error) ||
                !f->number(r, "N2ID", n2, error) || !f->number(r, "RNID", rn, error) ||
                !f->number(r, "ROA_LCD", road, error))
                return std::nullopt;
            if (code > 0xFFFF) {
                error = f->path() + ": location code " + std::to_string(code) + " is beyond 65535";
                return std::nullopt;
            }
            Location l;
            l.name1 = n1;
            l.name2 = n2;
            l.roadName = rn;
            l.road = static_cast<uint16_t>(f == &roads ? code : road);
            l.roadNumber = ToUtf8(f->field(r, "ROADNUMBER"));
            t.locations_[static_cast<uint16_t>(code)] = l;
        }
    }
    for (std::size_t r = 0; r < offsets.rows(); ++r) {
        uint32_t code = 0, neg = 0, pos = 0;
        if (!offsets.number(r, "LCD", code, error) || !offsets.number(r, "NEG_OFF_LCD", neg, error) ||
            !offsets.number(r, "POS_OFF_LCD", pos, error))
            return std::nullopt;
        const auto it = t.locations_.find(static_cast<uint16_t>(code));
        if (it == t.locations_.end()) continue;
        it->second.negativeOffset = static_cast<uint16_t>(neg);
        it->second.positiveOffset = static_cast<uint16_t>(pos);
    }
    return t;
}

std::string TmcLocationTable::nameOf(uint32_t id) const
{
    const auto it = names_.find(id);
    return id && it != names_.end() ? it->second : std::string();
}

std::string TmcLocationTable::locationName(const Location& l) const
{
    std::string first = nameOf(l.name1);
    const std::string second = nameOf(l.name2);
    if (second.empty()) return first;
    return first.empty() ? second : first + " - " + second;
}

std::optional<TmcPlace> TmcLocationTable::place(uint16_t code, bool negative, int extent) const
{
    const auto it = locations_.find(code);
    if (it == locations_.end()) return std::nullopt;
    const Location& l = it->second;
    TmcPlace p;
    p.name = locationName(l);
    p.roadNumber = l.roadNumber;
    p.roadName = nameOf(l.roadName);
    if (const auto road = locations_.find(l.road); road != locations_.end()) {
        if (p.roadNumber.empty()) p.roadNumber = road->second.roadNumber;
        if (p.roadName.empty()) p.roadName = nameOf(road->second.roadName);
    }
    // The extent reaches back against the traffic the message concerns:
    // towards the negative offsets for the positive direction.
    const Location* at = &l;
    for (int step = 0; step < extent; ++step) {
        const uint16_t next = negative ? at->positiveOffset : at->negativeOffset;
        const auto n = next ? locations_.find(next) : locations_.end();
        if (n == locations_.end()) {
            at = nullptr;
            break;
        }
        at = &n->second;
    }
    if (extent > 0 && at) p.extentEnd = locationName(*at);
    return p;
}

}  // namespace rdsformats
