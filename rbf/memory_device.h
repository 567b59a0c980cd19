// A disk held in memory: the device of the tests and the fuzz targets, with
// the faults a host disk can show (a write refused after so many, a write
// past a point refused), so that tests can see how calls report writes that
// did not happen.  Not used by the programs.
#pragma once

#include <cstdint>
#include <vector>

#include "os9disk.h"

namespace rbf {

// An image of these bytes in memory, writable; writes past the end grow it.
image_ref image_in_memory(std::vector<u_char> bytes);

// From now on a memory image takes `count` more writes, then refuses every
// write, as a host disk that fails (EIO) or fills up (ENOSPC) would, with
// `host_errno` (negative count: no limit).
void image_limit_writes(os9_image& image, long count, int host_errno = 5);

// From now on a memory image refuses, with `host_errno`, every write that
// reaches past byte `limit` (as a full host disk refuses writes into the
// holes of a sparse image, or a file-size limit does), and takes the others.
void image_refuse_beyond(os9_image& image, std::uint64_t limit, int host_errno);

// Reads of exactly one sector the memory image was asked for so far (an FD
// is read so; directories and data in larger pieces): for tests of what an
// operation costs.
std::uint64_t image_sector_reads(os9_image& image);

}  // namespace rbf
