// The volume: the image a process holds, its device and what the library
// caches about the disk, kept right by the writes made through it.
#include "rbf/image.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <tuple>

#include "rbf/bigendian.h"
#include "rbf/claims.h"

namespace rbf {

namespace {

// The host images open in this process, by file identity: a second open of
// the same file (under any name) joins the image, so that every path of the
// process reads through one cache.  Weak: an image goes with its last user.
// Two partitions of one file are two volumes: the offset is part of the key.
using image_key = std::tuple<dev_t, ino_t, std::uint64_t>;

std::map<image_key, std::weak_ptr<os9_image>>& open_images() {
    static std::map<image_key, std::weak_ptr<os9_image>> images;
    return images;
}

// The host files whose partitions this process holds, each opened and
// locked once for all of them.
std::map<std::pair<dev_t, ino_t>, std::weak_ptr<device>>& partition_files() {
    static std::map<std::pair<dev_t, ino_t>, std::weak_ptr<device>> files;
    return files;
}

// The device of a partition's host file, opened on `fd` (which it takes or
// closes): the one other partitions of the file share already, given
// write access when `write`, else a fresh one.
error_code partition_file(int fd, bool write, std::pair<dev_t, ino_t> id, std::unique_ptr<device>* out) {
    auto& files = partition_files();
    if (auto it = files.find(id); it != files.end()) {
        if (std::shared_ptr<device> host = it->second.lock()) {
            if (write && !host->writable()) {
                const int shared = host_descriptor(*host);
                flock(shared, LOCK_UN);
                if (error_code ec = lock_file(fd, true)) {
                    close(fd);
                    lock_file(shared, false);
                    return ec;
                }
                host_device_upgrade(*host, fd);
            } else {
                close(fd);
            }
            *out = shared_file_device(std::move(host));
            return E_SUCCESS;
        }
    }
    if (error_code ec = lock_file(fd, write)) {
        close(fd);
        return ec;
    }
    std::shared_ptr<device> host = host_file_device(fd, write);
    files[id] = host;
    *out = shared_file_device(std::move(host));
    return E_SUCCESS;
}

// Whether the container lets the volume be written: 214 for a
// write-protected one (unless the user said to ignore that) and for
// ImageDisk, which is only read.
error_code container_writes(const container_info& info) {
    if (info.kind == container_kind::imd) return E_FNA;
    if (info.write_protected && !ignore_write_protect()) return E_FNA;
    return E_SUCCESS;
}

}  // namespace

void image_unlock(os9_image& img) {
    // What the map holds back goes to the disk before another may look.
    image_map_write_back(img);
    img.dev->unlock();
}

error_code image_relock(os9_image& img) {
    // Others may have written meanwhile.
    image_forget(img);
    ++img.generation;
    return img.dev->relock();
}

os9_image::~os9_image() {
    if (!dev) return;
    image_map_write_back(*this);  // nothing is left pending when the paths closed; this is a net
    if (host_descriptor(*dev) < 0) return;
    auto& images = open_images();
    if (auto it = images.find({key.first, key.second, key_offset}); it != images.end() && it->second.expired())
        images.erase(it);
}

namespace {

// What a failed open of an image says: missing, a directory, or there but
// not to be had with the access asked for (no permission, a read-only file
// system).
error_code open_error(int host_errno) {
    switch (host_errno) {
        case EISDIR: return E_ISDIR;
        case EACCES:
        case EPERM:
        case EROFS:
        case ETXTBSY: return E_FNA;
        default: return E_PNNF;
    }
}

}  // namespace

image_ref image_on_device(std::unique_ptr<device> dev) {
    auto img = std::make_shared<os9_image>();
    img->dev = std::move(dev);
    return img;
}

error_code image_open(const std::string& name, bool write, image_ref* out, std::optional<std::uint64_t> offset) {
    out->reset();
    const std::uint64_t key_offset = offset ? *offset : NO_OFFSET;
    // An image this process holds already, with the access asked for, is
    // joined without opening the host file again.
    if (struct stat known {}; stat(name.c_str(), &known) == 0 && (S_ISREG(known.st_mode) || S_ISBLK(known.st_mode))) {
        auto& images = open_images();
        if (auto it = images.find({known.st_dev, known.st_ino, key_offset}); it != images.end()) {
            if (image_ref img = it->second.lock(); img && (img->rw() || !write)) {
                *out = std::move(img);
                return E_SUCCESS;
            }
        }
    }
    int fd;
    // Not blocking in open: a FIFO would wait there for a writer.
    do fd = open(name.c_str(), (write ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return open_error(errno);
    struct stat st {};
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        close(fd);
        return S_ISDIR(st.st_mode) ? E_ISDIR : E_PNNF;
    }
    // An image is a file or a disk; a FIFO, a socket or a terminal is not.
    if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) {
        close(fd);
        return E_FNA;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    // The library reads what it needs (a block, or a whole large request)
    // and writes sectors here and there: the host's read-ahead would only
    // fill the page cache with large pages that each small write then pays
    // for in full.
    posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
    const image_key key{st.st_dev, st.st_ino, key_offset};
    auto& images = open_images();
    if (auto it = images.find(key); it != images.end()) {
        if (image_ref img = it->second.lock()) {
            if (write && !img->rw()) {
                if (error_code ec = container_writes(img->container)) {
                    close(fd);
                    return ec;
                }
                // The first writer gives the shared image write access and
                // its lock becomes exclusive.
                const int shared = host_descriptor(*img->dev);
                flock(shared, LOCK_UN);
                if (error_code ec = lock_file(fd, true, name)) {
                    close(fd);
                    lock_file(shared, false);
                    return ec;
                }
                host_device_upgrade(*img->dev, fd);
                image_forget(*img);
                ++img->generation;
            } else {
                close(fd);
            }
            *out = std::move(img);
            return E_SUCCESS;
        }
    }
    std::unique_ptr<device> file;
    if (offset) {
        if (error_code ec = partition_file(fd, write, {st.st_dev, st.st_ino}, &file)) return ec;
    } else {
        // The lock comes before anything of the image is read.
        if (error_code ec = lock_file(fd, write, name)) {
            close(fd);
            return ec;
        }
        file = host_file_device(fd, write);
    }
    // What holds the disk is learnt under the lock, from the bytes.
    container_info info;
    if (container_refusal r = detect_container(*file, offset, &info); r.error) return r.error;
    if (write)
        if (error_code ec = container_writes(info)) return ec;
    auto img = std::make_shared<os9_image>();
    if (container_refusal r = container_device(std::move(file), info, &img->dev); r.error) return r.error;
    img->container = info;
    img->key = {st.st_dev, st.st_ino};
    img->key_offset = key_offset;
    images[key] = img;
    *out = std::move(img);
    return E_SUCCESS;
}

std::uint64_t image_size(const os9_image& img) { return img.dev->size(); }

std::size_t image_read(const os9_image& img, std::uint64_t off, void* buf, std::size_t n) {
    return n == 0 ? 0 : img.dev->read(off, buf, n);
}

void image_forget(os9_image& img) {
    img.dev->forget();
    img.geometry_known = false;
    img.map = allocation_map{};
    img.claims.reset();
    img.indexes.held.clear();
}

error_code write_error(const os9_image& img) {
    switch (img.dev->last_errno()) {
        case ENOSPC:
        case EDQUOT:
        case EFBIG: return E_FULL;
        default: return E_GENERAL;
    }
}

std::size_t image_write(os9_image& img, std::uint64_t off, const void* buf, std::size_t n) {
    if (n == 0 || !img.rw()) return 0;
    ++img.generation;
    // What the volume knows of the bytes written is no longer true: LSN 0's
    // geometry, a directory's names, the map when the write is not its own.
    if (off < SECTOR_SIZE) img.geometry_known = false;
    if (!img.indexes.held.empty()) detail::index_note_write(img, off, n);
    if (!img.map_writing && img.map.loaded && off < SECTOR_SIZE + img.map.bits.size() && off + n > SECTOR_SIZE)
        img.map = allocation_map{};
    return img.dev->write(off, buf, n);
}

std::vector<u_char> image_contents(const os9_image& img) { return img.dev->contents(); }

error_code volume_geometry(os9_image& img, const disk_geometry** geometry, const u_char** lsn0) {
    if (!img.geometry_known) {
        img.geometry_error = image_read(img, 0, img.lsn0.data(), SECTOR_SIZE) == SECTOR_SIZE
                                 ? decode_geometry(img.lsn0.data(), &img.geometry)
                                 : E_BTYP;  // shorter than a sector: no disk at all
        img.geometry_known = true;
    }
    *geometry = &img.geometry;
    if (lsn0) *lsn0 = img.lsn0.data();
    return img.geometry_error;
}

error_code image_geometry(const os9_image& img, disk_geometry* geometry) {
    const disk_geometry* known = nullptr;
    // The volume's cache is the image's own, whatever the caller's constness.
    if (error_code ec = volume_geometry(const_cast<os9_image&>(img), &known)) return ec;
    *geometry = *known;
    return E_SUCCESS;
}

}  // namespace rbf
