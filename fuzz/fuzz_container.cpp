// Containers from untrusted bytes: detection, the container's device, every
// sector read, then each sector written with one byte changed.  None may
// crash or hang; a device's size stays within what any header could
// promise; a sector written reads back as written; a read-only container
// takes no write.
#include <algorithm>
#include <cstring>

#include "fuzz_util.h"
#include "os9disk.h"
#include "rbf/container.h"
#include "rbf/image.h"
#include "rbf/memory_device.h"

using namespace dvfuzz;

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    Reader in(data, size);
    const unsigned choice = in.u8();
    const bytes file(data + (size - in.left()), data + size);
    rbf::image_ref holder = rbf::image_in_memory(file);
    std::unique_ptr<rbf::device> raw = std::move(holder->dev);
    std::optional<std::uint64_t> offset;
    if (choice & 1) offset = (choice >> 1) * 256u;
    rbf::container_info info;
    if (rbf::detect_container(*raw, offset, &info).error) return 0;
    const bool read_only = info.kind == rbf::container_kind::imd;
    std::unique_ptr<rbf::device> disk;
    if (rbf::container_device(std::move(raw), info, &disk).error) return 0;
    const std::uint64_t disk_size = disk->size();
    // A header's sides and cylinders, or IDs far apart, may promise more
    // sectors than the file holds (those read as missing), but never more
    // than 256 cylinders of 2 sides of 256 sectors, or the file itself.
    DV_CHECK(disk_size <= std::max<std::uint64_t>(file.size(), 256ull * 2 * 256 * 256), "disk beyond any header's");
    std::vector<bytes> sectors;
    for (std::uint64_t at = 0; at < disk_size && sectors.size() < 4096; at += 256) {
        bytes s(256);
        s.resize(disk->read(at, s.data(), s.size()));
        sectors.push_back(s);
    }
    rbf::container_fault_taken();
    if (read_only) {
        unsigned char b = 0;
        DV_CHECK(disk->write(0, &b, 1) == 0, "a read-only container took a write");
        return 0;
    }
    for (std::size_t k = 0; k < sectors.size(); ++k) {
        if (sectors[k].size() != 256) continue;
        bytes flipped = sectors[k];
        flipped[k % 256] ^= 0xFF;
        if (disk->write(k * 256, flipped.data(), 256) != 256) continue;
        bytes back(256);
        DV_CHECK(disk->read(k * 256, back.data(), 256) == 256 && back == flipped, "a sector written reads back otherwise");
    }
    rbf::container_fault_taken();
    return 0;
}
