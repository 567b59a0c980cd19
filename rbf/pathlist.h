// A pathlist read once into what it names: the host file (an image or a
// plain host file) and the names inside the image.  Every call and program
// reads pathlists here, so each form means the same everywhere:
//
//   disk.dsk:DIR/file   the file DIR/file inside the image disk.dsk
//   disk.dsk:           the image's root directory (as disk.dsk:.)
//   disk.dsk:DIR/       DIR, which must be a directory (214 on a file)
//   disk.dsk:.@         the whole image as one byte stream
//   notes.txt           a plain host file (no colon)
//   hd.img@@OFFSET:CMDS  CMDS in the disk at byte OFFSET of hd.img (a
//                        partition): decimal, 0x hex, or N followed by 's'
//                        for N 256-byte sectors
//
// A run of ':' counts as one separator and ':' at the start is ignored; a
// third piece is ignored.  Inside the image a run of '/' counts as one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "os9types.h"

namespace rbf {

struct pathlist {
    std::string text;                // as given
    std::string image;               // the host file: the image, or the host file itself
    std::string in_image;            // the second piece as given ("" for the root)
    std::vector<std::string> names;  // the names inside the image, root first (none: the root)
    std::optional<std::uint64_t> offset;  // "@@OFFSET" after the image: where the disk starts in it
    bool host = false;               // no colon: a plain host file
    bool raw = false;                // ends in '@': the whole image (or '@' in a host name)
    bool dir_only = false;           // the in-image part ends in '/': a directory is meant

    // The image with its offset as the user wrote it ("hd.img@@512"): one
    // name for each volume.
    std::string volume() const { return offset ? image + "@@" + std::to_string(*offset) : image; }

    bool root() const { return !host && names.empty(); }
    // As the path calls on a pathlist read it: nothing after the colon is
    // the host file itself, as it has always been for them (a program that
    // takes a directory reads it as the root instead).
    bool host_file() const { return host || in_image.empty(); }
    // The in-image path the calls take: the names joined by '/', "." for
    // the root.
    std::string path() const;
    // The path of the parent ("" for the root's entries) and the last name.
    std::string parent() const;
    std::string last() const { return names.empty() ? std::string() : names.back(); }
    // An image path that names an entry (not the root, ".", ".." or raw).
    bool names_entry() const;
};

// A partition's offset as a pathlist spells it after "@@": bytes in
// decimal or after "0x" in hexadecimal, either followed by 's' for 256-byte
// sectors instead; at most 2^63 - 1 bytes.  False for anything else.
bool parse_partition_offset(std::string_view text, std::uint64_t* offset);

// Reads `text`: 215 for no piece (empty, or only colons), a piece longer
// than MAX_PIECE (511) characters, or an offset that is not a number that
// fits; else 0 and *out.
error_code parse_pathlist(const std::string& text, pathlist* out);

// Whether the target is fit for a pathlist that ends in '/': 214 when it
// is not a directory, else 0.
inline error_code dir_only_check(const pathlist& pl, bool is_dir) {
    return pl.dir_only && !pl.raw && !is_dir ? 214 : 0;
}

}  // namespace rbf
