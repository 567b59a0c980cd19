// The containers as the command line names them: the words of an option,
// the extensions of a file name, and what a program says when a container
// cannot hold a disk.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "rbf/container.h"
#include "rbf/container_write.h"

namespace dv {

// The container a word names: "raw", "jvc", "vdk", "dmk" or "imd".
std::optional<rbf::container_kind> container_named(std::string_view word);

// The container a file name's extension asks for, letter case aside: .jvc,
// .vdk, .dmk and .imd.  None for any other: a .dsk is raw as often as JVC,
// and is made raw.
std::optional<rbf::container_kind> container_of_name(std::string_view file);

// "raw", "JVC", "VDK", "DMK", "ImageDisk".
const char* container_title(rbf::container_kind kind);

// What keeps the container from holding the disk, as a message says it:
// "a DMK track holds 1 to 47 sectors of 256 bytes, not 60".
std::string fit_problem(rbf::container_kind kind, const rbf::container_fit& fit);

// An ImageDisk is read, never made.
inline constexpr const char* NO_IMD_WRITING = "writing ImageDisk is not supported: convert to raw, jvc, vdk or dmk";

}  // namespace dv
