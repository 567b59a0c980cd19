// Path descriptors: pathlist splitting, open (with the directory walk and the
// access check), close (with trimming and the bitmap write-back) and parent
// lookups.
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "os9conv.h"
#include "os9disk.h"
#include "os9path.h"
#include "rbf/claims.h"
#include "rbf/image.h"
#include "rbf/directory.h"
#include "rbf/internal.h"
#include "rbf/pathlist.h"

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

// LSN 0 must be whole and describe a disk: the volume's geometry, decoded
// once for every path on it.
int init_lsn0(os9_path_id path) {
    const disk_geometry* geometry = nullptr;
    if (error_code ec = volume_geometry(*path->img, &geometry)) return ec;
    path->geo = *geometry;
    return E_SUCCESS;
}

int init_bitmap(os9_path_id path) {
    std::int64_t want = (std::int64_t{path->geo.bitmap_bytes} / SECTOR_SIZE + 1) * unit_bytes(*path);
    std::int64_t size = static_cast<std::int64_t>(image_size(*path->img));
    path->raw_pos = SECTOR_SIZE + std::clamp<std::int64_t>(size - SECTOR_SIZE, 0, want);
    // A raw path hands its copy to the caller at once; a file path reads it
    // when it first allocates or frees.
    if (path->israw && !load_bitmap(*path)) return E_GENERAL;
    return E_SUCCESS;
}

// Writes back the bitmap bits that this path changed, and nothing else: a
// path that allocated nothing writes nothing, and bits that another path
// changed since this one read the bitmap are kept.  (A file path's changes
// are on the disk already; a raw path's copy is written here.)
error_code term_bitmap(os9_path_id path) {
    error_code result = path->israw ? E_SUCCESS : bitmap_sync(*path);
    if (path->writable && path->img && path->bitmap_loaded) {
        std::size_t n = std::min<std::size_t>(path->bitmap.size(), path->geo.bitmap_bytes);
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
            if (image_read(*path->img, SECTOR_SIZE + i, merged.data(), merged.size()) != merged.size())
                result = E_GENERAL;
            for (std::size_t k = i; k < j; ++k) {
                u_char changed = now[k] ^ was[k];
                merged[k - i] = static_cast<u_char>((merged[k - i] & ~changed) | (now[k] & changed));
            }
            if (image_put(*path, static_cast<std::int64_t>(SECTOR_SIZE + i), merged.data(), merged.size()))
                result = E_GENERAL;
            i = j;
        }
    }
    path->bitmap.clear();
    path->bitmap_base.clear();
    return result;
}

// Gives back the units of a plain file beyond its size plus at most one
// cluster, from the end of its list.  A list holding a segment outside the disk is left
// alone: only units that are certainly the file's own are ever freed.
error_code _os9_truncate_seg_list(os9_path_id path) {
    fd_stats fd;
    if (fd_load(*path, path->pl_fd_lsn, fd) != E_SUCCESS) return E_SUCCESS;
    if (fd.fd_att & ATT_DIR) return E_SUCCESS;
    const segment_list list = segments_of(*path, fd);
    for (int k = 0; k < list.count; ++k)
        if (!units_sane(*path, list.seg[k].lsn, list.seg[k].units)) return E_SUCCESS;
    // The sectors the size needs, plus at most one cluster, in whole clusters.
    std::vector<std::pair<std::int64_t, std::int64_t>> freed;
    cut_segments(*path, path->pl_fd_lsn, fd, fd_size(fd) / unit_bytes(*path) + 1, &freed);
    if (freed.empty()) return E_SUCCESS;
    // The FD goes first: units are freed only once it no longer claims
    // them, and only those that no other file claims either.
    if (error_code ec = fd_store(*path, path->pl_fd_lsn, fd)) return ec;
    give_unclaimed(*path, freed);
    return bitmap_sync(*path);
}

bool access_ok(u_char att, int mode) {
    int andresult = att & 0x83 & mode;
    return andresult == mode && (att & ATT_DIR) == (mode & MODE_DIR);
}

error_code open_host_file(os9_path_id path, int mode) {
    path->fd.reset(std::fopen(path->imgfile.c_str(), path->writable ? "r+" : "r"));
    if (!path->fd) return E_PNNF;
    // A host directory opens only as a directory, as one in an image does.
    struct stat st {};
    if (!(mode & MODE_DIR) && fstat(fileno(path->fd.get()), &st) == 0 && S_ISDIR(st.st_mode)) return E_FNA;
    // A writer of a host file (a disk being formatted) holds it alone.
    return path->writable ? lock_file(fileno(path->fd.get()), true, path->imgfile) : E_SUCCESS;
}

}  // namespace

namespace detail {

error_code walk_path(_pd& p, const std::string& in_image, int* fd_lsn) {
    int at = static_cast<int>(p.geo.root_fd);
    for (const std::string& component : split_pieces(in_image, '/')) {
        p.pl_fd_lsn = at;
        // A directory being filled, or one whose names are looked up again
        // and again (a copy of a whole directory), has its names indexed.
        dir_lookup found;
        if (error_code ec = dir_find(p, component, index_use::on_repeat, &found)) return ec;
        if (!found.found()) return E_PNNF;
        at = static_cast<int>(found.lsn);
    }
    *fd_lsn = at;
    return E_SUCCESS;
}

error_code writable_fd_of(const image_ref& image, const std::string& in_image, os9_path_id* raw, int* lsn,
                          fd_stats* fd) {
    *raw = nullptr;
    if (!in_image.empty() && in_image.back() == '@') return E_BPNAM;
    os9_path_id p = nullptr;
    if (error_code ec = open_on_image(&p, image, in_image, MODE_WRITE, true)) return ec;
    error_code ec = walk_path(*p, in_image, lsn);
    if (ec == E_SUCCESS) ec = fd_load(*p, *lsn, *fd);
    if (ec != E_SUCCESS) {
        _os9_close(p);
        return ec;
    }
    *raw = p;
    return E_SUCCESS;
}

void split_last(const std::string& in_image, std::string* parent, std::string* name) {
    std::size_t slash = in_image.rfind('/');
    std::size_t at = slash == std::string::npos ? 0 : slash + 1;
    *parent = in_image.substr(0, at);
    *name = in_image.substr(at);
}

error_code target_of(const image_ref& image, const std::string& in_image, target* t) {
    if (in_image.size() > MAX_PARENT_PATHLIST) return E_BPNAM;
    std::string parent;
    split_last(in_image, &parent, &t->name);
    if (t->name.size() > MAX_FILENAME) return E_BPNAM;
    t->image = image;
    t->whole = in_image;
    t->raw = !in_image.empty() && in_image.back() == '@';
    t->parent_dot = parent + ".";
    return E_SUCCESS;
}

error_code target_of_pathlist(const std::string& text, target* t) {
    if (text.size() > MAX_PARENT_PATHLIST) return E_BPNAM;
    pathlist pl;
    if (parse_pathlist(text, &pl) || pl.host) return E_BPNAM;
    // "image:" is the root, as "image:.".
    if (error_code ec = target_of(nullptr, pl.in_image.empty() ? std::string(".") : pl.in_image, t)) return ec;
    // A file that cannot be written is opened to read (the parent's open
    // for writing then fails as it would have: not accessible); a busy one
    // is busy, and a host directory says so.
    error_code ec = image_open(pl.image, true, &t->image, pl.offset);
    if (ec == E_SUCCESS || ec == E_BUSY || ec == E_ISDIR) return ec;
    return image_open(pl.image, false, &t->image, pl.offset);
}

error_code open_on_image(os9_path_id* out, const image_ref& image, const std::string& in_image, int mode,
                         bool raw, std::int64_t fd_lsn) {
    *out = nullptr;
    if (!image) return E_PNNF;
    os9_path_id path = nullptr;
    if (init_pd(&path, mode)) return E_GENERAL;
    path->img = image;
    path->pathlist = in_image;
    path->israw = raw;
    path->writable = (mode & MODE_WRITE) != 0;
    // A path that would write needs an image opened for writing: one opened
    // only to read is not accessible to a writer.
    error_code ec = path->writable && !image->rw() ? E_FNA : E_SUCCESS;
    if (ec == E_SUCCESS) ec = init_lsn0(path);
    if (ec == E_SUCCESS) ec = init_bitmap(path);
    if (ec == E_SUCCESS && !raw) {
        if (fd_lsn >= 0)
            path->pl_fd_lsn = static_cast<int>(std::min<std::int64_t>(fd_lsn, 0xFFFFFF));
        else
            ec = walk_path(*path, in_image, &path->pl_fd_lsn);
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

}  // namespace detail

int validate_pathlist(os9_path_id path, const std::string& text) {
    pathlist pl;
    if (error_code ec = parse_pathlist(text, &pl)) return ec;
    path->imgfile = pl.image;
    path->pathlist = pl.in_image;
    path->isnative = pl.host_file() ? 1 : 0;
    return E_SUCCESS;
}

error_code _os9_open(os9_path_id* out, const std::string& text, int mode) {
    *out = nullptr;
    pathlist pl;
    if (error_code ec = parse_pathlist(text, &pl)) return ec;
    if (pl.host_file()) {
        os9_path_id path = nullptr;
        if (init_pd(&path, mode)) return E_GENERAL;
        path->imgfile = pl.image;
        path->isnative = 1;
        path->israw = pl.raw;
        path->writable = (mode & MODE_WRITE) != 0;
        if (error_code ec = open_host_file(path, mode)) {
            term_pd(path);
            return ec;
        }
        *out = path;
        return E_SUCCESS;
    }
    image_ref image;
    if (error_code ec = image_open(pl.image, (mode & MODE_WRITE) != 0, &image, pl.offset)) return ec;
    error_code ec = open_on_image(out, image, pl.in_image, mode, pl.raw);
    if (ec != E_SUCCESS) return ec;
    (*out)->imgfile = pl.image;
    // "DIR/" names a directory: a file opened by it is refused (a
    // directory opened without MODE_DIR is refused already).
    if (dir_only_check(pl, (mode & MODE_DIR) != 0)) {
        _os9_close(*out);
        *out = nullptr;
        return E_FNA;
    }
    return E_SUCCESS;
}

error_code _os9_open(os9_path_id* out, const image_ref& image, const std::string& in_image, int mode) {
    return open_on_image(out, image, in_image, mode, !in_image.empty() && in_image.back() == '@');
}

error_code _os9_open_fd(os9_path_id* out, const image_ref& image, std::uint32_t fd_lsn, int mode) {
    return open_on_image(out, image, std::string(), mode, false, fd_lsn);
}

error_code _os9_open_parent_directory(os9_path_id* path, const std::string& text, int mode,
                                      std::string& filename) {
    *path = nullptr;
    filename.clear();
    target t;
    if (error_code ec = target_of_pathlist(text, &t)) return ec;
    filename = t.name;
    return open_on_image(path, t.image, t.parent_dot, mode, false);
}

error_code _os9_open_parent_directory(os9_path_id* path, const image_ref& image, const std::string& in_image,
                                      int mode, std::string& filename) {
    *path = nullptr;
    filename.clear();
    target t;
    if (error_code ec = target_of(image, in_image, &t)) return ec;
    filename = t.name;
    return open_on_image(path, image, t.parent_dot, mode, false);
}

error_code _os9_close(os9_path_id path) {
    if (!path) return E_SUCCESS;
    error_code result = E_SUCCESS;
    if (!path->isnative) {
        if (!path->israw && path->writable) result = _os9_truncate_seg_list(path);
        if (error_code ec = term_bitmap(path); ec && !result) result = ec;
    }
    term_pd(path);  // closes the host stream and lets go of the image
    return result;
}

error_code _os9_file_exists(os9_path_id folder_path, const std::string& filename) {
    dir_lookup found;
    const error_code ec = dir_find(*folder_path, filename, index_use::if_known, &found);
    folder_path->filepos = found.found() ? found.pos + DIRENT_SIZE : found.end;
    if (ec) return ec;
    return found.found() ? E_CEF : E_SUCCESS;
}

error_code _os9_ok_filename(const std::string& filename) {
    for (std::size_t i = 0; i < filename.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(filename[i]);
        bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
                  c == '.' || c == '$' || (c == '-' && i > 0);
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

}  // namespace rbf
