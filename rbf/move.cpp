// Moving a file or directory to another name, in its own directory or in
// another one, keeping its FD: only directory entries change (and a moved
// directory's ".." entry), never the file's units.
//
// Order on the disk: the link count raised, the new entry, the old entry
// cleared, the count lowered again, then a moved directory's "..", then a
// replaced file given back.  Killed in between, the file is reachable under
// both names for a moment (with a count that says so), never under none.
#include <algorithm>
#include <cstring>

#include "os9conv.h"
#include "os9disk.h"
#include "rbf/directory.h"

namespace rbf {

using namespace detail;

namespace {

bool dot_name(const std::string& name) { return name == "." || name == ".."; }

struct found_entry {
    std::int64_t pos = -1;  // byte position in the directory; -1: none
    std::uint32_t lsn = 0;
};

// The first live entry named `name` (case ignored) of the open directory.
error_code find_entry(_pd& dir, const std::string& name, found_entry* out) {
    dir_lookup found;
    const error_code ec = dir_find(dir, name, index_use::if_known, &found);
    *out = found_entry{found.pos, found.pos >= 0 ? found.lsn : 0};
    return ec;
}

// True when the directory at `dir` is `ancestor` or lies below it, going up
// through ".." entries to the root; a chain that never reaches the root
// (damage) is an error.
error_code lies_below(_pd& raw, std::uint32_t dir, std::uint32_t ancestor, bool* below) {
    *below = false;
    // A chain longer than the disk has units loops.
    for (std::uint64_t step = 0; step <= raw.geo.total_units; ++step) {
        if (dir == ancestor) {
            *below = true;
            return E_SUCCESS;
        }
        if (dir == raw.geo.root_fd) return E_SUCCESS;
        if (error_code ec = dir_read_parent(raw, dir, &dir)) return ec;
    }
    return E_GENERAL;
}

struct move_state {
    os9_path_id raw = nullptr;   // geometry and FD access
    os9_path_id from = nullptr;  // the source's directory
    os9_path_id to = nullptr;    // the target's directory (may be `from`)
    ~move_state() {
        if (to && to != from) _os9_close(to);
        if (from) _os9_close(from);
        if (raw) _os9_close(raw);
    }
};

// Raises or lowers the link count of the FD at `lsn` by one (kept within
// 1 .. 255).
error_code add_link(_pd& raw, std::uint32_t lsn, int delta) {
    fd_stats fd;
    if (error_code ec = fd_load(raw, lsn, fd)) return ec;
    const int links = std::clamp(fd.fd_lnk + delta, 1, 255);
    if (links == fd.fd_lnk) return E_SUCCESS;
    fd.fd_lnk = static_cast<u_char>(links);
    return fd_store(raw, lsn, fd);
}

}  // namespace

error_code _os9_move(const image_ref& image, const std::string& from, const std::string& to, bool replace) {
    const auto raw_path = [](const std::string& s) { return !s.empty() && s.back() == '@'; };
    if (raw_path(from) || raw_path(to)) return E_BPNAM;
    target src, dst;
    if (error_code ec = target_of(image, from, &src)) return ec;
    if (error_code ec = target_of(image, to, &dst)) return ec;
    if (src.name.empty() || dst.name.empty()) return E_BPNAM;
    if (dot_name(src.name) || dot_name(dst.name)) return E_ILLARG;
    if (dst.name.size() > NAME_FIELD || _os9_ok_filename(dst.name)) return E_BPNAM;

    move_state s;
    if (error_code ec = open_on_image(&s.raw, image, from, MODE_WRITE, true)) return ec;
    if (error_code ec = open_on_image(&s.from, image, src.parent_dot, MODE_DIR | MODE_WRITE, false)) return ec;
    found_entry old;
    if (error_code ec = find_entry(*s.from, src.name, &old)) return ec;
    if (old.pos < 0) return E_PNNF;
    if (error_code ec = open_on_image(&s.to, image, dst.parent_dot, MODE_DIR | MODE_WRITE, false)) return ec;
    const bool same_dir = s.to->pl_fd_lsn == s.from->pl_fd_lsn;
    if (same_dir) {
        _os9_close(s.to);
        s.to = s.from;
    }
    // An entry naming the root (damage) is not moved.
    if (old.lsn == s.raw->geo.root_fd) return E_FNA;
    os9_stat moving;
    if (error_code ec = _os9_stat_fd(s.raw, old.lsn, &moving)) return ec;
    const auto to_dir = static_cast<std::uint32_t>(s.to->pl_fd_lsn);
    if (moving.is_dir && !same_dir) {
        bool below = false;
        if (error_code ec = lies_below(*s.raw, to_dir, old.lsn, &below)) return ec;
        if (below) return E_ILLARG;  // into itself or its own tree
    }

    found_entry taken;
    if (error_code ec = find_entry(*s.to, dst.name, &taken)) return ec;
    // The same entry (a change of letter case), or another entry of the
    // same file: only the name changes, or nothing.
    // A boot file that leaves the root's OS9Boot is forgotten once its
    // new entry is written.
    const auto moved = [&](error_code ec) {
        return ec ? ec : boot_file_moved(*s.raw, old.lsn, to_dir, dst.name);
    };
    if (taken.pos >= 0 && taken.lsn == old.lsn) {
        if (!same_dir || taken.pos != old.pos) return E_SUCCESS;
        return moved(dir_set_name(*s.to, old.pos, dst.name));
    }
    if (taken.pos >= 0) {
        if (!replace) return E_CEF;
        if (taken.lsn == s.raw->geo.root_fd) return E_FNA;
        os9_stat there;
        if (error_code ec = _os9_stat_fd(s.raw, taken.lsn, &there)) return ec;
        if (there.is_dir && !moving.is_dir) return E_ISDIR;
        if (!there.is_dir && moving.is_dir) return E_FNA;
        if (there.is_dir) {
            bool holds = false;
            if (error_code ec = dir_holds_entries(image, taken.lsn, &holds)) return ec;
            if (holds) return E_CEF;
        }
    }

    if (taken.pos < 0 && same_dir) {
        // A new name in the same directory: the name bytes of the entry, in one write.
        return moved(dir_set_name(*s.to, old.pos, dst.name));
    }
    // While two entries may name the file, its link count says one more:
    // killed between the writes, the file has two sound names or a count
    // one too high (it would leak), never a count too low (a delete of one
    // name would free what the other still names).
    if (error_code ec = add_link(*s.raw, old.lsn, +1)) return ec;
    // The new entry (or the replaced file's entry, pointed at this file, in
    // one write), then the old entry goes.
    if (taken.pos >= 0) {
        if (error_code ec = dir_put_entry(*s.to, taken.pos, dst.name, old.lsn)) {
            add_link(*s.raw, old.lsn, -1);
            return ec;
        }
    } else if (error_code ec = dir_add(*s.to, dst.name, old.lsn)) {
        add_link(*s.raw, old.lsn, -1);
        return ec;
    }
    if (error_code ec = dir_clear(*s.from, old.pos, &src.name)) return ec;
    if (error_code ec = add_link(*s.raw, old.lsn, -1)) return ec;
    if (moving.is_dir && !same_dir) {
        if (error_code ec = dir_set_parent(*s.raw, old.lsn, to_dir)) return ec;
    }
    if (error_code ec = moved(E_SUCCESS)) return ec;
    if (taken.pos >= 0) return release_fd(*s.to, taken.lsn);
    return E_SUCCESS;
}

}  // namespace rbf
