// Path descriptors: pathlist splitting, open (with the directory walk and the
// access check), close (with trimming and the bitmap write-back), parent
// lookups, and creation of new files.
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <new>

#include "os9conv.h"
#include "os9path.h"
#include "rbf/internal.h"

namespace rbf {

using namespace detail;

namespace {

// ---- descriptor life cycle -------------------------------------------------

int init_pd(os9_path_id* path, int mode) {
    *path = new (std::nothrow) _pd;
    if (!*path) return E_GENERAL;
    (*path)->mode = mode;
    return E_SUCCESS;
}

int term_pd(os9_path_id path) {
    delete path;
    return E_SUCCESS;
}

// A disk is usable only with a whole LSN 0 and a non-zero cluster size.
int init_lsn0(os9_path_id path) {
    if (image_read(*path->img, 0, path->lsn0.data(), SECTOR_SIZE) != SECTOR_SIZE) return E_GENERAL;
    return E_SUCCESS;
}

int init_bitmap(os9_path_id path) {
    const u_char* s0 = path->lsn0.data();
    path->bitmap_bytes = static_cast<int>(get_be16(s0 + 4));
    path->spc = static_cast<int>(get_be16(s0 + 6));
    if (path->spc == 0) return E_GENERAL;
    path->ss = SECTOR_SIZE;
    path->cs = path->spc * path->ss;
    std::int64_t want = (std::int64_t{path->bitmap_bytes} / SECTOR_SIZE + 1) * path->cs;
    std::int64_t size = static_cast<std::int64_t>(image_size(*path->img));
    path->raw_pos = SECTOR_SIZE + std::clamp<std::int64_t>(size - SECTOR_SIZE, 0, want);
    // A raw path hands its copy to the caller at once; a file path reads it
    // when it first allocates or frees.
    if (path->israw && !load_bitmap(*path)) return E_GENERAL;
    return E_SUCCESS;
}

// Writes back the bitmap bits that this path changed, and nothing else: a
// path that allocated nothing writes nothing, and bits that another path
// changed since this one read the bitmap are kept.
int term_bitmap(os9_path_id path) {
    if (path->writable && path->img && path->bitmap_loaded) {
        std::size_t n = std::min<std::size_t>(path->bitmap.size(), static_cast<std::size_t>(path->bitmap_bytes));
        n = std::min(n, path->bitmap_base.size());
        const u_char* now = path->bitmap.data();
        const u_char* was = path->bitmap_base.data();
        constexpr std::size_t BLOCK = 64;
        std::size_t i = 0;
        while (i < n) {
            if (i % BLOCK == 0 && i + BLOCK <= n && std::memcmp(now + i, was + i, BLOCK) == 0) {
                i += BLOCK;
                continue;
            }
            if (now[i] == was[i]) {
                ++i;
                continue;
            }
            std::size_t j = i;
            while (j < n && now[j] != was[j]) ++j;
            std::vector<u_char> merged(j - i, 0);
            image_read(*path->img, SECTOR_SIZE + i, merged.data(), merged.size());
            for (std::size_t k = i; k < j; ++k) {
                u_char changed = now[k] ^ was[k];
                merged[k - i] = static_cast<u_char>((merged[k - i] & ~changed) | (now[k] & changed));
            }
            image_write(*path->img, SECTOR_SIZE + i, merged.data(), merged.size());
            i = j;
        }
    }
    path->bitmap.clear();
    path->bitmap_base.clear();
    return E_SUCCESS;
}

// Gives back the units of a plain file beyond its size plus one unit, from
// the end of its list.  A list holding a segment outside the disk is left
// alone: only units that are certainly the file's own are ever freed.
void _os9_truncate_seg_list(os9_path_id path) {
    fd_stats fd;
    if (fd_load(*path, path->pl_fd_lsn, fd) != E_SUCCESS) return;
    if (fd.fd_att & ATT_DIR) return;
    segment_list list = segments_of(*path, fd);
    std::int64_t units = 0;
    for (int k = 0; k < list.count; ++k) {
        if (!units_sane(*path, list.seg[k].lsn, list.seg[k].units)) return;
        units += list.seg[k].units;
    }
    std::int64_t keep = std::min<std::int64_t>(units, std::int64_t{fd_size(fd)} / path->cs + 1);
    std::int64_t drop = units - keep;
    if (drop <= 0) return;
    std::span<u_char> bitmap = alloc_bitmap(*path);
    for (int k = list.count - 1; k >= 0 && drop > 0; --k) {
        fd_seg& e = fd.fd_seg[k];
        std::int64_t num = get_be16(e.num);
        std::int64_t lsn = get_be24(e.lsn);
        std::int64_t r = std::min(num, drop);
        if (r > 0) _os9_delbit(bitmap, static_cast<int>(unit_bit(lsn + num - r)), static_cast<int>(r));
        num -= r;
        drop -= r;
        put_be16(e.num, static_cast<std::uint32_t>(num));
        if (num == 0) put_be24(e.lsn, 0);
    }
    fd_store(*path, path->pl_fd_lsn, fd);
}

// Walks the in-image path from the root; leaves pl_fd_lsn on the target.
error_code walk(os9_path_id path) {
    path->pl_fd_lsn = static_cast<int>(get_be24(path->lsn0.data() + 8));
    for (const std::string& component : split_pieces(path->pathlist, '/')) {
        std::int64_t where = 0;
        std::int64_t found = 0;
        error_code ec = dir_scan(*path, 0, [&](const fd_dentry& e, std::int64_t) {
            if (e.name[0] == 0 || !NameFieldEquals(e.name, NAME_FIELD, component)) return false;
            found = get_be24(e.lsn);
            return true;
        }, &where);
        if (ec != E_SUCCESS) return ec;
        path->pl_fd_lsn = static_cast<int>(found);
        path->filepos = 0;
    }
    return E_SUCCESS;
}

bool access_ok(u_char att, int mode) {
    int andresult = att & 0x83 & mode;
    return andresult == mode && (att & ATT_DIR) == (mode & MODE_DIR);
}

}  // namespace

int validate_pathlist(os9_path_id path, const std::string& pathlist) {
    std::vector<std::string> pieces = split_pieces(pathlist, ':');
    if (pieces.empty()) return E_BPNAM;
    if (pieces[0].size() > MAX_PIECE) return E_BPNAM;
    path->imgfile = pieces[0];
    if (pieces.size() > 1) {
        if (pieces[1].size() > MAX_PIECE) return E_BPNAM;
        path->pathlist = pieces[1];
    } else {
        path->isnative = 1;
    }
    return E_SUCCESS;
}

error_code _os9_open(os9_path_id* out, const std::string& pathlist, int mode) {
    *out = nullptr;
    os9_path_id path = nullptr;
    if (init_pd(&path, mode)) return E_GENERAL;
    if (error_code ec = validate_pathlist(path, pathlist)) {
        term_pd(path);
        return ec;
    }
    path->israw = !pathlist.empty() && pathlist.back() == '@';
    path->writable = (mode & MODE_WRITE) != 0;
    if (path->isnative) {
        path->fd.reset(std::fopen(path->imgfile.c_str(), path->writable ? "r+" : "r"));
        if (!path->fd) {
            term_pd(path);
            return E_PNNF;
        }
        // A host directory opens only as a directory, as one in an image does.
        struct stat st {};
        if (!(mode & MODE_DIR) && fstat(fileno(path->fd.get()), &st) == 0 && S_ISDIR(st.st_mode)) {
            term_pd(path);
            return E_FNA;
        }
        *out = path;
        return E_SUCCESS;
    }
    error_code ec = image_attach(path->imgfile, path->writable, &path->img);
    if (ec == E_SUCCESS) ec = init_lsn0(path);
    if (ec == E_SUCCESS) ec = init_bitmap(path);
    if (ec == E_SUCCESS && !path->israw) {
        ec = walk(path);
        if (ec == E_EOF) ec = E_PNNF;
        fd_stats fd;
        if (ec == E_SUCCESS) ec = fd_load(*path, path->pl_fd_lsn, fd);
        if (ec == E_SUCCESS && !access_ok(fd.fd_att, mode)) ec = E_FNA;
    }
    if (ec != E_SUCCESS) {
        term_pd(path);
        return ec;
    }
    path->filepos = 0;
    *out = path;
    return E_SUCCESS;
}

error_code _os9_open_parent_directory(os9_path_id* path, const std::string& pathlist, int mode,
                                      std::string& filename) {
    *path = nullptr;
    filename.clear();
    if (pathlist.size() > MAX_PARENT_PATHLIST) return E_BPNAM;
    std::size_t colon = pathlist.find(':');
    if (colon == std::string::npos) return E_BPNAM;
    std::size_t slash = pathlist.rfind('/');
    std::size_t name_at = (slash != std::string::npos && slash > colon) ? slash + 1 : colon + 1;
    filename = pathlist.substr(name_at);
    if (filename.size() > MAX_FILENAME) return E_BPNAM;
    return _os9_open(path, pathlist.substr(0, name_at) + ".", mode);
}

error_code _os9_close(os9_path_id path) {
    if (!path) return E_SUCCESS;
    if (!path->isnative) {
        if (!path->israw && path->writable) _os9_truncate_seg_list(path);
        term_bitmap(path);
    }
    term_pd(path);  // closes the host stream and lets go of the image
    return E_SUCCESS;
}

error_code _os9_file_exists(os9_path_id folder_path, const std::string& filename) {
    std::int64_t where = 0;
    error_code ec = dir_scan(*folder_path, 0, [&](const fd_dentry& e, std::int64_t) {
        return NameFieldEquals(e.name, NAME_FIELD, filename);
    }, &where);
    if (ec == E_SUCCESS) {
        folder_path->filepos = static_cast<int>(where + DIRENT_SIZE);
        return E_CEF;
    }
    folder_path->filepos = static_cast<int>(where);
    return ec == E_EOF ? E_SUCCESS : ec;
}

error_code _os9_ok_filename(const std::string& filename) {
    for (unsigned char c : filename) {
        bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
                  c == '.';
        if (!ok) return 1;
    }
    return 0;
}

std::int64_t _os9_maximum_file_size(const fd_stats& fd_sector, int cluster_size) {
    std::int64_t accum = 0;
    for (int k = 0; k < SEGMENT_COUNT; ++k) {
        if (get_be24(fd_sector.fd_seg[k].lsn) == 0) break;
        accum += std::int64_t{get_be16(fd_sector.fd_seg[k].num)} * cluster_size;
    }
    return accum;
}

error_code _native_create(os9_path_id path, const std::string& pathlist, int, int perms) {
    path->fd.reset(std::fopen(pathlist.c_str(), (perms & 0x03) ? "w+" : "r"));
    path->writable = (perms & 0x03) != 0;
    return path->fd ? E_SUCCESS : E_FNA;
}

error_code _os9_create(os9_path_id* out, const std::string& pathlist, int mode, int perms) {
    *out = nullptr;
    os9_path_id probe = nullptr;
    if (init_pd(&probe, mode)) return E_GENERAL;
    if (error_code ec = validate_pathlist(probe, pathlist)) {
        term_pd(probe);
        return ec;
    }
    probe->israw = !pathlist.empty() && pathlist.back() == '@';
    if (probe->isnative) {
        error_code ec = _native_create(probe, pathlist, mode, perms);
        if (ec) {
            term_pd(probe);
            return ec;
        }
        *out = probe;
        return E_SUCCESS;
    }
    term_pd(probe);

    os9_path_id parent = nullptr;
    std::string filename;
    if (error_code ec = _os9_open_parent_directory(&parent, pathlist, MODE_DIR | MODE_WRITE, filename))
        return ec;
    auto fail = [&](error_code ec) {
        _os9_close(parent);
        return ec;
    };
    if (filename.empty() || filename.size() > NAME_FIELD || _os9_ok_filename(filename)) return fail(E_BPNAM);
    if (error_code ec = _os9_file_exists(parent, filename)) return fail(ec);

    fd_stats newFD{};
    newFD.fd_att = static_cast<u_char>(perms);
    UnixToOS9Time(std::time(nullptr), newFD.fd_dat);
    newFD.fd_lnk = 1;
    std::memcpy(newFD.fd_creat, newFD.fd_dat, 3);

    // The FD goes to the lowest free unit outside LSN 0 and the bitmap.
    std::int64_t first = std::max<std::int64_t>(2, (system_area_end(*parent) + parent->cs - 1) / parent->cs);
    int newLSN = getfreebit_from(alloc_bitmap(*parent), first, alloc_limit(*parent));
    if (newLSN < 0) return fail(E_FULL);
    if (fd_store(*parent, newLSN, newFD) != E_SUCCESS) {
        _os9_delbit(alloc_bitmap(*parent), newLSN, 1);
        return fail(E_FULL);
    }

    fd_dentry newDEntry{};
    std::string stored = filename;
    StringToOS9Name(stored);
    std::memcpy(newDEntry.name, stored.data(), stored.size());
    put_be24(newDEntry.lsn, static_cast<std::uint32_t>(newLSN));

    // The first free slot from the start, else the end of the directory.
    std::int64_t slot = 0;
    error_code ec = dir_scan(*parent, 0, [](const fd_dentry& e, std::int64_t) { return e.name[0] == 0; }, &slot);
    if (ec != E_SUCCESS && ec != E_EOF) {
        _os9_delbit(alloc_bitmap(*parent), newLSN, 1);
        return fail(ec);
    }
    parent->filepos = static_cast<int>(slot);
    int size = DIRENT_SIZE;
    if ((ec = _os9_write(parent, &newDEntry, &size)) != E_SUCCESS) {
        _os9_delbit(alloc_bitmap(*parent), newLSN, 1);
        return fail(ec);
    }
    _os9_close(parent);
    return _os9_open(out, pathlist, mode);
}

}  // namespace rbf
