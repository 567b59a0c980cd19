#include "rbf/memory_device.h"

#include <algorithm>
#include <cstring>

#include "rbf/device.h"
#include "rbf/image.h"

namespace rbf {

namespace {

class memory_disk final : public device {
public:
    explicit memory_disk(std::vector<u_char> bytes) : mem_(std::move(bytes)) {}

    std::size_t read(std::uint64_t off, void* buf, std::size_t n) override {
        if (n == SECTOR_SIZE) ++sector_reads_;
        if (n == 0 || off >= mem_.size()) return 0;
        const auto avail = static_cast<std::size_t>(std::min<std::uint64_t>(n, mem_.size() - off));
        std::memcpy(buf, mem_.data() + off, avail);
        return avail;
    }
    std::size_t write(std::uint64_t off, const void* buf, std::size_t n) override {
        last_errno_ = 0;
        if (n == 0) return 0;
        if (writes_left_ == 0 || off + n > refuse_beyond_) {
            last_errno_ = refusal_;
            return 0;
        }
        if (writes_left_ > 0) --writes_left_;
        if (off + n > mem_.size()) mem_.resize(off + n, 0);
        std::memcpy(mem_.data() + off, buf, n);
        return n;
    }
    std::uint64_t size() override { return mem_.size(); }
    bool writable() const override { return true; }
    int last_errno() const override { return last_errno_; }
    std::vector<u_char> contents() override { return mem_; }

    std::uint64_t sector_reads() const { return sector_reads_; }
    void limit_writes(long count, int host_errno) {
        writes_left_ = count;
        refusal_ = host_errno;
    }
    void refuse_beyond(std::uint64_t limit, int host_errno) {
        refuse_beyond_ = limit;
        refusal_ = host_errno;
    }

private:
    std::vector<u_char> mem_;
    std::uint64_t sector_reads_ = 0;
    int last_errno_ = 0;
    long writes_left_ = -1;  // writes still taken before every write fails (negative: no limit)
    int refusal_ = 5;        // errno of those refused writes (EIO)
    std::uint64_t refuse_beyond_ = UINT64_MAX;
};

memory_disk* memory_of(os9_image& image) { return dynamic_cast<memory_disk*>(image.dev.get()); }

}  // namespace

std::uint64_t image_sector_reads(os9_image& image) {
    const memory_disk* m = memory_of(image);
    return m ? m->sector_reads() : 0;
}

image_ref image_in_memory(std::vector<u_char> bytes) {
    return image_on_device(std::make_unique<memory_disk>(std::move(bytes)));
}

void image_limit_writes(os9_image& image, long count, int host_errno) {
    if (memory_disk* m = memory_of(image)) m->limit_writes(count, host_errno);
}

void image_refuse_beyond(os9_image& image, std::uint64_t limit, int host_errno) {
    if (memory_disk* m = memory_of(image)) m->refuse_beyond(limit, host_errno);
}

}  // namespace rbf
