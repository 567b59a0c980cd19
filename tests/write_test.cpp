// Writing through the library and the growth of a file's segment list: images
// built byte by byte, written through the public calls, then inspected with
// the tests' own readers of the disk format.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "image_builder.h"
#include "os9path.h"
#include "run_program.h"
#include "test_support.h"
#include "tree_check.h"

namespace {

using dvtest::be;
using dvtest::bytes;
using dvtest::dd_map;
using dvtest::dd_tot;
using dvtest::fd_segments;
using dvtest::fd_size;
using dvtest::file_bytes;
using dvtest::image_bitmap;
using dvtest::ImageBuilder;
using dvtest::lowest_free_run;
using dvtest::map_bit;
using dvtest::MemImage;
using dvtest::seglist;

// The bitmap as the path sees it: a raw path's own copy, else the image's,
// where a file path's allocations are written as they are made.
std::vector<unsigned char> bitmap_seen(rbf::os9_path_id p, const MemImage& m) {
    const bytes img = m.get();
    const std::span<unsigned char> copy = rbf::path_bitmap(p);
    if (copy.empty()) return image_bitmap(img);
    return std::vector<unsigned char>(copy.begin(), copy.begin() + dd_map(img));
}

bytes pattern(std::size_t n, int seed) {
    bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>((i * 31 + static_cast<std::size_t>(seed) * 7 + i / 251) & 0xFF);
    return b;
}

bytes sector_bytes(const bytes& img, int lsn, std::size_t off, std::size_t n) {
    return dvtest::slice(img, static_cast<std::size_t>(lsn) * 256 + off, n);
}

// Writes `data` at `pos` through an open path; returns the error code and
// leaves the count in *count.
int write_at(rbf::os9_path_id p, int pos, const bytes& data, int* count = nullptr) {
    EXPECT_EQ(rbf::_os9_seek(p, pos, 0), 0);
    int size = static_cast<int>(data.size());
    int rc = rbf::_os9_write(p, data.data(), &size);
    if (count) *count = size;
    return rc;
}

// ---- first allocation and growth --------------------------------------------

TEST(OsWrite, FirstWriteToEmptyFileTakesLowestRunOfSasUnits) {
    ImageBuilder b;
    int f = b.make_fd(0x1B, {}, 0);
    b.add_entry(b.root(), "F", f);
    // Two taken units (FDs of empty files) split the free space so that the
    // first run of 8 is not at the first free unit.
    b.add_entry(b.root(), "A", b.make_fd(0x1B, {}, 0, 1, f + 3));
    b.add_entry(b.root(), "B", b.make_fd(0x1B, {}, 0, 1, f + 10));
    const bytes before = b.image();
    const int run = lowest_free_run(image_bitmap(before), dd_tot(before), 8);
    ASSERT_EQ(run, f + 11);  // f+1..f+2 and f+4..f+9 are too short

    MemImage m(before);
    rbf::os9_path_id p = nullptr;
    ASSERT_EQ(rbf::_os9_open(&p, m.image(), "F", 3), 0);
    const bytes data = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
    int size = 10;
    EXPECT_EQ(rbf::_os9_write(p, data.data(), &size), 0);
    EXPECT_EQ(size, 10);
    EXPECT_EQ(rbf::path_position(p), 10);
    for (int u = run; u < run + 8; ++u) EXPECT_TRUE(map_bit(bitmap_seen(p, m), u)) << u;

    bytes img = m.get();
    EXPECT_EQ(fd_segments(img, f), (seglist{{run, 8}}));
    EXPECT_EQ(fd_size(img, f), 10u);
    EXPECT_EQ(sector_bytes(img, run, 0, 10), data);
    // Attributes, owner, date, link count and creation date stay.
    EXPECT_EQ(sector_bytes(img, f, 0, 9), sector_bytes(before, f, 0, 9));
    EXPECT_EQ(sector_bytes(img, f, 13, 3), sector_bytes(before, f, 13, 3));

    EXPECT_EQ(rbf::_os9_close(p), 0);
    img = m.get();
    // Trimmed to the size plus at most one unit: one unit for 10 bytes.
    EXPECT_EQ(fd_segments(img, f), (seglist{{run, 1}}));
    EXPECT_EQ(file_bytes(img, f), data);
    std::vector<unsigned char> bm = image_bitmap(img);
    EXPECT_TRUE(map_bit(bm, run));
    for (int u = run + 1; u < run + 8; ++u) EXPECT_FALSE(map_bit(bm, u)) << u;
    EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
}

TEST(OsWrite, AppendLengthensLastSegmentWhenNextUnitIsFree) {
    ImageBuilder b;
    int f = b.make_fd(0x1B, {{50, 1}}, 0);
    b.mark(50, 1, true);
    const bytes first = pattern(256, 1);
    b.write_data(f, 0, first);
    b.add_entry(b.root(), "F", f);
    const bytes before = b.image();
    ASSERT_FALSE(b.used(51));

    MemImage m(before);
    rbf::os9_path_id p = nullptr;
    ASSERT_EQ(rbf::_os9_open(&p, m.image(), "F", 2), 0);
    const bytes more = pattern(100, 2);
    int count = 0;
    EXPECT_EQ(write_at(p, 256, more, &count), 0);
    EXPECT_EQ(count, 100);
    bytes img = m.get();
    EXPECT_EQ(fd_segments(img, f), (seglist{{50, 2}}));  // no new entry
    EXPECT_EQ(fd_size(img, f), 356u);
    EXPECT_EQ(sector_bytes(img, 51, 0, 100), more);
    EXPECT_EQ(sector_bytes(img, 50, 0, 256), first);
    // Only unit 51 was taken.
    std::vector<unsigned char> want = image_bitmap(before);
    want[51 / 8] |= 0x80 >> (51 % 8);
    EXPECT_EQ(bitmap_seen(p, m), want);

    EXPECT_EQ(rbf::_os9_close(p), 0);
    img = m.get();
    EXPECT_EQ(fd_segments(img, f), (seglist{{50, 2}}));  // 356 bytes keep 2 units
    EXPECT_EQ(image_bitmap(img), want);
    bytes whole = first;
    whole.insert(whole.end(), more.begin(), more.end());
    EXPECT_EQ(file_bytes(img, f), whole);
    EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
}

TEST(OsWrite, AppendOpensNewSegmentWhenNextUnitIsTaken) {
    ImageBuilder b;
    int f = b.make_fd(0x1B, {{50, 1}}, 0);
    b.mark(50, 1, true);
    const bytes first = pattern(256, 3);
    b.write_data(f, 0, first);
    b.add_entry(b.root(), "F", f);
    b.add_file(b.root(), "O", pattern(20, 4), 0x1B, {{51, 1}});  // unit 51 taken
    const bytes before = b.image();
    const int run = lowest_free_run(image_bitmap(before), dd_tot(before), 8);
    ASSERT_GT(run, 0);

    MemImage m(before);
    rbf::os9_path_id p = nullptr;
    ASSERT_EQ(rbf::_os9_open(&p, m.image(), "F", 3), 0);
    const bytes more = pattern(100, 5);
    EXPECT_EQ(write_at(p, 256, more), 0);
    bytes img = m.get();
    EXPECT_EQ(fd_segments(img, f), (seglist{{50, 1}, {run, 8}}));
    EXPECT_EQ(fd_size(img, f), 356u);
    EXPECT_EQ(sector_bytes(img, run, 0, 100), more);

    EXPECT_EQ(rbf::_os9_close(p), 0);
    img = m.get();
    // 356 bytes keep 2 units: the new segment shrinks to one.
    EXPECT_EQ(fd_segments(img, f), (seglist{{50, 1}, {run, 1}}));
    bytes whole = first;
    whole.insert(whole.end(), more.begin(), more.end());
    EXPECT_EQ(file_bytes(img, f), whole);
    EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
}

TEST(OsWrite, SegmentOf65535UnitsIsNotLengthened) {
    // A disk big enough for one segment of 65535 units and more.
    ImageBuilder b(70000);
    int f = b.make_fd(0x1B, {{100, 65534}}, 65534u * 256u);
    b.mark(100, 65534, true);
    b.add_entry(b.root(), "BIG", f);
    const bytes before = b.image();
    ASSERT_FALSE(b.used(100 + 65534));
    ASSERT_FALSE(b.used(100 + 65535));

    MemImage m(before);
    rbf::os9_path_id p = nullptr;
    ASSERT_EQ(rbf::_os9_open(&p, m.image(), "BIG", 3), 0);
    // 65534 units: the next unit is free, so the segment grows to 65535.
    const bytes a = pattern(10, 6);
    EXPECT_EQ(write_at(p, 65534 * 256, a), 0);
    bytes img = m.get();
    EXPECT_EQ(fd_segments(img, f), (seglist{{100, 65535}}));

    // Full at 65535: a new entry, although the unit after it is free.
    const int run = lowest_free_run(bitmap_seen(p, m), dd_tot(before), 8);
    const bytes c = pattern(300, 7);
    const int pos = 65534 * 256 + 10;
    EXPECT_EQ(write_at(p, pos, c), 0);
    img = m.get();
    EXPECT_EQ(fd_segments(img, f), (seglist{{100, 65535}, {run, 8}}));
    EXPECT_FALSE(map_bit(bitmap_seen(p, m), 100 + 65535));
    EXPECT_EQ(fd_size(img, f), static_cast<std::uint32_t>(pos + 300));
    // 246 bytes fill the first segment, 54 go to the new one.
    const std::size_t tail = 65535u * 256u - static_cast<std::size_t>(pos);
    ASSERT_EQ(tail, 246u);
    EXPECT_EQ(bytes(img.begin() + 100 * 256 + pos, img.begin() + 100 * 256 + 65535L * 256), bytes(c.begin(), c.begin() + 246));
    EXPECT_EQ(sector_bytes(img, run, 0, 54), bytes(c.begin() + 246, c.end()));
    EXPECT_EQ(rbf::_os9_close(p), 0);
    EXPECT_EQ(dvtest::check_tree(m.get()), std::vector<std::string>{});
}

// ---- writes that do not grow the file ---------------------------------------

TEST(OsWrite, WriteInsideFileOverwritesInPlaceAndKeepsSize) {
    ImageBuilder b;
    const bytes original = pattern(600, 8);
    int f = b.add_file(b.root(), "F", original);
    const bytes before = b.image();
    ASSERT_EQ(b.segments(f).size(), 1u);
    ASSERT_EQ(b.segments(f)[0].second, 3);

    MemImage m(before);
    rbf::os9_path_id p = nullptr;
    ASSERT_EQ(rbf::_os9_open(&p, m.image(), "F", 3), 0);
    const bytes patch(50, 0xAA);
    EXPECT_EQ(write_at(p, 100, patch), 0);
    EXPECT_EQ(rbf::path_position(p), 150);
    EXPECT_EQ(rbf::_os9_close(p), 0);

    // Exactly the 50 bytes changed; size, segments and bitmap as they were.
    ImageBuilder want = b;
    want.write_data(f, 100, patch);
    EXPECT_EQ(m.get(), want.image());
    EXPECT_EQ(fd_size(m.get(), f), 600u);
}

TEST(OsWrite, WritePastEndOfFileIsRefusedWith211) {
    ImageBuilder b;
    int f = b.add_file(b.root(), "F", pattern(10, 9));
    (void)f;
    const bytes before = b.image();
    MemImage m(before);
    rbf::os9_path_id p = nullptr;
    ASSERT_EQ(rbf::_os9_open(&p, m.image(), "F", 3), 0);
    const bytes data(5, 'x');
    int count = 0;
    EXPECT_EQ(write_at(p, 11, data, &count), 211);
    EXPECT_EQ(rbf::path_position(p), 11);
    EXPECT_EQ(bitmap_seen(p, m), image_bitmap(before));
    EXPECT_EQ(m.get(), before);
    EXPECT_EQ(rbf::_os9_close(p), 0);
    EXPECT_EQ(m.get(), before);
}

TEST(OsWrite, ZeroByteWriteWhereNoSegmentHoldsThePositionGives1) {
    ImageBuilder b;
    int empty = b.make_fd(0x1B, {}, 0);
    b.add_entry(b.root(), "EMPTY", empty);
    b.add_file(b.root(), "FULL", pattern(256, 10));  // one unit, exactly full
    const bytes before = b.image();
    MemImage m(before);

    rbf::os9_path_id p = nullptr;
    ASSERT_EQ(rbf::_os9_open(&p, m.image(), "EMPTY", 3), 0);
    int size = 0;
    const unsigned char dummy = 0;
    EXPECT_EQ(rbf::_os9_write(p, &dummy, &size), 1);
    EXPECT_EQ(bitmap_seen(p, m), image_bitmap(before));
    EXPECT_EQ(m.get(), before);
    EXPECT_EQ(rbf::_os9_close(p), 0);
    EXPECT_EQ(m.get(), before);

    ASSERT_EQ(rbf::_os9_open(&p, m.image(), "FULL", 3), 0);
    EXPECT_EQ(rbf::_os9_seek(p, 256, 0), 0);
    size = 0;
    EXPECT_EQ(rbf::_os9_write(p, &dummy, &size), 1);
    EXPECT_EQ(bitmap_seen(p, m), image_bitmap(before));
    EXPECT_EQ(rbf::_os9_close(p), 0);
    EXPECT_EQ(m.get(), before);
}

TEST(OsWrite, ZeroByteWriteInsideFileChangesNothing) {
    ImageBuilder b;
    b.add_file(b.root(), "F", pattern(10, 11));
    const bytes before = b.image();
    MemImage m(before);
    rbf::os9_path_id p = nullptr;
    ASSERT_EQ(rbf::_os9_open(&p, m.image(), "F", 3), 0);
    int count = -1;
    EXPECT_EQ(write_at(p, 5, bytes{}, &count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(rbf::path_position(p), 5);
    EXPECT_EQ(rbf::_os9_close(p), 0);
    EXPECT_EQ(m.get(), before);
}

// ---- failed growth -----------------------------------------------------------

// A file with 48 one-unit segments at 20, 22, ..., 114 and fd_siz filling
// them; `taken` lists units owned by another file.
ImageBuilder full_list_disk(const std::vector<int>& taken, int* fd) {
    ImageBuilder b;
    seglist segs;
    for (int k = 0; k < 48; ++k) segs.emplace_back(20 + 2 * k, 1);
    *fd = b.make_fd(0x1B, segs, 48 * 256);
    for (auto [lsn, num] : segs) b.mark(lsn, num, true);
    b.add_entry(b.root(), "F", *fd);
    seglist other;
    for (int u : taken) other.emplace_back(u, 1);
    b.add_file(b.root(), "O", pattern(10, 12), 0x1B, other);
    return b;
}

TEST(OsWrite, FullSegmentListGives217AndChangesNothing) {
    int f = 0;
    ImageBuilder b = full_list_disk({115}, &f);
    const bytes before = b.image();
    MemImage m(before);
    rbf::os9_path_id p = nullptr;
    ASSERT_EQ(rbf::_os9_open(&p, m.image(), "F", 3), 0);
    EXPECT_EQ(write_at(p, 48 * 256, bytes(1, 'z')), 217);
    EXPECT_EQ(bitmap_seen(p, m), image_bitmap(before));
    EXPECT_EQ(m.get(), before);
    EXPECT_EQ(rbf::_os9_close(p), 0);
    EXPECT_EQ(m.get(), before);
    EXPECT_EQ(dvtest::check_tree(m.get()), std::vector<std::string>{});
}

TEST(OsWrite, FullSegmentListGives217AndGivesBackUnitsTakenInTheCall) {
    int f = 0;
    // Unit 115 after the last segment is free, 116 is taken: the write
    // lengthens the last segment once, then cannot go on.
    ImageBuilder b = full_list_disk({116}, &f);
    const bytes before = b.image();
    ASSERT_FALSE(b.used(115));
    MemImage m(before);
    rbf::os9_path_id p = nullptr;
    ASSERT_EQ(rbf::_os9_open(&p, m.image(), "F", 3), 0);
    EXPECT_EQ(write_at(p, 48 * 256, bytes(300, 'z')), 217);
    EXPECT_FALSE(map_bit(bitmap_seen(p, m), 115));
    EXPECT_EQ(bitmap_seen(p, m), image_bitmap(before));
    EXPECT_EQ(m.get(), before);  // no byte written, FD as it was
    EXPECT_EQ(rbf::_os9_close(p), 0);
    EXPECT_EQ(m.get(), before);
}

// Every seventh unit from 0 on is taken, so no free run reaches 8 units.
// The file F holds unit `seg` (one segment, 256 bytes).
ImageBuilder fragmented_disk(int seg, int* fd) {
    ImageBuilder b;
    *fd = b.make_fd(0x1B, {{seg, 1}}, 0);
    b.mark(seg, 1, true);
    b.write_data(*fd, 0, pattern(256, 13));
    b.add_entry(b.root(), "F", *fd);
    for (int u = 0; u < b.total(); u += 7) b.mark(u, 1, true);
    return b;
}

TEST(OsWrite, DiskWithOnlyShortFreeRunsUsesTheLongestRunThere) {
    int f = 0;
    ImageBuilder b = fragmented_disk(54, &f);  // 55 free, 56 taken, runs of 6 between
    const bytes before = b.image();
    ASSERT_EQ(lowest_free_run(image_bitmap(before), dd_tot(before), 8), -1);
    const int six = lowest_free_run(image_bitmap(before), dd_tot(before), 6);
    ASSERT_GT(six, 0);
    MemImage m(before);
    rbf::os9_path_id p = nullptr;
    ASSERT_EQ(rbf::_os9_open(&p, m.image(), "F", 3), 0);
    // 556 bytes need 3 units: 55 by lengthening, then no run of 8 is free
    // and the lowest run of 6 is taken, as OS-9 takes the longest run there is.
    const bytes more = pattern(300, 14);
    EXPECT_EQ(write_at(p, 256, more), 0);
    EXPECT_EQ(rbf::_os9_close(p), 0);
    const bytes img = m.get();
    EXPECT_EQ(fd_segments(img, f), (seglist{{54, 2}, {six, 1}}));  // trimmed at close
    EXPECT_EQ(dvtest::file_bytes(img, f), [&] {
        bytes want = pattern(256, 13);
        want.insert(want.end(), more.begin(), more.end());
        return want;
    }());

    // With every unit taken, the disk is full.
    int g = 0;
    ImageBuilder c = fragmented_disk(55, &g);
    for (int u = 0; u < c.total(); ++u) c.mark(u, 1, true);
    const bytes before2 = c.image();
    MemImage m2(before2);
    ASSERT_EQ(rbf::_os9_open(&p, m2.image(), "F", 3), 0);
    EXPECT_EQ(write_at(p, 256, bytes(1, 'q')), 248);
    EXPECT_EQ(bitmap_seen(p, m2), image_bitmap(before2));
    EXPECT_EQ(rbf::_os9_close(p), 0);
    EXPECT_EQ(m2.get(), before2);
}

// ---- segment allocation size ----------------------------------------------

// A 300-sector disk with pd_sas `sas`: file F (empty) and an empty file O
// whose FD sits two units after F's, so F's first unit can't be lengthened.
ImageBuilder small_disk(int sas, int* fd) {
    ImageBuilder b(300, "small", sas);
    *fd = b.make_fd(0x1B, {}, 0);
    b.add_entry(b.root(), "F", *fd);
    b.add_entry(b.root(), "O", b.make_fd(0x1B, {}, 0, 1, *fd + 2));
    return b;
}

TEST(OsWrite, SasOfZeroOrOverHalfTheDiskGivesOneUnitSegments) {
    for (int sas : {0, 151, 255}) {
        SCOPED_TRACE(sas);
        int f = 0;
        ImageBuilder b = small_disk(sas, &f);
        const bytes before = b.image();
        MemImage m(before);
        rbf::os9_path_id p = nullptr;
        ASSERT_EQ(rbf::_os9_open(&p, m.image(), "F", 3), 0);
        const bytes a = pattern(10, 15);
        EXPECT_EQ(write_at(p, 0, a), 0);
        EXPECT_EQ(fd_segments(m.get(), f), (seglist{{f + 1, 1}}));
        // f+2 is taken: a second one-unit segment at the lowest free unit.
        const bytes c = pattern(300, 16);
        EXPECT_EQ(write_at(p, 10, c), 0);
        EXPECT_EQ(fd_segments(m.get(), f), (seglist{{f + 1, 1}, {f + 3, 1}}));
        EXPECT_EQ(rbf::_os9_close(p), 0);
        bytes img = m.get();
        // LSN 0 on the image keeps its value.
        EXPECT_EQ(bytes(img.begin(), img.begin() + 256), bytes(before.begin(), before.begin() + 256));
        bytes whole = a;
        whole.insert(whole.end(), c.begin(), c.end());
        EXPECT_EQ(file_bytes(img, f), whole);
        EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
    }
}

TEST(OsWrite, SasOfExactlyHalfTheDiskIsUsedAsItIs) {
    int f = 0;
    ImageBuilder b = small_disk(150, &f);
    const bytes before = b.image();
    const int run = lowest_free_run(image_bitmap(before), dd_tot(before), 150);
    ASSERT_GT(run, 0);
    MemImage m(before);
    rbf::os9_path_id p = nullptr;
    ASSERT_EQ(rbf::_os9_open(&p, m.image(), "F", 3), 0);
    EXPECT_EQ(write_at(p, 0, pattern(10, 17)), 0);
    EXPECT_EQ(fd_segments(m.get(), f), (seglist{{run, 150}}));
    EXPECT_EQ(rbf::_os9_close(p), 0);
    EXPECT_EQ(dvtest::check_tree(m.get()), std::vector<std::string>{});
}

TEST(OsWrite, GetSasSegmentMarksLowestRunElseTheLongestOrGives248) {
    ImageBuilder b;
    b.mark(14, 1, true);  // free: 10..13, 15..
    const bytes before = b.image();
    MemImage m(before);
    rbf::os9_path_id p = nullptr;
    ASSERT_EQ(rbf::_os9_open(&p, m.image(), "@", 3), 0);
    int cluster = 0;
    int size = 0;
    EXPECT_EQ(rbf::_os9_getSASSegment(p, &cluster, &size), 0);
    EXPECT_EQ(cluster, 15);
    EXPECT_EQ(size, 8);
    for (int u = 15; u < 23; ++u) EXPECT_TRUE(map_bit(bitmap_seen(p, m), u));
    EXPECT_FALSE(map_bit(bitmap_seen(p, m), 13));
    EXPECT_FALSE(map_bit(bitmap_seen(p, m), 23));
    // Everything but runs of 7: the lowest of them.
    const std::span<unsigned char> copy = rbf::path_bitmap(p);
    for (int u = 0; u < 630; ++u)
        if (u % 8 == 0) copy[static_cast<std::size_t>(u) / 8] |= static_cast<unsigned char>(0x80 >> (u % 8));
    EXPECT_EQ(rbf::_os9_getSASSegment(p, &cluster, &size), 0);
    EXPECT_EQ(cluster, 25);  // 25..31; 10..13 and 23 are shorter
    EXPECT_EQ(size, 7);
    // A full bitmap: 248 and nothing changed.
    std::fill(copy.begin(), copy.end(), 0xFF);
    const std::vector<unsigned char> held(copy.begin(), copy.end());
    EXPECT_EQ(rbf::_os9_getSASSegment(p, &cluster, &size), 248);
    EXPECT_EQ(std::vector<unsigned char>(copy.begin(), copy.end()), held);
    rbf::_os9_close(p);
}

// ---- raw, host and read-only paths -------------------------------------------

TEST(OsWrite, RawWriteLandsAtStreamPositionAndStopsAtDiskEnd) {
    ImageBuilder b;
    bytes img = b.image();
    const std::size_t disk = 630u * 256u;
    img.insert(img.end(), 512, 0x55);  // the image file is longer than the disk
    MemImage m(img);
    rbf::os9_path_id p = nullptr;
    ASSERT_EQ(rbf::_os9_open(&p, m.image(), ".@", 3), 0);

    // Right after open the stream stands behind the bitmap sectors.
    bytes a = {'A', 'B', 'C', 'D'};
    int size = 4;
    EXPECT_EQ(rbf::_os9_write(p, a.data(), &size), 0);
    EXPECT_EQ(size, 4);
    EXPECT_EQ(rbf::path_position(p), 0);
    bytes now = m.get();
    EXPECT_EQ(bytes(now.begin() + 512, now.begin() + 516), a);

    const bytes c = pattern(20, 18);
    EXPECT_EQ(rbf::_os9_seek(p, 1000, 0), 0);
    size = 20;
    EXPECT_EQ(rbf::_os9_write(p, c.data(), &size), 0);
    EXPECT_EQ(size, 20);
    size = 4;  // the next write follows on
    EXPECT_EQ(rbf::_os9_write(p, a.data(), &size), 0);
    EXPECT_EQ(rbf::path_position(p), 0);
    now = m.get();
    EXPECT_EQ(bytes(now.begin() + 1000, now.begin() + 1020), c);
    EXPECT_EQ(bytes(now.begin() + 1020, now.begin() + 1024), a);

    // Clipped at dd_tot * 256: five bytes land, the rest of the file stays.
    EXPECT_EQ(rbf::_os9_seek(p, static_cast<int>(disk) - 5, 0), 0);
    size = 20;
    EXPECT_EQ(rbf::_os9_write(p, c.data(), &size), 0);
    EXPECT_EQ(size, 5);
    size = 20;
    EXPECT_EQ(rbf::_os9_write(p, c.data(), &size), 0);
    EXPECT_EQ(size, 0);
    now = m.get();
    ASSERT_EQ(now.size(), disk + 512);
    EXPECT_EQ(bytes(now.begin() + disk - 5, now.begin() + disk), bytes(c.begin(), c.begin() + 5));
    EXPECT_EQ(bytes(now.begin() + disk, now.end()), bytes(512, 0x55));

    // A raw write into the bitmap survives the close of the same path.
    EXPECT_EQ(rbf::_os9_seek(p, 256 + 40, 0), 0);
    bytes mark = {0xFF, 0xFF};
    size = 2;
    EXPECT_EQ(rbf::_os9_write(p, mark.data(), &size), 0);
    EXPECT_EQ(rbf::_os9_close(p), 0);
    now = m.get();
    EXPECT_EQ(now[256 + 40], 0xFF);
    EXPECT_EQ(now[256 + 41], 0xFF);
}

TEST(OsWrite, ReadOnlyPathRefusesWritesWith214) {
    ImageBuilder b;
    b.add_file(b.root(), "F", pattern(100, 19));
    const bytes before = b.image();
    MemImage m(before);
    const bytes data(10, 'w');

    rbf::os9_path_id p = nullptr;
    ASSERT_EQ(rbf::_os9_open(&p, m.image(), "F", 1), 0);
    EXPECT_EQ(write_at(p, 0, data), 214);
    EXPECT_EQ(write_at(p, 100, data), 214);  // an append too
    EXPECT_EQ(rbf::_os9_close(p), 0);
    EXPECT_EQ(m.get(), before);

    ASSERT_EQ(rbf::_os9_open(&p, m.image(), ".@", 1), 0);
    int size = 10;
    EXPECT_EQ(rbf::_os9_write(p, data.data(), &size), 214);
    EXPECT_EQ(rbf::_os9_close(p), 0);
    EXPECT_EQ(m.get(), before);
}

TEST(OsWrite, HostFileWriteGoesToTheStreamAndReportsTheCount) {
    dvtest::TempDir dir;
    dvtest::write_file(dir / "host.bin", bytes(10, '.'));
    rbf::os9_path_id p = nullptr;
    ASSERT_EQ(rbf::_os9_open(&p, dir / "host.bin", 3), 0);
    EXPECT_EQ(rbf::_os9_seek(p, 4, 0), 0);
    bytes data = {'h', 'o', 's', 't', '!', '!', '!', '!'};
    int size = 8;
    EXPECT_EQ(rbf::_os9_write(p, data.data(), &size), 0);
    EXPECT_EQ(size, 8);
    EXPECT_EQ(rbf::_os9_close(p), 0);
    const bytes want = {'.', '.', '.', '.', 'h', 'o', 's', 't', '!', '!', '!', '!'};
    EXPECT_EQ(dvtest::read_file(dir / "host.bin"), want);
}

// ---- large writes and close ---------------------------------------------------

TEST(OsWrite, LargeWriteSpreadsOverSegmentsAndReadsBackByteForByte) {
    ImageBuilder b;
    int f = b.make_fd(0x1B, {}, 0);
    b.add_entry(b.root(), "F", f);
    ASSERT_EQ(f, 10);
    // Units 20, 30, ... taken: free runs of nine units at 11, 21, 31, ...
    for (int u = 20; u <= 100; u += 10) b.add_entry(b.root(), "T" + std::to_string(u), b.make_fd(0x1B, {}, 0, 1, u));
    const bytes before = b.image();
    MemImage m(before);
    rbf::os9_path_id p = nullptr;
    ASSERT_EQ(rbf::_os9_open(&p, m.image(), "F", 3), 0);
    const bytes data = pattern(20000, 20);
    EXPECT_EQ(write_at(p, 0, data), 0);
    // Each run: a segment of 8, lengthened by the ninth free unit.  Once the
    // file holds 45 units a new segment wants a quarter of that (11): the
    // runs of nine are passed over for the free space from 101 on, where
    // the segment grows in place to the 79 units needed.
    seglist want;
    for (int k = 0; k < 5; ++k) want.emplace_back(11 + 10 * k, 9);
    want.emplace_back(101, 34);
    bytes img = m.get();
    EXPECT_EQ(fd_segments(img, f), want);
    EXPECT_EQ(file_bytes(img, f), data);

    // Read back through the library in odd-sized pieces.
    EXPECT_EQ(rbf::_os9_seek(p, 0, 0), 0);
    bytes back;
    for (;;) {
        unsigned char buf[777];
        int size = sizeof buf;
        int rc = rbf::_os9_read(p, buf, &size);
        if (rc != 0) {
            EXPECT_EQ(rc, 211);
            break;
        }
        back.insert(back.end(), buf, buf + size);
    }
    EXPECT_EQ(back, data);

    // Overwrite across segment boundaries in a second call.
    const bytes patch = pattern(3000, 21);
    EXPECT_EQ(write_at(p, 2000, patch), 0);
    EXPECT_EQ(rbf::_os9_close(p), 0);
    bytes expect = data;
    std::copy(patch.begin(), patch.end(), expect.begin() + 2000);
    img = m.get();
    EXPECT_EQ(fd_size(img, f), 20000u);
    EXPECT_EQ(file_bytes(img, f), expect);
    want.back().second = 34;  // 20000 / 256 + 1 = 79 units kept: all of them
    EXPECT_EQ(fd_segments(img, f), want);
    EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
}

TEST(OsWrite, CloseTrimsAllocationToSizePlusOneUnit) {
    for (int n : {0, 1, 255, 256, 512, 700}) {
        SCOPED_TRACE(n);
        ImageBuilder b;
        int f = b.make_fd(0x1B, {}, 0);
        b.add_entry(b.root(), "F", f);
        const bytes before = b.image();
        const int run = lowest_free_run(image_bitmap(before), dd_tot(before), 8);
        MemImage m(before);
        rbf::os9_path_id p = nullptr;
        ASSERT_EQ(rbf::_os9_open(&p, m.image(), "F", 3), 0);
        // A first byte takes the segment of 8; the size is then set by the
        // second write (n bytes in all).
        if (n > 0) {
            EXPECT_EQ(write_at(p, 0, pattern(static_cast<std::size_t>(n), 22)), 0);
            EXPECT_EQ(fd_segments(m.get(), f), (seglist{{run, 8}}));
        }
        EXPECT_EQ(rbf::_os9_close(p), 0);
        bytes img = m.get();
        int keep = n / 256 + 1;
        if (n == 0) {
            EXPECT_EQ(fd_segments(img, f), seglist{});
        } else {
            EXPECT_EQ(fd_segments(img, f), (seglist{{run, keep}}));
            std::vector<unsigned char> bm = image_bitmap(img);
            for (int u = run; u < run + 8; ++u) EXPECT_EQ(map_bit(bm, u), u < run + keep) << u;
        }
        EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
    }
}

}  // namespace
