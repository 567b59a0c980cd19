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

#include "rbf/bigendian.h"
#include "rbf/claims.h"

namespace rbf {

namespace {

// The host images open in this process, by file identity: a second open of
// the same file (under any name) joins the image, so that every path of the
// process reads through one cache.  Weak: an image goes with its last user.
std::map<std::pair<dev_t, ino_t>, std::weak_ptr<os9_image>>& open_images() {
    static std::map<std::pair<dev_t, ino_t>, std::weak_ptr<os9_image>> images;
    return images;
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
    if (auto it = images.find(key); it != images.end() && it->second.expired()) images.erase(it);
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

error_code image_open(const std::string& name, bool write, image_ref* out) {
    out->reset();
    // An image this process holds already, with the access asked for, is
    // joined without opening the host file again.
    if (struct stat known {}; stat(name.c_str(), &known) == 0 && (S_ISREG(known.st_mode) || S_ISBLK(known.st_mode))) {
        auto& images = open_images();
        if (auto it = images.find({known.st_dev, known.st_ino}); it != images.end()) {
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
    const std::pair<dev_t, ino_t> key{st.st_dev, st.st_ino};
    auto& images = open_images();
    if (auto it = images.find(key); it != images.end()) {
        if (image_ref img = it->second.lock()) {
            if (write && !img->rw()) {
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
    // The lock comes before anything of the image is read.
    if (error_code ec = lock_file(fd, write, name)) {
        close(fd);
        return ec;
    }
    auto img = std::make_shared<os9_image>();
    img->dev = host_file_device(fd, write);
    img->key = key;
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
