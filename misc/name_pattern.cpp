#include "misc/name_pattern.h"

#include <cstddef>

namespace dv {

namespace {

constexpr std::size_t NONE = std::string_view::npos;

unsigned char lower(unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c; }
unsigned char upper(unsigned char c) { return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 32) : c; }

bool in_range(unsigned char c, unsigned char lo, unsigned char hi) {
    auto within = [&](unsigned char x) { return lo <= x && x <= hi; };
    return within(c) || within(lower(c)) || within(upper(c));
}

// One character of a set at `at` (a backslash makes the next plain); *c gets
// it.  The position after it.
std::size_t set_char(std::string_view p, std::size_t at, unsigned char* c) {
    if (p[at] == '\\' && at + 1 < p.size()) ++at;
    *c = static_cast<unsigned char>(p[at]);
    return at + 1;
}

// The set that opens with '[' at `at`: whether `c` is one of its characters
// (*hit), and the position after its ']'; NONE when no ']' closes it.
std::size_t match_set(std::string_view p, std::size_t at, unsigned char c, bool* hit) {
    std::size_t k = at + 1;
    const bool negated = k < p.size() && (p[k] == '!' || p[k] == '^');
    if (negated) ++k;
    bool found = false;
    for (bool first = true; k < p.size(); first = false) {
        if (p[k] == ']' && !first) {
            *hit = found != negated;
            return k + 1;
        }
        unsigned char lo = 0;
        k = set_char(p, k, &lo);
        unsigned char hi = lo;
        if (k + 1 < p.size() && p[k] == '-' && p[k + 1] != ']') k = set_char(p, k + 1, &hi);
        if (in_range(c, lo, hi)) found = true;
    }
    return NONE;
}

// Whether the pattern's element at `at` (anything but '*') matches `c`; *next
// gets the position after the element.
bool match_one(std::string_view p, std::size_t at, unsigned char c, std::size_t* next) {
    if (p[at] == '?') {
        *next = at + 1;
        return true;
    }
    if (p[at] == '[') {
        bool hit = false;
        if (std::size_t after = match_set(p, at, c, &hit); after != NONE) {
            *next = after;
            return hit;
        }
    }
    if (p[at] == '\\' && at + 1 < p.size()) ++at;
    *next = at + 1;
    return lower(static_cast<unsigned char>(p[at])) == lower(c);
}

}  // namespace

bool has_pattern(std::string_view name) {
    for (std::size_t k = 0; k < name.size(); ++k) {
        if (name[k] == '\\') ++k;
        else if (name[k] == '*' || name[k] == '?' || name[k] == '[') return true;
    }
    return false;
}

std::string unescaped(std::string_view name) {
    std::string out;
    for (std::size_t k = 0; k < name.size(); ++k) {
        if (name[k] == '\\' && k + 1 < name.size()) ++k;
        out += name[k];
    }
    return out;
}

bool name_matches(std::string_view pattern, std::string_view name) {
    std::size_t p = 0, n = 0;
    // The pattern just after the last '*' seen, and where in the name that
    // '*' began to match: a mismatch lets the star take one character more.
    std::size_t star = NONE, star_from = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = ++p;
            star_from = n;
            continue;
        }
        std::size_t next = 0;
        if (p < pattern.size() && match_one(pattern, p, static_cast<unsigned char>(name[n]), &next)) {
            p = next;
            ++n;
            continue;
        }
        if (star == NONE) return false;
        p = star;
        n = ++star_from;
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

}  // namespace dv
