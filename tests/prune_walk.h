// The prune program's quiet removal of a directory tree, done through the
// library calls as the program does them, for tests and fuzz targets that
// work on in-memory images: open the directory 0x82, scan its entries,
// close it before each subdirectory pass or delete and reopen it after,
// clear the directory bit through gs_fd / gs_fd_set, then delete the
// directory itself (giving the bit back if it is still there).  A
// directory already entered during the walk (through a loop, or under a
// second name) is not entered again: its entry is passed as one that
// cannot be deleted.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "os9conv.h"
#include "os9path.h"

namespace dvtest {

// Result of prune_walk when the step budget ran out before the tree did.
inline constexpr int kPruneBudgetSpent = -1;

namespace prune_detail {

inline rbf::error_code set_dir_bit(rbf::os9_path_id path, bool on) {
    rbf::fd_stats fdbuf;
    if (rbf::error_code ec = rbf::_os9_gs_fd(path, rbf::SECTOR_SIZE, &fdbuf)) return ec;
    fdbuf.fd_att = on ? (fdbuf.fd_att | rbf::ATT_DIR) : (fdbuf.fd_att & ~rbf::ATT_DIR);
    return rbf::_os9_gs_fd_set(path, rbf::SECTOR_SIZE, &fdbuf);
}

inline bool entry_in_use(rbf::os9_path_id dir, int pos) {
    rbf::fd_dentry dentry{};
    int size = rbf::DIRENT_SIZE;
    rbf::_os9_seek(dir, pos, 0);
    return rbf::_os9_read(dir, &dentry, &size) == rbf::E_SUCCESS && dentry.name[0] != 0;
}

inline int walk(const std::string& path, long* budget, std::vector<int>& entered) {
    using namespace rbf;
    if (--*budget < 0) return kPruneBudgetSpent;
    os9_path_id fold_path = nullptr;
    if (error_code ec = _os9_open(&fold_path, path, MODE_DIR | MODE_WRITE)) return ec;
    entered.push_back(fold_path->pl_fd_lsn);
    error_code first_failure = E_SUCCESS;
    int pos = 0;
    for (;;) {
        if (--*budget < 0) {
            _os9_close(fold_path);
            return kPruneBudgetSpent;
        }
        _os9_seek(fold_path, pos, 0);
        error_code ec = _os9_gs_eof(fold_path);
        if (ec == E_EOF) break;
        fd_dentry dentry{};
        int size = DIRENT_SIZE;
        if (ec == E_SUCCESS) ec = _os9_read(fold_path, &dentry, &size);
        if (ec != E_SUCCESS) {
            _os9_close(fold_path);
            return ec;
        }
        int entry_pos = pos;
        pos += size;
        if (dentry.name[0] == 0) continue;
        std::string name = NameFromField(dentry.name, NAME_FIELD);
        if (name == "." || name == "..") continue;
        std::string dirpath = path + "/" + name;
        if (dirpath.size() > MAX_PARENT_PATHLIST) {
            if (!first_failure) first_failure = E_BPNAM;
            continue;
        }
        _os9_close(fold_path);
        fold_path = nullptr;
        os9_path_id sub = nullptr;
        if (_os9_open(&sub, dirpath, MODE_DIR | MODE_READ) == E_SUCCESS) {
            int lsn = sub->pl_fd_lsn;
            _os9_close(sub);
            if (std::find(entered.begin(), entered.end(), lsn) == entered.end()) {
                int r = walk(dirpath, budget, entered);
                if (r == kPruneBudgetSpent) return r;
            }
        } else {
            _os9_delete(dirpath);
        }
        if (error_code reopen = _os9_open(&fold_path, path, MODE_DIR | MODE_WRITE)) return reopen;
        if (entry_in_use(fold_path, entry_pos) && !first_failure) first_failure = E_FNA;
    }
    if (first_failure) {
        _os9_close(fold_path);
        return first_failure;
    }
    error_code ec = set_dir_bit(fold_path, false);
    _os9_close(fold_path);
    if (ec) return ec;
    ec = _os9_delete(path);
    os9_path_id left = nullptr;
    if (_os9_open(&left, path, MODE_WRITE) == E_SUCCESS) {
        set_dir_bit(left, true);
        _os9_close(left);
        if (!ec) ec = E_FNA;
    }
    return ec;
}

}  // namespace prune_detail

// Removes the tree at `path` (an image pathlist).  Operands whose last
// component is "." or ".." give 187 and empty ones 215 before anything is
// touched.  Each directory visited and each entry met costs one step of
// *budget; kPruneBudgetSpent when it runs out.
inline int prune_walk(const std::string& path, long* budget) {
    std::size_t colon = path.find(':');
    if (colon != std::string::npos) {
        std::size_t slash = path.rfind('/');
        std::size_t at = (slash != std::string::npos && slash > colon) ? slash + 1 : colon + 1;
        std::string last = path.substr(at);
        if (last.empty()) return rbf::E_BPNAM;
        if (last == "." || last == "..") return rbf::E_ILLARG;
    }
    std::vector<int> entered;
    return prune_detail::walk(path, budget, entered);
}

}  // namespace dvtest
