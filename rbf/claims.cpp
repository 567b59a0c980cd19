#include "rbf/claims.h"

#include <algorithm>
#include <memory>

#include "rbf/directory.h"

namespace rbf::detail {

namespace {

void add_runs(unit_claims& c, const std::vector<unit_run>& runs, int delta) {
    for (const auto& [first, count] : runs)
        for (std::int64_t u = std::max<std::int64_t>(first, 0); u < first + count && u < static_cast<std::int64_t>(c.count.size()); ++u) {
            u_char& n = c.count[static_cast<std::size_t>(u)];
            if (n == 255) continue;  // many: never counted down again
            if (delta > 0) ++n;
            else if (n > 0) --n;
        }
}

// Counts the units of the FD at `lsn` (its own, its sane segments) once.
void count_fd(_pd& p, unit_claims& c, std::uint32_t lsn, const fd_stats& fd) {
    auto add = [&](std::int64_t first, std::int64_t n) {
        for (std::int64_t u = first; u < first + n; ++u)
            if (u_char& k = c.count[static_cast<std::size_t>(u)]; k < 255) ++k;
    };
    c.counted[lsn] = true;
    add(lsn, 1);
    for (int k = 0; k < SEGMENT_COUNT; ++k) {
        const std::int64_t first = get_be24(fd.fd_seg[k].lsn);
        if (first == 0) break;
        const std::int64_t n = get_be16(fd.fd_seg[k].num);
        if (n > 0 && units_sane(p, first, n)) add(first, n);
    }
}

// Every FD reachable from the root, each once, with what it claims: one
// walk, the directories read as far as their size and their segments go,
// an entry pointing off the disk passed over.
std::unique_ptr<unit_claims> gather(_pd& p) {
    auto c = std::make_unique<unit_claims>();
    c->count.assign(disk_units(p), 0);
    c->counted.assign(disk_units(p), false);
    walk_tree(p, p.geo.root_fd, 0, [&](const walk_node& node, fd_stats& fd) {
        if (!units_sane(p, node.lsn, 1) || fd_load(p, node.lsn, fd) != E_SUCCESS) return walk_next::skip;
        count_fd(p, *c, node.lsn, fd);
        return (fd.fd_att & ATT_DIR) ? walk_next::descend : walk_next::skip;
    }, [&](const walk_node&, const fd_dentry& e, std::int64_t, bool, std::size_t*) {
        return units_sane(p, get_be24(e.lsn), 1) ? walk_next::descend : walk_next::skip;
    });
    return c;
}

}  // namespace

std::vector<unit_run> claimed_runs(const _pd& p, std::int64_t lsn, const fd_stats& fd) {
    std::vector<unit_run> runs;
    if (units_sane(p, lsn, 1)) runs.emplace_back(lsn, 1);
    const segment_list list = segments_of(p, fd);
    for (int k = 0; k < list.count; ++k) {
        const segment& s = list.seg[k];
        if (s.units > 0 && units_sane(p, s.lsn, s.units)) runs.emplace_back(s.lsn, s.units);
    }
    return runs;
}

bool claims_count_fd(const _pd& p, std::int64_t lsn) {
    return p.img && p.img->claims && lsn >= 0 && static_cast<std::size_t>(lsn) < p.img->claims->counted.size() &&
           p.img->claims->counted[static_cast<std::size_t>(lsn)];
}

void claims_note_fd(_pd& p, std::int64_t lsn, const fd_stats* was_fd, const fd_stats& fd) {
    if (!p.img || !p.img->claims || lsn < 0 || static_cast<std::size_t>(lsn) >= p.img->claims->counted.size()) return;
    unit_claims& c = *p.img->claims;
    const std::vector<unit_run> was = was_fd ? claimed_runs(p, lsn, *was_fd) : std::vector<unit_run>{};
    const std::vector<unit_run> now = claimed_runs(p, lsn, fd);
    // Most writes of an FD change its size or date, or lengthen its last
    // segment: only the units whose claim changes are counted again, so a
    // growing directory costs the units it gains, not all it holds.
    std::vector<unit_run> gone;
    std::vector<unit_run> added;
    for (std::size_t k = 0; k < std::max(was.size(), now.size()); ++k) {
        if (k < was.size() && k < now.size() && was[k].first == now[k].first) {
            const auto [first, old_count] = was[k];
            const std::int64_t new_count = now[k].second;
            if (new_count > old_count) added.emplace_back(first + old_count, new_count - old_count);
            if (new_count < old_count) gone.emplace_back(first + new_count, old_count - new_count);
            continue;
        }
        if (k < was.size()) gone.push_back(was[k]);
        if (k < now.size()) added.push_back(now[k]);
    }
    add_runs(c, gone, -1);
    add_runs(c, added, +1);
    c.counted[static_cast<std::size_t>(lsn)] = true;
}

void claims_drop_fd(_pd& p, std::int64_t lsn) {
    if (!claims_count_fd(p, lsn)) return;
    unit_claims& c = *p.img->claims;
    // The FD on the disk still says what it claims: it is counted from it.
    fd_stats fd;
    if (fd_load(p, lsn, fd) == E_SUCCESS) add_runs(c, claimed_runs(p, lsn, fd), -1);
    c.counted[static_cast<std::size_t>(lsn)] = false;
}

const unit_claims& known_claims(_pd& p) {
    if (!p.img->claims) p.img->claims = gather(p);
    return *p.img->claims;
}

std::int64_t give_unclaimed(_pd& p, const std::vector<unit_run>& runs) {
    if (!p.img) return 0;
    // Units this process took itself (a file it just made or trimmed) go
    // back as they came: nobody else can claim them, and the tree is not
    // walked to learn it.
    if (!p.img->claims &&
        std::all_of(runs.begin(), runs.end(), [&](const unit_run& r) { return r.second <= 0 || all_taken(p, r.first, r.second); })) {
        for (const auto& [first, count] : runs) give_units(p, first, count);
        return 0;
    }
    if (!p.img->claims) p.img->claims = gather(p);
    const unit_claims& c = *p.img->claims;
    const auto total = static_cast<std::int64_t>(c.count.size());
    const std::int64_t cs = p.geo.cluster_sectors;
    auto claimed = [&](std::int64_t u) { return u >= 0 && u < total && c.count[static_cast<std::size_t>(u)] > 0; };
    std::int64_t kept = 0;
    for (const auto& [first, count] : runs) {
        for (std::int64_t u = first; u < first + count; ++u)
            if (claimed(u)) ++kept;
        // A cluster goes only when none of its sectors is claimed.
        for (std::int64_t b = first / cs; count > 0 && b <= (first + count - 1) / cs; ++b) {
            bool free = true;
            for (std::int64_t u = b * cs; u < (b + 1) * cs && free; ++u) free = !claimed(u);
            if (free) give_units(p, b * cs, cs);
        }
    }
    return kept;
}

}  // namespace rbf::detail
