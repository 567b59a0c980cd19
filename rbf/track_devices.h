// The devices of the containers that keep whole tracks with sector IDs:
// the sectors are found by their IDs when the image is opened.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "rbf/container.h"
#include "rbf/device.h"

namespace rbf {

// DMK: read and written in place, each sector's data checked against its
// CRC on the way in, the CRC rewritten with the data; no growth.
container_refusal dmk_device(std::unique_ptr<device> file, const container_info& info, bool protect,
                             std::unique_ptr<device>* out);

// ImageDisk: read into memory whole; read only.
container_refusal imd_device(std::unique_ptr<device> file, std::unique_ptr<device>* out);

}  // namespace rbf

namespace rbf {

// A sector found on a track: its ID and where its bytes are (`index`, the
// device's own number for it).
struct sector_id {
    unsigned c, h, r;
    std::size_t index;
};

// Puts the sectors in LSN order by their IDs, whatever their place on the
// tracks: LSN = (C * sides + H) * per-track + (R - lowest R).  (*lsn_of)[n]
// is the index + 1 of the sector that holds LSN n, 0 where none does.  A
// refusal for an ID found twice or a head or cylinder beyond the disk.
container_refusal place_sectors(std::vector<sector_id> ids, unsigned cylinders, unsigned sides, const std::string& kind,
                                std::vector<std::size_t>* lsn_of);

}  // namespace rbf
