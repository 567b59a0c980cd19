// Operands that name several entries of an image at once by a shell
// pattern (misc/name_pattern.h) in the last name of the in-image path:
// "d.dsk:CMDS/*", "d.dsk:TMP/*.o".  Only that name is read so: earlier names
// are names as written, host paths are the shell's to expand, and raw
// pathlists ('@' last) are never read for patterns.  A backslash in the last
// name makes the character after it plain: "d.dsk:A\*B" is the file "A*B".
// An operand holding neither is left as it is, and nothing is opened for it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "misc/endpoint.h"

namespace dv {

// One pathlist an operand stands for.
struct named_operand {
    std::string operand;       // the pathlist to act on
    std::string shown;         // how messages name it: as the user wrote it, or a match's pathlist
    std::uint32_t fd_lsn = 0;  // a match's FD sector (0 for an operand that is no pattern)
    bool dir = false;          // a match that is a directory
};

// Whether the last name of `operand`'s in-image path is a pattern.
bool names_by_pattern(const std::string& operand);

// Appends to *out the pathlists `operand` stands for: the operand itself;
// with a backslash in its last name, the operand with that name made plain;
// for a pattern, each entry of its directory that matches ("." and ".."
// never, and no name a pathlist could not carry back), sorted by name
// without regard to case, directories only when the operand ends in '/'.
// For a pattern the image is opened into `images` (for writing with `write`)
// and stays held there.  0; 216 for a pattern that matches nothing, else the
// error of opening the image or reading the directory.
error_code expand_operand(image_table& images, const std::string& operand, bool write,
                          std::vector<named_operand>* out);

}  // namespace dv
