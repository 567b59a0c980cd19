#include "misc/container_names.h"

#include <array>
#include <utility>

namespace dv {

namespace {

using rbf::container_kind;

constexpr std::array<std::pair<std::string_view, container_kind>, 5> WORDS = {{
    {"raw", container_kind::raw},
    {"jvc", container_kind::jvc},
    {"vdk", container_kind::vdk},
    {"dmk", container_kind::dmk},
    {"imd", container_kind::imd},
}};

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::optional<container_kind> container_named(std::string_view word) {
    for (const auto& [name, kind] : WORDS)
        if (word == name) return kind;
    return std::nullopt;
}

std::optional<container_kind> container_of_name(std::string_view file) {
    const std::string_view base = file.substr(file.rfind('/') + 1);
    const std::size_t dot = base.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return std::nullopt;
    std::string ext;
    for (char c : base.substr(dot + 1)) ext += lower(c);
    if (ext == "raw") return std::nullopt;
    return container_named(ext);
}

const char* container_title(container_kind kind) {
    switch (kind) {
        case container_kind::raw: return "raw";
        case container_kind::jvc: return "JVC";
        case container_kind::vdk: return "VDK";
        case container_kind::dmk: return "DMK";
        case container_kind::imd: return "ImageDisk";
    }
    return "raw";
}

std::string fit_problem(container_kind kind, const rbf::container_fit& fit) {
    using fault = rbf::container_fit::fault;
    const std::string a = std::string("a ") + container_title(kind);
    const std::string found = std::to_string(fit.found), limit = std::to_string(fit.limit);
    switch (fit.what) {
        case fault::none: return "";
        case fault::not_written: return NO_IMD_WRITING;
        case fault::sides: return a + " image holds 1 or 2 sides, not " + found;
        case fault::sectors_per_track:
            if (kind == container_kind::vdk) return a + " image holds " + limit + " sectors per track, not " + found;
            if (kind == container_kind::dmk) return a + " track holds 1 to " + limit + " sectors of 256 bytes, not " + found;
            return a + " image holds 1 to " + limit + " sectors per track, not " + found;
        case fault::cylinders: return a + " image holds at most " + limit + " cylinders, not " + found;
        case fault::too_short: return "the disk needs " + limit + " cylinders, not " + found;
        case fault::short_track0:
            return a + " image needs whole tracks: track 0 of this disk holds " + found + " sectors, the others " + limit;
    }
    return "";
}

}  // namespace dv
