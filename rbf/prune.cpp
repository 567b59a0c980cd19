// Removal of a whole directory tree, depth first.
#include <algorithm>
#include <vector>

#include "os9disk.h"
#include "os9path.h"
#include "rbf/directory.h"
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
    long reported = 0;
    // FD sectors of the operand's ancestors and of the directories entered:
    // an entry that leads to one of them again (a loop, or a directory under
    // a second name in a damaged tree) is not entered.
    detail::reached_fds entered{0};

    bool step() {
        if (budget < 0) return true;
        if (--budget < 0) spent = true;
        return !spent;
    }
    void report(const std::string& pathlist, error_code ec) {
        ++reported;
        if (options.report) options.report(pathlist, ec);
    }
    // An entry went but kept units that another file claims too.
    bool kept_shared = false;
    bool was_entered(std::uint32_t lsn) const { return entered.contains(lsn); }
};

// A name that no pathlist could name: a separator, a raw mark, a blank or
// a control byte in it.
bool unnameable(const std::string& name) {
    if (name.empty()) return true;
    for (unsigned char c : name)
        if (c == '/' || c == ':' || c == '@' || c <= ' ' || c == 0x7F) return true;
    return false;
}

// Asks before the directory `shown` is emptied; false when the answer was
// quit (or the image could not be held again: *ec).
bool ask(walk_state& w, const std::string& shown, error_code* ec) {
    *ec = E_SUCCESS;
    if (!w.options.ask) return true;
    // The image is not held while the user thinks (and perhaps lists it
    // with another program).
    if (w.image) image_unlock(*w.image);
    const prune_answer answer = w.options.ask(shown);
    if (w.image && (*ec = image_relock(*w.image)) != E_SUCCESS) return false;
    if (answer == prune_answer::quit) w.quit = true;
    return !w.quit;
}

// Empties the directory whose FD is at `lsn`, reached through its entry:
// what is left for its parent is to remove the entry.  Children are reached through the FDs their entries give,
// never by names again.  An entry that cannot go is reported, stays, and
// keeps the directory (214 or its own error).
error_code empty_dir(walk_state& w, const std::string& shown, std::uint32_t lsn, bool asked) {
    if (!w.step()) return E_SUCCESS;
    if (!asked) {
        error_code ec;
        if (!ask(w, shown, &ec)) return ec;
    }
    os9_path_id dir = nullptr;
    if (error_code ec = _os9_open_fd(&dir, w.image, lsn, MODE_DIR | MODE_WRITE)) return ec;
    w.entered.insert(lsn);
    error_code first_failure = E_SUCCESS;
    auto failed = [&](const std::string& pathlist, error_code ec, bool report) {
        if (report) w.report(pathlist, ec);
        if (!first_failure) first_failure = ec;
    };
    // Entries to remove go together, a few hundred at a time, and always
    // before the walk leaves the directory or enters another.
    std::vector<detail::entry_clear> pending;
    auto flush = [&] {
        if (pending.empty()) return;
        detail::clear_entries(*dir, pending);
        for (const detail::entry_clear& c : pending) {
            if (c.result == E_SHARED) {
                w.report(c.shown, c.result);  // gone, but some of its units stay another file's
                w.kept_shared = true;
            } else if (c.result != E_SUCCESS) {
                failed(c.shown, c.result, true);
            }
        }
        pending.clear();
    };
    auto leave = [&](error_code ec) {
        flush();
        _os9_close(dir);
        return ec;
    };
    for (;;) {
        if (!w.step()) return leave(E_SUCCESS);
        os9_dirent e;
        error_code ec = _os9_readdir(dir, &e);
        if (ec == E_EOF) break;
        // A directory that cannot be read to its end is not deleted: the
        // entries not reached would keep their units for ever.
        if (ec != E_SUCCESS) return leave(ec);
        if (e.name == "." || e.name == "..") continue;
        const std::string child = shown + "/" + e.name;
        if (unnameable(e.name)) {
            failed(child, E_BPNAM, true);
            continue;
        }
        os9_stat st;
        const bool subdir = _os9_stat_fd(dir, e.fd_lsn, &st) == E_SUCCESS && st.is_dir && (st.attributes & ATT_READ);
        if (subdir) {
            if (w.was_entered(e.fd_lsn)) {  // it leads back up the tree, or to one already emptied
                failed(child, E_FNA, true);
                continue;
            }
            // The user may be asked there, and other programs may write
            // while they think: nothing is left pending meanwhile.
            flush();
            const long reported = w.reported;
            ec = empty_dir(w, child, e.fd_lsn, false);
            if (w.quit || w.spent) return leave(ec);
            if (ec) {
                failed(child, ec, w.reported == reported);  // its own causes are reported already
                continue;
            }
        }
        pending.push_back({e.pos, e.fd_lsn, E_SUCCESS, child});
        if (pending.size() >= 512) flush();
    }
    flush();
    // Empty now, it keeps its directory bit until its entry goes and its
    // units are freed.
    error_code closed = _os9_close(dir);
    return first_failure ? first_failure : closed;
}

}  // namespace

prune_result _os9_prune(const image_ref& image, const std::string& shown, const std::string& in_image,
                        const prune_options& options) {
    prune_result r;
    // "." and ".." (the root, a parent) and an empty last component cannot
    // be removed from their parent, and a raw path is no directory: refused
    // before anything is asked or touched.
    std::string parent;
    std::string last;
    detail::split_last(in_image, &parent, &last);
    if (last.empty() || in_image.back() == '@') {
        r.error = E_BPNAM;
        return r;
    }
    if (last == "." || last == "..") {
        r.error = E_ILLARG;
        return r;
    }
    walk_state w{image, options, options.budget};
    auto finish = [&](error_code ec) {
        r.error = ec;
        r.quit = w.quit;
        r.spent = w.spent;
        // Spent, the count stands at -1, which would read as "no limit".
        r.budget_left = w.spent ? 0 : w.budget;
        if (r.quit || r.spent) r.error = E_SUCCESS;
        return r;
    };
    error_code ec;
    if (!ask(w, shown, &ec)) return finish(ec);

    // The operand's parent, found by name, holds the entry that goes last;
    // the operand's ancestors are never entered from below.
    os9_path_id up = nullptr;
    if ((ec = detail::open_on_image(&up, image, parent + ".", MODE_DIR | MODE_WRITE, false))) return finish(ec);
    const int parent_lsn = up->pl_fd_lsn;
    w.entered = detail::reached_fds(detail::disk_units(*up));
    w.entered.insert(static_cast<std::uint32_t>(parent_lsn));
    std::vector<std::string> pieces = detail::split_pieces(parent, '/');
    for (std::size_t k = 0; k <= pieces.size(); ++k) {
        std::string prefix;
        for (std::size_t i = 0; i < k; ++i) prefix += pieces[i] + "/";
        int lsn = 0;
        if (detail::walk_path(*up, prefix, &lsn) == E_SUCCESS) w.entered.insert(static_cast<std::uint32_t>(lsn));
    }
    up->pl_fd_lsn = parent_lsn;  // the walks went through this path
    up->ahead_valid = false;
    // A parent that cannot be read as far as the name does not hold it.
    detail::dir_lookup found;
    if (detail::dir_find(*up, last, detail::index_use::if_known, &found) != E_SUCCESS || !found.found()) {
        _os9_close(up);
        return finish(E_PNNF);
    }
    if (w.was_entered(found.lsn)) {  // the operand is one of its own ancestors
        _os9_close(up);
        return finish(E_FNA);
    }
    ec = empty_dir(w, shown, found.lsn, true);
    if (ec == E_SUCCESS && !w.quit && !w.spent) {
        ec = detail::delete_entry(*up, found.pos, found.lsn);
        if (ec == E_SHARED) {
            w.report(shown, ec);
            w.kept_shared = true;
            ec = E_SUCCESS;
        }
    }
    if (error_code closed = _os9_close(up); !ec) ec = closed;
    if (!ec && w.kept_shared) ec = E_SHARED;
    return finish(ec);
}

}  // namespace rbf
