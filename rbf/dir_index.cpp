// Directory name indexes: see rbf/dir_index.h.
#include "rbf/dir_index.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "rbf/directory.h"

namespace rbf::detail {

namespace {

constexpr std::size_t MOST_INDEXES = 4;

unsigned char fold(unsigned char c) { return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c; }

// The name an entry's field holds, folded: up to the byte with bit 7 set,
// a zero byte or the end of the field.
std::string folded_field(const u_char* field) {
    std::string key;
    for (int i = 0; i < NAME_FIELD && field[i] != 0; ++i) {
        key += static_cast<char>(fold(field[i] & 0x7F));
        if (field[i] & 0x80) break;
    }
    return key;
}

// Size, segment list and image ranges from the directory's FD.
void describe(_pd& dir, const fd_stats& fd, dir_index& index) {
    index.size = fd_size(fd);
    std::memcpy(index.segments.data(), fd.fd_seg, index.segments.size());
    index.ranges.clear();
    const segment_list list = segments_of(dir, fd);
    for (int k = 0; k < list.count; ++k) {
        const auto from = static_cast<std::uint64_t>(unit_offset(dir, list.seg[k].lsn));
        index.ranges.emplace_back(from, from + static_cast<std::uint64_t>(list.seg[k].units * unit_bytes(dir)));
    }
}

bool fits(const dir_index& index, const fd_stats& fd) {
    return index.size == fd_size(fd) && std::memcmp(index.segments.data(), fd.fd_seg, index.segments.size()) == 0;
}

dir_index* find(dir_indexes& all, std::uint32_t lsn) {
    for (auto& index : all.held)
        if (index->fd_lsn == lsn) return index.get();
    return nullptr;
}

void drop(dir_indexes& all, std::uint32_t lsn) {
    std::erase_if(all.held, [&](const auto& index) { return index->fd_lsn == lsn; });
}

}  // namespace

std::string folded_name(const std::string& name) {
    std::string key;
    for (unsigned char c : name) {
        // A byte with bit 7 set matches no stored name (stored names keep
        // seven bits): such a key is made unlike every stored one.
        if (c & 0x80) return std::string(1, '\0') + name;
        key += static_cast<char>(fold(c));
    }
    return key;
}

bool looked_in_before(dir_indexes& all, std::uint32_t lsn) {
    if (std::find(all.looked_in.begin(), all.looked_in.end(), lsn) != all.looked_in.end()) return true;
    all.looked_in[all.next_look++ % all.looked_in.size()] = lsn;
    return false;
}

dir_index* index_if_known(_pd& dir) {
    if (!dir.img || dir.img->indexes.held.empty()) return nullptr;
    dir_indexes& all = dir.img->indexes;
    const auto lsn = static_cast<std::uint32_t>(dir.pl_fd_lsn);
    dir_index* known = find(all, lsn);
    fd_stats fd;
    if (!known || fd_load(dir, lsn, fd) != E_SUCCESS) return nullptr;
    if (fits(*known, fd)) return known;
    drop(all, lsn);
    return nullptr;
}

dir_index* index_of(_pd& dir) {
    if (!dir.img) return nullptr;
    dir_indexes& all = dir.img->indexes;
    const auto lsn = static_cast<std::uint32_t>(dir.pl_fd_lsn);
    fd_stats fd;
    if (fd_load(dir, lsn, fd) != E_SUCCESS) return nullptr;
    if (dir_index* known = find(all, lsn)) {
        if (fits(*known, fd)) return known;
        drop(all, lsn);
    }
    try {
        auto index = std::make_unique<dir_index>();
        index->fd_lsn = lsn;
        std::int64_t where = 0;
        error_code ec = dir_scan(dir, 0, [&](const fd_dentry& e, std::int64_t pos) {
            if (e.name[0] == 0) index->free_slots.insert(pos);
            else index->names.emplace(folded_field(e.name), pos);
            return false;
        }, &where);
        // A directory that does not read to its end is not indexed: what
        // lies beyond the failure is unknown.
        if (ec != E_EOF || where != fd_size(fd)) return nullptr;
        describe(dir, fd, *index);
        if (all.held.size() >= MOST_INDEXES) all.held.erase(all.held.begin());
        all.held.push_back(std::move(index));
        return all.held.back().get();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void index_added(_pd& dir, const std::string& name, std::int64_t pos) {
    if (!dir.img) return;
    dir_indexes& all = dir.img->indexes;
    const auto lsn = static_cast<std::uint32_t>(dir.pl_fd_lsn);
    dir_index* index = find(all, lsn);
    fd_stats fd;
    if (!index || fd_load(dir, lsn, fd) != E_SUCCESS) {
        drop(all, lsn);
        return;
    }
    try {
        index->names.emplace(folded_name(name), pos);
        index->free_slots.erase(pos);
        // A write at the end grew the directory: slots past the new entry
        // in the units it got are free (zero) too, as a scan would find.
        const std::int64_t old_size = index->size;
        describe(dir, fd, *index);
        for (std::int64_t at = std::max(old_size, pos + DIRENT_SIZE); at + DIRENT_SIZE <= index->size; at += DIRENT_SIZE)
            index->free_slots.insert(at);
    } catch (const std::bad_alloc&) {
        drop(all, lsn);
    }
}

void index_removed(_pd& dir, const std::string& name, std::int64_t pos) {
    if (!dir.img) return;
    dir_index* index = find(dir.img->indexes, static_cast<std::uint32_t>(dir.pl_fd_lsn));
    if (!index) return;
    try {
        if (auto it = index->names.find(folded_name(name)); it != index->names.end() && it->second == pos)
            index->names.erase(it);
        else
            return index_drop(dir);  // not the entry it knew: start afresh
        index->free_slots.insert(pos);
    } catch (const std::bad_alloc&) {
        index_drop(dir);
    }
}

void index_drop(_pd& dir) {
    if (dir.img) drop(dir.img->indexes, static_cast<std::uint32_t>(dir.pl_fd_lsn));
}

void index_note_write(os9_image& img, std::uint64_t off, std::uint64_t n) {
    std::erase_if(img.indexes.held, [&](const auto& index) {
        if (index->fd_lsn == img.indexes.writing) return false;
        for (const auto& [from, to] : index->ranges)
            if (off < to && from < off + n) return true;
        return false;
    });
}

}  // namespace rbf::detail
