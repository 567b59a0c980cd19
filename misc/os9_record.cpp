#include "misc/os9_record.h"

#include <cstdio>

#include "misc/frame.h"
#include "os9conv.h"

namespace dv {

namespace {

// The number written in `text` with exactly its digits (no sign, no
// spaces), up to `most`.
bool digits(std::string_view text, unsigned most, unsigned* value) {
    if (text.empty() || text.size() > 5) return false;
    unsigned v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<unsigned>(c - '0');
    }
    if (v > most) return false;
    *value = v;
    return true;
}

std::optional<rbf::u_char> attributes_from(std::string_view text) {
    static const char letters[] = "dsewrewr";
    if (text.size() != 8) return std::nullopt;
    rbf::u_char a = 0;
    for (std::size_t k = 0; k < 8; ++k) {
        if (text[k] == letters[k]) a = static_cast<rbf::u_char>(a | (0x80 >> k));
        else if (text[k] != '-') return std::nullopt;
    }
    return a;
}

std::optional<std::array<rbf::u_char, 3>> date_from(std::string_view text) {
    unsigned year = 0, month = 0, day = 0;
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
    if (!digits(text.substr(0, 4), 1900 + 255, &year) || year < 1900 || !digits(text.substr(5, 2), 12, &month) ||
        !digits(text.substr(8, 2), 31, &day))
        return std::nullopt;
    const std::array<rbf::u_char, 3> d = {static_cast<rbf::u_char>(year - 1900), static_cast<rbf::u_char>(month),
                                          static_cast<rbf::u_char>(day)};
    if (!rbf::OS9TimeIsPossible(d.data(), 3)) return std::nullopt;
    return d;
}

}  // namespace

os9_record record_of(const rbf::os9_stat& st) {
    os9_record r;
    r.attributes = st.attributes;
    r.owner = static_cast<std::uint16_t>(st.owner);
    if (rbf::OS9TimeIsPossible(st.created, 3)) r.created = std::array<rbf::u_char, 3>{st.created[0], st.created[1], st.created[2]};
    return r;
}

std::vector<std::pair<std::string, std::string>> record_texts(const os9_record& r) {
    std::vector<std::pair<std::string, std::string>> texts;
    if (r.attributes) texts.emplace_back(XATTR_ATTR, attribute_letters(*r.attributes));
    if (r.owner) texts.emplace_back(XATTR_OWNER, std::to_string(*r.owner));
    if (r.created) {
        char date[16];
        std::snprintf(date, sizeof date, "%04u-%02u-%02u", 1900u + (*r.created)[0], unsigned{(*r.created)[1]},
                      unsigned{(*r.created)[2]});
        texts.emplace_back(XATTR_CREATED, date);
    }
    return texts;
}

bool read_record_text(std::string_view name, std::string_view text, os9_record* r) {
    if (name == XATTR_ATTR) {
        const auto a = attributes_from(text);
        if (a) r->attributes = a;
        return a.has_value();
    }
    if (name == XATTR_OWNER) {
        unsigned owner = 0;
        if (!digits(text, 65535, &owner)) return false;
        r->owner = static_cast<std::uint16_t>(owner);
        return true;
    }
    if (name == XATTR_CREATED) {
        const auto d = date_from(text);
        if (d) r->created = d;
        return d.has_value();
    }
    return false;
}

}  // namespace dv
