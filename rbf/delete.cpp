// Deleting files from an image and from the host.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <unordered_set>

#include "os9conv.h"
#include "os9disk.h"
#include "os9path.h"
#include "rbf/claims.h"
#include "rbf/directory.h"
#include "rbf/internal.h"

namespace rbf {

using namespace detail;

namespace detail {

error_code delete_entry(_pd& dir, std::int64_t pos, std::uint32_t lsn) {
    // The entry goes first, then the FD's link; units are freed last, so
    // that nothing on the disk points at a unit once it is free.
    if (error_code ec = dir_clear(dir, pos)) return ec;
    return release_fd(dir, lsn);
}

error_code release_fd(_pd& dir, std::uint32_t lsn) {
    // An entry naming the root (damage) goes; the root stays as it is.
    if (lsn == dir.geo.root_fd) return E_SUCCESS;
    fd_stats fd;
    // An FD that cannot be read is left as it is, and nothing is freed on
    // its word.
    if (fd_load(dir, lsn, fd) != E_SUCCESS) return E_SUCCESS;
    // A count already at 0 (a damaged FD) is not wrapped round: this was its
    // last entry all the same.
    if (fd.fd_lnk > 0) {
        fd.fd_lnk = static_cast<u_char>(fd.fd_lnk - 1);
        if (error_code ec = fd_store(dir, lsn, fd)) return ec;
    }
    return fd.fd_lnk == 0 ? free_unlinked(dir, lsn, fd) : E_SUCCESS;
}

error_code free_unlinked(_pd& dir, std::uint32_t lsn, const fd_stats& fd) {
    // The units come from the FD itself, so a file that cannot be opened
    // for reading gives back its units all the same; a unit that another
    // file claims too stays theirs.
    // LSN 0 forgets a boot file before its units can be handed out again.
    if (error_code ec = forget_boot_file(dir, lsn, fd)) return ec;
    const std::vector<unit_run> runs = claimed_runs(dir, lsn, fd);
    claims_drop_fd(dir, lsn);
    // The cleared bits reach the disk with the directory's next write-back
    // (at the latest its close): until then they only leak.
    const std::int64_t kept = give_unclaimed(dir, runs);
    return kept > 0 ? E_SHARED : E_SUCCESS;
}

namespace {

// Writes the bytes `patch` changes in image bytes off .. off + length - 1
// in one write, the bytes between as they are: 0, 1 when they cannot be
// read, else the write's error.
template <class Patch>
error_code rewrite_region(_pd& dir, std::uint64_t off, std::size_t length, std::vector<u_char>& region, Patch patch) {
    region.resize(length);
    if (image_read(*dir.img, off, region.data(), region.size()) != region.size()) return E_GENERAL;
    patch(region);
    if (image_write(*dir.img, off, region.data(), region.size()) != region.size()) return write_error(*dir.img);
    return E_SUCCESS;
}

// Lowers the link count of the FD of every entry cleared (result 0), FDs
// near each other in one write, then frees those left without a link.
void release_fds(_pd& dir, std::vector<entry_clear>& entries) {
    struct lowered {
        std::size_t entry;
        fd_stats fd;
        bool store;
    };
    std::vector<lowered> fds;
    // A second entry naming an FD already here (a hard link) is released
    // after the others, one at a time, as its own delete would be.
    std::vector<std::size_t> again;
    std::unordered_set<std::uint32_t> seen;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        entry_clear& e = entries[i];
        if (e.result != E_SUCCESS || e.lsn == dir.geo.root_fd) continue;  // the root stays as it is
        if (!seen.insert(e.lsn).second) {
            again.push_back(i);
            continue;
        }
        fd_stats fd;
        if (fd_load(dir, e.lsn, fd) != E_SUCCESS) continue;  // nothing is freed on its word
        const bool store = fd.fd_lnk > 0;
        if (store) fd.fd_lnk = static_cast<u_char>(fd.fd_lnk - 1);
        fds.push_back({i, fd, store});
    }
    std::sort(fds.begin(), fds.end(), [&](const lowered& a, const lowered& b) { return entries[a.entry].lsn < entries[b.entry].lsn; });
    if (!dir.writable) {
        for (const lowered& l : fds)
            if (l.store) entries[l.entry].result = E_FNA;
    }
    std::vector<u_char> region;
    for (std::size_t i = 0; dir.writable && i < fds.size();) {
        if (!fds[i].store) {
            ++i;
            continue;
        }
        const std::int64_t first = entries[fds[i].entry].lsn;
        std::size_t j = i + 1;
        const std::int64_t root = dir.geo.root_fd;
        while (j < fds.size() && (entries[fds[j].entry].lsn - first + 1) * SECTOR_SIZE <= MOST_CLEARED_BYTES &&
               !(first < root && root <= entries[fds[j].entry].lsn))  // the root's FD is not rewritten
            ++j;
        const std::int64_t last = entries[fds[j - 1].entry].lsn;
        const auto off = static_cast<std::uint64_t>(unit_offset(dir, first));
        const error_code ec = rewrite_region(dir, off, static_cast<std::size_t>((last - first + 1) * SECTOR_SIZE), region,
                                             [&](std::vector<u_char>& bytes) {
            for (std::size_t k = i; k < j; ++k)
                if (fds[k].store)
                    bytes[static_cast<std::size_t>((entries[fds[k].entry].lsn - first) * SECTOR_SIZE) + offsetof(fd_stats, fd_lnk)] = fds[k].fd.fd_lnk;
        });
        for (; i < j; ++i)
            if (fds[i].store) entries[fds[i].entry].result = ec;
    }
    for (const lowered& l : fds)
        if (entries[l.entry].result == E_SUCCESS && l.fd.fd_lnk == 0)
            entries[l.entry].result = free_unlinked(dir, entries[l.entry].lsn, l.fd);
    for (std::size_t i : again) entries[i].result = release_fd(dir, entries[i].lsn);
}

}  // namespace

void clear_entries(_pd& dir, std::vector<entry_clear>& entries) {
    dir_clear_batch(dir, entries);
    // Only entries gone from the disk release their FDs.
    release_fds(dir, entries);
}

}  // namespace detail

namespace {

error_code delete_in(const target& t) {
    os9_path_id probe = nullptr;
    if (open_on_image(&probe, t.image, t.whole, MODE_DIR | MODE_READ, t.raw) == E_SUCCESS) {
        _os9_close(probe);
        return E_ISDIR;
    }
    os9_path_id parent = nullptr;
    if (error_code ec = open_on_image(&parent, t.image, t.parent_dot, MODE_DIR | MODE_WRITE, false)) return ec;
    const std::string& filename = t.name;
    if (NameEquals(filename, ".") || NameEquals(filename, "..")) {
        _os9_close(parent);
        return E_ILLARG;
    }
    if (filename.empty() || filename.size() > NAME_FIELD) {
        _os9_close(parent);
        return E_BPNAM;
    }
    // A directory is never deleted as a file, readable or not: its tree
    // would stay in use for ever.
    os9_stat st;
    if (!t.raw && _os9_stat_path(t.image, t.whole, &st) == E_SUCCESS && st.is_dir) {
        _os9_close(parent);
        return E_ISDIR;
    }
    // The entry, found through the directory's index when there is one
    // (many files deleted from one directory), else by a scan; the index
    // follows the entry's clearing.
    dir_lookup found;
    error_code result = E_SUCCESS;
    if (dir_find(*parent, filename, index_use::if_known, &found) == E_SUCCESS && found.found()) {
        result = dir_clear(*parent, found.pos, &filename);
        if (!result) result = release_fd(*parent, found.lsn);
    }
    error_code closed = _os9_close(parent);
    return result ? result : closed;
}

}  // namespace

u_char DecrementLinkCount(os9_path_id path, int fd_lsn) {
    fd_stats fd;
    // An FD that cannot be read or written is left as it is, and reported
    // as still linked so that nothing is freed on its word.
    if (fd_load(*path, fd_lsn, fd) != E_SUCCESS) return 0xFF;
    fd.fd_lnk = static_cast<u_char>(fd.fd_lnk - 1);
    if (fd_store(*path, fd_lsn, fd) != E_SUCCESS) return 0xFF;
    return fd.fd_lnk;
}

error_code _os9_freefile(const std::string& filePath, std::span<u_char> bitmap) {
    os9_path_id file = nullptr;
    if (error_code ec = _os9_open(&file, filePath, MODE_READ)) return ec;
    fd_stats fd;
    error_code ec = _os9_gs_fd(file, SECTOR_SIZE, &fd);
    if (ec == E_SUCCESS) free_segments(*file, fd, bitmap);
    _os9_close(file);
    return ec;
}

error_code _os9_freefile(const image_ref& image, const std::string& in_image, std::span<u_char> bitmap) {
    os9_path_id file = nullptr;
    if (error_code ec = _os9_open(&file, image, in_image, MODE_READ)) return ec;
    fd_stats fd;
    error_code ec = _os9_gs_fd(file, SECTOR_SIZE, &fd);
    if (ec == E_SUCCESS) free_segments(*file, fd, bitmap);
    _os9_close(file);
    return ec;
}

error_code _native_delete(const std::string& pathlist) {
    return unlink(pathlist.c_str()) == 0 ? E_SUCCESS : errno;
}

error_code _os9_delete(const std::string& pathlist) {
    if (pathlist.find(':') == std::string::npos) return _native_delete(pathlist);
    target t;
    if (error_code ec = target_of_pathlist(pathlist, &t)) return ec;
    return delete_in(t);
}

error_code _os9_delete(const image_ref& image, const std::string& in_image) {
    target t;
    if (error_code ec = target_of(image, in_image, &t)) return ec;
    return delete_in(t);
}

}  // namespace rbf
