// The tree-wide check of an image, and its repair.  One walk from the root
// reaches every FD once, by FD sector, never by name: each unit gets its
// first owner (LSN 0 and the bitmap, an FD, a segment), every later claim
// is a cross-link, and the bitmap is compared with the ownership at the
// end.  Repairs change only what the walk proved wrong, in the order of
// their safety, and the bitmap is rebuilt last from the final ownership.
#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "os9conv.h"
#include "os9disk.h"
#include "os9path.h"
#include "rbf/internal.h"

namespace rbf {

using namespace detail;

namespace {

constexpr std::int32_t NOBODY = -1;
constexpr std::int32_t SYSTEM = 0;  // LSN 0 is never an FD

struct fd_info {
    std::string place;  // the first pathlist that reached it
    int entries = 0;    // entries naming it (not "." and "..")
    u_char links = 0;
    bool dir = false;
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

    void problem(const std::string& place, std::uint32_t lsn, const std::string& text, bool repaired = false) {
        result.problems.push_back(check_problem{place, lsn, text, repaired});
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

    // The directory's bytes as far as its size and its segments go.
    std::vector<u_char> dir_bytes(const fd_stats& fd) {
        std::vector<u_char> bytes;
        const std::int64_t size = fd_size(fd);
        std::vector<u_char> chunk(64 * 1024);
        for (std::int64_t pos = 0; pos < size;) {
            std::int64_t got = 0;
            const std::int64_t want = std::min<std::int64_t>(static_cast<std::int64_t>(chunk.size()), size - pos);
            if (file_transfer(p, fd, pos, chunk.data(), want, false, false, &got) != E_SUCCESS || got <= 0) break;
            bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + got);
            pos += got;
        }
        return bytes;
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

    struct todo {
        std::uint32_t lsn;
        std::uint32_t parent;
        std::string place;
    };

    void visit_dir(const todo& t, fd_stats& fd) {
        std::vector<u_char> data = dir_bytes(fd);
        if (fd_size(fd) % DIRENT_SIZE != 0)
            problem(t.place, t.lsn, "directory size " + std::to_string(fd_size(fd)) + " is not a multiple of 32");
        // ".." and "." first, naming the parent and the directory itself.
        const fd_dentry want[2] = {entry_for("..", t.parent), entry_for(".", t.lsn)};
        for (int k = 0; k < 2; ++k) {
            const std::size_t off = static_cast<std::size_t>(k) * DIRENT_SIZE;
            bool right = false;
            if (data.size() >= off + DIRENT_SIZE) {
                const auto* have = reinterpret_cast<const fd_dentry*>(data.data() + off);
                right = NameFromField(have->name, NAME_FIELD) == (k ? "." : "..") &&
                        get_be24(have->lsn) == get_be24(want[k].lsn);
            }
            const bool room = std::int64_t{(k + 1) * DIRENT_SIZE} <= fd_size(fd);
            if (!right) {
                problem(t.place, t.lsn, std::string("entry ") + std::to_string(k) + " is not '" + (k ? "." : "..") + "'",
                        options.repair && room);
                if (options.repair && room) write_dir_bytes(t.lsn, fd, static_cast<std::int64_t>(off), &want[k], DIRENT_SIZE);
            }
        }
        for (std::size_t off = 2 * DIRENT_SIZE; off + DIRENT_SIZE <= data.size(); off += DIRENT_SIZE) {
            const auto* e = reinterpret_cast<const fd_dentry*>(data.data() + off);
            if (e->name[0] == 0) continue;
            const std::string name = NameFromField(e->name, NAME_FIELD);
            const std::string place = child_place(t.place, name_valid(name) ? name : "?");
            const std::uint32_t child = get_be24(e->lsn);
            auto clear_entry = [&](const std::string& why) {
                problem(place, child, why + (options.repair ? "; the entry is cleared" : ""), options.repair);
                if (options.repair) {
                    const u_char zero = 0;
                    write_dir_bytes(t.lsn, fd, static_cast<std::int64_t>(off), &zero, 1);
                }
            };
            if (!name_valid(name)) problem(place, child, "the name is not one a pathlist can hold");
            fd_stats cfd;
            if (name == "." || name == ".." || child == p.geo.root_fd) {
                clear_entry("an entry leads back to the root or names '.' or '..' again");
                continue;
            }
            if (!units_sane(p, child, 1) || fd_load(p, child, cfd) != E_SUCCESS) {
                clear_entry("the entry's FD " + std::to_string(child) + " lies outside the disk");
                continue;
            }
            auto it = fds.find(child);
            if (it != fds.end()) {
                if (it->second.dir) {
                    clear_entry("a second entry for the directory " + it->second.place);
                    continue;
                }
                ++it->second.entries;  // a hard link; counted against fd_lnk below
                continue;
            }
            if (owner[child] != NOBODY) {
                // Which of the two is right cannot be told: reported, left.
                problem(place, child, "the FD lies inside " + owner_name(owner[child]));
                continue;
            }
            fd_info info{place, 1, cfd.fd_lnk, (cfd.fd_att & ATT_DIR) != 0};
            fds.emplace(child, info);
            stack.push_back(todo{child, t.lsn, place});
        }
    }

    std::vector<todo> stack;

    // A plain file whose second entry is "." naming itself was a directory.
    bool looks_like_directory(std::uint32_t lsn, const fd_stats& fd) {
        if (fd_size(fd) < 2 * DIRENT_SIZE) return false;
        fd_dentry e[2];
        std::int64_t got = 0;
        if (file_transfer(p, fd, 0, reinterpret_cast<u_char*>(e), sizeof e, false, false, &got) != E_SUCCESS ||
            got < static_cast<std::int64_t>(sizeof e))
            return false;
        return NameFromField(e[1].name, NAME_FIELD) == "." && get_be24(e[1].lsn) == lsn &&
               NameFromField(e[0].name, NAME_FIELD) == "..";
    }

    void walk() {
        const std::uint32_t root = p.geo.root_fd;
        fds.emplace(root, fd_info{"/", 1, 1, true});
        stack.push_back(todo{root, root, "/"});
        while (!stack.empty()) {
            const todo t = stack.back();
            stack.pop_back();
            fd_stats fd;
            if (fd_load(p, t.lsn, fd) != E_SUCCESS) {
                problem(t.place, t.lsn, "the FD cannot be read");
                continue;
            }
            const bool dir = (fd.fd_att & ATT_DIR) != 0;
            if (options.visit) options.visit(t.place, t.lsn, dir);
            dir ? ++result.directories : ++result.files;
            bool fd_dirty = false;
            claim(t.place, t.lsn, fd, &fd_dirty);
            if (fd_dirty) store(t.lsn, fd);
            if (dir) visit_dir(t, fd);
            else if (t.lsn == root) problem(t.place, t.lsn, "the root is not a directory");
            else if (looks_like_directory(t.lsn, fd)) problem(t.place, t.lsn, "a directory without its directory bit");
        }
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

    // The bitmap against the ownership, cluster by cluster: a cluster is in
    // use when a sector of it is owned, or when it is not wholly on the disk.
    void check_bitmap() {
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
                problem(owner_name(who), static_cast<std::uint32_t>(b * c),
                        "cluster " + std::to_string(b) + " is in use but marked free", options.repair);
            }
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
};

}  // namespace

error_code _os9_check(const image_ref& image, const check_options& options, check_result* result) {
    *result = check_result{};
    os9_path_id p = nullptr;
    // A raw path: the root is looked at, not trusted to be a directory.
    if (error_code ec = open_on_image(&p, image, "@", options.repair ? MODE_READ | MODE_WRITE : MODE_READ, true))
        return ec;
    walker w{*p, options, *result, {}, {}, false, {}};
    w.owner.assign(disk_units(*p), NOBODY);
    for (std::int64_t u = 0; u < static_cast<std::int64_t>(p->geo.first_data_unit()) && u < disk_units(*p); ++u)
        w.owner[static_cast<std::size_t>(u)] = SYSTEM;
    w.walk();
    w.check_links();
    w.check_bitmap();
    p->bitmap_loaded = false;  // the raw copy is not written back: the check wrote what it meant to
    _os9_close(p);
    if (w.changed) image_forget(*image);
    return E_SUCCESS;
}

}  // namespace rbf
