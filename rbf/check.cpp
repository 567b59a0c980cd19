// The tree-wide check of an image, and its repair.  One walk from the root
// reaches every FD once, by FD sector, never by name: each unit gets its
// first owner (LSN 0 and the bitmap, an FD, a segment), every later claim
// is a cross-link, and the bitmap is compared with the ownership at the
// end.  Repairs change only what the walk proved wrong, in the order of
// their safety, and the bitmap is rebuilt last from the final ownership.
#include <algorithm>
#include <cstring>
#include <set>
#include <unordered_map>
#include <vector>

#include "os9conv.h"
#include "os9disk.h"
#include "os9path.h"
#include "rbf/directory.h"

namespace rbf {

using namespace detail;

namespace {

constexpr std::int32_t NOBODY = -1;
constexpr std::int32_t SYSTEM = 0;  // LSN 0 is never an FD
constexpr std::int32_t BOOT = -2;   // a boot area: owned by no file, never leaked

// The CoCo kernel track: track 34, side 0, its first bytes "OS".
constexpr std::int64_t KERNEL_TRACK = 34;
constexpr std::int64_t KERNEL_SECTORS = 18;

struct fd_info {
    std::string place;  // the first pathlist that reached it
    int entries = 0;    // entries naming it (not "." and "..")
    u_char links = 0;
    bool dir = false;
    std::uint32_t first_data = 0;  // its first segment's LSN
    std::uint32_t size = 0;
    bool one_run = false;          // the first segment holds all its bytes
};

// A name as a pathlist can hold it: the letters of a new name, or at least
// printable bytes without separators.
bool name_valid(const std::string& name) {
    if (name.empty() || name.size() > NAME_FIELD) return false;
    for (unsigned char c : name)
        if (c <= ' ' || c >= 0x7F || c == '/' || c == ':' || c == '@') return false;
    return true;
}

std::string child_place(const std::string& parent, const std::string& name) {
    return parent == "/" ? "/" + name : parent + "/" + name;
}

struct walker {
    _pd& p;
    const check_options& options;
    check_result& result;
    std::vector<std::int32_t> owner;  // per sector: NOBODY, SYSTEM or the FD's LSN
    std::unordered_map<std::uint32_t, fd_info> fds;
    bool changed = false;

    void problem(const std::string& place, std::uint32_t lsn, const std::string& text, bool repaired = false,
                 std::uint32_t count = 1) {
        result.problems.push_back(check_problem{place, lsn, text, repaired, count});
        if (repaired) {
            ++result.repaired;
            changed = true;
        }
    }

    std::string owner_name(std::int64_t who) const {
        if (who == SYSTEM) return "LSN 0 and the bitmap";
        auto it = fds.find(static_cast<std::uint32_t>(who));
        return it == fds.end() ? "FD " + std::to_string(who) : it->second.place;
    }

    // Claims the units of an FD; a unit someone owns already is a cross-link:
    // with repair, the list is cut before the first shared segment.
    void claim(const std::string& place, std::uint32_t lsn, fd_stats& fd, bool* fd_dirty) {
        owner[lsn] = static_cast<std::int32_t>(lsn);
        bool ended = false;
        std::int64_t allocated = 0;
        for (int k = 0; k < SEGMENT_COUNT; ++k) {
            const std::int64_t first = get_be24(fd.fd_seg[k].lsn);
            const std::int64_t count = get_be16(fd.fd_seg[k].num);
            if (first == 0) {
                ended = true;
                continue;
            }
            if (ended) {
                problem(place, lsn, "segment " + std::to_string(k) + " comes after the end of the list", options.repair);
                if (options.repair) cut_list(fd, k, fd_dirty);
                break;
            }
            if (!units_sane(p, first, count)) {
                problem(place, lsn, "segment " + std::to_string(k) + " (units " + std::to_string(first) + ".." +
                                        std::to_string(first + count - 1) + ") lies outside the disk or on LSN 0 and the bitmap",
                        options.repair);
                if (options.repair) cut_list(fd, k, fd_dirty);
                break;
            }
            std::int64_t shared = -1;
            for (std::int64_t u = first; u < first + count && shared < 0; ++u)
                if (owner[static_cast<std::size_t>(u)] != NOBODY) shared = u;
            if (shared >= 0) {
                problem(place, lsn, "unit " + std::to_string(shared) + " is also part of " +
                                        owner_name(owner[static_cast<std::size_t>(shared)]) +
                                        (options.repair ? "; the file is cut before it" : ""),
                        options.repair);
                if (options.repair) {
                    cut_list(fd, k, fd_dirty);
                    break;
                }
            }
            for (std::int64_t u = first; u < first + count; ++u)
                if (owner[static_cast<std::size_t>(u)] == NOBODY)
                    owner[static_cast<std::size_t>(u)] = static_cast<std::int32_t>(lsn);
            allocated += count * unit_bytes(p);
        }
        if (options.repair) {
            allocated = 0;
            const segment_list list = segments_of(p, fd);
            for (int k = 0; k < list.count; ++k) allocated += list.seg[k].units * unit_bytes(p);
        }
        const std::int64_t size = fd_size(fd);
        if (size > allocated) {
            problem(place, lsn, "size " + std::to_string(size) + " lies beyond its allocation of " +
                                    std::to_string(allocated) + " bytes",
                    options.repair);
            if (options.repair) {
                put_be32(fd.fd_siz, static_cast<std::uint32_t>(allocated));
                *fd_dirty = true;
            }
        }
    }

    void cut_list(fd_stats& fd, int from, bool* fd_dirty) {
        for (int k = from; k < SEGMENT_COUNT; ++k) {
            put_be24(fd.fd_seg[k].lsn, 0);
            put_be16(fd.fd_seg[k].num, 0);
        }
        *fd_dirty = true;
    }

    void write_dir_bytes(std::uint32_t lsn, const fd_stats& fd, std::int64_t pos, const void* bytes, std::int64_t n) {
        std::int64_t done = 0;
        p.pl_fd_lsn = static_cast<int>(lsn);
        file_transfer(p, fd, pos, static_cast<u_char*>(const_cast<void*>(bytes)), n, true, false, &done);
    }

    void store(std::uint32_t lsn, const fd_stats& fd) {
        p.pl_fd_lsn = static_cast<int>(lsn);  // the root's own FD is written as the root's
        fd_store(p, lsn, fd);
    }

    // The pathlists that first reached each FD the walk goes to, by the
    // walk's tag.
    std::vector<std::string> places;
    fd_stats dir_fd{};  // the directory whose entries are read, as repaired
    std::set<std::int64_t> boot_free;  // first sectors of boot clusters marked free

    // A size of whole entries, then ".." and "." first, naming the parent
    // and the directory itself.  A repair cuts the size to whole entries:
    // the bytes of a part entry are no entry that anything reads.
    void check_dots(const walk_node& t, const std::string& place, fd_stats& fd) {
        if (const std::int64_t size = fd_size(fd); size % DIRENT_SIZE != 0) {
            const std::int64_t whole = size / DIRENT_SIZE * DIRENT_SIZE;
            problem(place, t.lsn,
                    "directory size " + std::to_string(size) + " is not a multiple of 32" +
                        (options.repair ? "; cut to " + std::to_string(whole) : ""),
                    options.repair);
            if (options.repair) {
                put_be32(fd.fd_siz, static_cast<std::uint32_t>(whole));
                store(t.lsn, fd);
                if (auto it = fds.find(t.lsn); it != fds.end()) it->second.size = static_cast<std::uint32_t>(whole);
            }
        }
        fd_dentry have[2];
        const int read = dir_read_first(p, fd, have, 2);
        const fd_dentry want[2] = {entry_for("..", t.parent), entry_for(".", t.lsn)};
        for (int k = 0; k < 2; ++k) {
            const bool right = k < read && NameFromField(have[k].name, NAME_FIELD) == (k ? "." : "..") &&
                               get_be24(have[k].lsn) == get_be24(want[k].lsn);
            const bool room = std::int64_t{(k + 1) * DIRENT_SIZE} <= fd_size(fd);
            if (!right) {
                problem(place, t.lsn, std::string("entry ") + std::to_string(k) + " is not '" + (k ? "." : "..") + "'",
                        options.repair && room);
                if (options.repair && room) write_dir_bytes(t.lsn, fd, std::int64_t{k} * DIRENT_SIZE, &want[k], DIRENT_SIZE);
            }
        }
    }

    // An FD taken up by the walk: its units claimed, a directory's ".." and
    // "." checked before its entries are read.
    walk_next enter(const walk_node& t, fd_stats& fd) {
        const std::string place = places[t.tag];
        const std::uint32_t root = p.geo.root_fd;
        if (fd_load(p, t.lsn, fd) != E_SUCCESS) {
            problem(place, t.lsn, "the FD cannot be read");
            return walk_next::skip;
        }
        const bool dir = (fd.fd_att & ATT_DIR) != 0;
        if (options.visit) options.visit(place, t.lsn, dir);
        dir ? ++result.directories : ++result.files;
        bool fd_dirty = false;
        claim(place, t.lsn, fd, &fd_dirty);
        if (fd_dirty) store(t.lsn, fd);
        if (auto it = fds.find(t.lsn); it != fds.end()) {
            it->second.first_data = get_be24(fd.fd_seg[0].lsn);
            it->second.size = static_cast<std::uint32_t>(fd_size(fd));
            it->second.one_run = in_one_run(fd);
        }
        if (dir) {
            check_dots(t, place, fd);
            dir_fd = fd;
            return walk_next::descend;
        }
        if (t.lsn == root) problem(place, t.lsn, "the root is not a directory");
        else if (looks_like_directory(t.lsn, fd)) problem(place, t.lsn, "a directory without its directory bit");
        return walk_next::skip;
    }

    // An entry of the directory `t` past its ".." and "."; `seen`: its FD
    // was reached before.
    walk_next entry(const walk_node& t, const fd_dentry& e, std::int64_t off, bool seen, std::size_t* tag) {
        if (off < 2 * DIRENT_SIZE) return walk_next::skip;
        const std::string name = NameFromField(e.name, NAME_FIELD);
        const std::string place = child_place(places[t.tag], name_valid(name) ? name : "?");
        const std::uint32_t child = get_be24(e.lsn);
        auto clear_entry = [&](const std::string& why) {
            problem(place, child, why + (options.repair ? "; the entry is cleared" : ""), options.repair);
            if (options.repair) {
                const u_char zero = 0;
                write_dir_bytes(t.lsn, dir_fd, off, &zero, 1);
            }
            return walk_next::skip;
        };
        if (!name_valid(name)) problem(place, child, "the name is not one a pathlist can hold");
        fd_stats cfd;
        if (name == "." || name == ".." || child == p.geo.root_fd)
            return clear_entry("an entry leads back to the root or names '.' or '..' again");
        if (!units_sane(p, child, 1) || fd_load(p, child, cfd) != E_SUCCESS)
            return clear_entry("the entry's FD " + std::to_string(child) + " lies outside the disk");
        if (seen) {
            fd_info& info = fds.at(child);
            if (info.dir) return clear_entry("a second entry for the directory " + info.place);
            ++info.entries;  // a hard link; counted against fd_lnk below
            return walk_next::skip;
        }
        if (owner[child] != NOBODY) {
            // Which of the two is right cannot be told: reported, left.
            problem(place, child, "the FD lies inside " + owner_name(owner[child]));
            return walk_next::skip;
        }
        fds.emplace(child, fd_info{place, 1, cfd.fd_lnk, (cfd.fd_att & ATT_DIR) != 0});
        *tag = places.size();
        places.push_back(place);
        return walk_next::descend;
    }

    // A plain file whose second entry is "." naming itself was a directory.
    bool looks_like_directory(std::uint32_t lsn, const fd_stats& fd) {
        fd_dentry e[2];
        if (fd_size(fd) < 2 * DIRENT_SIZE || dir_read_first(p, fd, e, 2) < 2) return false;
        return NameFromField(e[1].name, NAME_FIELD) == "." && get_be24(e[1].lsn) == lsn &&
               NameFromField(e[0].name, NAME_FIELD) == "..";
    }

    // One walk from the root, each FD once, by FD sector.
    void walk() {
        const std::uint32_t root = p.geo.root_fd;
        fds.emplace(root, fd_info{"/", 1, 1, true});
        places.assign(1, "/");
        walk_tree(p, root, 0, [&](const walk_node& t, fd_stats& fd) { return enter(t, fd); },
                  [&](const walk_node& t, const fd_dentry& e, std::int64_t off, bool seen, std::size_t* tag) {
                      return entry(t, e, off, seen, tag);
                  });
    }

    void check_links() {
        for (auto& [lsn, info] : fds) {
            if (lsn == p.geo.root_fd) continue;
            if (info.entries == info.links) continue;
            problem(info.place, lsn,
                    "link count " + std::to_string(info.links) + ", entries " + std::to_string(info.entries),
                    options.repair);
            if (options.repair) {
                fd_stats fd;
                if (fd_load(p, lsn, fd) == E_SUCCESS) {
                    fd.fd_lnk = static_cast<u_char>(std::min(info.entries, 255));
                    store(lsn, fd);
                }
            }
        }
    }

    // Sectors no file owns that are the disk's boot code: those a format
    // reserves between the bitmap and the root's FD (a Dragon disk's), and
    // the CoCo kernel track when it begins with "OS".  They are never leaked.
    void find_boot_areas() {
        const std::int64_t c = p.geo.cluster_sectors;
        const std::int64_t reserved = (static_cast<std::int64_t>(p.geo.bitmap_end_unit()) + c - 1) / c * c;
        const std::int64_t root_cluster = p.geo.root_fd / c * c;
        if (reserved < root_cluster) own_boot(reserved, root_cluster - reserved, false);
        const disk_geometry* geometry = nullptr;
        const u_char* sector0 = nullptr;
        if (volume_geometry(*p.img, &geometry, &sector0) != E_SUCCESS) return;
        const auto* lsn0 = reinterpret_cast<const lsn0_sect*>(sector0);
        const std::int64_t sides = (lsn0->dd_fmt & 1) ? 2 : 1;
        const std::int64_t track = KERNEL_TRACK * sides * lsn0->dd_tks;
        if (lsn0->dd_tks == 0 || track < static_cast<std::int64_t>(p.geo.first_data_unit()) ||
            track + KERNEL_SECTORS > disk_units(p))
            return;
        for (std::int64_t u = track; u < track + KERNEL_SECTORS; ++u)
            if (owner[static_cast<std::size_t>(u)] != NOBODY) return;
        char mark[2] = {};
        if (image_read(*p.img, static_cast<std::uint64_t>(unit_offset(p, track)), mark, 2) != 2 || mark[0] != 'O' ||
            mark[1] != 'S')
            return;
        own_boot(track, KERNEL_SECTORS, true);
    }

    void own_boot(std::int64_t first, std::int64_t count, bool track) {
        for (std::int64_t u = first; u < first + count; ++u)
            if (owner[static_cast<std::size_t>(u)] == NOBODY) owner[static_cast<std::size_t>(u)] = BOOT;
        result.boot_areas.push_back(boot_area{static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(count), track});
    }

    // Clusters in a row that one owner holds and the bitmap marks free: one
    // problem, however many clusters.
    struct free_run {
        std::int32_t who = NOBODY;
        std::int64_t first = -1, last = -2;
    };

    void report_free_run(const free_run& run) {
        if (run.who == NOBODY) return;
        const std::int64_t c = p.geo.cluster_sectors;
        const std::int64_t first = run.first * c;
        const std::int64_t end = std::min<std::int64_t>((run.last + 1) * c, disk_units(p));
        const std::string text = run.first == run.last
                                     ? "cluster " + std::to_string(run.first) + " is in use but marked free"
                                     : "clusters " + std::to_string(run.first) + "-" + std::to_string(run.last) +
                                           " are in use but marked free";
        problem(owner_name(run.who), static_cast<std::uint32_t>(first), text, options.repair,
                static_cast<std::uint32_t>(end - first));
    }

    // The bitmap against the ownership, cluster by cluster: a cluster is in
    // use when a sector of it is owned, or when it is not wholly on the disk.
    void check_bitmap() {
        free_run run;
        std::vector<u_char> bits(p.geo.bitmap_bytes);
        bits.resize(image_read(*p.img, SECTOR_SIZE, bits.data(), bits.size()));
        const std::int64_t total = disk_units(p);
        const std::int64_t c = p.geo.cluster_sectors;
        const auto nbits = static_cast<std::int64_t>(bits.size()) * 8;
        auto used = [&](std::int64_t b) { return (bits[static_cast<std::size_t>(b / 8)] & (0x80 >> (b % 8))) != 0; };
        auto owned_by = [&](std::int64_t b) {
            for (std::int64_t u = b * c; u < std::min((b + 1) * c, total); ++u)
                if (owner[static_cast<std::size_t>(u)] != NOBODY) return owner[static_cast<std::size_t>(u)];
            return NOBODY;
        };
        std::int64_t leaked = 0, first_leak = -1, dangerous = 0, past_free = 0;
        for (std::int64_t b = 0; b < nbits; ++b) {
            const bool whole = (b + 1) * c <= total;
            const std::int32_t who = b * c < total ? owned_by(b) : NOBODY;
            if (b * c < total) used(b) ? ++result.units_used : ++result.units_free;
            if (!whole) {
                if (!used(b) && who == NOBODY) ++past_free;
            } else if (used(b) && who == NOBODY) {
                if (first_leak < 0) first_leak = b;
                ++leaked;
            }
            if (!used(b) && who != NOBODY) {
                ++dangerous;
                if (who == BOOT) boot_free.insert(b * c);
                else if (run.who == who && run.last + 1 == b) run.last = b;
                else {
                    report_free_run(run);
                    run = free_run{who, b, b};
                }
            }
        }
        report_free_run(run);
        for (const boot_area& a : result.boot_areas) {
            const auto in = boot_free.lower_bound(a.first / c * c);
            if (in == boot_free.end() || *in >= a.first + a.count) continue;
            problem("/", a.first, std::string(a.track ? "the kernel track" : "the boot area") + " (LSN " +
                                      std::to_string(a.first) + "-" + std::to_string(a.first + a.count - 1) +
                                      ") is marked free",
                    options.repair, a.count);
        }
        result.leaked = static_cast<std::uint64_t>(leaked);
        if (leaked)
            problem("/", static_cast<std::uint32_t>(first_leak * c),
                    std::to_string(leaked) + " units marked in use belong to nothing (leaked), the first " +
                        std::to_string(first_leak),
                    options.repair);
        if (past_free)
            problem("/", static_cast<std::uint32_t>(total),
                    std::to_string(past_free) + " bits past the end of the disk are not marked in use", options.repair);
        if (!options.repair || (!leaked && !dangerous && !past_free)) return;
        // The bitmap rebuilt from the ownership.
        std::fill(bits.begin(), bits.end(), 0);
        result.units_used = result.units_free = 0;
        for (std::int64_t b = 0; b < nbits; ++b) {
            const bool in_use = (b + 1) * c > total || owned_by(b) != NOBODY;
            if (in_use) bits[static_cast<std::size_t>(b / 8)] |= static_cast<u_char>(0x80 >> (b % 8));
            if (b * c < total) in_use ? ++result.units_used : ++result.units_free;
        }
        image_put(p, SECTOR_SIZE, bits.data(), bits.size());
        result.leaked = 0;
    }

    // dd_bt and dd_bsz name a file: its first data sector and its size, the
    // file in one segment; or with dd_bsz 0, its FD.  A repair points them
    // at the root's OS9Boot when it lies so, else clears them.
    void check_boot_pointer() {
        const boot_pointer b = boot_pointer_in(*p.img);
        if (b.lsn == 0 && b.size == 0) return;
        const fd_info* file = nullptr;
        for (const auto& [lsn, info] : fds)
            if (!info.dir && b.lsn != 0 && (b.size == 0 ? lsn == b.lsn : info.first_data == b.lsn)) file = &info;
        std::string fault;
        if (!file) fault = b.size ? "names no file's first data sector" : "names no file's FD";
        else if (b.size && !file->one_run) fault = "names " + file->place + ", which is not in one segment";
        else if (b.size && b.size != file->size)
            fault = "gives " + std::to_string(b.size) + " bytes, " + file->place + " holds " + std::to_string(file->size);
        if (fault.empty()) {
            result.boot_file = file->place;
            return;
        }
        std::string text = "the boot pointer (dd_bt " + std::to_string(b.lsn) + ", dd_bsz " + std::to_string(b.size) +
                           ") " + fault;
        if (!options.repair) return problem("/", b.lsn, text);
        boot_pointer to;
        const fd_info* boot = nullptr;
        for (const auto& [lsn, info] : fds)
            if (!info.dir && info.place.starts_with('/') && is_boot_name(info.place.substr(1))) boot = &info;
        if (boot && boot->one_run && boot->size > 0 && boot->size <= 0xFFFF) to = boot_pointer{boot->first_data, boot->size};
        if (store_boot_pointer(p, to) != E_SUCCESS) return problem("/", b.lsn, text);
        problem("/", b.lsn, text + (to.boots() ? "; pointed at " + boot->place : "; cleared"), true);
        if (to.boots()) result.boot_file = boot->place;
    }
};

}  // namespace

error_code _os9_check(const image_ref& image, const check_options& options, check_result* result) {
    *result = check_result{};
    os9_path_id p = nullptr;
    // A raw path: the root is looked at, not trusted to be a directory.
    if (error_code ec = open_on_image(&p, image, "@", options.repair ? MODE_READ | MODE_WRITE : MODE_READ, true))
        return ec;
    walker w{*p, options, *result, {}, {}, false, {}, {}, {}};
    w.owner.assign(disk_units(*p), NOBODY);
    for (std::int64_t u = 0; u < static_cast<std::int64_t>(p->geo.bitmap_end_unit()) && u < disk_units(*p); ++u)
        w.owner[static_cast<std::size_t>(u)] = SYSTEM;
    w.walk();
    w.check_links();
    w.find_boot_areas();
    w.check_bitmap();
    w.check_boot_pointer();
    p->bitmap_loaded = false;  // the raw copy is not written back: the check wrote what it meant to
    _os9_close(p);
    if (w.changed) image_forget(*image);
    return E_SUCCESS;
}

}  // namespace rbf
