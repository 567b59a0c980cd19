// Whole files written into an image (a copy in).  The new file is built
// unreachable, FD and bytes, and appears only at the end: its entry is
// written (or the old file's entry pointed at it) in one write, and only
// then are the old file's units given back.  A failure or a crash at any
// point leaves the image as it was, at worst with units in use that
// nothing claims.  The boot file's successor is laid in one run and LSN 0
// pointed at it between the entry's write and the old file's release.
#include <algorithm>
#include <cstring>
#include <ctime>
#include <vector>

#include "os9conv.h"
#include "os9disk.h"
#include "os9path.h"
#include "rbf/directory.h"
#include "rbf/internal.h"

namespace rbf {

using namespace detail;

namespace {

constexpr std::size_t CHUNK = 256 * 1024;

// Fills the file whose FD is at `lsn` from `source`.
error_code fill_file(const image_ref& image, std::int64_t lsn, const byte_source& source) {
    os9_path_id file = nullptr;
    if (error_code ec = open_on_image(&file, image, std::string(), MODE_WRITE, false, lsn)) return ec;
    // One buffer for every file of a copy: a fresh quarter megabyte per
    // file cost more than a small file's whole copy.
    thread_local std::vector<u_char> buf(CHUNK);
    error_code ec = E_SUCCESS;
    for (;;) {
        std::size_t got = 0;
        if ((ec = source(buf.data(), buf.size(), &got)) != E_SUCCESS || got == 0) break;
        int size = static_cast<int>(got);
        if ((ec = _os9_write(file, buf.data(), &size)) != E_SUCCESS) break;
    }
    if (error_code closed = _os9_close(file); !ec) ec = closed;
    return ec;
}

// The source's bytes whole, for a file laid in one run: its size first.
// 248 past `most` bytes (the disk's size).
error_code read_whole(const byte_source& source, std::uint64_t most, std::vector<u_char>* whole) {
    std::vector<u_char> buf(CHUNK);
    for (;;) {
        std::size_t got = 0;
        if (error_code ec = source(buf.data(), buf.size(), &got)) return ec;
        if (got == 0) return E_SUCCESS;
        if (whole->size() + got > most) return E_FULL;
        whole->insert(whole->end(), buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(got));
    }
}

}  // namespace

error_code _os9_put_file(const image_ref& image, const std::string& in_image, const put_options& options,
                         const byte_source& source) {
    target t;
    if (error_code ec = target_of(image, in_image, &t)) return ec;
    if (t.name == "." || t.name == "..") return E_ILLARG;
    if (t.raw || t.name.empty() || t.name.size() > NAME_FIELD || _os9_ok_filename(t.name)) return E_BPNAM;
    os9_path_id parent = nullptr;
    if (error_code ec = open_on_image(&parent, image, t.parent_dot, MODE_DIR | MODE_WRITE, false)) return ec;
    auto done = [&](error_code ec) {
        error_code closed = _os9_close(parent);
        return ec ? ec : closed;
    };

    // The file it replaces, if any, and the first free slot: from the
    // directory's index (built now), else in one scan.
    dir_lookup found;
    error_code ec = dir_find(*parent, t.name, index_use::build, &found);
    if (ec != E_SUCCESS) return done(ec);
    const std::int64_t old_pos = found.pos;
    const std::uint32_t old_lsn = found.lsn;
    if (old_pos >= 0) {
        if (!options.replace) return done(E_CEF);
        os9_stat st;
        if (_os9_stat_fd(parent, old_lsn, &st) == E_SUCCESS && st.is_dir) return done(E_FNA);
        if (old_lsn == parent->geo.root_fd) return done(E_FNA);
    }

    // The boot file LSN 0 names gives way, or the new file is to boot: the
    // new one is laid in one run (unless LSN 0 is to name its FD), taken
    // before the FD, and LSN 0 follows it.
    bool boot = options.boot != boot_form::none;
    u_char att = static_cast<u_char>(options.attributes & ~ATT_DIR);
    u_char owner[2] = {0, 0};
    if (options.owner) put_be16(owner, *options.owner);
    if (old_pos >= 0) {
        fd_stats old_fd;
        const bool loaded = fd_load(*parent, old_lsn, old_fd) == E_SUCCESS;
        if (!boot) boot = loaded && names_boot_file(boot_pointer_in(*parent->img), old_lsn, old_fd);
        if (loaded && options.keep_replaced) {
            att = static_cast<u_char>(old_fd.fd_att & ~ATT_DIR);
            std::memcpy(owner, old_fd.fd_own, sizeof owner);
        }
    }
    const bool one_run = boot && options.boot != boot_form::fd_form;
    std::vector<u_char> whole;
    byte_source from = source;
    std::int64_t run = 0, run_sectors = 0;
    if (one_run) {
        if ((ec = read_whole(source, static_cast<std::uint64_t>(disk_bytes(*parent)), &whole)) != E_SUCCESS)
            return done(ec);
        if ((ec = take_one_run(*parent, static_cast<std::int64_t>(whole.size()), &run, &run_sectors)) != E_SUCCESS)
            return done(ec);
        from = [&whole, at = std::size_t{0}](u_char* buf, std::size_t size, std::size_t* got) mutable {
            *got = std::min(size, whole.size() - at);
            std::copy_n(whole.data() + at, *got, buf);
            at += *got;
            return E_SUCCESS;
        };
    }

    fd_stats fd{};
    put_be24(fd.fd_seg[0].lsn, static_cast<std::uint32_t>(run));
    put_be16(fd.fd_seg[0].num, static_cast<std::uint32_t>(run_sectors));
    // Readable and writable while it is filled; its own attributes at the end.
    fd.fd_att = static_cast<u_char>(att | ATT_READ | ATT_WRITE);
    std::memcpy(fd.fd_own, owner, sizeof owner);
    const std::time_t now = std::time(nullptr);
    UnixToOS9Time(options.modified ? options.modified : now, fd.fd_dat);
    u_char today[5];
    UnixToOS9Time(now, today);
    std::memcpy(fd.fd_creat, options.created ? options.created->data() : today, 3);
    fd.fd_lnk = 1;
    std::int64_t lsn = 0;
    if ((ec = new_fd(*parent, fd, &lsn)) != E_SUCCESS) {
        give_units(*parent, run, run_sectors);
        bitmap_sync(*parent);
        return done(ec);
    }
    auto give_back = [&](error_code failure) {
        abandon_fd(*parent, lsn);
        return done(failure);
    };
    if ((ec = fill_file(image, lsn, from)) != E_SUCCESS) return give_back(ec);
    if (att != fd.fd_att) {
        if ((ec = fd_load(*parent, lsn, fd)) != E_SUCCESS) return give_back(ec);
        fd.fd_att = att;
        if ((ec = fd_store(*parent, lsn, fd)) != E_SUCCESS) return give_back(ec);
    }

    auto follow = [&]() {
        if (!boot) return E_SUCCESS;
        if (options.boot == boot_form::fd_form) return store_boot_pointer(*parent, boot_pointer{static_cast<std::uint32_t>(lsn), 0});
        if (error_code failed = fd_load(*parent, lsn, fd)) return failed;
        return store_boot_pointer(*parent, pointer_to(lsn, fd));
    };
    if (old_pos < 0) {
        if ((ec = dir_add(*parent, t.name, lsn, found.free_slot)) != E_SUCCESS) return give_back(ec);
        return done(follow());
    }
    // The old entry now names the new file; the old file goes after.
    if ((ec = dir_set_fd(*parent, old_pos, lsn)) != E_SUCCESS) return give_back(ec);
    // Should LSN 0 not follow, the old file stays where it still names it:
    // unreachable, its units leaked, never freed under it.
    if ((ec = follow()) != E_SUCCESS) return done(ec);
    return done(release_fd(*parent, old_lsn));
}

}  // namespace rbf
