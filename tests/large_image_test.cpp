// Images and files past 2 GiB, on sparse host files: positions, sizes and
// offsets are 64-bit inside the library and clamped where a call's
// interface is narrower; and an image file that shrinks under an open path
// gives errors, never a fault.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>

#include "os9disk.h"
#include "os9path.h"
#include "rbf/image.h"
#include "test_support.h"

namespace {

using dvtest::bytes;
using dvtest::put_be;
using dvtest::TempDir;

// The largest disk with clusters of 32 sectors: 0xFFFF00 sectors (nearly
// 4 GiB), whose bitmap just fits in 65,535 bytes (sectors 1..256).  The root
// FD takes cluster 9 (sector 288), its data ("..", ".", BIG) cluster 10;
// BIG's FD is at sector 352, and its three segments of 0xFFE0 sectors end
// at the last sector of the disk: its bytes lie past 4 GiB - 50 MB.
constexpr int kUnit = 256;
constexpr std::uint32_t kUnits = 0xFFFF00;
constexpr std::int64_t kSegSectors = 0xFFE0;
constexpr std::int64_t kSegBytes = kSegSectors * kUnit;
constexpr std::int64_t kFirstData = kUnits - 3 * kSegSectors;
constexpr std::int64_t kDataStart = kFirstData * kUnit;

void put_at(int fd, std::int64_t off, const bytes& b) {
    ASSERT_EQ(pwrite(fd, b.data(), b.size(), off), static_cast<ssize_t>(b.size()));
}

bytes entry(const std::string& name, std::uint32_t lsn) {
    bytes e(32, 0);
    bytes n = dvtest::os9_name(name);
    std::memcpy(e.data(), n.data(), n.size());
    put_be(e.data() + 29, 3, lsn);
    return e;
}

// Writes the big disk into `path` as a sparse file; BIG's fd_siz is `size`.
void make_big_disk(const std::string& path, std::uint32_t size) {
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, std::int64_t{kUnits} * kUnit), 0);
    bytes s0(256, 0);
    put_be(s0.data(), 3, kUnits);
    put_be(s0.data() + 4, 2, 65535);  // dd_map: 524,280 clusters
    put_be(s0.data() + 6, 2, 32);     // dd_bit
    put_be(s0.data() + 8, 3, 288);    // dd_dir
    put_at(fd, 0, s0);
    bytes map(65535, 0);
    map[0] = 0xFF;  // clusters 0..11: LSN 0, the bitmap, the root, BIG's FD
    map[1] = 0xF0;
    for (std::int64_t b = kFirstData / 32; b < kUnits / 32; ++b) map[b / 8] |= static_cast<unsigned char>(0x80 >> (b % 8));
    put_at(fd, 256, map);
    bytes root(256, 0);
    root[0] = 0xBF;
    root[8] = 1;
    put_be(root.data() + 9, 4, 96);
    put_be(root.data() + 16, 3, 320);
    put_be(root.data() + 19, 2, 32);
    put_at(fd, 288 * kUnit, root);
    bytes dir = entry("..", 288);
    bytes dot = entry(".", 288);
    bytes big = entry("BIG", 352);
    dir.insert(dir.end(), dot.begin(), dot.end());
    dir.insert(dir.end(), big.begin(), big.end());
    put_at(fd, 320 * kUnit, dir);
    bytes fdb(256, 0);
    fdb[0] = 0x03;  // owner read and write
    fdb[8] = 1;
    put_be(fdb.data() + 9, 4, size);
    for (int k = 0; k < 3; ++k) {
        put_be(fdb.data() + 16 + 5 * k, 3, static_cast<std::uint32_t>(kFirstData + k * kSegSectors));
        put_be(fdb.data() + 19 + 5 * k, 2, static_cast<std::uint32_t>(kSegSectors));
    }
    put_at(fd, 352 * kUnit, fdb);
    close(fd);
}

// Image offset of BIG's byte `pos`.
std::int64_t big_offset(std::int64_t pos) { return kDataStart + pos; }

struct BigDisk {
    TempDir dir;
    std::string path = dir / "big.dsk";
    explicit BigDisk(std::uint32_t size = 0xFFFFFFFF) { make_big_disk(path, size); }
};

TEST(LargeImage, RawReadNearTheEndOfAFourGiBDisk) {
    BigDisk d;
    const std::int64_t disk = std::int64_t{kUnits} * kUnit;
    int fd = open(d.path.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    put_at(fd, disk - 100, bytes{'E', 'N', 'D'});
    close(fd);
    dvtest::Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), d.path + ":@", 1), 0);
    ASSERT_EQ(rbf::path_set_position(p, disk - 100), 0);
    char buf[200] = {};
    int size = sizeof buf;
    ASSERT_EQ(rbf::_os9_read(p.p, buf, &size), 0);
    EXPECT_EQ(size, 100);
    EXPECT_EQ(std::string(buf, 3), "END");
    EXPECT_EQ(rbf::path_position(p), disk);
    size = 10;
    EXPECT_EQ(rbf::_os9_read(p.p, buf, &size), rbf::E_EOF);
    int whole = 0;
    ASSERT_EQ(rbf::_os9_gs_size(p.p, &whole), 0);
    EXPECT_EQ(whole, INT_MAX);  // clamped: the disk holds 4 GiB
}

// A file whose bytes lie near the end of a 4 GiB disk, with fd_siz
// 0xFFFFFFFF: its last bytes read and write at the right image offsets,
// and a read past its allocation (inside its size) ends there.
TEST(LargeImage, FileAtTheEndOfAFourGiBDiskReadsAndWrites) {
    BigDisk d;
    const std::int64_t at = 3 * kSegBytes - 10;  // the last 10 bytes the segments hold
    int fd = open(d.path.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    put_at(fd, big_offset(at), bytes{'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'});
    close(fd);

    rbf::image_ref img;
    ASSERT_EQ(rbf::image_open(d.path, true, &img), 0);
    dvtest::Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), img, "BIG", 3), 0);
    ASSERT_EQ(rbf::_os9_seek(p.p, static_cast<int>(at), 0), 0);
    char buf[20] = {};
    int size = 20;
    ASSERT_EQ(rbf::_os9_read(p.p, buf, &size), 0);
    EXPECT_EQ(size, 10);  // the allocation ends there
    EXPECT_EQ(std::string(buf, 10), "0123456789");
    rbf::os9_stat st;
    ASSERT_EQ(rbf::_os9_stat(p.p, &st), 0);
    EXPECT_EQ(st.size, 0xFFFFFFFFu);
    EXPECT_EQ(st.allocated, static_cast<std::uint64_t>(3 * kSegBytes));
    EXPECT_EQ(st.segments, 3);
    int whole = 0;
    ASSERT_EQ(rbf::_os9_gs_size(p.p, &whole), 0);
    EXPECT_EQ(whole, INT_MAX);  // clamped

    ASSERT_EQ(rbf::_os9_seek(p.p, static_cast<int>(at), 0), 0);
    size = 10;
    ASSERT_EQ(rbf::_os9_write(p.p, "abcdefghij", &size), 0);
    p.close();
    bytes got(10);
    fd = open(d.path.c_str(), O_RDONLY);
    ASSERT_EQ(pread(fd, got.data(), 10, big_offset(at)), 10);
    close(fd);
    EXPECT_EQ(std::string(got.begin(), got.end()), "abcdefghij");
    EXPECT_EQ(big_offset(at) + 10, std::int64_t{kUnits} * 256);  // the disk's last byte
}

TEST(LargeImage, ImageThatShrinksWhileOpenGivesErrorsNotAFault) {
    TempDir dir;
    dvtest::ImageBuilder b;
    // The file's data lie far from LSN 0, past where the image is cut.
    b.add_file(b.root(), "TEXT", bytes(3000, 'x'), 0x1B, {{500, 12}});
    b.save(dir / "d.dsk");
    rbf::image_ref img;
    ASSERT_EQ(rbf::image_open(dir / "d.dsk", false, &img), 0);
    dvtest::Path file, raw;
    ASSERT_EQ(rbf::_os9_open(file.out(), img, "TEXT", 1), 0);
    ASSERT_EQ(rbf::_os9_open(raw.out(), img, "@", 1), 0);
    ASSERT_EQ(truncate((dir / "d.dsk").c_str(), 4096), 0);

    char buf[100];
    int size = sizeof buf;
    EXPECT_EQ(rbf::_os9_read(file.p, buf, &size), rbf::E_GENERAL);
    ASSERT_EQ(rbf::path_set_position(raw, 500 * 256), 0);
    size = sizeof buf;
    EXPECT_EQ(rbf::_os9_read(raw.p, buf, &size), rbf::E_EOF);
}

// The host file's blocks that reads cached follow every write of the
// process, also one that grows the file past a block that ended early.
TEST(HostImage, CachedBlocksFollowWritesThatGrowTheFile) {
    TempDir dir;
    dvtest::write_file(dir / "f", bytes(1000, 'a'));
    rbf::image_ref img;
    ASSERT_EQ(rbf::image_open(dir / "f", true, &img), 0);
    bytes got(40);
    ASSERT_EQ(rbf::image_read(*img, 980, got.data(), 40), 20u);  // caches the short block
    ASSERT_EQ(rbf::image_write(*img, 1000, "bb", 2), 2u);          // right after the end
    ASSERT_EQ(rbf::image_write(*img, 40000, "cc", 2), 2u);         // past a hole
    ASSERT_EQ(rbf::image_read(*img, 996, got.data(), 10), 10u);
    EXPECT_EQ(bytes(got.begin(), got.begin() + 10), (bytes{'a', 'a', 'a', 'a', 'b', 'b', 0, 0, 0, 0}));
    ASSERT_EQ(rbf::image_read(*img, 39998, got.data(), 10), 4u);
    EXPECT_EQ(bytes(got.begin(), got.begin() + 4), (bytes{0, 0, 'c', 'c'}));
    // A second open of the file joins the same image and sees the writes.
    rbf::image_ref again;
    ASSERT_EQ(rbf::image_open(dir / "f", false, &again), 0);
    EXPECT_EQ(again.get(), img.get());
    img.reset();
    again.reset();
    EXPECT_EQ(dvtest::read_file(dir / "f").size(), 40002u);
}

}  // namespace
