// Removal of a whole directory tree, depth first.
#include <algorithm>
#include <vector>

#include "os9conv.h"
#include "os9disk.h"
#include "rbf/image.h"
#include "rbf/internal.h"

namespace rbf {

namespace {

struct walk_state {
    const image_ref& image;
    const prune_options& options;
    long budget;
    bool quit = false;
    bool spent = false;
    // FD sectors of the directories entered for the operand: an entry that
    // leads to one of them again (a loop, or a directory under a second
    // name in a damaged tree) is not entered twice.
    std::vector<int> entered;

    bool step() {
        if (budget < 0) return true;
        if (--budget < 0) spent = true;
        return !spent;
    }
};

// Opens by name only: a name ending in '@' is a name here, never the raw image.
error_code open_dir(os9_path_id* out, const image_ref& image, const std::string& in_image, int mode) {
    return detail::open_on_image(out, image, in_image, mode, false);
}

// Sets or clears the directory bit of the open path's FD.
error_code set_dir_bit(os9_path_id path, bool on) {
    fd_stats fdbuf;
    if (error_code ec = _os9_gs_fd(path, SECTOR_SIZE, &fdbuf)) return ec;
    fdbuf.fd_att = on ? (fdbuf.fd_att | ATT_DIR) : (fdbuf.fd_att & ~ATT_DIR);
    return _os9_gs_fd_set(path, SECTOR_SIZE, &fdbuf);
}

// True when the entry at `pos` of the directory is still in use.
bool entry_in_use(os9_path_id dir, std::int64_t pos) {
    fd_dentry dentry{};
    int size = DIRENT_SIZE;
    dir->filepos = pos;
    return _os9_read(dir, &dentry, &size) == E_SUCCESS && dentry.name[0] != 0;
}

// Empties and removes one directory.  Results of the levels below do not
// surface; an entry that stays (it could not be deleted) is passed, not met
// again, and makes the directory's own removal fail with 214.
error_code prune_dir(walk_state& w, const std::string& shown, const std::string& in_image) {
    if (!w.step()) return E_SUCCESS;
    if (w.options.ask) {
        // The image is not held while the user thinks (and perhaps lists it
        // with another program).
        if (w.image) image_unlock(*w.image);
        const prune_answer answer = w.options.ask(shown);
        if (w.image) {
            if (error_code ec = image_relock(*w.image)) return ec;
        }
        if (answer == prune_answer::quit) {
            w.quit = true;
            return E_SUCCESS;
        }
    }
    os9_path_id fold_path = nullptr;
    if (error_code ec = open_dir(&fold_path, w.image, in_image, MODE_DIR | MODE_WRITE)) return ec;
    w.entered.push_back(fold_path->pl_fd_lsn);
    error_code first_failure = E_SUCCESS;
    std::int64_t pos = 0;
    for (;;) {
        if (!w.step()) {
            _os9_close(fold_path);
            return E_SUCCESS;
        }
        fold_path->filepos = pos;
        error_code ec = _os9_gs_eof(fold_path);
        if (ec == E_EOF) break;
        fd_dentry dentry{};
        int size = DIRENT_SIZE;
        if (ec == E_SUCCESS) ec = _os9_read(fold_path, &dentry, &size);
        if (ec != E_SUCCESS) {
            // A directory that cannot be read to its end is not deleted: the
            // entries not reached would keep their units for ever.
            _os9_close(fold_path);
            return ec;
        }
        const std::int64_t entry_pos = pos;
        pos += size;
        if (dentry.name[0] == 0) continue;
        const std::string name = NameFromField(dentry.name, NAME_FIELD);
        if (name == "." || name == "..") continue;
        const std::string sub_shown = shown + "/" + name;
        const std::string sub_in = in_image + "/" + name;
        if (sub_shown.size() > MAX_PARENT_PATHLIST) {
            if (!first_failure) first_failure = E_BPNAM;
            continue;
        }

        // No path of this directory is open while an entry goes, so that
        // its bitmap changes are on the image before the next step reads it.
        _os9_close(fold_path);
        fold_path = nullptr;
        os9_path_id sub = nullptr;
        if (open_dir(&sub, w.image, sub_in, MODE_DIR | MODE_READ) == E_SUCCESS) {
            const int lsn = sub->pl_fd_lsn;
            _os9_close(sub);
            const bool loop = std::find(w.entered.begin(), w.entered.end(), lsn) != w.entered.end();
            if (!loop) prune_dir(w, sub_shown, sub_in);
            if (w.quit || w.spent) return E_SUCCESS;
        } else {
            _os9_delete(w.image, sub_in);
        }
        if (error_code reopen = open_dir(&fold_path, w.image, in_image, MODE_DIR | MODE_WRITE)) return reopen;
        if (entry_in_use(fold_path, entry_pos) && !first_failure) first_failure = E_FNA;
    }
    if (first_failure) {
        _os9_close(fold_path);
        return first_failure;
    }

    // Cleared, the directory reads as a plain file, which the delete takes.
    const int dir_lsn = fold_path->pl_fd_lsn;
    error_code ec = set_dir_bit(fold_path, false);
    if (error_code closed = _os9_close(fold_path); !ec) ec = closed;
    if (ec) return ec;
    ec = _os9_delete(w.image, in_image);
    os9_path_id left = nullptr;
    if (open_dir(&left, w.image, in_image, MODE_WRITE) == E_SUCCESS) {
        // Still there: it keeps its directory bit.  The name may now lead to
        // another file (a second entry of the same name, later in the
        // parent), which is left as it is.
        if (left->pl_fd_lsn == dir_lsn) {
            set_dir_bit(left, true);
            if (!ec) ec = E_FNA;
        }
        _os9_close(left);
    }
    return ec;
}

}  // namespace

prune_result _os9_prune(const image_ref& image, const std::string& shown, const std::string& in_image,
                        const prune_options& options) {
    prune_result r;
    // "." and ".." (the root, a parent) and an empty last component cannot
    // be removed from their parent: refused before anything is emptied, so
    // that no directory is left without its directory bit.
    std::string parent;
    std::string last;
    detail::split_last(in_image, &parent, &last);
    if (last.empty()) {
        r.error = E_BPNAM;
        return r;
    }
    if (last == "." || last == "..") {
        r.error = E_ILLARG;
        return r;
    }
    walk_state w{image, options, options.budget, false, false, {}};
    r.error = prune_dir(w, shown, in_image);
    r.quit = w.quit;
    r.spent = w.spent;
    // Spent, the count stands at -1, which would read as "no limit".
    r.budget_left = w.spent ? 0 : w.budget;
    if (r.quit || r.spent) r.error = E_SUCCESS;
    return r;
}

}  // namespace rbf
