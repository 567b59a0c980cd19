// Whether a host file holds an RBF disk: what the programs ask before they
// delete a host file or write over one, so that a forgotten colon does not
// cost a whole image.
#pragma once

#include <string>

namespace rbf {

// True when `name` is a regular file or a block device whose first sector
// decodes as LSN 0 of an RBF disk (decode_geometry accepts it).  False for
// anything else, for a file shorter than a sector, or one that cannot be
// read.  Never waits: a FIFO is not opened.
bool host_file_is_disk_image(const std::string& name);

}  // namespace rbf
