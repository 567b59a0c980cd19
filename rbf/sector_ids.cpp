// Sectors found on tracks put in LSN order by their IDs.
#include <algorithm>

#include "rbf/track_devices.h"

namespace rbf {

container_refusal place_sectors(std::vector<sector_id> ids, unsigned cylinders, unsigned sides, const std::string& kind,
                                std::vector<std::size_t>* lsn_of) {
    lsn_of->clear();
    if (ids.empty()) return {};
    unsigned low = 255, high = 0;
    for (const sector_id& s : ids) {
        if (s.c >= cylinders || s.h >= sides)
            return {E_BTYP, "a damaged " + kind + " image: sector " + std::to_string(s.c) + "/" + std::to_string(s.h) +
                                "/" + std::to_string(s.r) + " lies beyond its cylinders or sides"};
        low = std::min(low, s.r);
        high = std::max(high, s.r);
    }
    const std::size_t per_track = high - low + 1;
    lsn_of->assign(std::size_t{cylinders} * sides * per_track, 0);
    for (const sector_id& s : ids) {
        std::size_t& slot = (*lsn_of)[(std::size_t{s.c} * sides + s.h) * per_track + (s.r - low)];
        if (slot != 0)
            return {E_BTYP, "a damaged " + kind + " image: sector " + std::to_string(s.c) + "/" + std::to_string(s.h) +
                                "/" + std::to_string(s.r) + " appears twice"};
        slot = s.index + 1;
    }
    // Cylinders past the last one any sector names are not part of the disk.
    while (!lsn_of->empty() && lsn_of->back() == 0) lsn_of->pop_back();
    return {};
}

}  // namespace rbf
