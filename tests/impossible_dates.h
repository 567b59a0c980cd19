// Date bytes no clock writes, as damaged and never formatted disks carry
// them (sectors filled with $A5): each case out of range in one field.
// Every program shows them as an unknown date.
#pragma once

#include <string>
#include <vector>

#include "image_builder.h"

namespace dvtest {

struct ImpossibleDate {
    const char* what;
    unsigned char date[5];  // year - 1900, month, day, hour, minute
    const char* created_json;  // the FD's creation date (the first three bytes) in dvls -j
};

inline constexpr ImpossibleDate kImpossibleDates[] = {
    {"month 0", {126, 0, 3, 12, 30}, "null"},          {"month 13", {126, 13, 3, 12, 30}, "null"},
    {"month 165", {126, 165, 3, 12, 30}, "null"},      {"day 0", {126, 3, 0, 12, 30}, "null"},
    {"day 32", {126, 3, 32, 12, 30}, "null"},          {"hour 24", {126, 3, 3, 24, 30}, "\"2026-03-03\""},
    {"hour 45", {126, 3, 3, 45, 30}, "\"2026-03-03\""},  {"minute 60", {126, 3, 3, 12, 60}, "\"2026-03-03\""},
    {"minute 165", {126, 3, 3, 12, 165}, "\"2026-03-03\""}, {"all $A5", {0xA5, 0xA5, 0xA5, 0xA5, 0xA5}, "null"},
};

// A file "F<k>" in the root for each case k, its FD dated with the case's
// bytes (fd_dat, and fd_creat from the first three); their FD sectors.
inline std::vector<int> add_impossibly_dated_files(ImageBuilder& b) {
    std::vector<int> fds;
    for (const ImpossibleDate& d : kImpossibleDates) {
        const int fd = b.add_file(b.root(), "F" + std::to_string(fds.size()), std::string("x"));
        std::copy(d.date, d.date + 5, b.image().begin() + fd * 256 + 3);
        std::copy(d.date, d.date + 3, b.image().begin() + fd * 256 + 13);
        fds.push_back(fd);
    }
    return fds;
}

}  // namespace dvtest
