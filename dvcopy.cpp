// dvcopy: copies files into disk images, out of them and between them (and
// between host files), one file or, with -r, whole trees; -t turns line
// feeds into carriage returns going in and back coming out.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "misc/frame.h"
#include "os9conv.h"
#include "os9disk.h"
#include "os9path.h"

using namespace rbf;

namespace {

const char* const helpMessage[] = {
    "Syntax: dvcopy {[<opts>]} <from> {[<...>]} <to> {[<opts>]}\n",
    "Usage:  copies files into, out of and between disk images\n",
    "Options:\n",
    "     -t    text: line feeds become carriage returns going in, and back coming out\n",
    "     -r    copies directories with their whole trees\n",
    "     -o    replaces files that exist already\n",
    nullptr,
};

constexpr dv::Option options[] = {dv::flag('t'), dv::flag('r'), dv::flag('o')};
const dv::Program program{.name = "dvcopy", .help = helpMessage, .options = options, .help_without_operands = true};

constexpr std::size_t CHUNK = 256 * 1024;

struct settings {
    bool text = false;
    bool recursive = false;
    bool replace = false;
};

// A host failure as the error numbers the disk calls use where one fits.
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

// One end of a copy: a host path, or a path in an image ("" is the root).
struct place {
    image_ref image;    // null: the host
    std::string path;
    std::string shown;  // as the user would name it

    bool on_host() const { return !image; }
    place child(const std::string& name) const {
        place c = *this;
        if (on_host()) c.path = (path.empty() || path.back() == '/') ? path + name : path + "/" + name;
        else c.path = path.empty() ? name : path + "/" + name;
        c.shown = (shown.empty() || shown.back() == ':' || shown.back() == '/') ? shown + name : shown + "/" + name;
        return c;
    }
};

// What a copy needs to know of a file or directory.
struct facts {
    bool exists = false;
    bool dir = false;
    bool executable = false;
    u_char attributes = 0;  // image files
    std::time_t modified = 0;  // 0: none, the copy keeps the time it was made
    std::pair<std::uint64_t, std::uint64_t> id{};  // host (device, inode) or (0, FD sector)
};

error_code look(const place& p, facts* f) {
    *f = facts{};
    if (p.on_host()) {
        struct stat st {};
        if (stat(p.path.c_str(), &st) != 0) return errno == ENOENT ? E_SUCCESS : host_error(errno);
        f->exists = true;
        f->dir = S_ISDIR(st.st_mode);
        f->executable = (st.st_mode & S_IXUSR) != 0;
        f->modified = st.st_mtime;
        f->id = {st.st_dev, st.st_ino};
        return E_SUCCESS;
    }
    os9_stat st;
    error_code ec = _os9_stat_path(p.image, p.path.empty() ? "." : p.path, &st);
    if (ec == E_PNNF) return E_SUCCESS;
    if (ec) return ec;
    f->exists = true;
    f->dir = st.is_dir;
    f->attributes = st.attributes;
    f->executable = (st.attributes & ATT_EXEC) != 0;
    // A date no clock can show stays 0: the copy keeps the time it was made.
    OS9TimeToUnix(st.modified, &f->modified);
    f->id = {0, st.fd_lsn};
    return E_SUCCESS;
}

// ---- reading a source -----------------------------------------------------------

// An open source file, read in chunks.
class reader {
public:
    ~reader() {
        if (fd_ >= 0) close(fd_);
        if (path_) _os9_close(path_);
    }
    error_code open(const place& p) {
        if (p.on_host()) {
            fd_ = ::open(p.path.c_str(), O_RDONLY | O_CLOEXEC);
            return fd_ < 0 ? host_error(errno) : E_SUCCESS;
        }
        return _os9_open(&path_, p.image, p.path, MODE_READ);
    }
    error_code read(u_char* buf, std::size_t size, std::size_t* got) {
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

private:
    int fd_ = -1;
    os9_path_id path_ = nullptr;
};

// Line endings turned from one byte into the other, in place.
void convert(u_char* buf, std::size_t n, u_char from, u_char to) {
    for (u_char* b = buf; (b = static_cast<u_char*>(std::memchr(b, from, n - static_cast<std::size_t>(b - buf))));)
        *b++ = to;
}

// ---- writing a destination -------------------------------------------------------

mode_t g_umask = 022;

// A host file written beside its destination under a temporary name and
// renamed over it at the end: a failure leaves no half file, and an old
// file is replaced whole or not at all.
error_code put_host(const place& to, const facts& from, bool replace, const byte_source& source) {
    facts there;
    if (error_code ec = look(to, &there)) return ec;
    if (there.exists && there.dir) return E_FNA;
    if (there.exists && !replace) return E_CEF;
    std::string temp = to.path + ".dvcopy-XXXXXX";
    int fd = mkstemp(temp.data());
    if (fd < 0) return host_error(errno);
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
    const mode_t mode = (from.executable ? 0777 : 0666) & ~g_umask;
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

error_code copy_file(const place& from, const facts& from_facts, const place& to, const settings& s) {
    reader in;
    if (error_code ec = in.open(from)) return ec;
    // Text crosses the host boundary only one way or the other.
    const bool into_image = from.on_host() && !to.on_host();
    const bool out_of_image = !from.on_host() && to.on_host();
    byte_source source = [&](u_char* buf, std::size_t size, std::size_t* got) {
        error_code ec = in.read(buf, size, got);
        if (!ec && s.text && into_image) convert(buf, *got, '\n', '\r');
        if (!ec && s.text && out_of_image) convert(buf, *got, '\r', '\n');
        return ec;
    };
    if (to.on_host()) return put_host(to, from_facts, s.replace, source);
    put_options o;
    o.replace = s.replace;
    o.modified = from_facts.modified;
    if (from.on_host())
        o.attributes = static_cast<u_char>(ATT_PREAD | ATT_WRITE | ATT_READ | (from_facts.executable ? ATT_EXEC : 0));
    else
        o.attributes = from_facts.attributes;
    return _os9_put_file(to.image, to.path, o, source);
}

// ---- trees ------------------------------------------------------------------------

struct tree_copy {
    const settings& s;
    error_code first_failure = E_SUCCESS;
    // Directories being copied (a damaged tree may lead back up) and those
    // made by this copy (a tree copied into itself must not copy its copy).
    using where = std::pair<const void*, std::pair<std::uint64_t, std::uint64_t>>;  // image (null: host), id
    std::set<where> entered;
    std::set<where> made;

    void failed(error_code ec, const std::string& shown) {
        dv::report_failure("dvcopy", ec, "copying", shown);
        if (!first_failure) first_failure = ec;
    }

    // A name a host or disk path can hold.
    static bool nameable(const std::string& name) {
        if (name.empty() || name == "." || name == "..") return false;
        for (unsigned char c : name)
            if (c == '/' || c == ':' || c == '@' || c < ' ' || c == 0x7F) return false;
        return true;
    }

    std::vector<std::string> names_in(const place& dir, error_code* ec) {
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
        } else {
            os9_path_id p = nullptr;
            if ((*ec = _os9_open(&p, dir.image, dir.path.empty() ? "." : dir.path, MODE_DIR | MODE_READ))) return names;
            os9_dirent e;
            error_code r;
            while ((r = _os9_readdir(p, &e)) == E_SUCCESS)
                if (e.name != "." && e.name != "..") names.push_back(e.name);
            if (r != E_EOF) *ec = r;
            _os9_close(p);
        }
        return names;
    }

    error_code make_dir(const place& to) {
        facts there;
        if (error_code ec = look(to, &there)) return ec;
        if (there.exists) return there.dir ? E_SUCCESS : E_FNA;
        error_code ec = to.on_host() ? (mkdir(to.path.c_str(), 0777) == 0 ? E_SUCCESS : host_error(errno))
                                     : _os9_makdir(to.image, to.path);
        if (ec) return ec;
        if (look(to, &there) == E_SUCCESS) made.insert({to.image.get(), there.id});
        return E_SUCCESS;
    }

    void copy(const place& from, const place& to) {
        facts f;
        if (error_code ec = look(from, &f)) return failed(ec, from.shown);
        if (!f.exists) return failed(E_PNNF, from.shown);
        if (!f.dir) {
            if (error_code ec = copy_file(from, f, to, s)) failed(ec, from.shown);
            return;
        }
        if (!s.recursive) {
            failed(E_ISDIR, from.shown);
            std::fprintf(stderr, "dvcopy: '%s' is a directory: -r copies whole trees\n", from.shown.c_str());
            return;
        }
        const where here{from.image.get(), f.id};
        if (made.count(here) || !entered.insert(here).second) return;
        if (error_code ec = make_dir(to)) {
            entered.erase(here);
            return failed(ec, from.shown);
        }
        error_code ec;
        const std::vector<std::string> names = names_in(from, &ec);
        if (ec) failed(ec, from.shown);
        for (const std::string& name : names) {
            if (!nameable(name)) {
                failed(E_BPNAM, from.child(name).shown);
                continue;
            }
            copy(from.child(name), to.child(name));
        }
        entered.erase(here);
    }
};

// ---- operands ---------------------------------------------------------------------

// The images named on the command line, each opened once: for writing when
// it receives files, else for reading.
using image_table = std::map<std::string, image_ref>;

error_code place_of(image_table& images, const std::string& operand, bool write, place* p) {
    p->shown = operand;
    const std::size_t colon = operand.find(':');
    if (colon == std::string::npos) {
        p->path = operand;
        return E_SUCCESS;
    }
    const std::string file = operand.substr(0, colon);
    std::string in_image = operand.substr(colon + 1);
    // The root goes by "", by "." and by a trailing "/."
    while (in_image.size() >= 2 && in_image.compare(in_image.size() - 2, 2, "/.") == 0) in_image.resize(in_image.size() - 2);
    while (!in_image.empty() && in_image.back() == '/') in_image.pop_back();
    if (in_image == ".") in_image.clear();
    p->path = in_image;
    if (file.empty()) return E_BPNAM;
    image_ref& held = images[file];
    if (!held) {
        if (error_code ec = image_open(file, write, &held)) {
            images.erase(file);
            return ec;
        }
    }
    p->image = held;
    return E_SUCCESS;
}

std::string last_name(const place& p) {
    std::string path = p.path;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

int main(int argc, char** argv) {
    dv::CommandLine line = dv::parse(program, argc, argv);
    if (line.exit) return *line.exit;
    settings s;
    for (const dv::Given& o : line.options) {
        if (o.letter == 't') s.text = true;
        if (o.letter == 'r') s.recursive = true;
        if (o.letter == 'o') s.replace = true;
    }
    g_umask = umask(0);
    umask(g_umask);
    if (line.operands.size() < 2) return dv::report_failure("dvcopy", E_ILLARG, "copying", line.operands[0]);

    // The destination's image is opened first, for writing: a source in the
    // same image joins it.
    image_table images;
    place to;
    const std::string to_operand = line.operands.back();
    if (error_code ec = place_of(images, to_operand, true, &to)) {
        dv::report_failure("dvcopy", ec, "copying to", to_operand);
        dv::explain_busy("dvcopy", ec);
        return ec;
    }
    facts to_facts;
    if (error_code ec = look(to, &to_facts)) return dv::report_failure("dvcopy", ec, "copying to", to_operand);
    const std::size_t sources = line.operands.size() - 1;
    if (sources > 1 && !to_facts.dir)
        return dv::report_failure("dvcopy", to_facts.exists ? E_FNA : E_PNNF, "copying to", to_operand);

    tree_copy copier{s, E_SUCCESS, {}, {}};
    for (std::size_t k = 0; k < sources; ++k) {
        place from;
        if (error_code ec = place_of(images, line.operands[k], false, &from)) {
            copier.failed(ec, line.operands[k]);
            dv::explain_busy("dvcopy", ec);
            continue;
        }
        // Into a directory each source keeps its name; a disk's root pours
        // its contents in.
        place dest = to;
        const std::string name = last_name(from);
        if (to_facts.dir && !name.empty()) dest = to.child(name);
        copier.copy(from, dest);
    }
    return copier.first_failure;
}
