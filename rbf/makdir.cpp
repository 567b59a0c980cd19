// Making directories in an image and on the host.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "os9conv.h"
#include "os9path.h"
#include "rbf/internal.h"

namespace rbf {

namespace {

fd_dentry dir_entry(const char* name, int lsn) {
    fd_dentry e{};
    std::string stored = name;
    StringToOS9Name(stored);
    std::memcpy(e.name, stored.data(), stored.size());
    put_be24(e.lsn, static_cast<std::uint32_t>(lsn));
    return e;
}

}  // namespace

error_code _native_makdir(const std::string& pathlist) {
    return mkdir(pathlist.c_str(), 0755) == 0 ? E_SUCCESS : errno;
}

error_code _os9_makdir(const std::string& pathlist) {
    if (pathlist.find(':') == std::string::npos) return _native_makdir(pathlist);
    os9_path_id parent_path = nullptr;
    std::string filename;
    if (error_code ec = _os9_open_parent_directory(&parent_path, pathlist, MODE_DIR | MODE_WRITE, filename))
        return ec;
    int parentLSN = parent_path->pl_fd_lsn;
    _os9_close(parent_path);

    os9_path_id dir_path = nullptr;
    if (error_code ec = _os9_create(&dir_path, pathlist, MODE_DIR | MODE_WRITE, ATT_NEWDIR)) return ec;
    fd_dentry entries[2] = {dir_entry("..", parentLSN), dir_entry(".", dir_path->pl_fd_lsn)};
    int size = sizeof entries;
    error_code ec = _os9_write(dir_path, entries, &size);
    if (ec != E_SUCCESS) {
        // A directory without ".." and "." is no directory: take the new
        // name and FD away again, as a plain file, so the disk stays sound.
        fd_stats fd;
        if (_os9_gs_fd(dir_path, SECTOR_SIZE, &fd) == E_SUCCESS) {
            fd.fd_att = static_cast<u_char>(fd.fd_att & ~ATT_DIR);
            _os9_gs_fd_set(dir_path, SECTOR_SIZE, &fd);
        }
        _os9_close(dir_path);
        _os9_delete(pathlist);
        return ec;
    }
    return _os9_close(dir_path);
}

}  // namespace rbf
