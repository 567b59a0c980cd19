// Pathlists read once (rbf/pathlist.h).
#include "rbf/pathlist.h"

#include <cstdint>
#include <limits>
#include <string_view>

#include "os9path.h"
#include "rbf/internal.h"

namespace rbf {

namespace {

// Pieces between separators, a run of them counting as one.
std::vector<std::string> pieces_of(const std::string& s, char sep) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < s.size()) {
        std::size_t end = s.find(sep, at);
        if (end == std::string::npos) end = s.size();
        if (end > at) out.push_back(s.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

std::string joined(const std::vector<std::string>& names, std::size_t count) {
    std::string s;
    for (std::size_t k = 0; k < count; ++k) s += (k ? "/" : "") + names[k];
    return s;
}


}  // namespace

namespace detail {

// The library's in-image walks split as pathlists are read.
std::vector<std::string> split_pieces(const std::string& s, char sep) { return pieces_of(s, sep); }

}  // namespace detail

std::string pathlist::path() const { return names.empty() ? std::string(".") : joined(names, names.size()); }

std::string pathlist::parent() const { return names.empty() ? std::string() : joined(names, names.size() - 1); }

bool pathlist::names_entry() const {
    const std::string name = last();
    return !host && !raw && !names.empty() && name != "." && name != "..";
}

error_code parse_pathlist(const std::string& text, pathlist* out) {
    *out = pathlist{};
    out->text = text;
    std::size_t from = text.find_first_not_of(':');
    if (from == std::string::npos) return E_BPNAM;
    std::size_t colon = text.find(':', from);
    out->image = text.substr(from, colon == std::string::npos ? std::string::npos : colon - from);
    if (out->image.size() > MAX_PIECE) return E_BPNAM;
    out->raw = text.back() == '@';
    if (colon == std::string::npos) {
        out->host = true;
        return E_SUCCESS;
    }
    std::size_t start = text.find_first_not_of(':', colon);
    if (start != std::string::npos) {
        std::size_t end = text.find(':', start);
        out->in_image = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    }
    if (out->in_image.size() > MAX_PIECE) return E_BPNAM;
    if (std::size_t at = out->image.rfind("@@"); at != std::string::npos) {
        std::uint64_t offset = 0;
        if (!parse_partition_offset(out->image.substr(at + 2), &offset)) return E_BPNAM;
        out->offset = offset;
        out->image.resize(at);
        if (out->image.empty()) return E_BPNAM;
    }
    out->names = pieces_of(out->in_image, '/');
    out->dir_only = !out->in_image.empty() && out->in_image.back() == '/' && !out->names.empty();
    return E_SUCCESS;
}

bool parse_partition_offset(std::string_view text, std::uint64_t* offset) {
    constexpr std::uint64_t most = std::numeric_limits<std::int64_t>::max();
    const bool in_sectors = !text.empty() && text.back() == 's';
    if (in_sectors) text.remove_suffix(1);
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return false;
    std::uint64_t v = 0;
    for (char ch : text) {
        unsigned d = 16;
        if (ch >= '0' && ch <= '9') d = static_cast<unsigned>(ch - '0');
        else if (ch >= 'a' && ch <= 'f') d = static_cast<unsigned>(ch - 'a' + 10);
        else if (ch >= 'A' && ch <= 'F') d = static_cast<unsigned>(ch - 'A' + 10);
        if (d >= base || v > (most - d) / base) return false;
        v = v * base + d;
    }
    if (in_sectors) {
        if (v > most / SECTOR_SIZE) return false;
        v *= SECTOR_SIZE;
    }
    *offset = v;
    return true;
}

}  // namespace rbf
