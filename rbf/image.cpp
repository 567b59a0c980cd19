#include "rbf/image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "rbf/bigendian.h"

namespace rbf {

os9_image::~os9_image() {
    if (fd >= 0) close(fd);
}

error_code image_open(const std::string& name, bool write, image_ref* out) {
    out->reset();
    int fd;
    do fd = open(name.c_str(), (write ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return E_PNNF;
    struct stat st {};
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        close(fd);
        return E_PNNF;
    }
    auto img = std::make_shared<os9_image>();
    img->fd = fd;
    img->rw = write;
    *out = std::move(img);
    return E_SUCCESS;
}

image_ref image_in_memory(std::vector<u_char> bytes) {
    auto img = std::make_shared<os9_image>();
    img->memory = true;
    img->rw = true;
    img->mem = std::move(bytes);
    return img;
}

void image_limit_writes(os9_image& img, long count) { img.writes_left = count; }

std::uint64_t image_size(const os9_image& img) {
    if (img.memory) return img.mem.size();
    struct stat st {};
    return fstat(img.fd, &st) == 0 && st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

std::size_t image_read(const os9_image& img, std::uint64_t off, void* buf, std::size_t n) {
    if (n == 0) return 0;
    if (img.memory) {
        if (off >= img.mem.size()) return 0;
        std::size_t avail = static_cast<std::size_t>(std::min<std::uint64_t>(n, img.mem.size() - off));
        std::memcpy(buf, img.mem.data() + off, avail);
        return avail;
    }
    std::size_t done = 0;
    while (done < n) {
        ssize_t got = pread(img.fd, static_cast<u_char*>(buf) + done, n - done, static_cast<off_t>(off + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;  // the end of the file, or a read error: the rest is missing
        done += static_cast<std::size_t>(got);
    }
    return done;
}

std::size_t image_write(os9_image& img, std::uint64_t off, const void* buf, std::size_t n) {
    if (n == 0 || !img.rw) return 0;
    ++img.generation;
    if (img.memory) {
        if (img.writes_left == 0) return 0;
        if (img.writes_left > 0) --img.writes_left;
        if (off + n > img.mem.size()) img.mem.resize(off + n, 0);
        std::memcpy(img.mem.data() + off, buf, n);
        return n;
    }
    std::size_t done = 0;
    while (done < n) {
        ssize_t w = pwrite(img.fd, static_cast<const u_char*>(buf) + done, n - done, static_cast<off_t>(off + done));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) break;
        done += static_cast<std::size_t>(w);
    }
    return done;
}

std::vector<u_char> image_contents(const os9_image& img) {
    if (img.memory) return img.mem;
    std::vector<u_char> bytes(static_cast<std::size_t>(image_size(img)));
    bytes.resize(image_read(img, 0, bytes.data(), bytes.size()));
    return bytes;
}

error_code image_geometry(const os9_image& img, disk_geometry* geometry) {
    u_char lsn0[SECTOR_SIZE];
    if (image_read(img, 0, lsn0, SECTOR_SIZE) != SECTOR_SIZE) return E_GENERAL;
    return decode_geometry(lsn0, geometry);
}

}  // namespace rbf
