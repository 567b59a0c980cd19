#include "rbf/claims.h"

#include <algorithm>
#include <memory>

#include "rbf/directory.h"

namespace rbf::detail {

namespace {

void add_runs(unit_claims& c, std::uint32_t lsn, const std::vector<unit_run>& runs, int delta) {
    for (const auto& [first, count] : runs)
        for (std::int64_t u = first; u < first + count && u < static_cast<std::int64_t>(c.count.size()); ++u) {
            u_char& n = c.count[static_cast<std::size_t>(u)];
            if (n == 255) continue;  // many: never counted down again
            if (delta > 0) ++n;
            else if (n > 0) --n;
        }
    if (delta > 0) {
        auto& kept = c.runs[lsn];
        kept.clear();
        for (const auto& [first, count] : runs)
            kept.emplace_back(static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(count));
    }
}

std::vector<unit_run> known_runs(const unit_claims& c, std::uint32_t lsn) {
    std::vector<unit_run> runs;
    if (auto it = c.runs.find(lsn); it != c.runs.end())
        for (const auto& [first, count] : it->second) runs.emplace_back(first, count);
    return runs;
}

// Every FD reachable from the root, each once, with what it claims.  The
// walk reads each directory as far as its size and its segments go; an
// entry pointing off the disk is passed over.
std::unique_ptr<unit_claims> gather(_pd& p) {
    auto c = std::make_unique<unit_claims>();
    c->count.assign(disk_units(p), 0);
    walk_tree(p, p.geo.root_fd, 0, [&](const walk_node& node, fd_stats& fd) {
        if (fd_load(p, node.lsn, fd) != E_SUCCESS) return walk_next::skip;
        add_runs(*c, node.lsn, claimed_runs(p, node.lsn, fd), +1);
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

void claims_note_fd(_pd& p, std::int64_t lsn, const fd_stats& fd) {
    if (!p.img || !p.img->claims) return;
    unit_claims& c = *p.img->claims;
    const auto key = static_cast<std::uint32_t>(lsn);
    const std::vector<unit_run> was = known_runs(c, key);
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
    add_runs(c, key, gone, -1);
    add_runs(c, key, added, +1);
    auto& kept = c.runs[key];
    kept.clear();
    for (const auto& [first, count] : now) kept.emplace_back(static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(count));
}

void claims_drop_fd(_pd& p, std::int64_t lsn) {
    if (!p.img || !p.img->claims) return;
    unit_claims& c = *p.img->claims;
    const auto key = static_cast<std::uint32_t>(lsn);
    add_runs(c, key, known_runs(c, key), -1);
    c.runs.erase(key);
}

std::int64_t give_unclaimed(_pd& p, const std::vector<unit_run>& runs) {
    if (!p.img) return 0;
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
