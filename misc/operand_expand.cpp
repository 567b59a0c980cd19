#include "misc/operand_expand.h"

#include <algorithm>

#include "misc/name_pattern.h"
#include "os9disk.h"
#include "os9path.h"

namespace dv {

using namespace rbf;

namespace {

constexpr std::size_t NONE = std::string::npos;

// Where the last name of the in-image piece lies in `text`, read as
// parse_pathlist reads it (colons before and between the pieces, a third
// piece, '/' at the end); false when the piece names no entry.
bool last_name_at(const std::string& text, std::size_t* begin, std::size_t* end) {
    const std::size_t from = text.find_first_not_of(':');
    const std::size_t colon = from == NONE ? NONE : text.find(':', from);
    const std::size_t start = colon == NONE ? NONE : text.find_first_not_of(':', colon);
    if (start == NONE) return false;
    std::size_t stop = text.find(':', start);
    if (stop == NONE) stop = text.size();
    std::size_t last = stop;
    while (last > start && text[last - 1] == '/') --last;
    if (last == start) return false;
    std::size_t first = text.rfind('/', last - 1);
    first = first == NONE || first < start ? start : first + 1;
    *begin = first;
    *end = last;
    return true;
}

// The operand's last name, when it is one these rules read: an in-image
// path, not raw.
bool last_name_of(const std::string& operand, std::size_t* begin, std::size_t* end) {
    pathlist pl;
    if (parse_pathlist(operand, &pl) != E_SUCCESS || pl.host || pl.raw || pl.names.empty()) return false;
    return last_name_at(operand, begin, end);
}

// A name read back the same from a pathlist: a damaged directory may hold
// one with a separator in it, or one ending in '@' that would read as raw.
bool carried(const std::string& name) {
    return !name.empty() && name.find_first_of("/:") == NONE && name.back() != '@';
}

unsigned char lower(unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c; }

// Names in order without regard to case; names that differ in case alone
// in byte order, so the order is the same on every run.
bool name_before(const std::string& a, const std::string& b) {
    const auto ci = [](char x, char y) {
        return lower(static_cast<unsigned char>(x)) < lower(static_cast<unsigned char>(y));
    };
    if (std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), ci)) return true;
    if (std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(), ci)) return false;
    return a < b;
}

}  // namespace

bool names_by_pattern(const std::string& operand) {
    std::size_t begin = 0, end = 0;
    return last_name_of(operand, &begin, &end) && has_pattern(std::string_view(operand).substr(begin, end - begin));
}

error_code expand_operand(image_table& images, const std::string& operand, bool write,
                          std::vector<named_operand>* out) {
    std::size_t begin = 0, end = 0;
    const std::string last = last_name_of(operand, &begin, &end) ? operand.substr(begin, end - begin) : std::string();
    if (!has_pattern(last)) {
        std::string plain = operand;
        if (last.find('\\') != NONE) plain = operand.substr(0, begin) + unescaped(last) + operand.substr(end);
        out->push_back(named_operand{plain, operand, 0, false});
        return E_SUCCESS;
    }
    endpoint e;
    if (error_code ec = endpoint_of(images, operand, write, &e)) return ec;
    const std::string parent = e.pl.parent();
    os9_path_id dir = nullptr;
    if (error_code ec = _os9_open(&dir, e.image, parent.empty() ? "." : parent, MODE_DIR | MODE_READ)) return ec;
    std::vector<named_operand> found;
    os9_dirent entry;
    error_code ec;
    while ((ec = _os9_readdir(dir, &entry)) == E_SUCCESS) {
        if (entry.name == "." || entry.name == ".." || !carried(entry.name) || !name_matches(last, entry.name)) continue;
        os9_stat st;
        const bool is_dir = _os9_stat_fd(dir, entry.fd_lsn, &st) == E_SUCCESS && st.is_dir;
        if (e.pl.dir_only && !is_dir) continue;
        std::string pathlist = operand.substr(0, begin);
        pathlist += entry.name;
        found.push_back(named_operand{pathlist, pathlist, entry.fd_lsn, is_dir});
    }
    _os9_close(dir);
    if (ec != E_EOF) return ec;
    if (found.empty()) return E_PNNF;
    const std::size_t name_at = begin;
    std::sort(found.begin(), found.end(), [name_at](const named_operand& a, const named_operand& b) {
        return name_before(a.operand.substr(name_at), b.operand.substr(name_at));
    });
    out->insert(out->end(), found.begin(), found.end());
    return E_SUCCESS;
}

}  // namespace dv
