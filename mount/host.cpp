#include "mount/host.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace dv::mount {

namespace {

// The absolute path of `dir` with its links resolved.  A dead FUSE mount
// cannot be resolved itself (ENOTCONN), but its parent can.
std::string absolute(const std::string& dir) {
    if (char* real = realpath(dir.c_str(), nullptr)) {
        std::string out = real;
        std::free(real);
        return out;
    }
    std::string path = dir;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const std::size_t slash = path.rfind('/');
    const std::string leaf = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    if (leaf.empty() || leaf == "." || leaf == "..") return "";
    char* real = realpath(parent.c_str(), nullptr);
    if (!real) return "";
    std::string out = real;
    std::free(real);
    return (out == "/" ? "" : out) + "/" + leaf;
}

// A mount point field of mountinfo: space, tab, newline and backslash are
// written as \ooo.
std::string unescape(const std::string& field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string oct = field.substr(i + 1, 3);
            if (oct.find_first_not_of("01234567") == std::string::npos) {
                out += static_cast<char>(std::strtol(oct.c_str(), nullptr, 8));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

}  // namespace

bool is_mount_point(const std::string& dir) {
    const std::string path = absolute(dir);
    if (path.empty()) return false;
    // Each line: id, parent id, major:minor, root, mount point, ...
    std::ifstream info("/proc/self/mountinfo");
    for (std::string line; std::getline(info, line);) {
        std::istringstream fields(line);
        std::string id, parent, device, root, point;
        if (fields >> id >> parent >> device >> root >> point && unescape(point) == path) return true;
    }
    struct stat here {}, up {};
    if (stat(path.c_str(), &here) != 0) return errno == ENOTCONN;
    if (stat((path + "/..").c_str(), &up) != 0) return false;
    return here.st_dev != up.st_dev || here.st_ino == up.st_ino;
}

std::string fuse_unusable(bool* denied) {
    *denied = false;
    const int fd = open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fd >= 0) {
        close(fd);
        return "";
    }
    const int err = errno;
    *denied = err == EACCES || err == EPERM;
    std::string why = std::string("/dev/fuse: ") + std::strerror(err);
    if (err == ENOENT || err == ENODEV) why += " (the fuse module is not loaded)";
    return why;
}

}  // namespace dv::mount
