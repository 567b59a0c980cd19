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

// 16 KiB units (dd_bit 64), 0x40000 of them: a 4 GiB disk whose bitmap
// needs only 512 bytes.  Root FD at unit 1, its data at unit 2 ("..", ".",
// BIG), BIG's FD at unit 3 and its three segments of 0xFFFF units from unit
// 4 on: about 3 GiB of file.
constexpr int kUnit = 64 * 256;
constexpr std::uint32_t kUnits = 0x40000;
constexpr std::int64_t kSegBytes = std::int64_t{0xFFFF} * kUnit;
constexpr std::int64_t kDataStart = std::int64_t{4} * kUnit;

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
    put_be(s0.data() + 4, 2, 512);  // dd_map
    put_be(s0.data() + 6, 2, 64);   // dd_bit
    put_be(s0.data() + 8, 3, 1);    // dd_dir
    put_at(fd, 0, s0);
    bytes map(512, 0);
    map[0] = 0xFF;  // units 0..7 in use: enough for the test's own layout
    put_at(fd, 256, map);
    bytes root(256, 0);
    root[0] = 0xBF;
    root[8] = 1;
    put_be(root.data() + 9, 4, 96);
    put_be(root.data() + 16, 3, 2);
    put_be(root.data() + 19, 2, 1);
    put_at(fd, kUnit, root);
    bytes dir = entry("..", 1);
    bytes dot = entry(".", 1);
    bytes big = entry("BIG", 3);
    dir.insert(dir.end(), dot.begin(), dot.end());
    dir.insert(dir.end(), big.begin(), big.end());
    put_at(fd, 2 * kUnit, dir);
    bytes fdb(256, 0);
    fdb[0] = 0x03;  // owner read and write
    fdb[8] = 1;
    put_be(fdb.data() + 9, 4, size);
    for (int k = 0; k < 3; ++k) {
        put_be(fdb.data() + 16 + 5 * k, 3, static_cast<std::uint32_t>(4 + k * 0xFFFF));
        put_be(fdb.data() + 19 + 5 * k, 2, 0xFFFF);
    }
    put_at(fd, 3 * kUnit, fdb);
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
    p->filepos = disk - 100;
    char buf[200] = {};
    int size = sizeof buf;
    ASSERT_EQ(rbf::_os9_read(p.p, buf, &size), 0);
    EXPECT_EQ(size, 100);
    EXPECT_EQ(std::string(buf, 3), "END");
    EXPECT_EQ(p->filepos, disk);
    size = 10;
    EXPECT_EQ(rbf::_os9_read(p.p, buf, &size), rbf::E_EOF);
    int whole = 0;
    ASSERT_EQ(rbf::_os9_gs_size(p.p, &whole), 0);
    EXPECT_EQ(whole, INT_MAX);  // clamped: the disk holds 4 GiB
}

TEST(LargeImage, FileOfSizeFFFFFFFFReadsAndWritesAcrossTwoGiB) {
    BigDisk d;
    const std::int64_t at = std::int64_t{INT_MAX} - 4;
    int fd = open(d.path.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    put_at(fd, big_offset(at), bytes{'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'});
    close(fd);

    rbf::image_ref img;
    ASSERT_EQ(rbf::image_open(d.path, true, &img), 0);
    dvtest::Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), img, "BIG", 3), 0);
    ASSERT_EQ(rbf::_os9_seek(p.p, static_cast<int>(at), 0), 0);
    char buf[10] = {};
    int size = 10;
    ASSERT_EQ(rbf::_os9_read(p.p, buf, &size), 0);
    EXPECT_EQ(size, 10);
    EXPECT_EQ(std::string(buf, 10), "0123456789");
    EXPECT_EQ(p->filepos, at + 10);  // past INT_MAX, without wrapping
    // A seek relative to a position the interface cannot express is refused
    // and leaves the position alone.
    EXPECT_EQ(rbf::_os9_seek(p.p, 0, 1), rbf::E_GENERAL);
    EXPECT_EQ(p->filepos, at + 10);
    EXPECT_EQ(rbf::_os9_gs_eof(p.p), 0);
    int whole = 0;
    ASSERT_EQ(rbf::_os9_gs_size(p.p, &whole), 0);
    EXPECT_EQ(whole, INT_MAX);
    rbf::os9_stat st;
    ASSERT_EQ(rbf::_os9_stat(p.p, &st), 0);
    EXPECT_EQ(st.size, 0xFFFFFFFFu);
    EXPECT_EQ(st.allocated, static_cast<std::uint64_t>(3 * kSegBytes));
    EXPECT_EQ(st.segments, 3);

    // A write across 2^31 lands at the right image bytes.
    ASSERT_EQ(rbf::_os9_seek(p.p, static_cast<int>(at), 0), 0);
    size = 10;
    ASSERT_EQ(rbf::_os9_write(p.p, "abcdefghij", &size), 0);
    EXPECT_EQ(p->filepos, at + 10);
    p.close();
    bytes got(10);
    fd = open(d.path.c_str(), O_RDONLY);
    ASSERT_EQ(pread(fd, got.data(), 10, big_offset(at)), 10);
    close(fd);
    EXPECT_EQ(std::string(got.begin(), got.end()), "abcdefghij");
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
    raw->filepos = 500 * 256;
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
