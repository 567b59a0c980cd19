// The space report's work on an arbitrary image held in memory: the raw
// open (".@") with its check of LSN 0, the 100-byte read of LSN 0, the scan
// of the loaded bitmap below dd_tot, the library's usage count, the disk
// name; every bit and byte compared with the image itself.
#include <cstring>
#include <memory>

#include "fuzz_util.h"
#include "os9conv.h"
#include "os9disk.h"
#include "rbf/memory_device.h"
#include "os9path.h"

using namespace dvfuzz;

namespace {

// Past the loaded bitmap every bit reads as in use; the scan checks the
// first bits beyond it one by one and the last unit of the disk, and
// counts the rest as the report does (all in use).
constexpr std::int64_t kBeyond = 4096;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const bytes img(data, data + size);
    Geometry g(img);
    const rbf::image_ref image = rbf::image_in_memory(img);
    rbf::os9_path_id path = nullptr;
    rbf::error_code ec = rbf::_os9_open(&path, image, ".@", rbf::MODE_READ);
    if (img.size() < 256) {
        DV_CHECK(ec == rbf::E_BTYP && path == nullptr, "image shorter than LSN 0 opened or not refused with 249");
        return 0;
    }
    if (!g.describes_disk()) {
        DV_CHECK(ec == rbf::E_BTYP && path == nullptr, "LSN 0 that describes no disk opened or not refused with 249");
        DV_CHECK(rbf::image_contents(*image) == img, "a refused open changed the image");
        return 0;
    }
    if (!g.usable()) {
        DV_CHECK(ec == rbf::E_GENERAL && path == nullptr, "a cluster size OS-9 does not allow opened or not refused with 1");
        return 0;
    }
    DV_CHECK(ec == rbf::E_SUCCESS && path != nullptr, "raw open failed: " + std::to_string(ec));
    rbf::disk_geometry geo{};
    DV_CHECK(rbf::path_geometry(path, &geo) == rbf::E_SUCCESS, "no geometry on a raw path");
    DV_CHECK(rbf::path_is_raw(path) && geo.unit_bytes == g.cs, "raw path geometry");
    DV_CHECK(geo.total_units == g.total && geo.cluster_sectors == g.bit &&
                 geo.bitmap_bytes == g.map && geo.root_fd == g.dir,
             "raw path's decoded LSN 0");

    auto sector0 = std::make_unique<rbf::lsn0_sect>();
    rbf::_os9_seek(path, 0, 0);
    int n = sizeof(rbf::lsn0_sect);
    ec = rbf::_os9_read(path, sector0.get(), &n);
    const int got = ec == rbf::E_SUCCESS ? n : 0;
    const std::int64_t expect = std::min<std::int64_t>({100, g.disk_bytes(), static_cast<std::int64_t>(img.size())});
    if (expect <= 0) {
        DV_CHECK(ec == rbf::E_EOF, "LSN 0 read of an empty disk");
    } else {
        DV_CHECK(ec == rbf::E_SUCCESS && n == expect, "LSN 0 read count");
        DV_CHECK(std::memcmp(sector0.get(), img.data(), static_cast<std::size_t>(n)) == 0, "LSN 0 bytes");
    }

    // The bitmap copy holds what the image has of the bitmap units.
    const std::int64_t want = (g.map / 256 + 1) * g.cs;
    const std::int64_t have = std::clamp<std::int64_t>(static_cast<std::int64_t>(img.size()) - 256, 0, want);
    const std::span<unsigned char> copy = rbf::path_bitmap(path);
    DV_CHECK(static_cast<std::int64_t>(copy.size()) == have, "bitmap copy length");
    DV_CHECK(std::equal(copy.begin(), copy.end(), img.begin() + 256), "bitmap copy bytes");

    const std::int64_t loaded_bits = have * 8;
    const std::int64_t scan_to = std::min<std::int64_t>(g.clusters(), loaded_bits + kBeyond);
    std::int64_t free_units = 0, largest = 0, run = 0, bytes_free = 0;
    for (std::int64_t k = 0; k < scan_to; ++k) {
        int bit = rbf::_os9_ckbit(copy, static_cast<int>(k));
        bool in_use = k >= loaded_bits || (img[static_cast<std::size_t>(256 + k / 8)] & (0x80 >> (k % 8)));
        DV_CHECK((bit != 0) == in_use, "ckbit of unit " + std::to_string(k));
        if (bit) {
            largest = std::max(largest, run);
            run = 0;
        } else {
            ++run;
            ++free_units;
            bytes_free += g.cs * g.bit;  // a free cluster's sectors
        }
    }
    if (g.clusters() > scan_to) {
        DV_CHECK(rbf::_os9_ckbit(copy, static_cast<int>(g.clusters() - 1)) != 0, "unit past the bitmap free");
        largest = std::max(largest, run);
        run = 0;
    }
    largest = std::max(largest, run);
    DV_CHECK(free_units <= g.clusters() && largest <= free_units && bytes_free >= 0, "report arithmetic");
    // The report's capacity line: dd_tot sectors of 256 bytes.
    const __int128 capacity = static_cast<__int128>(g.total) * g.cs / 1024;
    DV_CHECK(capacity >= 0 && capacity <= INT64_MAX, "capacity in K fits 64 bits");

    std::string name = rbf::NameFromField(sector0->dd_nam, sizeof sector0->dd_nam);
    std::string expect_name;  // up to a zero byte or the character with bit 7, at most 32
    for (std::size_t i = 0; i < 32 && i < static_cast<std::size_t>(got > 31 ? got - 31 : 0) && img[31 + i] != 0; ++i) {
        expect_name.push_back(static_cast<char>(img[31 + i] & 0x7F));
        if (img[31 + i] & 0x80) break;
    }
    if (got >= 63) DV_CHECK(name == expect_name, "disk name");
    for (char c : name) DV_CHECK((static_cast<unsigned char>(c) & 0x80) == 0, "disk name character");


    // The library's own count agrees with the scan where the scan saw every bit.
    rbf::os9_usage usage;
    DV_CHECK(rbf::_os9_usage(path, &usage) == rbf::E_SUCCESS, "usage of an open disk");
    DV_CHECK(usage.total_units == g.total && usage.cluster_sectors == g.bit && usage.unit_bytes == g.cs,
             "usage geometry");
    if (scan_to == g.clusters()) {
        DV_CHECK(usage.free_units == static_cast<std::uint64_t>(free_units), "usage free units");
        DV_CHECK(usage.largest_free_run == static_cast<std::uint64_t>(largest), "usage largest free run");
    }

    rbf::_os9_close(path);
    DV_CHECK(rbf::image_contents(*image) == img, "the space report changed the image");
    return 0;
}
