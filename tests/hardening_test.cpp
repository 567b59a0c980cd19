// Regression tests for faults found by fuzzing and by the randomized model
// test: each pins down one damaged or extreme input that made a program or
// the library crash, hang, overflow or leave an unsound image behind.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "image_builder.h"
#include "os9path.h"
#include "run_program.h"
#include "test_support.h"
#include "tree_check.h"

namespace {

using dvtest::bytes;
using dvtest::ImageBuilder;

// ---- making a directory on a nearly full disk -----------------------------

// 64 sectors, segment allocation size 8: after a file of 50 units only
// units 60-63 are free.  As OS-9 does, a new directory gets its FD (unit 60)
// and the three units after it for its "..", "." entries; with one unit
// left, it gets its FD but no room for the entries, and nothing stays.
TEST(FullDiskMakdir, TheLastFewUnitsHoldADirectoryAndOneUnitDoesNot) {
    const struct {
        int file_units;
        int free;
        int status;
    } cases[] = {{49, 4, 0}, {52, 1, rbf::E_FULL}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file_units);
        ImageBuilder b(64, "Full", 8);
        b.add_file(b.root(), "big", bytes(static_cast<std::size_t>(c.file_units) * 256, 0x42));
        ASSERT_EQ(dvtest::free_units(b.image()), c.free);
        dvtest::MemImage m(b.image());

        EXPECT_EQ(rbf::_os9_makdir(m.image(), "NEW"), c.status);

        const bytes after = m.get();
        std::vector<std::string> problems = dvtest::check_tree(after);
        std::string joined;
        for (const auto& p : problems) joined += "\n  " + p;
        EXPECT_TRUE(problems.empty()) << "unsound image:" << joined;
        auto tree = dvtest::list_tree(after);
        EXPECT_EQ(tree.count("NEW"), c.status == 0 ? 1u : 0u);
        EXPECT_EQ(dvtest::free_units(after), c.status == 0 ? 0 : c.free) << "the new FD's unit was not given back";
    }
}

// The same through the program: it reports 248 and the disk stays sound.
TEST(FullDiskMakdir, DvnewdirReportsFullAndLeavesASoundDisk) {
    dvtest::TempDir dir;
    ImageBuilder b(64, "Full", 8);
    b.add_file(b.root(), "big", bytes(52 * 256, 0x42));
    b.save(dir / "disk.dsk");

    dvtest::Run r = dvtest::run_program("dvnewdir", {"disk.dsk:NEW"}, dir.path());
    EXPECT_EQ(r.status, 248);
    const bytes after = dvtest::read_file(dir / "disk.dsk");
    EXPECT_TRUE(dvtest::check_tree(after).empty());
    EXPECT_EQ(dvtest::list_tree(after).count("NEW"), 0u);
}

// ---- the space report on the largest geometry ------------------------------

// dd_tot 0xFFFFFF and dd_bit 32768: the report counts sectors, the bitmap
// clusters; every product fits, and no cluster size is counted twice.
TEST(SpaceReportArithmetic, CapacityOfTheLargestGeometryIsExact) {
    dvtest::TempDir dir;
    bytes img(512, 0);
    dvtest::put_be(img.data() + 0, 3, 0xFFFFFF);  // dd_tot
    dvtest::put_be(img.data() + 4, 2, 64);        // dd_map: 512 clusters need 64 bytes
    dvtest::put_be(img.data() + 6, 2, 32768);     // dd_bit
    dvtest::put_be(img.data() + 8, 3, 2);         // dd_dir
    img[26] = 126;                                // 2026-03-03 14:05
    img[27] = 3;
    img[28] = 3;
    img[29] = 14;
    img[30] = 5;
    img[31] = 'B';
    img[32] = 'I';
    img[33] = 'G' | 0x80;
    img[256] = 0x80;  // cluster 0 (LSN 0, the bitmap, the root) in use; the last one is partial
    img[256 + 63] = 0x01;
    dvtest::write_file(dir / "big.dsk", img);

    const std::uint64_t total = 0xFFFFFF, spc = 32768;
    const std::uint64_t free_sectors = 510 * spc;  // 512 clusters less the first and the partial last
    const std::string expect = "\n\"BIG\" created on 03/03/2026\n"
                               "Capacity: " + std::to_string(total * 256 / 1024) + "K (16777215 sectors) 32768-sector clusters\n" +
                               std::to_string(free_sectors) + " Free sectors, largest block " + std::to_string(free_sectors) +
                               " sectors\n"
                               "Free space: " + std::to_string(free_sectors * 256 / 1024) + "K (" +
                               std::to_string(free_sectors * 256) + " bytes)\n\n";

    dvtest::Run r = dvtest::run_program("dvspace", {"big.dsk"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, expect);
}

// ---- pruning a directory that links back to itself -------------------------

// DIR holds two entries, L1 and L2, that name DIR's own FD: every level of
// the walk finds two subdirectories again, so a walk that follows them
// doubles its work with each level until the pathlist grows too long.
TEST(PruneOfADamagedTree, EndsWhenEntriesLeadBackToTheirDirectory) {
    dvtest::TempDir dir;
    ImageBuilder b(200, "Cycle", 8);
    int d = b.add_dir(b.root(), "DIR");
    b.add_entry(d, "L1", d);
    b.add_entry(d, "L2", d);
    b.add_file(d, "f", std::string("data\r"));
    b.save(dir / "disk.dsk");

    dvtest::LimitedRun f = dvtest::run_limited("dvprune", {"-q", "disk.dsk:DIR"}, dir.path(), "", "", 8);
    ASSERT_TRUE(f.exited) << "dvprune did not end within 8 s";
    EXPECT_NE(f.status, 0);
    EXPECT_NE(f.err.find("error"), std::string::npos) << f.err;
    // DIR cannot be emptied, so it stays in the root as a directory.
    auto tree = dvtest::list_tree(dvtest::read_file(dir / "disk.dsk"));
    ASSERT_EQ(tree.count("DIR"), 1u);
    EXPECT_TRUE(tree.at("DIR").dir);
}

// A chain of 24 directories where each holds two names, "a" and "b", for
// the next, and the last holds a directory that cannot be emptied (no
// owner-write).  Nothing loops, but a walk that enters a directory again
// under each of its names, failing each time at the bottom, does 2^24
// passes.
TEST(PruneOfADamagedTree, EndsWhenDirectoriesAreReachedUnderManyNames) {
    dvtest::TempDir dir;
    ImageBuilder b(300, "Dag", 8);
    int d = b.add_dir(b.root(), "D0");
    for (int level = 1; level <= 24; ++level) {
        int next = b.add_dir(d, "a");
        b.add_entry(d, "b", next);
        d = next;
    }
    b.add_dir(d, "KEEP", 0x81);
    b.save(dir / "disk.dsk");

    dvtest::LimitedRun f = dvtest::run_limited("dvprune", {"-q", "disk.dsk:D0"}, dir.path(), "", "", 8);
    ASSERT_TRUE(f.exited) << "dvprune did not end within 8 s";
    EXPECT_NE(f.status, 0) << "the tree cannot be removed whole";
    auto tree = dvtest::list_tree(dvtest::read_file(dir / "disk.dsk"));
    ASSERT_EQ(tree.count("D0"), 1u);
    EXPECT_TRUE(tree.at("D0").dir);
}

}  // namespace
