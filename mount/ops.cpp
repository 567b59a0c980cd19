// Each call finds its file by the path the kernel gives (or by the open
// handle), calls the library and turns its error number into an errno.
// The loop is single-threaded: no call runs beside another.
#include "mount/ops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <string>

#include "misc/frame.h"
#include "mount/translate.h"
#include "os9conv.h"
#include "os9path.h"

namespace dv::mount {

using namespace rbf;

namespace {

mount_state& state() { return *static_cast<mount_state*>(fuse_get_context()->private_data); }

// An open file: its path on the image, whether its date was set by a
// write, and whether it is the boot file opened to be written.
struct handle {
    os9_path_id path = nullptr;
    bool dated = false;
    bool boot = false;
};

handle* handle_of(const fuse_file_info* fi) {
    return fi ? reinterpret_cast<handle*>(static_cast<uintptr_t>(fi->fh)) : nullptr;
}

int fail(error_code ec) { return -host_errno(ec); }

// The boot file written through the mount goes on being the boot file: laid
// in one run, LSN 0 pointed at it.  Where no run is long enough, LSN 0
// names its FD, and the user is told.
void boot_follows(os9_path_id path) {
    if (_os9_boot_follow(path) != E_FULL) return;
    _os9_boot_hold(path);
    std::fprintf(stderr, "dvmount: '%s' may no longer boot: its boot file lies in several segments\n",
                 state().name.c_str());
}

// Whether `in` is the file LSN 0 names as boot file.
bool is_boot_path(const std::string& in) {
    os9_path_id p = nullptr;
    if (_os9_open(&p, state().image, in, MODE_READ) != E_SUCCESS) return false;
    const bool boot = _os9_is_boot_file(p);
    _os9_close(p);
    return boot;
}

// Makes `in` the boot file (laid in one run, LSN 0 pointed at it): 248 when
// no run is long enough, 214 when it cannot be written.
error_code make_boot_file(const std::string& in) {
    os9_path_id p = nullptr;
    if (error_code ec = _os9_open(&p, state().image, in, MODE_WRITE)) return ec;
    error_code ec = _os9_boot_follow(p);
    if (error_code closed = _os9_close(p); !ec) ec = closed;
    return ec;
}

// The last component of an in-image path, as a new name must be.
int new_name_fault(const std::string& path) {
    if (path.size() > MAX_PARENT_PATHLIST) return ENAMETOOLONG;
    const std::size_t slash = path.rfind('/');
    return name_fault(slash == std::string::npos ? path : path.substr(slash + 1));
}

void fill_stat(const os9_stat& s, struct stat* st) {
    std::memset(st, 0, sizeof *st);
    st->st_ino = s.fd_lsn;
    st->st_mode = mode_of(s.attributes);
    st->st_nlink = s.links > 0 ? s.links : 1;
    st->st_uid = state().uid;
    st->st_gid = state().gid;
    st->st_size = s.size;
    st->st_blksize = TRANSFER;  // what cp and the like take as a buffer size
    st->st_blocks = static_cast<blkcnt_t>((s.allocated + SECTOR_SIZE) / 512);  // and the FD's sector
    const std::time_t when = time_of(s.modified, state().unknown_date);
    st->st_mtim.tv_sec = st->st_ctim.tv_sec = st->st_atim.tv_sec = when;
}

// Status by path; the host's lookups of names no disk holds end here.
error_code stat_path(const std::string& in, os9_stat* s, int* host) {
    *host = lookup_fault(in);
    if (*host) return E_GENERAL;
    const error_code ec = _os9_stat_path(state().image, in, s);
    if (ec) *host = host_errno(ec);
    return ec;
}

int op_getattr(const char* path, struct stat* st, fuse_file_info* fi) {
    os9_stat s;
    if (handle* h = handle_of(fi)) {
        if (error_code ec = _os9_stat(h->path, &s)) return fail(ec);
    } else {
        int host = 0;
        if (stat_path(in_image(path), &s, &host)) return -host;
    }
    fill_stat(s, st);
    return 0;
}

int op_readdir(const char* path, void* buf, fuse_fill_dir_t filler, off_t, fuse_file_info*, fuse_readdir_flags) {
    const std::string in = in_image(path);
    if (int host = lookup_fault(in)) return -host;
    os9_path_id dir = nullptr;
    if (error_code ec = _os9_open(&dir, state().image, in, MODE_DIR | MODE_READ)) return fail(ec);
    os9_dirent e;
    error_code ec;
    while ((ec = _os9_readdir(dir, &e)) == E_SUCCESS) {
        // A name the host cannot show (damage) is left out.
        if (e.name.empty() || e.name.find('/') != std::string::npos || e.name.find('\0') != std::string::npos)
            continue;
        struct stat st {};
        st.st_ino = e.fd_lsn;
        if (filler(buf, e.name.c_str(), &st, 0, static_cast<fuse_fill_dir_flags>(0))) break;
    }
    _os9_close(dir);
    return ec == E_SUCCESS || ec == E_EOF ? 0 : fail(ec);
}

int access_mode(int flags) {
    switch (flags & O_ACCMODE) {
        case O_WRONLY: return MODE_WRITE;
        case O_RDWR: return MODE_READ | MODE_WRITE;
        default: return MODE_READ;
    }
}

int keep_handle(os9_path_id path, fuse_file_info* fi) {
    auto* h = new (std::nothrow) handle;
    if (!h) {
        _os9_close(path);
        return -ENOMEM;
    }
    h->path = path;
    fi->fh = reinterpret_cast<uintptr_t>(h);
    return 0;
}

int op_open(const char* path, fuse_file_info* fi) {
    const std::string in = in_image(path);
    if (int host = lookup_fault(in)) return -host;
    const int mode = access_mode(fi->flags);
    if ((mode & MODE_WRITE) && state().read_only) return -EROFS;
    os9_path_id p = nullptr;
    if (error_code ec = _os9_open(&p, state().image, in, mode)) {
        // A directory opened as a file.
        if (ec == E_FNA) {
            os9_stat s;
            if (_os9_stat_path(state().image, in, &s) == E_SUCCESS && s.is_dir) return -EISDIR;
        }
        return fail(ec);
    }
    // Written, the boot file goes on being the boot file (op_release).
    const bool boot = (mode & MODE_WRITE) && _os9_is_boot_file(p);
    // The kernel leaves O_TRUNC to the open; the boot file's bytes move,
    // so LSN 0 names it by its FD meanwhile.
    if ((fi->flags & O_TRUNC) && (mode & MODE_WRITE)) {
        error_code ec = boot ? _os9_boot_hold(p) : E_SUCCESS;
        if (!ec) ec = _os9_set_size(p, 0);
        if (ec) {
            _os9_close(p);
            return fail(ec);
        }
    }
    if (int kept = keep_handle(p, fi)) return kept;
    handle_of(fi)->boot = boot;
    return 0;
}

int op_create(const char* path, mode_t mode, fuse_file_info* fi) {
    const std::string in = in_image(path);
    if (int host = new_name_fault(in)) return -host;
    if (state().read_only) return -EROFS;
    const u_char wanted = attributes_of(mode);
    // Made readable and writable, so that this open may fill it whatever
    // its own attributes will be.
    const auto made = static_cast<u_char>(wanted | ATT_READ | ATT_WRITE);
    os9_path_id p = nullptr;
    if (error_code ec = _os9_create(&p, state().image, in, MODE_READ | MODE_WRITE, made)) return fail(ec);
    if (made != wanted) {
        u_char now = 0;
        if (error_code ec = _os9_set_attributes(state().image, in, 0, static_cast<u_char>(made & ~wanted), &now)) {
            _os9_close(p);
            return fail(ec);
        }
    }
    return keep_handle(p, fi);
}

int op_read(const char*, char* buf, size_t size, off_t off, fuse_file_info* fi) {
    handle* h = handle_of(fi);
    if (!h || off < 0) return -EBADF;
    std::size_t got = 0;
    if (error_code ec = _os9_read_at(h->path, static_cast<std::uint64_t>(off), buf, size, &got)) return fail(ec);
    return static_cast<int>(got);
}

// A file's date moves to now with the first write through a handle; a date
// set afterwards (cp -p) stays.
void date_now(handle* h) {
    if (h->dated) return;
    h->dated = true;
    fd_stats fd;
    if (_os9_gs_fd(h->path, SECTOR_SIZE, &fd) != E_SUCCESS) return;
    UnixToOS9Time(std::time(nullptr), fd.fd_dat);
    _os9_gs_fd_set(h->path, static_cast<int>(offsetof(fd_stats, fd_dat) + sizeof fd.fd_dat), &fd);
}

int op_write(const char*, const char* buf, size_t size, off_t off, fuse_file_info* fi) {
    handle* h = handle_of(fi);
    if (!h || off < 0) return -EBADF;
    if (error_code ec = _os9_write_at(h->path, static_cast<std::uint64_t>(off), buf, size)) return fail(ec);
    date_now(h);
    return static_cast<int>(size);
}

int op_release(const char*, fuse_file_info* fi) {
    handle* h = handle_of(fi);
    if (!h) return 0;
    if (h->boot && _os9_is_boot_file(h->path)) boot_follows(h->path);
    // Closing trims the file's allocation and writes the map back.
    const error_code ec = _os9_close(h->path);
    delete h;
    return fail(ec);
}

int op_fsync(const char*, int, fuse_file_info*) { return fail(image_sync(*state().image)); }

int op_mkdir(const char* path, mode_t mode) {
    const std::string in = in_image(path);
    if (int host = new_name_fault(in)) return -host;
    if (error_code ec = _os9_makdir(state().image, in)) return fail(ec);
    const u_char wanted = attributes_of(mode);
    const u_char rwe = ATT_NEWDIR & ~ATT_DIR;  // a new directory's bits
    if (wanted == rwe) return 0;
    u_char now = 0;
    return fail(_os9_set_attributes(state().image, in, wanted, static_cast<u_char>(rwe & ~wanted), &now));
}

int op_unlink(const char* path) {
    const std::string in = in_image(path);
    if (int host = lookup_fault(in)) return -host;
    const bool booted = dv::boots(state().image.get());
    const error_code ec = _os9_delete(state().image, in);
    dv::tell_boot_lost("dvmount", state().name, booted, state().image.get(), "deleted");
    return fail(ec);
}

int op_rmdir(const char* path) {
    const std::string in = in_image(path);
    if (int host = lookup_fault(in)) return -host;
    os9_stat s;
    int host = 0;
    if (stat_path(in, &s, &host)) return -host;
    if (!s.is_dir) return -ENOTDIR;
    const error_code ec = _os9_delete_dir(state().image, in);
    return ec == E_CEF ? -ENOTEMPTY : fail(ec);
}

int op_rename(const char* from, const char* to, unsigned int flags) {
    if (flags & ~static_cast<unsigned>(RENAME_NOREPLACE)) return -EINVAL;
    const std::string src = in_image(from);
    const std::string dst = in_image(to);
    if (int host = lookup_fault(src)) return -host;
    if (int host = new_name_fault(dst)) return -host;
    os9_stat moving, there;
    int host = 0;
    if (stat_path(src, &moving, &host)) return -host;
    const bool exists = stat_path(dst, &there, &host) == E_SUCCESS;
    if (!exists && host != ENOENT) return -host;
    // The host's answers where a rename meets a file in the way.
    if (exists && there.fd_lsn != moving.fd_lsn) {
        if (flags & RENAME_NOREPLACE) return -EEXIST;
        if (there.is_dir && !moving.is_dir) return -EISDIR;
        if (!there.is_dir && moving.is_dir) return -ENOTDIR;
    }
    // A file put in place of the boot file is made the boot file first
    // (laid in one run, LSN 0 pointed at it), so that the old one goes
    // unnamed; no run long enough refuses the rename.
    const bool over_boot = exists && there.fd_lsn != moving.fd_lsn && !moving.is_dir && is_boot_path(dst);
    if (over_boot) {
        const error_code ec = make_boot_file(src);
        if (ec == E_FULL) return -ENOSPC;
    }
    const bool booted = dv::boots(state().image.get());
    const error_code ec = _os9_move(state().image, src, dst, (flags & RENAME_NOREPLACE) == 0);
    if (ec && over_boot) make_boot_file(dst);  // the old one is still there: LSN 0 names it again
    dv::tell_boot_lost("dvmount", state().name, booted, state().image.get(), over_boot ? "replaced" : "renamed");
    if (ec == E_CEF && exists && there.is_dir) return -ENOTEMPTY;
    return fail(ec);
}

int op_truncate(const char* path, off_t size, fuse_file_info* fi) {
    if (size < 0) return -EINVAL;
    // The boot file's bytes move: LSN 0 names it by its FD meanwhile, and
    // it is laid in one run again when its writer is done.
    if (handle* h = handle_of(fi)) {
        if (_os9_is_boot_file(h->path)) {
            h->boot = true;
            if (error_code ec = _os9_boot_hold(h->path)) return fail(ec);
        }
        return fail(_os9_set_size(h->path, static_cast<std::uint64_t>(size)));
    }
    const std::string in = in_image(path);
    if (int host = lookup_fault(in)) return -host;
    os9_path_id p = nullptr;
    if (error_code ec = _os9_open(&p, state().image, in, MODE_WRITE)) {
        os9_stat s;
        if (ec == E_FNA && _os9_stat_path(state().image, in, &s) == E_SUCCESS && s.is_dir) return -EISDIR;
        return fail(ec);
    }
    const bool boot = _os9_is_boot_file(p);
    error_code ec = boot ? _os9_boot_hold(p) : E_SUCCESS;
    if (!ec) ec = _os9_set_size(p, static_cast<std::uint64_t>(size));
    if (boot) boot_follows(p);
    if (error_code closed = _os9_close(p); !ec) ec = closed;
    return fail(ec);
}

int op_chmod(const char* path, mode_t mode, fuse_file_info*) {
    const std::string in = in_image(path);
    if (int host = lookup_fault(in)) return -host;
    const u_char rwe = ATT_READ | ATT_WRITE | ATT_EXEC | ATT_PREAD | ATT_PWRITE | ATT_PEXEC;
    const u_char wanted = attributes_of(mode);
    u_char now = 0;
    return fail(_os9_set_attributes(state().image, in, wanted, static_cast<u_char>(rwe & ~wanted), &now));
}

// Every file belongs to the mounting user: only that owner can be given.
int op_chown(const char*, uid_t uid, gid_t gid, fuse_file_info*) {
    const bool same_user = uid == static_cast<uid_t>(-1) || uid == state().uid;
    const bool same_group = gid == static_cast<gid_t>(-1) || gid == state().gid;
    return same_user && same_group ? 0 : -EPERM;
}

int op_utimens(const char* path, const struct timespec tv[2], fuse_file_info* fi) {
    // The disk keeps one date, the last modification, to the minute.
    if (tv && tv[1].tv_nsec == UTIME_OMIT) return 0;
    const std::time_t when = (!tv || tv[1].tv_nsec == UTIME_NOW) ? std::time(nullptr) : tv[1].tv_sec;
    if (handle* h = handle_of(fi); h && path_is_writable(h->path)) {
        h->dated = true;
        fd_stats fd;
        if (error_code ec = _os9_gs_fd(h->path, SECTOR_SIZE, &fd)) return fail(ec);
        UnixToOS9Time(when, fd.fd_dat);
        return fail(_os9_gs_fd_set(h->path, static_cast<int>(offsetof(fd_stats, fd_dat) + sizeof fd.fd_dat), &fd));
    }
    const std::string in = in_image(path);
    if (int host = lookup_fault(in)) return -host;
    return fail(_os9_set_modified(state().image, in, when));
}

// The OS-9 record of a file or directory, read only: with no setxattr
// the kernel answers a change with EOPNOTSUPP.
int op_getxattr(const char* path, const char* name, char* value, size_t size) {
    os9_stat s;
    int host = 0;
    if (stat_path(in_image(path), &s, &host)) return -host;
    std::string text;
    if (int missing = xattr_value(s, name, &text)) return -missing;
    return xattr_reply(text, value, size);
}

int op_listxattr(const char* path, char* list, size_t size) {
    os9_stat s;
    int host = 0;
    if (stat_path(in_image(path), &s, &host)) return -host;
    return xattr_reply(xattr_names(s), list, size);
}

int op_statfs(const char*, struct statvfs* sv) {
    disk_geometry geo;
    if (error_code ec = image_geometry(*state().image, &geo)) return fail(ec);
    os9_path_id root = nullptr;
    if (error_code ec = _os9_open_fd(&root, state().image, geo.root_fd, MODE_DIR)) return fail(ec);
    os9_usage u;
    const error_code ec = _os9_usage(root, &u);
    _os9_close(root);
    if (ec) return fail(ec);
    std::memset(sv, 0, sizeof *sv);
    sv->f_bsize = sv->f_frsize = static_cast<unsigned long>(u.cluster_sectors) * u.unit_bytes;
    sv->f_blocks = geo.cluster_count();
    sv->f_bfree = sv->f_bavail = u.free_units;
    // Each new file takes a cluster for its FD.
    sv->f_files = geo.cluster_count();
    sv->f_ffree = sv->f_favail = u.free_units;
    sv->f_namemax = NAME_FIELD;
    return 0;
}

void* op_init(fuse_conn_info* conn, fuse_config* cfg) {
    conn->max_write = TRANSFER;
    conn->max_read = TRANSFER;  // the mount's max_read option says the same (dvmount.cpp)
    conn->max_readahead = TRANSFER;
    cfg->use_ino = 1;
    cfg->readdir_ino = 1;
    // No other program writes the image while it is mounted (the mount
    // holds its lock): what the kernel caches of names, status and file
    // bytes stays true, so a file's cached bytes outlive its closes.
    cfg->entry_timeout = cfg->attr_timeout = 1.0;
    cfg->kernel_cache = 1;
    return fuse_get_context()->private_data;
}

void op_destroy(void* data) {
    auto* s = static_cast<mount_state*>(data);
    if (s->image && !s->read_only) image_sync(*s->image);
}

fuse_operations make_operations() {
    fuse_operations ops{};
    ops.getattr = op_getattr;
    ops.readdir = op_readdir;
    ops.open = op_open;
    ops.create = op_create;
    ops.read = op_read;
    ops.write = op_write;
    ops.release = op_release;
    ops.fsync = op_fsync;
    ops.mkdir = op_mkdir;
    ops.unlink = op_unlink;
    ops.rmdir = op_rmdir;
    ops.rename = op_rename;
    ops.truncate = op_truncate;
    ops.chmod = op_chmod;
    ops.chown = op_chown;
    ops.utimens = op_utimens;
    ops.statfs = op_statfs;
    ops.getxattr = op_getxattr;
    ops.listxattr = op_listxattr;
    ops.init = op_init;
    ops.destroy = op_destroy;
    return ops;
}

}  // namespace

const fuse_operations& operations() {
    static const fuse_operations ops = make_operations();
    return ops;
}

}  // namespace dv::mount
