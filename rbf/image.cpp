#include "rbf/image.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <cerrno>
#include <cstring>
#include <map>

#include "rbf/bigendian.h"
#include "rbf/claims.h"

namespace rbf {

namespace {

constexpr std::uint64_t BLOCK = 16 * 1024;
constexpr std::size_t MAX_BLOCKS = 256;  // 4 MB

std::size_t pread_all(int fd, void* buf, std::size_t n, std::uint64_t off) {
    std::size_t done = 0;
    while (done < n) {
        ssize_t got = pread(fd, static_cast<u_char*>(buf) + done, n - done, static_cast<off_t>(off + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;  // the end of the file, or a read error: the rest is missing
        done += static_cast<std::size_t>(got);
    }
    return done;
}

// The cached block `number`, read from the file when it is not cached.
const os9_image::cached_block& block_of(const os9_image& img, std::uint64_t number) {
    auto it = img.blocks.find(number);
    if (it == img.blocks.end()) {
        if (img.blocks.size() >= MAX_BLOCKS) {
            auto oldest = img.blocks.begin();
            for (auto b = img.blocks.begin(); b != img.blocks.end(); ++b)
                if (b->second.used < oldest->second.used) oldest = b;
            img.blocks.erase(oldest);
        }
        os9_image::cached_block fresh;
        fresh.bytes.resize(BLOCK);
        fresh.bytes.resize(pread_all(img.fd, fresh.bytes.data(), BLOCK, number * BLOCK));
        it = img.blocks.emplace(number, std::move(fresh)).first;
    }
    it->second.used = ++img.clock;
    return it->second;
}

// Brings the cached blocks in line with a write of n bytes at `off` that the
// file took (`took` bytes of it); a block that cannot follow is dropped.
void write_through(os9_image& img, std::uint64_t off, const u_char* buf, std::size_t n, std::size_t took) {
    const std::uint64_t end = off + n;
    for (std::uint64_t number = off / BLOCK; number * BLOCK < end; ++number) {
        auto it = img.blocks.find(number);
        if (it == img.blocks.end()) continue;
        std::vector<u_char>& bytes = it->second.bytes;
        const std::uint64_t base = number * BLOCK;
        const std::uint64_t from = std::max(off, base) - base;
        const std::uint64_t to = std::min(end, base + BLOCK) - base;
        if (took < n || from > bytes.size()) {
            img.blocks.erase(it);  // a short write, or a hole after the block's end
            continue;
        }
        if (to > bytes.size()) bytes.resize(to);
        std::memcpy(bytes.data() + from, buf + (base + from - off), to - from);
    }
    // A write past the end of the file fills the gap with zeros: a block
    // that ended early (at the old end of the file) now ends too soon.  A
    // write inside the file as the process knows it changes no block's end.
    if (img.known_size >= 0 && off + took <= static_cast<std::uint64_t>(img.known_size)) return;
    for (auto it = img.blocks.begin(); it != img.blocks.end();) {
        const std::uint64_t base = it->first * BLOCK;
        const std::uint64_t size = it->second.bytes.size();
        if (size < BLOCK && base + size < std::min(base + BLOCK, off + took))
            it = img.blocks.erase(it);
        else
            ++it;
    }
}

// The host images open in this process, by file identity: a second open of
// the same file (under any name) joins the image, so that every path of the
// process reads through one cache.  Weak: an image goes with its last user.
std::map<std::pair<dev_t, ino_t>, std::weak_ptr<os9_image>>& open_images() {
    static std::map<std::pair<dev_t, ino_t>, std::weak_ptr<os9_image>> images;
    return images;
}

// Seconds a busy image is waited for: DV_LOCK_TIMEOUT, default 10.
double lock_timeout() {
    const char* v = std::getenv("DV_LOCK_TIMEOUT");
    if (!v || !*v) return 10;
    char* end = nullptr;
    double s = std::strtod(v, &end);
    return (end && *end == 0 && s >= 0) ? s : 10;
}

}  // namespace

error_code lock_file(int fd, bool exclusive) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(lock_timeout());
    auto pause = std::chrono::milliseconds(2);
    for (;;) {
        if (flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0) return E_SUCCESS;
        if (errno == EINTR) continue;
        // A file system without locks: the image is used unlocked.
        if (errno != EWOULDBLOCK) return E_SUCCESS;
        if (std::chrono::steady_clock::now() >= deadline) return E_BUSY;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
}

void image_unlock(os9_image& img) {
    // What the map holds back goes to the disk before another may look.
    image_map_write_back(img);
    if (!img.memory && img.fd >= 0) flock(img.fd, LOCK_UN);
}

error_code image_relock(os9_image& img) {
    if (img.memory || img.fd < 0) return E_SUCCESS;
    // Others may have written meanwhile.
    img.blocks.clear();
    image_forget(img);
    ++img.generation;
    return lock_file(img.fd, img.rw);
}

os9_image::~os9_image() {
    image_map_write_back(*this);  // nothing is left pending when the paths closed; this is a net
    if (fd < 0) return;
    close(fd);
    auto& images = open_images();
    if (auto it = images.find(key); it != images.end() && it->second.expired()) images.erase(it);
}

error_code image_open(const std::string& name, bool write, image_ref* out) {
    out->reset();
    // An image this process holds already, with the access asked for, is
    // joined without opening the host file again.
    if (struct stat known {}; stat(name.c_str(), &known) == 0 && (S_ISREG(known.st_mode) || S_ISBLK(known.st_mode))) {
        auto& images = open_images();
        if (auto it = images.find({known.st_dev, known.st_ino}); it != images.end()) {
            if (image_ref img = it->second.lock(); img && (img->rw || !write)) {
                *out = std::move(img);
                return E_SUCCESS;
            }
        }
    }
    int fd;
    // Not blocking in open: a FIFO would wait there for a writer.
    do fd = open(name.c_str(), (write ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return E_PNNF;
    struct stat st {};
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        close(fd);
        return E_PNNF;
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
            if (write && !img->rw) {
                // The first writer gives the shared image write access and
                // its lock becomes exclusive.
                flock(img->fd, LOCK_UN);
                if (error_code ec = lock_file(fd, true)) {
                    close(fd);
                    lock_file(img->fd, false);
                    return ec;
                }
                close(img->fd);
                img->fd = fd;
                img->rw = true;
                img->blocks.clear();
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
    if (error_code ec = lock_file(fd, write)) {
        close(fd);
        return ec;
    }
    auto img = std::make_shared<os9_image>();
    img->fd = fd;
    img->rw = write;
    img->key = key;
    images[key] = img;
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

void image_refuse_beyond(os9_image& img, std::uint64_t limit, int host_errno) {
    img.refuse_beyond = limit;
    img.refusal = host_errno;
}

void image_limit_writes(os9_image& img, long count, int host_errno) {
    img.writes_left = count;
    img.refusal = host_errno;
}

std::uint64_t image_size(const os9_image& img) {
    if (img.memory) return img.mem.size();
    if (img.known_size >= 0) return static_cast<std::uint64_t>(img.known_size);
    struct stat st {};
    const std::uint64_t size = fstat(img.fd, &st) == 0 && st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    // Only a lock holder may trust it later: nobody else writes meanwhile.
    img.known_size = static_cast<std::int64_t>(size);
    return size;
}

static std::size_t cached_read(const os9_image& img, std::uint64_t off, void* buf, std::size_t n);

std::size_t image_read(const os9_image& img, std::uint64_t off, void* buf, std::size_t n) {
    if (n == 0) return 0;
    if (img.memory) {
        if (off >= img.mem.size()) return 0;
        std::size_t avail = static_cast<std::size_t>(std::min<std::uint64_t>(n, img.mem.size() - off));
        std::memcpy(buf, img.mem.data() + off, avail);
        return avail;
    }
    // Large reads go to the file itself: the cache would only add a copy,
    // and the file holds every write of the process already.
    std::size_t done = 0;
    if (n >= BLOCK) done = pread_all(img.fd, buf, n, off);
    else done = cached_read(img, off, buf, n);
    // Shorter than the size learnt: the file shrank under the process.
    if (done < n && img.known_size > static_cast<std::int64_t>(off + done)) img.known_size = -1;
    return done;
}

static std::size_t cached_read(const os9_image& img, std::uint64_t off, void* buf, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
        const std::uint64_t at = off + done;
        const os9_image::cached_block& b = block_of(img, at / BLOCK);
        const std::uint64_t in = at % BLOCK;
        if (in >= b.bytes.size()) break;  // the file ends here
        const std::size_t part = static_cast<std::size_t>(std::min<std::uint64_t>(n - done, b.bytes.size() - in));
        std::memcpy(static_cast<u_char*>(buf) + done, b.bytes.data() + in, part);
        done += part;
        if (in + part < BLOCK && done < n) break;  // a short block: the file ends inside it
    }
    return done;
}

void image_forget(os9_image& img) {
    img.known_size = -1;
    img.map = allocation_map{};
    img.claims.reset();
    img.indexes.held.clear();
}

error_code write_error(const os9_image& img) {
    switch (img.last_errno) {
        case ENOSPC:
        case EDQUOT:
        case EFBIG: return E_FULL;
        default: return E_GENERAL;
    }
}

std::size_t image_write(os9_image& img, std::uint64_t off, const void* buf, std::size_t n) {
    img.last_errno = 0;
    if (n == 0 || !img.rw) return 0;
    ++img.generation;
    if (!img.indexes.held.empty()) detail::index_note_write(img, off, n);
    // A write into the bitmap that is not the map's own makes the map stale.
    if (!img.map_writing && img.map.loaded && off < SECTOR_SIZE + img.map.bits.size() && off + n > SECTOR_SIZE)
        img.map = allocation_map{};
    if (img.memory) {
        if (img.writes_left == 0 || off + n > img.refuse_beyond) {
            img.last_errno = img.refusal;
            return 0;
        }
        if (img.writes_left > 0) --img.writes_left;
        if (off + n > img.mem.size()) img.mem.resize(off + n, 0);
        std::memcpy(img.mem.data() + off, buf, n);
        return n;
    }
    std::size_t done = 0;
    while (done < n) {
        ssize_t w = pwrite(img.fd, static_cast<const u_char*>(buf) + done, n - done, static_cast<off_t>(off + done));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            img.last_errno = w < 0 ? errno : ENOSPC;
            break;
        }
        done += static_cast<std::size_t>(w);
    }
    write_through(img, off, static_cast<const u_char*>(buf), n, done);
    if (img.known_size >= 0 && done > 0)
        img.known_size = std::max<std::int64_t>(img.known_size, static_cast<std::int64_t>(off + done));
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
