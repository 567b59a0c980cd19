// ImageDisk archives: an ASCII header line and comment ending in $1A, then
// per track a mode, cylinder, head (bit 7: a cylinder map follows, bit 6 a
// head map), sector count, size code and the sector ID map, then each
// sector as a type byte and its data (one fill byte when compressed).  The
// whole file is read into memory when it is opened, sectors put in LSN
// order by their IDs; the device is read only (a write would have to
// rewrite the whole file, which dvconvert does).
#include <algorithm>
#include <cstring>

#include "rbf/track_devices.h"

namespace rbf {

namespace {

class imd_disk final : public device {
public:
    explicit imd_disk(std::unique_ptr<device> file) : file_(std::move(file)) {}

    container_refusal load() {
        const std::vector<u_char> f = file_->contents();
        const u_char* end = f.data() + f.size();
        const u_char* p = static_cast<const u_char*>(std::memchr(f.data(), 0x1A, f.size()));
        if (!p) return damaged("its comment never ends");
        ++p;
        std::vector<sector_id> ids;
        std::vector<u_char> bytes;
        std::vector<u_char> sound;
        unsigned cylinders = 0, sides = 0;
        for (unsigned t = 0; p < end; ++t) {
            if (end - p < 5) return damaged("track " + std::to_string(t) + " is cut short");
            const unsigned mode = p[0], cyl = p[1], head = p[2], count = p[3], code = p[4];
            p += 5;
            if (mode > 5) return damaged("track " + std::to_string(t) + " has an unknown mode");
            if (count > 0 && code != 1)
                return {E_BTYP, code > 6 ? "an ImageDisk image with sectors of mixed sizes, which dv does not read"
                                         : "an ImageDisk image with " + std::to_string(128 << code) +
                                               "-byte sectors; dv reads only 256-byte ones"};
            const std::size_t maps = count * (1u + ((head & 0x80) ? 1 : 0) + ((head & 0x40) ? 1 : 0));
            if (static_cast<std::size_t>(end - p) < maps) return damaged("track " + std::to_string(t) + " is cut short");
            const u_char* rmap = p;
            const u_char* cmap = (head & 0x80) ? p + count : nullptr;
            const u_char* hmap = (head & 0x40) ? p + count * (cmap ? 2 : 1) : nullptr;
            p += maps;
            for (unsigned k = 0; k < count; ++k) {
                if (p >= end) return damaged("track " + std::to_string(t) + " is cut short");
                const unsigned type = *p++;
                if (type > 8) return damaged("a sector of track " + std::to_string(t) + " has an unknown type");
                if (type == 0) continue;  // not read when archived: it stays missing
                const std::size_t at = bytes.size();
                bytes.resize(at + SECTOR_SIZE);
                if (type % 2 == 0) {
                    if (p >= end) return damaged("track " + std::to_string(t) + " is cut short");
                    std::memset(bytes.data() + at, *p++, SECTOR_SIZE);
                } else {
                    if (static_cast<std::size_t>(end - p) < SECTOR_SIZE)
                        return damaged("track " + std::to_string(t) + " is cut short");
                    std::memcpy(bytes.data() + at, p, SECTOR_SIZE);
                    p += SECTOR_SIZE;
                }
                sound.push_back(type < 5);  // 5 to 8: read with a data error
                const unsigned c = cmap ? cmap[k] : cyl, h = hmap ? hmap[k] : (head & 0x3F);
                if (h > 1) return damaged("a sector of track " + std::to_string(t) + " names a third side");
                cylinders = std::max(cylinders, c + 1);
                sides = std::max(sides, h + 1);
                ids.push_back({c, h, rmap[k], sound.size() - 1});
            }
        }
        // One side recorded is one side; two are two, numbered 0 and 1.
        if (auto r = place_sectors(std::move(ids), cylinders, sides, "ImageDisk", &lsn_of_); r.error) return r;
        bytes_ = std::move(bytes);
        sound_ = std::move(sound);
        return {};
    }

    std::size_t read(std::uint64_t off, void* buf, std::size_t n) override {
        std::size_t done = 0;
        while (done < n) {
            const std::uint64_t lsn = (off + done) / SECTOR_SIZE, in = (off + done) % SECTOR_SIZE;
            if (lsn >= lsn_of_.size()) break;
            const std::size_t slot = lsn_of_[lsn];
            if (slot == 0 || !sound_[slot - 1]) {
                container_fault_note("damaged at LSN " + std::to_string(lsn) +
                                     (slot == 0 ? ": no sector on the disk has its ID" : ": it was archived with a data error"));
                break;
            }
            const std::size_t part = static_cast<std::size_t>(std::min<std::uint64_t>(n - done, SECTOR_SIZE - in));
            std::memcpy(static_cast<u_char*>(buf) + done, bytes_.data() + (slot - 1) * SECTOR_SIZE + in, part);
            done += part;
        }
        return done;
    }

    std::size_t write(std::uint64_t, const void*, std::size_t) override { return 0; }
    std::uint64_t size() override { return std::uint64_t{lsn_of_.size()} * SECTOR_SIZE; }
    bool writable() const override { return false; }
    int last_errno() const override { return 0; }
    void unlock() override { file_->unlock(); }
    error_code relock() override { return file_->relock(); }
    device* wrapped() const override { return file_.get(); }

private:
    container_refusal damaged(const std::string& why) { return {E_BTYP, "a damaged ImageDisk image: " + why}; }

    std::unique_ptr<device> file_;
    std::vector<u_char> bytes_;        // a sector each, in the order found
    std::vector<u_char> sound_;        // per sector: read without a data error
    std::vector<std::size_t> lsn_of_;  // rbf/track_devices.h
};

}  // namespace

container_refusal imd_device(std::unique_ptr<device> file, std::unique_ptr<device>* out) {
    auto disk = std::make_unique<imd_disk>(std::move(file));
    if (container_refusal r = disk->load(); r.error) return r;
    *out = std::move(disk);
    return {};
}

}  // namespace rbf
