// Which file claims which unit.  Every FD reachable from the root claims its
// own unit and the units of its segments.  The claims are gathered by one
// walk of the tree when a writer first frees units, then kept current by
// the writes of this process (which holds the image alone while it writes),
// so that a unit that two files claim is never freed by deleting one of
// them, and no system unit is ever freed.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "os9path.h"

namespace rbf {

struct unit_claims {
    std::vector<u_char> count;    // claims on each unit; 255 means many and stays
    std::vector<bool> counted;    // per unit: true when an FD there is counted
};

namespace detail {

using unit_run = std::pair<std::int64_t, std::int64_t>;  // first unit, count

// The runs `fd` (the FD at `lsn`) claims: its own unit and each segment that
// lies on the disk above the system units.
std::vector<unit_run> claimed_runs(const _pd& p, std::int64_t lsn, const fd_stats& fd);

// The FD at `lsn` was written: from now on it claims what `now` says, no
// longer what `was` said (null: it was not counted before).
void claims_note_fd(_pd& p, std::int64_t lsn, const fd_stats* was, const fd_stats& now);

// True when the FD at `lsn` is counted in the claims.
bool claims_count_fd(const _pd& p, std::int64_t lsn);

// The FD at `lsn` is going: it claims nothing any more.
void claims_drop_fd(_pd& p, std::int64_t lsn);

// The claims of the image, gathered by one walk of the tree when this
// process knows none yet.  The path must be on an image.
const unit_claims& known_claims(_pd& p);

// Clears in the allocation map every unit of `runs` that no file still
// claims and that is no system unit; returns how many units were kept
// because a file still claims them.
std::int64_t give_unclaimed(_pd& p, const std::vector<unit_run>& runs);

}  // namespace detail
}  // namespace rbf
