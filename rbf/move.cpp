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
#include "rbf/internal.h"

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
    *out = found_entry{};
    std::int64_t where = 0;
    const error_code ec = dir_scan(dir, 0, [&](const fd_dentry& e, std::int64_t pos) {
        if (e.name[0] == 0 || !NameFieldEquals(e.name, NAME_FIELD, name)) return false;
        out->pos = pos;
        out->lsn = get_be24(e.lsn);
        return true;
    }, &where);
    return ec == E_EOF ? E_SUCCESS : ec;
}

// Writes `n` bytes at byte `pos` of the open directory, the caller's place kept.
error_code dir_put(_pd& dir, std::int64_t pos, const void* bytes, int n) {
    const std::int64_t was = dir.filepos;
    dir.filepos = pos;
    int size = n;
    const error_code ec = _os9_write(&dir, bytes, &size);
    dir.filepos = was;
    return ec;
}

// The FD sector the ".." entry of the directory at `lsn` names (through the
// raw path `raw`, which needs no access rights of the directory).
error_code parent_of(_pd& raw, std::uint32_t lsn, std::uint32_t* parent) {
    fd_stats fd;
    if (error_code ec = fd_load(raw, lsn, fd)) return ec;
    fd_dentry e{};
    std::int64_t done = 0;
    if (fd_size(fd) < DIRENT_SIZE ||
        file_transfer(raw, fd, 0, reinterpret_cast<u_char*>(&e), DIRENT_SIZE, false, false, &done) ||
        done != DIRENT_SIZE)
        return E_GENERAL;
    *parent = get_be24(e.lsn);
    return E_SUCCESS;
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
        if (error_code ec = parent_of(raw, dir, &dir)) return ec;
    }
    return E_GENERAL;
}

// Points the ".." entry of the directory at `lsn` at `parent`.
error_code set_parent(_pd& raw, std::uint32_t lsn, std::uint32_t parent) {
    fd_stats fd;
    if (error_code ec = fd_load(raw, lsn, fd)) return ec;
    fd_dentry e = entry_for("..", parent);
    std::int64_t done = 0;
    if (fd_size(fd) < DIRENT_SIZE ||
        file_transfer(raw, fd, 0, reinterpret_cast<u_char*>(&e), DIRENT_SIZE, true, false, &done) != E_SUCCESS ||
        done != DIRENT_SIZE)
        return write_error(*raw.img) == E_FULL ? E_FULL : E_GENERAL;
    return E_SUCCESS;
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
        const fd_dentry e = entry_for(dst.name, old.lsn);
        return moved(dir_put(*s.to, old.pos, e.name, NAME_FIELD));
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
        const fd_dentry e = entry_for(dst.name, old.lsn);
        return moved(dir_put(*s.to, old.pos, e.name, NAME_FIELD));
    }
    // While two entries may name the file, its link count says one more:
    // killed between the writes, the file has two sound names or a count
    // one too high (it would leak), never a count too low (a delete of one
    // name would free what the other still names).
    if (error_code ec = add_link(*s.raw, old.lsn, +1)) return ec;
    // The new entry (or the replaced file's entry, pointed at this file, in
    // one write), then the old entry goes.
    if (taken.pos >= 0) {
        const fd_dentry e = entry_for(dst.name, old.lsn);
        if (error_code ec = dir_put(*s.to, taken.pos, &e, DIRENT_SIZE)) {
            add_link(*s.raw, old.lsn, -1);
            return ec;
        }
    } else if (error_code ec = add_entry(*s.to, dst.name, old.lsn)) {
        add_link(*s.raw, old.lsn, -1);
        return ec;
    }
    const u_char free_mark = 0;
    if (error_code ec = dir_put(*s.from, old.pos, &free_mark, 1)) return ec;
    if (error_code ec = add_link(*s.raw, old.lsn, -1)) return ec;
    if (moving.is_dir && !same_dir) {
        if (error_code ec = set_parent(*s.raw, old.lsn, to_dir)) return ec;
    }
    if (error_code ec = moved(E_SUCCESS)) return ec;
    if (taken.pos >= 0) return release_fd(*s.to, taken.lsn);
    return E_SUCCESS;
}

}  // namespace rbf
