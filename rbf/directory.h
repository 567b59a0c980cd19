// Directories: the one place that reads and writes their entries.  The
// calls compose these verbs; the name index (rbf/dir_index.h) is this
// module's own, and every entry write made here tells it what changed, so
// that it stays true without its callers knowing of it.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "os9path.h"
#include "rbf/internal.h"

namespace rbf::detail {

// ---- finding a name ------------------------------------------------------------

// How a lookup uses the directory's name index.
enum class index_use {
    if_known,   // the index when one is kept, else a scan
    on_repeat,  // and one is built for a directory scanned for a name before (a walk)
    build,      // one is built at once (a directory being filled)
};

struct dir_lookup {
    std::int64_t pos = -1;        // the first live entry of the name; -1: none
    std::uint32_t lsn = 0;        // the FD it names
    std::int64_t free_slot = -1;  // where a new entry goes: the first free slot, else the end
    std::int64_t end = 0;         // where a scan stopped: the directory's size, or where it failed
    bool found() const { return pos >= 0; }
};

// Looks up `name` (letter case ignored) in the directory open on `dir`:
// 0 with out->pos -1 when no live entry has it, else the error of reading
// the directory.  The empty name finds the first free slot.  Without the
// index, a scan stops at the entry, so free_slot is known only up to it.
error_code dir_find(_pd& dir, const std::string& name, index_use use, dir_lookup* out);

// ---- writing entries --------------------------------------------------------------

// Writes an entry `name` -> lsn at byte `slot`, or with slot -1 into the
// first free slot, else at the directory's end.
error_code dir_add(_pd& dir, const std::string& name, std::int64_t lsn, std::int64_t slot = -1);

// Clears the entry at byte `pos` (its first byte; the rest stays on the
// disk).  With the name it had, an index of the directory follows; without
// it, the index is dropped.
error_code dir_clear(_pd& dir, std::int64_t pos, const std::string* name = nullptr);

// Clears the entries (their first bytes) with few writes: neighbouring ones
// of a segment in one write, the bytes between written as they are; each
// gets the result of its write.  The index of the directory is dropped.
void dir_clear_batch(_pd& dir, std::vector<entry_clear>& entries);

// Points the entry at byte `pos` at the FD at `lsn`, its name kept: one
// write of the three bytes.
error_code dir_set_fd(_pd& dir, std::int64_t pos, std::int64_t lsn);

// Writes a whole entry `name` -> lsn over the one at byte `pos`, in one write.
error_code dir_put_entry(_pd& dir, std::int64_t pos, const std::string& name, std::int64_t lsn);

// Writes a whole entry `name` -> lsn over the one at byte `pos` with one
// write of its 32 bytes and nothing else: the directory's FD is not
// rewritten after it, so that it can be the last write of an operation.
error_code dir_write_entry_alone(_pd& dir, std::int64_t pos, const std::string& name, std::int64_t lsn);

// Writes the name field of the entry at `pos`: the name, bit 7 on its last
// character, zeros after it up to the FD's LSN; one write, since the 29
// bytes of an entry's name never straddle two units.
error_code dir_set_name(_pd& dir, std::int64_t pos, const std::string& name);

// ---- ".." and "." -------------------------------------------------------------------

// Writes a new directory's ".." (naming `parent`) and "." (naming `self`)
// entries at the position of the path open on it, in one write.
error_code dir_write_dots(os9_path_id dir, std::int64_t parent, std::int64_t self);

// Reads the first `n` entries of the directory whose FD is `fd` (its ".."
// and "." for n = 2) into e[]: how many were whole within its size and
// segments.
int dir_read_first(_pd& p, const fd_stats& fd, fd_dentry* e, int n);

// The FD sector the ".." entry of the directory at `lsn` names (through any
// path of the image: no access rights of the directory are asked).
error_code dir_read_parent(_pd& p, std::uint32_t lsn, std::uint32_t* parent);

// Points the ".." entry of the directory at `lsn` at `parent`.
error_code dir_set_parent(_pd& p, std::uint32_t lsn, std::uint32_t parent);

// Whether the directory at `lsn` holds entries other than ".." and ".":
// the error of reading it, else 0.
error_code dir_holds_entries(const image_ref& image, std::uint32_t lsn, bool* holds);

// ---- iterating ------------------------------------------------------------------------

// Scans the directory whose FD is p.pl_fd_lsn from byte `start`, slot by
// slot (free ones too, a piece at the end zero-filled), calling
// visit(entry, position) until it returns true.  Returns 0 when visit
// stopped the scan (*where = that entry's position), 211 at the end of the
// directory (*where = its size), or a read error.
template <class Visit>
error_code dir_scan(_pd& p, std::int64_t start, Visit visit, std::int64_t* where);

// Calls visit(entry, position) for each whole entry in use of the directory
// whose FD is `fd` (as far as its size and segments go; a read that fails
// ends it), until visit returns true.
template <class Visit>
void dir_each(_pd& p, const fd_stats& fd, Visit visit);

// ---- walking a tree by FD sectors -------------------------------------------------------

enum class walk_next { descend, skip, stop };

struct walk_node {
    std::uint32_t lsn;     // its FD sector
    std::uint32_t parent;  // the directory whose entry led here (the root: itself)
    std::size_t tag;       // the visitor's own number for it
};

// Walks the tree below the FD at `root`, depth first, each FD at most once
// (the one loop guard: the FDs reached so far).  For each FD taken up,
// enter(node, fd) reads it into `fd` and says whether to read its entries
// (descend), pass it by (skip) or end the walk (stop).  For each whole
// entry in use of a directory read, entry(node, e, pos, seen, &tag) says
// whether to go to the FD it names; `seen` tells that FD was reached
// before, and is never gone to again.  The last entry of a directory is
// taken up first.
template <class Enter, class Entry>
void walk_tree(_pd& p, std::uint32_t root, std::size_t root_tag, Enter enter, Entry entry);

// ---- template bodies ----------------------------------------------------------------------

template <class Visit>
error_code dir_scan(_pd& p, std::int64_t start, Visit visit, std::int64_t* where) {
    fd_stats fd;
    if (error_code ec = fd_load(p, p.pl_fd_lsn, fd)) return ec;
    const std::int64_t size = fd_size(fd);
    std::array<u_char, 64 * DIRENT_SIZE> chunk;
    std::int64_t pos = start;
    while (pos < size) {
        std::int64_t want = std::min<std::int64_t>(static_cast<std::int64_t>(chunk.size()), size - pos);
        std::int64_t got = 0;
        if (error_code ec = file_transfer(p, fd, pos, chunk.data(), want, false, false, &got)) {
            *where = pos;
            return ec;
        }
        for (std::int64_t off = 0; off < got; off += DIRENT_SIZE) {
            fd_dentry entry{};
            std::int64_t len = std::min<std::int64_t>(DIRENT_SIZE, got - off);
            std::copy_n(chunk.data() + off, len, reinterpret_cast<u_char*>(&entry));
            if (visit(entry, pos + off)) {
                *where = pos + off;
                return E_SUCCESS;
            }
        }
        pos += got;
    }
    *where = std::max(pos, start);
    return E_EOF;
}

template <class Visit>
void dir_each(_pd& p, const fd_stats& fd, Visit visit) {
    const std::int64_t size = fd_size(fd);
    std::vector<u_char> chunk(64 * DIRENT_SIZE);
    for (std::int64_t pos = 0; pos < size;) {
        std::int64_t got = 0;
        const std::int64_t want = std::min<std::int64_t>(static_cast<std::int64_t>(chunk.size()), size - pos);
        if (file_transfer(p, fd, pos, chunk.data(), want, false, false, &got) != E_SUCCESS || got <= 0) return;
        for (std::int64_t off = 0; off + DIRENT_SIZE <= got; off += DIRENT_SIZE) {
            fd_dentry e;
            std::copy_n(chunk.data() + off, DIRENT_SIZE, reinterpret_cast<u_char*>(&e));
            if (e.name[0] != 0 && visit(e, pos + off)) return;
        }
        pos += got;
    }
}

// The FDs a walk reached: a bit per sector of the disk, a set for a number
// past its end (a damaged entry the visitor still wants to go to).
class reached_fds {
public:
    explicit reached_fds(std::uint32_t units) : on_disk_(units, false) {}
    bool contains(std::uint32_t lsn) const { return lsn < on_disk_.size() ? on_disk_[lsn] : beyond_.contains(lsn); }
    // True when it was not reached before.
    bool insert(std::uint32_t lsn) {
        if (lsn >= on_disk_.size()) return beyond_.insert(lsn).second;
        if (on_disk_[lsn]) return false;
        on_disk_[lsn] = true;
        return true;
    }

private:
    std::vector<bool> on_disk_;
    std::unordered_set<std::uint32_t> beyond_;
};

template <class Enter, class Entry>
void walk_tree(_pd& p, std::uint32_t root, std::size_t root_tag, Enter enter, Entry entry) {
    reached_fds reached(disk_units(p));
    reached.insert(root);
    std::vector<walk_node> todo{{root, root, root_tag}};
    while (!todo.empty()) {
        const walk_node node = todo.back();
        todo.pop_back();
        fd_stats fd;
        const walk_next next = enter(node, fd);
        if (next == walk_next::stop) return;
        if (next == walk_next::skip) continue;
        bool stopped = false;
        dir_each(p, fd, [&](const fd_dentry& e, std::int64_t pos) {
            const std::uint32_t child = get_be24(e.lsn);
            std::size_t tag = 0;
            const walk_next go = entry(node, e, pos, reached.contains(child), &tag);
            if (go == walk_next::stop) return stopped = true;
            if (go == walk_next::descend && reached.insert(child)) todo.push_back({child, node.lsn, tag});
            return false;
        });
        if (stopped) return;
    }
}

}  // namespace rbf::detail
