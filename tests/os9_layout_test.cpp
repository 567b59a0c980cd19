// Where new files go, as OS-9 itself lays them out: the FD and the first
// data segment in one run from a cluster boundary (and the new disk's
// system area likewise), and tight free space used as OS-9 uses it, the
// longest free run taken where no run of the segment allocation size is
// free.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image_builder.h"
#include "run_program.h"
#include "test_support.h"
#include "tree_check.h"

namespace {

using dvtest::bytes;
using dvtest::ImageBuilder;
using dvtest::seglist;

// ---- clusters as OS-9 lays them out -------------------------------------------

// A blank 80-track double-sided disk of each cluster size: the root's FD
// right after the bitmap, its data right after the FD, the system area
// ending on a cluster boundary, and exactly its clusters in use.  A file and
// a directory made on it each start a free cluster with their FD, their
// data right after it; deleting them frees every cluster they had.
TEST(Os9Layout, FdAndFirstSegmentAreOneRunFromAClusterBoundary) {
    for (int c : {1, 2, 4, 32}) {
        SCOPED_TRACE("cluster " + std::to_string(c));
        dvtest::TempDir dir;
        const std::string opt = "-c" + std::to_string(c);
        ASSERT_EQ(dvtest::run_program("dvinit", {"-t80", "-2", opt, "d.dsk"}, dir.path()).status, 0);
        const bytes blank = dvtest::read_file(dir / "d.dsk");
        const int root = dvtest::dd_dir(blank);
        const int bitmap_sectors = dvtest::dd_map(blank) / 256 + 1;
        EXPECT_EQ(root, 1 + bitmap_sectors);
        const seglist rs = dvtest::fd_segments(blank, root);
        ASSERT_EQ(rs.size(), 1u);
        EXPECT_EQ(rs[0].first, root + 1);
        const int end = rs[0].first + rs[0].second;
        EXPECT_EQ(end % c, 0) << "the system area ends inside a cluster";
        EXPECT_GE(rs[0].second, 7);
        for (int bit = 0; bit < 2880 / c; ++bit) EXPECT_EQ(dvtest::bit_set(blank, bit), bit * c < end) << "cluster " << bit;
        EXPECT_TRUE(dvtest::check_tree(blank).empty());

        dvtest::write_file(dir / "small", bytes(5000, 'x'));
        ASSERT_EQ(dvtest::run_program("dvcopy", {"small", "d.dsk:F"}, dir.path()).status, 0);
        ASSERT_EQ(dvtest::run_program("dvnewdir", {"d.dsk:D"}, dir.path()).status, 0);
        const bytes made = dvtest::read_file(dir / "d.dsk");
        auto tree = dvtest::list_tree(made);
        for (const char* name : {"F", "D"}) {
            SCOPED_TRACE(name);
            const int fd = tree.at(name).fd;
            EXPECT_EQ(fd % c, 0) << "the FD does not start its cluster";
            const seglist s = dvtest::fd_segments(made, fd);
            ASSERT_FALSE(s.empty());
            EXPECT_EQ(s[0].first, fd + 1) << "the data does not follow the FD";
            EXPECT_EQ((s.back().first + s.back().second) % c, 0) << "the file ends inside a cluster";
        }
        EXPECT_EQ(tree.at("F").data, bytes(5000, 'x'));
        EXPECT_TRUE(dvtest::check_tree(made).empty());

        ASSERT_EQ(dvtest::run_program("dvdel", {"d.dsk:F"}, dir.path()).status, 0);
        ASSERT_EQ(dvtest::run_program("dvprune", {"-q", "d.dsk:D"}, dir.path()).status, 0);
        EXPECT_EQ(dvtest::image_bitmap(dvtest::read_file(dir / "d.dsk")), dvtest::image_bitmap(blank))
            << "a cluster stayed in use";
    }
}

// Disks made before, with an FD alone in its cluster and the data in the
// next, read and delete as they always did.
TEST(Os9Layout, FdAloneInItsClusterStillReadsAndDeletes) {
    ImageBuilder b(720, "Old", 8, 4);
    const bytes before_file = b.image();
    const bytes data(1500, 'q');
    const int fd = b.add_file(b.root(), "OLD", data);
    ASSERT_NE(dvtest::fd_segments(b.image(), fd)[0].first, fd + 1);
    dvtest::TempDir dir;
    b.save(dir / "d.dsk");
    const dvtest::Run out = dvtest::run_program("dvcopy", {"d.dsk:OLD", "old"}, dir.path());
    EXPECT_EQ(out.status, 0) << out.err;
    EXPECT_EQ(dvtest::read_file(dir / "old"), data);
    EXPECT_TRUE(dvtest::check_tree(b.image()).empty());
    ASSERT_EQ(dvtest::run_program("dvdel", {"d.dsk:OLD"}, dir.path()).status, 0);
    EXPECT_EQ(dvtest::image_bitmap(dvtest::read_file(dir / "d.dsk")), dvtest::image_bitmap(before_file));
}

// ---- tight free space ---------------------------------------------------------------

// A 630-sector disk whose free sectors are exactly the given runs.
ImageBuilder disk_with_free_runs(const seglist& runs) {
    ImageBuilder b;
    b.mark(0, b.total(), true);
    for (const auto& [first, count] : runs) b.mark(first, count, false);
    return b;
}

seglist runs_of(int length, int count, int from, int gap) {
    seglist runs;
    for (int k = 0; k < count; ++k) runs.emplace_back(from + k * (length + gap), length);
    return runs;
}

TEST(Os9Layout, TightFreeSpaceIsFilledAsOs9FillsIt) {
    const struct {
        const char* what;
        seglist free;
        bool directory;
        int bytes_in;     // size of the file copied in
        int status;
        int segments;     // of the new file, when made
    } cases[] = {
        {"two free sectors hold a 1-byte file", {{100, 2}}, false, 1, 0, 1},
        {"a run of 8 holds a directory", {{200, 8}}, true, 0, 0, 1},
        {"runs of 3 hold 60 sectors in 20 segments", runs_of(3, 21, 50, 2), false, 60 * 256, 0, 20},
        {"runs of 1 hold 48 sectors in 48 segments", runs_of(1, 49, 50, 1), false, 48 * 256, 0, 48},
        {"49 runs of 1 do not hold 49 sectors: segment list full", runs_of(1, 60, 50, 1), false, 49 * 256, 217, 0},
        {"one free sector holds the FD only: media full", {{300, 1}}, false, 1, 248, 0},
        {"a full disk", {}, true, 0, 248, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        dvtest::TempDir dir;
        const ImageBuilder b = disk_with_free_runs(c.free);
        b.save(dir / "d.dsk");
        const bytes before = dvtest::read_file(dir / "d.dsk");
        dvtest::Run r;
        if (c.directory) {
            r = dvtest::run_program("dvnewdir", {"d.dsk:NEW"}, dir.path());
        } else {
            dvtest::write_file(dir / "in", bytes(static_cast<std::size_t>(c.bytes_in), 'z'));
            r = dvtest::run_program("dvcopy", {"in", "d.dsk:NEW"}, dir.path());
        }
        EXPECT_EQ(r.status, c.status) << r.err;
        const bytes after = dvtest::read_file(dir / "d.dsk");
        auto tree = dvtest::list_tree(after);
        if (c.status != 0) {
            // Only free sectors were written: every unit given back, no entry.
            EXPECT_EQ(dvtest::image_bitmap(after), dvtest::image_bitmap(before));
            EXPECT_EQ(tree.count("NEW"), 0u);
            continue;
        }
        ASSERT_EQ(tree.count("NEW"), 1u);
        EXPECT_EQ(static_cast<int>(dvtest::fd_segments(after, tree.at("NEW").fd).size()), c.segments);
        if (!c.directory) {
            EXPECT_EQ(tree.at("NEW").data, bytes(static_cast<std::size_t>(c.bytes_in), 'z'));
        }
        // The sectors the test marked in use belong to nothing: leaks, and
        // nothing worse.
        EXPECT_TRUE(dvtest::problems_beyond_leaks(after).empty());
    }
}

}  // namespace
