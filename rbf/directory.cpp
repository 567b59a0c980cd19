// Directories: lookups, entry writes, ".." and ".", emptiness and the
// iteration of the public call (see rbf/directory.h).
#include "rbf/directory.h"

#include <algorithm>
#include <cstring>

#include "os9conv.h"
#include "os9disk.h"
#include "rbf/dir_index.h"
#include "rbf/image.h"

namespace rbf {

using namespace detail;

namespace detail {

namespace {

// The first free slot an index knows, else the directory's end.
std::int64_t free_slot_of(const dir_index& index) {
    return index.free_slots.empty() ? index.size : *index.free_slots.begin();
}

// The index to look `name` up in, as `use` asks: nullptr for a scan.
const dir_index* index_for(_pd& dir, index_use use) {
    if (const dir_index* known = index_if_known(dir)) return known;
    if (!dir.img || use == index_use::if_known) return nullptr;
    if (use == index_use::on_repeat &&
        !looked_in_before(dir.img->indexes, static_cast<std::uint32_t>(dir.pl_fd_lsn)))
        return nullptr;
    return index_of(dir);
}

// Writes n bytes at byte `pos` of the open directory through its path, the
// caller's place in it kept.  When `learn` is set, the write is the
// index's own and learn() tells it what changed; else the directory's
// index is dropped.  A failed write drops it too.
template <class Learn>
error_code entry_write(_pd& dir, std::int64_t pos, const void* bytes, int n, bool learns, Learn learn) {
    const std::int64_t was = dir.filepos;
    dir.filepos = pos;
    int size = n;
    if (dir.img && learns) dir.img->indexes.writing = static_cast<std::uint32_t>(dir.pl_fd_lsn);
    const error_code ec = _os9_write(&dir, bytes, &size);
    if (dir.img) dir.img->indexes.writing = 0;
    dir.filepos = was;
    if (ec || !learns) index_drop(dir);
    else learn();
    return ec;
}

}  // namespace

error_code dir_find(_pd& dir, const std::string& name, index_use use, dir_lookup* out) {
    *out = dir_lookup{};
    std::int64_t from = 0;
    // The index keys live names only: the empty name (a free slot) is
    // always scanned for.
    const dir_index* index = name.empty() ? nullptr : index_for(dir, use);
    if (index) {
        out->free_slot = free_slot_of(*index);
        const auto it = index->names.find(folded_name(name));
        if (it == index->names.end()) {
            out->end = index->size;
            return E_SUCCESS;
        }
        from = it->second;  // the scan starts at the entry
    }
    std::int64_t first_free = -1;
    std::int64_t where = 0;
    const error_code ec = dir_scan(dir, from, [&](const fd_dentry& e, std::int64_t pos) {
        if (e.name[0] == 0) {
            if (first_free < 0) first_free = pos;
            return name.empty();
        }
        if (name.empty() || !NameFieldEquals(e.name, NAME_FIELD, name)) return false;
        out->lsn = get_be24(e.lsn);
        return true;
    }, &where);
    out->end = where;
    if (!index) out->free_slot = first_free >= 0 ? first_free : where;
    if (ec == E_SUCCESS) out->pos = where;
    return ec == E_EOF ? E_SUCCESS : ec;
}

error_code dir_add(_pd& dir, const std::string& name, std::int64_t lsn, std::int64_t slot) {
    if (slot < 0) {
        if (const dir_index* index = index_if_known(dir)) {
            slot = free_slot_of(*index);
        } else {
            // The first free slot from the start, else the end of the directory.
            error_code ec = dir_scan(dir, 0, [](const fd_dentry& e, std::int64_t) { return e.name[0] == 0; }, &slot);
            if (ec != E_SUCCESS && ec != E_EOF) return ec;
        }
    }
    const fd_dentry entry = entry_for(name, lsn);
    return entry_write(dir, slot, &entry, DIRENT_SIZE, true, [&] { index_added(dir, name, slot); });
}

error_code dir_clear(_pd& dir, std::int64_t pos, const std::string* name) {
    const u_char free_mark = 0;
    return entry_write(dir, pos, &free_mark, 1, name != nullptr, [&] { index_removed(dir, *name, pos); });
}

void dir_clear_batch(_pd& dir, std::vector<entry_clear>& entries) {
    std::sort(entries.begin(), entries.end(), [](const entry_clear& a, const entry_clear& b) { return a.pos < b.pos; });
    fd_stats fd;
    const error_code loaded = fd_load(dir, dir.pl_fd_lsn, fd);
    const segment_list list = segments_of(dir, fd);
    std::vector<u_char> region;
    for (std::size_t i = 0; i < entries.size();) {
        const std::int64_t first = entries[i].pos;
        int k = 0;
        while (k < list.count && list.seg[k].end <= first) ++k;
        const segment* s = k < list.count && first >= list.seg[k].start ? &list.seg[k] : nullptr;
        // As a write through the path would: nothing written outside the
        // directory's sane segments, nor over the root's FD.
        if (loaded || !dir.writable || !s || !units_sane(dir, s->lsn, s->units) ||
            (s->lsn <= dir.geo.root_fd && dir.geo.root_fd < s->lsn + s->units)) {
            entries[i++].result = loaded ? loaded : E_GENERAL;
            continue;
        }
        // The entries of this segment within one stretch, cleared in one write
        // (the bytes between them written as they are).
        std::size_t j = i + 1;
        while (j < entries.size() && entries[j].pos < s->end && entries[j].pos - first < MOST_CLEARED_BYTES) ++j;
        region.resize(static_cast<std::size_t>(entries[j - 1].pos - first + 1));
        const auto off = static_cast<std::uint64_t>(unit_offset(dir, s->lsn) + (first - s->start));
        error_code ec = E_SUCCESS;
        if (image_read(*dir.img, off, region.data(), region.size()) != region.size()) {
            ec = E_GENERAL;
        } else {
            for (std::size_t e = i; e < j; ++e) region[static_cast<std::size_t>(entries[e].pos - first)] = 0;
            if (image_write(*dir.img, off, region.data(), region.size()) != region.size()) ec = write_error(*dir.img);
        }
        for (; i < j; ++i) entries[i].result = ec;
    }
    // The writes went past the index: it learns the names afresh.
    index_drop(dir);
}

error_code dir_set_fd(_pd& dir, std::int64_t pos, std::int64_t lsn) {
    u_char field[3];
    put_be24(field, static_cast<std::uint32_t>(lsn));
    // The names stay as they are: the index stays true.
    return entry_write(dir, pos + DIRENT_LSN, field, sizeof field, true, [] {});
}

error_code dir_put_entry(_pd& dir, std::int64_t pos, const std::string& name, std::int64_t lsn) {
    const fd_dentry entry = entry_for(name, lsn);
    return entry_write(dir, pos, &entry, DIRENT_SIZE, false, [] {});
}

error_code dir_set_name(_pd& dir, std::int64_t pos, const std::string& name) {
    fd_stats fd;
    if (error_code ec = fd_load(dir, dir.pl_fd_lsn, fd)) return ec;
    u_char field[NAME_FIELD] = {};
    std::string stored = name;
    StringToOS9Name(stored);
    std::memcpy(field, stored.data(), std::min<std::size_t>(stored.size(), NAME_FIELD));
    std::int64_t done = 0;
    const error_code ec = file_transfer(dir, fd, pos, field, NAME_FIELD, true, false, &done);
    index_drop(dir);  // the write went past the index: it learns the names afresh
    if (ec == E_SUCCESS && done == NAME_FIELD) return E_SUCCESS;
    return write_error(*dir.img);
}

error_code dir_write_entry_alone(_pd& dir, std::int64_t pos, const std::string& name, std::int64_t lsn) {
    fd_stats fd;
    if (error_code ec = fd_load(dir, dir.pl_fd_lsn, fd)) return ec;
    fd_dentry entry = entry_for(name, lsn);
    std::int64_t done = 0;
    // A 32-byte entry at a multiple of 32 never straddles two units.
    const error_code ec = file_transfer(dir, fd, pos, reinterpret_cast<u_char*>(&entry), DIRENT_SIZE, true, false, &done);
    index_drop(dir);  // the write went past the index: it learns the names afresh
    if (ec == E_SUCCESS && done == DIRENT_SIZE) return E_SUCCESS;
    return write_error(*dir.img);
}

error_code dir_write_dots(os9_path_id dir, std::int64_t parent, std::int64_t self) {
    fd_dentry entries[2] = {entry_for("..", parent), entry_for(".", self)};
    int size = sizeof entries;
    error_code ec = _os9_write(dir, entries, &size);
    if (ec == E_SUCCESS && size != static_cast<int>(sizeof entries)) ec = E_GENERAL;
    return ec;
}

int dir_read_first(_pd& p, const fd_stats& fd, fd_dentry* e, int n) {
    const std::int64_t want = std::min<std::int64_t>(std::int64_t{n} * DIRENT_SIZE, std::max<std::int64_t>(fd_size(fd), 0));
    std::int64_t got = 0;
    if (want <= 0 || file_transfer(p, fd, 0, reinterpret_cast<u_char*>(e), want, false, false, &got) != E_SUCCESS)
        return 0;
    return static_cast<int>(got / DIRENT_SIZE);
}

error_code dir_read_parent(_pd& p, std::uint32_t lsn, std::uint32_t* parent) {
    fd_stats fd;
    if (error_code ec = fd_load(p, lsn, fd)) return ec;
    fd_dentry e{};
    if (dir_read_first(p, fd, &e, 1) < 1) return E_GENERAL;
    *parent = get_be24(e.lsn);
    return E_SUCCESS;
}

error_code dir_set_parent(_pd& p, std::uint32_t lsn, std::uint32_t parent) {
    fd_stats fd;
    if (error_code ec = fd_load(p, lsn, fd)) return ec;
    fd_dentry e = entry_for("..", parent);
    std::int64_t done = 0;
    if (fd_size(fd) < DIRENT_SIZE ||
        file_transfer(p, fd, 0, reinterpret_cast<u_char*>(&e), DIRENT_SIZE, true, false, &done) != E_SUCCESS ||
        done != DIRENT_SIZE)
        return write_error(*p.img) == E_FULL ? E_FULL : E_GENERAL;
    return E_SUCCESS;
}

error_code dir_holds_entries(const image_ref& image, std::uint32_t lsn, bool* holds) {
    *holds = false;
    os9_path_id dir = nullptr;
    // The directory bit alone: an empty directory is empty whatever its
    // attributes say.
    if (error_code ec = _os9_open_fd(&dir, image, lsn, MODE_DIR)) return ec;
    os9_dirent e;
    error_code ec;
    while ((ec = _os9_readdir(dir, &e)) == E_SUCCESS) {
        if (e.name != "." && e.name != "..") {
            *holds = true;
            break;
        }
    }
    _os9_close(dir);
    return ec == E_EOF || ec == E_SUCCESS ? E_SUCCESS : ec;
}

}  // namespace detail

error_code _os9_readdir(os9_path_id dir, os9_dirent* entry) {
    if (dir->isnative || dir->israw || !dir->img) return E_FNA;
    for (;;) {
        const std::int64_t pos = dir->filepos;
        fd_stats fd;
        if (error_code ec = current_fd(*dir, fd)) return ec;
        const std::int64_t size = fd_size(fd);
        if (pos >= size) return E_EOF;
        if (pos + DIRENT_SIZE > size) {
            // A directory whose size ends inside an entry: the part is no
            // entry, and the directory ends there.
            dir->filepos = size;
            return E_EOF;
        }
        const u_char* raw = ahead_span(*dir, pos, DIRENT_SIZE);
        if (!raw) {
            if (error_code ec = ahead_fill(*dir, fd, pos, size)) return ec;
            raw = ahead_span(*dir, pos, DIRENT_SIZE);
            if (!raw) return E_GENERAL;  // the segments end inside the entry
        }
        dir->filepos = pos + DIRENT_SIZE;
        if (raw[0] == 0) continue;  // a free or deleted slot
        fd_dentry e;
        std::memcpy(&e, raw, sizeof e);
        entry->name = NameFromField(e.name, NAME_FIELD);
        entry->fd_lsn = get_be24(e.lsn);
        entry->pos = pos;
        return E_SUCCESS;
    }
}

}  // namespace rbf
