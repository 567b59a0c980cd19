#include "rbf/image.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <utility>

namespace rbf {

struct image_store {
    bool memory = false;
    std::vector<u_char> mem;        // memory images

    int fd = -1;                    // host file images
    bool rw = false;
    u_char* map = nullptr;
    std::uint64_t size = 0;
    std::pair<dev_t, ino_t> key{};

    ~image_store();
};

namespace {

using file_key = std::pair<dev_t, ino_t>;

std::map<file_key, std::weak_ptr<image_store>>& open_files() {
    static std::map<file_key, std::weak_ptr<image_store>> files;
    return files;
}

std::map<std::string, std::shared_ptr<image_store>>& memory_images() {
    static std::map<std::string, std::shared_ptr<image_store>> images;
    return images;
}

// The store of the image opened last stays open after its last path closes:
// programs close and reopen paths on one image again and again, and mapping
// the image anew each time would cost more than all the rest.  Its open
// descriptor also keeps the file's identity from being reused.
std::shared_ptr<image_store>& recent_store() {
    static std::shared_ptr<image_store> recent;
    return recent;
}

void unmap(image_store& img) {
    if (img.map) munmap(img.map, img.size);
    img.map = nullptr;
}

// Maps the whole file as it now is.  Without a map (an empty file, or mmap
// refused) reads and writes fall back to pread / pwrite.
void remap(image_store& img) {
    unmap(img);
    struct stat st {};
    img.size = fstat(img.fd, &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    if (img.size == 0) return;
    int prot = PROT_READ | (img.rw ? PROT_WRITE : 0);
    void* p = mmap(nullptr, img.size, prot, MAP_SHARED, img.fd, 0);
    img.map = p == MAP_FAILED ? nullptr : static_cast<u_char*>(p);
}

}  // namespace

image_store::~image_store() {
    if (memory) return;
    unmap(*this);
    if (fd >= 0) close(fd);
    auto& files = open_files();
    auto it = files.find(key);
    if (it != files.end() && it->second.expired()) files.erase(it);
}

error_code image_attach(const std::string& name, bool write, std::shared_ptr<image_store>* out) {
    auto mit = memory_images().find(name);
    if (mit != memory_images().end()) {
        *out = mit->second;
        return E_SUCCESS;
    }
    int fd = open(name.c_str(), (write ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (fd < 0) return E_PNNF;
    struct stat st {};
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        close(fd);
        return E_PNNF;
    }
    file_key key{st.st_dev, st.st_ino};
    auto& files = open_files();
    auto it = files.find(key);
    if (it != files.end()) {
        if (auto img = it->second.lock()) {
            if (write && !img->rw) {  // the first writer upgrades the shared view
                close(img->fd);
                img->fd = fd;
                img->rw = true;
                remap(*img);
            } else {
                close(fd);
                // Someone else changed the file's length: map what is there now.
                if (static_cast<std::uint64_t>(st.st_size) != img->size) remap(*img);
            }
            recent_store() = img;
            *out = std::move(img);
            return E_SUCCESS;
        }
    }
    auto img = std::make_shared<image_store>();
    img->fd = fd;
    img->rw = write;
    img->key = key;
    remap(*img);
    files[key] = img;
    recent_store() = img;
    *out = std::move(img);
    return E_SUCCESS;
}

std::uint64_t image_size(const image_store& img) {
    return img.memory ? img.mem.size() : img.size;
}

const u_char* image_span(const image_store& img, std::uint64_t off, std::size_t n) {
    std::uint64_t size = image_size(img);
    if (off > size || n > size - off) return nullptr;
    if (img.memory) return img.mem.data() + off;
    return img.map ? img.map + off : nullptr;
}

std::size_t image_read(const image_store& img, std::uint64_t off, void* buf, std::size_t n) {
    std::uint64_t size = image_size(img);
    if (off >= size || n == 0) return 0;
    std::size_t avail = static_cast<std::size_t>(std::min<std::uint64_t>(n, size - off));
    if (img.memory) {
        std::memcpy(buf, img.mem.data() + off, avail);
        return avail;
    }
    if (img.map) {
        std::memcpy(buf, img.map + off, avail);
        return avail;
    }
    ssize_t got = pread(img.fd, buf, avail, static_cast<off_t>(off));
    return got > 0 ? static_cast<std::size_t>(got) : 0;
}

std::size_t image_write(image_store& img, std::uint64_t off, const void* buf, std::size_t n) {
    if (n == 0) return 0;
    if (img.memory) {
        if (off + n > img.mem.size()) img.mem.resize(off + n, 0);
        std::memcpy(img.mem.data() + off, buf, n);
        return n;
    }
    if (!img.rw) return 0;
    if (img.map && off + n <= img.size) {
        std::memcpy(img.map + off, buf, n);
        return n;
    }
    // Past the end of the map: write through the file and map it again.
    std::size_t done = 0;
    while (done < n) {
        ssize_t w = pwrite(img.fd, static_cast<const u_char*>(buf) + done, n - done,
                           static_cast<off_t>(off + done));
        if (w <= 0) break;
        done += static_cast<std::size_t>(w);
    }
    if (off + done > img.size) remap(img);
    return done;
}

void image_memory_put(const std::string& name, std::vector<u_char> bytes) {
    auto img = std::make_shared<image_store>();
    img->memory = true;
    img->mem = std::move(bytes);
    memory_images()[name] = std::move(img);
}

std::vector<u_char> image_memory_get(const std::string& name) {
    auto it = memory_images().find(name);
    return it == memory_images().end() ? std::vector<u_char>{} : it->second->mem;
}

void image_memory_drop(const std::string& name) { memory_images().erase(name); }

}  // namespace rbf
