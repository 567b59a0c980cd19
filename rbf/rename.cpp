// Renaming a file or directory inside its own directory, in an image and
// on the host.
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "os9conv.h"
#include "os9disk.h"
#include "rbf/directory.h"

namespace rbf {

using namespace detail;

namespace {

bool dot_name(const std::string& name) { return name == "." || name == ".."; }

// Where the entry to rename lies, and whether another entry has the new name.
struct lookup {
    std::int64_t old_pos = -1;  // the first live entry of the old name
    std::uint32_t old_lsn = 0;  // the FD it names
    bool clash = false;
};

// A change of letter case is no clash with the entry itself, but one with a
// second entry of the name (a damaged directory that holds it twice) is.
error_code find_entries(_pd& dir, const std::string& name, const std::string& newname, lookup* found) {
    dir_lookup old;
    if (error_code ec = dir_find(dir, name, index_use::if_known, &old)) return ec;
    if (!old.found()) return E_SUCCESS;
    found->old_pos = old.pos;
    found->old_lsn = old.lsn;
    dir_lookup other;
    if (error_code ec = dir_find(dir, newname, index_use::if_known, &other)) return ec;
    if (other.found() && other.pos != old.pos) {
        found->clash = true;
        return E_SUCCESS;
    }
    if (!NameEquals(name, newname)) return E_SUCCESS;
    std::int64_t where = 0;
    const error_code ec = dir_scan(dir, old.pos + DIRENT_SIZE, [&](const fd_dentry& e, std::int64_t) {
        return e.name[0] != 0 && NameFieldEquals(e.name, NAME_FIELD, newname);
    }, &where);
    found->clash = ec == E_SUCCESS;
    return ec == E_EOF ? E_SUCCESS : ec;
}

}  // namespace

error_code _os9_rename(const image_ref& image, const std::string& in_image, const std::string& newname) {
    if (!in_image.empty() && in_image.back() == '@') return E_BPNAM;
    target t;
    if (error_code ec = target_of(image, in_image, &t)) return ec;
    if (t.name.empty()) return E_BPNAM;
    if (dot_name(t.name) || dot_name(newname)) return E_ILLARG;
    if (newname.empty() || newname.size() > NAME_FIELD || _os9_ok_filename(newname)) return E_BPNAM;
    os9_path_id dir = nullptr;
    if (error_code ec = open_on_image(&dir, image, t.parent_dot, MODE_DIR | MODE_WRITE, false)) return ec;
    lookup found;
    error_code ec = find_entries(*dir, t.name, newname, &found);
    if (ec == E_SUCCESS && found.old_pos < 0) ec = E_PNNF;
    if (ec == E_SUCCESS && found.clash) ec = E_CEF;
    if (ec == E_SUCCESS) ec = dir_set_name(*dir, found.old_pos, newname);
    if (ec == E_SUCCESS) ec = boot_file_moved(*dir, found.old_lsn, static_cast<std::uint32_t>(dir->pl_fd_lsn), newname);
    if (error_code closed = _os9_close(dir); !ec) ec = closed;
    return ec;
}

error_code _native_rename(const std::string& pathlist, const std::string& newname) {
    const std::size_t slash = pathlist.rfind('/');
    const std::size_t name_at = slash == std::string::npos ? 0 : slash + 1;
    const std::string name = pathlist.substr(name_at);
    if (name.empty() || newname.empty()) return E_BPNAM;
    if (dot_name(name) || dot_name(newname)) return E_ILLARG;
    if (newname.find('/') != std::string::npos) return E_BPNAM;
    struct stat st {};
    if (newname == name) return lstat(pathlist.c_str(), &st) == 0 ? E_SUCCESS : errno;
    const std::string to = pathlist.substr(0, name_at) + newname;
    if (renameat2(AT_FDCWD, pathlist.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return E_SUCCESS;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // A file system that cannot refuse to replace: look first.
    if (lstat(to.c_str(), &st) == 0) return EEXIST;
    return std::rename(pathlist.c_str(), to.c_str()) == 0 ? E_SUCCESS : errno;
}

}  // namespace rbf
