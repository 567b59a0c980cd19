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
    std::int64_t new_first = -1;
    int new_count = 0;          // live entries of the new name, the old one included
    bool clash() const { return new_count > 1 || (new_count == 1 && new_first != old_pos); }
};

// One scan answers both questions (a change of letter case is no clash).
error_code find_entries(_pd& dir, const std::string& name, const std::string& newname, lookup* found) {
    fd_stats fd;
    if (error_code ec = fd_load(dir, dir.pl_fd_lsn, fd)) return ec;
    const std::int64_t size = fd_size(fd);
    std::int64_t where = 0;
    error_code ec = dir_scan(dir, 0, [&](const fd_dentry& e, std::int64_t pos) {
        // A piece of an entry at the end of the directory is no entry.
        if (e.name[0] == 0 || pos + DIRENT_SIZE > size) return false;
        if (found->old_pos < 0 && NameFieldEquals(e.name, NAME_FIELD, name)) {
            found->old_pos = pos;
            found->old_lsn = get_be24(e.lsn);
        }
        if (NameFieldEquals(e.name, NAME_FIELD, newname) && found->new_count++ == 0) found->new_first = pos;
        return false;
    }, &where);
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
    if (ec == E_SUCCESS && found.clash()) ec = E_CEF;
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
