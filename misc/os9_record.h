// What OS-9 keeps of a file beside its bytes and its modification date
// (attributes, owner, creation date), and the text it travels as in a host
// file's extended attributes: user.os9.attr holds the eight letters dvls
// shows ("--e--e-r"), user.os9.owner the owner in decimal ("0" to
// "65535"), user.os9.created the creation date as YYYY-MM-DD.  A value
// read back that is not exactly such a text is no value: host files are
// anyone's to write.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "os9disk.h"

namespace dv {

struct os9_record {
    std::optional<rbf::u_char> attributes;            // fd_att as the FD holds it
    std::optional<std::uint16_t> owner;               // fd_own
    std::optional<std::array<rbf::u_char, 3>> created;  // fd_creat: year - 1900, month, day

    bool empty() const { return !attributes && !owner && !created; }
};

inline constexpr const char* XATTR_ATTR = "user.os9.attr";
inline constexpr const char* XATTR_OWNER = "user.os9.owner";
inline constexpr const char* XATTR_CREATED = "user.os9.created";

// The record of a file on a disk; a creation date no clock can show
// (rbf::OS9TimeIsPossible) is left out.
os9_record record_of(const rbf::os9_stat& st);

// The record's parts that are there, as (name, text) pairs in the order
// attr, owner, created.
std::vector<std::pair<std::string, std::string>> record_texts(const os9_record& r);

// Reads the text of the extended attribute `name` into the record: false,
// the record untouched, for a name not of the three or a text that is not
// exactly one of their forms (eight places each '-' or its own letter of
// "dsewrewr"; one to five digits up to 65535; a date of years 1900 to 2155,
// months 1 to 12, days 1 to 31).
bool read_record_text(std::string_view name, std::string_view text, os9_record* r);

}  // namespace dv
