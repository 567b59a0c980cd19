// The devices of the containers whose sectors lie in LSN order at an offset
// of the file (JVC and VDK after their headers, a partition inside a larger
// image), and the choice of device for each container.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "rbf/container.h"
#include "rbf/device.h"
#include "rbf/track_devices.h"

namespace rbf {

namespace {

// Disk offset n is file offset base + n; the header before `base` is never
// written.  With a limit, the disk ends there (VDK's cylinders), else where
// the file does, growing with it.
class offset_device final : public device {
public:
    offset_device(std::unique_ptr<device> file, std::uint64_t base, std::uint64_t limit, bool protect)
        : file_(std::move(file)), base_(base), limit_(limit), protect_(protect) {}

    std::size_t read(std::uint64_t off, void* buf, std::size_t n) override {
        if (limit_ && off >= limit_) return 0;
        if (limit_) n = static_cast<std::size_t>(std::min<std::uint64_t>(n, limit_ - off));
        return file_->read(base_ + off, buf, n);
    }

    std::size_t write(std::uint64_t off, const void* buf, std::size_t n) override {
        own_errno_ = 0;
        if (n == 0 || !writable()) return 0;
        std::size_t take = n;
        if (limit_) take = off >= limit_ ? 0 : static_cast<std::size_t>(std::min<std::uint64_t>(n, limit_ - off));
        const std::size_t done = take ? file_->write(base_ + off, buf, take) : 0;
        if (done == take && take < n) own_errno_ = ENOSPC;  // the container has no room past its tracks
        return done;
    }

    std::uint64_t size() override {
        const std::uint64_t file = file_->size();
        const std::uint64_t disk = file > base_ ? file - base_ : 0;
        return limit_ ? std::min(disk, limit_) : disk;
    }

    bool writable() const override { return file_->writable() && !protect_; }
    int last_errno() const override { return own_errno_ ? own_errno_ : file_->last_errno(); }
    error_code sync() override { return file_->sync(); }
    void unlock() override { file_->unlock(); }
    error_code relock() override { return file_->relock(); }
    void forget() override { file_->forget(); }
    device* wrapped() const override { return file_.get(); }

private:
    std::unique_ptr<device> file_;
    std::uint64_t base_, limit_;
    bool protect_;
    int own_errno_ = 0;
};

// Every call goes to the one host file device the volumes share.
class shared_file final : public device {
public:
    explicit shared_file(std::shared_ptr<device> file) : file_(std::move(file)) {}
    std::size_t read(std::uint64_t off, void* buf, std::size_t n) override { return file_->read(off, buf, n); }
    std::size_t write(std::uint64_t off, const void* buf, std::size_t n) override { return file_->write(off, buf, n); }
    std::uint64_t size() override { return file_->size(); }
    bool writable() const override { return file_->writable(); }
    int last_errno() const override { return file_->last_errno(); }
    error_code sync() override { return file_->sync(); }
    void unlock() override { file_->unlock(); }
    error_code relock() override { return file_->relock(); }
    void forget() override { file_->forget(); }
    device* wrapped() const override { return file_.get(); }

private:
    std::shared_ptr<device> file_;
};

std::string& last_fault() {
    static std::string fault;
    return fault;
}

}  // namespace

bool ignore_write_protect() {
    const char* v = std::getenv("DV_IGNORE_WRITE_PROTECT");
    return v && std::strcmp(v, "1") == 0;
}

std::unique_ptr<device> shared_file_device(std::shared_ptr<device> file) {
    return std::make_unique<shared_file>(std::move(file));
}

bool container_fault_pending() { return !last_fault().empty(); }

void container_fault_note(std::string what) { last_fault() = std::move(what); }

std::string container_fault_taken() {
    std::string s;
    s.swap(last_fault());
    return s;
}

container_refusal container_device(std::unique_ptr<device> file, const container_info& info,
                                   std::unique_ptr<device>* out) {
    const bool protect = info.write_protected && !ignore_write_protect();
    if (info.partition) {
        *out = std::make_unique<offset_device>(std::move(file), info.base, 0, false);
        return {};
    }
    switch (info.kind) {
        case container_kind::raw: *out = std::move(file); return {};
        case container_kind::jvc:
            *out = std::make_unique<offset_device>(std::move(file), info.base, 0, false);
            return {};
        case container_kind::vdk:
            *out = std::make_unique<offset_device>(std::move(file), info.base, info.disk_bytes, protect);
            return {};
        case container_kind::dmk: return dmk_device(std::move(file), info, protect, out);
        case container_kind::imd: return imd_device(std::move(file), out);
    }
    return {E_BTYP, "not a container dv knows"};
}

}  // namespace rbf
