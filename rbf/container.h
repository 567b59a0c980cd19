// The containers an RBF disk comes in.  A raw image holds LSN 0 at byte 0
// and the sectors in LSN order; the others wrap the same sectors in a
// header (JVC, VDK), an offset inside a larger file (a partition), or whole
// tracks with sector IDs (DMK, ImageDisk).
#pragma once

#include <cstdint>

namespace rbf {

enum class container_kind : std::uint8_t { raw, jvc, vdk, dmk, imd };

}  // namespace rbf
