#include "misc/endpoint.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "misc/host_attributes.h"
#include "os9conv.h"

namespace dv {

using namespace rbf;

namespace {

constexpr std::size_t CHUNK = 256 * 1024;

mode_t process_umask() {
    static const mode_t mask = [] {
        mode_t m = umask(0);
        umask(m);
        return m;
    }();
    return mask;
}

}  // namespace

error_code host_error(int e) {
    switch (e) {
        case ENOENT: return E_PNNF;
        case EEXIST: return E_CEF;
        case EISDIR: return E_ISDIR;
        case ENOSPC:
        case EDQUOT:
        case EFBIG: return E_FULL;
        case EACCES:
        case EPERM:
        case EROFS: return E_FNA;
        case ENAMETOOLONG: return E_BPNAM;
        default: return e;
    }
}

endpoint endpoint::child(const std::string& name) const {
    endpoint c = *this;
    if (on_host()) c.path = (path.empty() || path.back() == '/') ? path + name : path + "/" + name;
    else c.path = path.empty() ? name : path + "/" + name;
    c.shown = (shown.empty() || shown.back() == ':' || shown.back() == '/') ? shown + name : shown + "/" + name;
    c.pl.dir_only = false;
    return c;
}

std::string endpoint::last_name() const {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    const std::size_t slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

error_code endpoint_of(image_table& images, const std::string& operand, bool write, endpoint* e) {
    e->shown = operand;
    if (operand == "-") {
        e->stdio = true;
        e->pl = pathlist{};
        e->pl.host = true;
        e->path = operand;
        return E_SUCCESS;
    }
    if (error_code ec = parse_pathlist(operand, &e->pl)) return ec;
    if (e->pl.host) {
        e->path = operand;
        return E_SUCCESS;
    }
    // The root goes by "", by "." and by a trailing "/.".
    std::vector<std::string> names = e->pl.names;
    while (!names.empty() && names.back() == ".") names.pop_back();
    e->path.clear();
    for (const std::string& n : names) e->path += (e->path.empty() ? "" : "/") + n;
    if (e->pl.raw) e->path = e->pl.in_image;
    rbf::image_ref& held = images[e->pl.volume()];
    if (!held) {
        if (error_code ec = image_open(e->pl.image, write, &held, e->pl.offset)) {
            images.erase(e->pl.volume());
            return ec;
        }
    }
    e->image = held;
    return E_SUCCESS;
}

error_code look(const endpoint& e, facts* f, bool follow) {
    *f = facts{};
    if (e.stdio) {
        f->exists = true;
        return E_SUCCESS;
    }
    if (e.on_host()) {
        struct stat st {};
        if ((follow ? stat(e.path.c_str(), &st) : lstat(e.path.c_str(), &st)) != 0)
            return errno == ENOENT ? E_SUCCESS : host_error(errno);
        f->exists = true;
        f->dir = S_ISDIR(st.st_mode);
        if (S_ISLNK(st.st_mode)) f->special = "a symbolic link";
        else if (S_ISFIFO(st.st_mode)) f->special = "a FIFO";
        else if (S_ISSOCK(st.st_mode)) f->special = "a socket";
        else if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) f->special = "a device";
        f->mode = st.st_mode & 07777;
        f->uid = st.st_uid;
        f->gid = st.st_gid;
        f->executable = (st.st_mode & S_IXUSR) != 0;
        f->modified = st.st_mtime;
        f->id = {st.st_dev, st.st_ino};
        return E_SUCCESS;
    }
    os9_stat st;
    error_code ec = _os9_stat_path(e.image, e.path.empty() ? "." : e.path, &st);
    if (ec == E_PNNF) return E_SUCCESS;
    if (ec) return ec;
    f->exists = true;
    f->dir = st.is_dir;
    f->attributes = st.attributes;
    f->executable = (st.attributes & ATT_EXEC) != 0;
    // A date no clock can show stays 0: a copy keeps the time it was made.
    OS9TimeToUnix(st.modified, &f->modified);
    f->id = {0, st.fd_lsn};
    f->os9 = record_of(st);
    return E_SUCCESS;
}

bool is_held_image(const image_table& images, const facts& f) {
    for (const auto& [name, image] : images) {
        struct stat st {};
        if (image && stat(name.c_str(), &st) == 0 && std::pair<std::uint64_t, std::uint64_t>{st.st_dev, st.st_ino} == f.id)
            return true;
    }
    return false;
}

error_code fits_trailing_slash(const endpoint& e, const facts& f) {
    return f.exists ? dir_only_check(e.pl, f.dir) : E_SUCCESS;
}

std::vector<std::string> names_in(const endpoint& dir, error_code* ec) {
    std::vector<std::string> names;
    *ec = E_SUCCESS;
    if (dir.on_host()) {
        DIR* d = opendir(dir.path.c_str());
        if (!d) {
            *ec = host_error(errno);
            return names;
        }
        while (const dirent* e = readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
        closedir(d);
        return names;
    }
    os9_path_id p = nullptr;
    if ((*ec = _os9_open(&p, dir.image, dir.path.empty() ? "." : dir.path, MODE_DIR | MODE_READ))) return names;
    os9_dirent e;
    error_code r;
    while ((r = _os9_readdir(p, &e)) == E_SUCCESS)
        if (e.name != "." && e.name != "..") names.push_back(e.name);
    if (r != E_EOF) *ec = r;
    _os9_close(p);
    return names;
}

reader::~reader() {
    if (fd_ >= 0) close(fd_);
    if (path_) _os9_close(path_);
}

error_code reader::open(const endpoint& e) {
    if (e.stdio) {
        fd_ = fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0);
        return fd_ < 0 ? host_error(errno) : E_SUCCESS;
    }
    if (e.on_host()) {
        fd_ = ::open(e.path.c_str(), O_RDONLY | O_CLOEXEC);
        return fd_ < 0 ? host_error(errno) : E_SUCCESS;
    }
    return _os9_open(&path_, e.image, e.path, MODE_READ);
}

error_code reader::read(u_char* buf, std::size_t size, std::size_t* got) {
    *got = 0;
    if (fd_ >= 0) {
        ssize_t n;
        do n = ::read(fd_, buf, size);
        while (n < 0 && errno == EINTR);
        if (n < 0) return host_error(errno);
        *got = static_cast<std::size_t>(n);
        return E_SUCCESS;
    }
    int n = static_cast<int>(size);
    error_code ec = _os9_read(path_, buf, &n);
    if (ec == E_EOF) return E_SUCCESS;
    if (ec) return ec;
    *got = static_cast<std::size_t>(n);
    return E_SUCCESS;
}

namespace {

// A failure leaves no half file, and an old file is replaced whole or not
// at all.
// Writes everything `source` gives to `fd`.
error_code pour(int fd, const byte_source& source) {
    static std::vector<u_char> buf(CHUNK);  // one for every file of the run
    error_code ec = E_SUCCESS;
    for (;;) {
        std::size_t got = 0;
        if ((ec = source(buf.data(), buf.size(), &got)) != E_SUCCESS || got == 0) break;
        for (std::size_t at = 0; at < got && !ec;) {
            ssize_t w = write(fd, buf.data() + at, got - at);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) ec = host_error(w < 0 ? errno : ENOSPC);
            else at += static_cast<std::size_t>(w);
        }
        if (ec) break;
    }
    return ec;
}

error_code put_host(const endpoint& to, const facts& from, const put_options& o, const byte_source& source,
                    bool* unkept) {
    if (to.stdio) return pour(STDOUT_FILENO, source);
    facts there;
    if (error_code ec = look(to, &there)) return ec;
    if (there.exists && there.dir) return E_FNA;
    if (there.exists && !o.replace) return E_CEF;
    std::string temp = to.path + ".dvcopy-XXXXXX";
    int fd = mkstemp(temp.data());
    if (fd < 0) return host_error(errno);
    error_code ec = pour(fd, source);
    // While the file is still its writer's to change, and not yet in place.
    if (!ec && !from.os9.empty()) {
        const int failed = write_host_record(fd, from.os9);
        if (keeps_no_attributes(failed)) {
            if (unkept) *unkept = true;
        } else if (failed) {
            ec = host_error(failed);
        }
    }
    const bool keep = there.exists && o.keep_replaced;
    const mode_t mode = keep ? there.mode : (from.executable ? 0777 : 0666) & ~process_umask();
    if (!ec && keep && fchown(fd, there.uid, there.gid) != 0) {
        // Only root gives a file away; a group of the user's own stays.
        if (fchown(fd, static_cast<uid_t>(-1), there.gid) != 0) {}
    }
    if (!ec && fchmod(fd, mode) != 0) ec = host_error(errno);
    if (!ec && from.modified) {
        const timespec times[2] = {{0, UTIME_NOW}, {from.modified, 0}};
        if (futimens(fd, times) != 0) ec = host_error(errno);
    }
    if (close(fd) != 0 && !ec) ec = host_error(errno);
    if (!ec && rename(temp.c_str(), to.path.c_str()) != 0) ec = host_error(errno);
    if (ec) unlink(temp.c_str());
    return ec;
}

}  // namespace

error_code put(const endpoint& to, const facts& from, const put_options& o, const byte_source& source,
               bool* unkept) {
    if (to.on_host()) return put_host(to, from, o, source, unkept);
    return _os9_put_file(to.image, to.path, o, source);
}

error_code make_directory(const endpoint& e) {
    if (e.on_host()) return mkdir(e.path.c_str(), 0777) == 0 ? E_SUCCESS : host_error(errno);
    return _os9_makdir(e.image, e.path);
}

error_code remove_file(const endpoint& e) {
    if (e.on_host()) return _os9_delete(e.path);
    return _os9_delete(e.image, e.path);
}

error_code rename_to(const endpoint& e, const std::string& newname) {
    if (e.on_host()) return _native_rename(e.path, newname);
    return _os9_rename(e.image, e.path.empty() ? "." : e.path, newname);
}

error_code read_whole(const endpoint& e, std::size_t most, std::vector<u_char>* bytes) {
    reader r;
    if (error_code ec = r.open(e)) return ec;
    std::vector<u_char> chunk(64 * 1024);
    for (;;) {
        std::size_t got = 0;
        if (error_code ec = r.read(chunk.data(), chunk.size(), &got)) return ec;
        if (got == 0) return rbf::E_SUCCESS;
        if (bytes->size() + got > most) return rbf::E_FULL;
        bytes->insert(bytes->end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(got));
    }
}

}  // namespace dv
