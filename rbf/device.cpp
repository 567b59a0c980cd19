// A host file as a device: read and written with pread / pwrite, with a
// small cache of the blocks this process last read.  No mapping: a file that
// shrinks while open reads short instead of faulting, and a full host disk
// fails a write instead of killing the process.  Every write of the process
// goes through here and updates the cached blocks; another process's writes
// meanwhile are not seen (writers take turns on an image, under the lock).
#include "rbf/device.h"

#include "os9path.h"

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <unordered_map>

namespace rbf {

std::vector<u_char> device::contents() {
    std::vector<u_char> bytes(static_cast<std::size_t>(size()));
    bytes.resize(read(0, bytes.data(), bytes.size()));
    return bytes;
}

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

// Seconds a busy image is waited for: DV_LOCK_TIMEOUT, default 10.
double lock_timeout() {
    const char* v = std::getenv("DV_LOCK_TIMEOUT");
    if (!v || !*v) return 10;
    char* end = nullptr;
    double s = std::strtod(v, &end);
    return (end && *end == 0 && s >= 0) ? s : 10;
}

class host_file final : public device {
public:
    host_file(int fd, bool write) : fd_(fd), rw_(write) {}
    ~host_file() override {
        if (fd_ >= 0) close(fd_);
    }

    std::size_t read(std::uint64_t off, void* buf, std::size_t n) override {
        if (n == 0) return 0;
        // Large reads go to the file itself: the cache would only add a copy,
        // and the file holds every write of the process already.
        const std::size_t done = n >= BLOCK ? pread_all(fd_, buf, n, off) : cached_read(off, buf, n);
        // Shorter than the size learnt: the file shrank under the process.
        if (done < n && known_size_ > static_cast<std::int64_t>(off + done)) known_size_ = -1;
        return done;
    }

    std::size_t write(std::uint64_t off, const void* buf, std::size_t n) override {
        last_errno_ = 0;
        if (n == 0 || !rw_) return 0;
        std::size_t done = 0;
        while (done < n) {
            ssize_t w = pwrite(fd_, static_cast<const u_char*>(buf) + done, n - done, static_cast<off_t>(off + done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                last_errno_ = w < 0 ? errno : ENOSPC;
                break;
            }
            done += static_cast<std::size_t>(w);
        }
        write_through(off, static_cast<const u_char*>(buf), n, done);
        if (known_size_ >= 0 && done > 0)
            known_size_ = std::max<std::int64_t>(known_size_, static_cast<std::int64_t>(off + done));
        return done;
    }

    std::uint64_t size() override {
        if (known_size_ >= 0) return static_cast<std::uint64_t>(known_size_);
        struct stat st {};
        const std::uint64_t size = fstat(fd_, &st) == 0 && st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
        // Only a lock holder may trust it later: nobody else writes meanwhile.
        known_size_ = static_cast<std::int64_t>(size);
        return size;
    }

    bool writable() const override { return rw_; }
    int last_errno() const override { return last_errno_; }
    error_code sync() override { return rw_ && fdatasync(fd_) != 0 ? E_GENERAL : E_SUCCESS; }
    void unlock() override { flock(fd_, LOCK_UN); }
    error_code relock() override {
        blocks_.clear();
        known_size_ = -1;
        return lock_file(fd_, rw_);
    }
    void forget() override { known_size_ = -1; }

    int descriptor() const { return fd_; }
    void upgrade(int fd) {
        close(fd_);
        fd_ = fd;
        rw_ = true;
        blocks_.clear();
        known_size_ = -1;
    }

private:
    struct cached_block {
        std::vector<u_char> bytes;  // the block as far as the file holds it
        std::uint64_t used = 0;     // when it was last used, for eviction
    };

    // The cached block `number`, read from the file when it is not cached.
    const cached_block& block_of(std::uint64_t number) {
        auto it = blocks_.find(number);
        if (it == blocks_.end()) {
            cached_block fresh;
            if (blocks_.size() >= MAX_BLOCKS) {
                auto oldest = blocks_.begin();
                for (auto b = blocks_.begin(); b != blocks_.end(); ++b)
                    if (b->second.used < oldest->second.used) oldest = b;
                // Its buffer is reused: a fresh one would be cleared first,
                // a cost as large as the read's own.
                fresh.bytes = std::move(oldest->second.bytes);
                blocks_.erase(oldest);
            }
            fresh.bytes.resize(BLOCK);
            fresh.bytes.resize(pread_all(fd_, fresh.bytes.data(), BLOCK, number * BLOCK));
            it = blocks_.emplace(number, std::move(fresh)).first;
        }
        it->second.used = ++clock_;
        return it->second;
    }

    std::size_t cached_read(std::uint64_t off, void* buf, std::size_t n) {
        std::size_t done = 0;
        while (done < n) {
            const std::uint64_t at = off + done;
            const cached_block& b = block_of(at / BLOCK);
            const std::uint64_t in = at % BLOCK;
            if (in >= b.bytes.size()) break;  // the file ends here
            const std::size_t part = static_cast<std::size_t>(std::min<std::uint64_t>(n - done, b.bytes.size() - in));
            std::memcpy(static_cast<u_char*>(buf) + done, b.bytes.data() + in, part);
            done += part;
            if (in + part < BLOCK && done < n) break;  // a short block: the file ends inside it
        }
        return done;
    }

    // Brings the cached blocks in line with a write of n bytes at `off` that
    // the file took (`took` bytes of it); a block that cannot follow is dropped.
    void write_through(std::uint64_t off, const u_char* buf, std::size_t n, std::size_t took) {
        const std::uint64_t end = off + n;
        for (std::uint64_t number = off / BLOCK; number * BLOCK < end; ++number) {
            auto it = blocks_.find(number);
            if (it == blocks_.end()) continue;
            std::vector<u_char>& bytes = it->second.bytes;
            const std::uint64_t base = number * BLOCK;
            const std::uint64_t from = std::max(off, base) - base;
            const std::uint64_t to = std::min(end, base + BLOCK) - base;
            if (took < n || from > bytes.size()) {
                blocks_.erase(it);  // a short write, or a hole after the block's end
                continue;
            }
            if (to > bytes.size()) bytes.resize(to);
            std::memcpy(bytes.data() + from, buf + (base + from - off), to - from);
        }
        // A write past the end of the file fills the gap with zeros: a block
        // that ended early (at the old end of the file) now ends too soon.  A
        // write inside the file as the process knows it changes no block's end.
        if (known_size_ >= 0 && off + took <= static_cast<std::uint64_t>(known_size_)) return;
        for (auto it = blocks_.begin(); it != blocks_.end();) {
            const std::uint64_t base = it->first * BLOCK;
            const std::uint64_t size = it->second.bytes.size();
            if (size < BLOCK && base + size < std::min(base + BLOCK, off + took))
                it = blocks_.erase(it);
            else
                ++it;
        }
    }

    int fd_;
    bool rw_;
    int last_errno_ = 0;
    std::unordered_map<std::uint64_t, cached_block> blocks_;  // by block number
    std::uint64_t clock_ = 0;
    // The file's size as this process last learnt it (-1: ask the host);
    // only the lock holder's own writes change it meanwhile.
    std::int64_t known_size_ = -1;
};

}  // namespace

std::unique_ptr<device> host_file_device(int fd, bool write) { return std::make_unique<host_file>(fd, write); }

int host_descriptor(const device& dev) {
    const device* d = &dev;
    while (d->wrapped()) d = d->wrapped();
    const auto* host = dynamic_cast<const host_file*>(d);
    return host ? host->descriptor() : -1;
}

void host_device_upgrade(device& dev, int fd) {
    device* d = &dev;
    while (d->wrapped()) d = d->wrapped();
    if (auto* host = dynamic_cast<host_file*>(d)) host->upgrade(fd);
}

namespace {
wait_notice notice_of_wait = nullptr;
}

void set_wait_notice(wait_notice notice) { notice_of_wait = notice; }

error_code lock_file(int fd, bool exclusive, const std::string& name) {
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + std::chrono::duration<double>(lock_timeout());
    auto pause = std::chrono::milliseconds(2);
    bool told = false;
    for (;;) {
        if (flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0) return E_SUCCESS;
        if (errno == EINTR) continue;
        // A file system without locks: the image is used unlocked.
        if (errno != EWOULDBLOCK) return E_SUCCESS;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return E_BUSY;
        if (!told && notice_of_wait && now - start >= std::chrono::seconds(1)) {
            told = true;
            notice_of_wait(name);
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
}

}  // namespace rbf
