// dvcheck on damaged images, one kind of damage per row: the check finds it
// (status 4, a line naming it), -r repairs it (status 1), a second check
// finds nothing (status 0), and KEEP, which read right before, still does.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "image_builder.h"
#include "run_program.h"
#include "test_support.h"
#include "tree_check.h"

namespace {

using dvtest::bytes;
using dvtest::ImageBuilder;
using dvtest::TempDir;

const bytes kKeep(700, 'k');

struct Damage {
    const char* what;
    std::function<void(ImageBuilder&, int f, int dir)> make;  // F (one unit) and DIR are there to damage
    std::string line;                                          // in the check's output
    int repaired_status;                                       // of -r: 1, or 4 when some is left
};

const Damage kCases[] = {
    {"a leaked unit", [](ImageBuilder& b, int, int) { b.mark(600, 1, true); }, "units marked in use belong to nothing", 1},
    {"an owned unit marked free", [](ImageBuilder& b, int f, int) { b.mark(b.segments(f)[0].first, 1, false); },
     "is in use but marked free", 1},
    {"a size beyond the allocation", [](ImageBuilder& b, int f, int) { b.set_size(f, 5000); },
     "size 5000 lies beyond its allocation of 256 bytes", 1},
    {"a segment off the disk", [](ImageBuilder& b, int f, int) { b.set_segments(f, {{700, 2}}); },
     "lies outside the disk or on LSN 0 and the bitmap", 1},
    {"a link count that is wrong", [](ImageBuilder& b, int f, int) { b.set_links(f, 3); }, "link count 3, entries 1", 1},
    {"'..' naming the wrong directory",
     [](ImageBuilder& b, int, int dir) {
         dvtest::put_be(b.image().data() + dvtest::entry_offset(b, dir, 0) + 29, 3, 7);
     },
     "entry 0 is not '..'", 1},
    {"an entry whose FD is off the disk", [](ImageBuilder& b, int, int) { b.add_entry(b.root(), "LOST", 5000); },
     "the entry's FD 5000 lies outside the disk", 1},
    {"a directory reached twice", [](ImageBuilder& b, int, int dir) { b.add_entry(b.root(), "AGAIN", dir); },
     "a second entry for the directory", 1},
    {"two files sharing a unit", [](ImageBuilder& b, int f, int) { b.add_file(b.root(), "X", bytes{}, 0x1B, b.segments(f)); },
     "is also part of", 1},
    {"several at once: a leak, a size, a link count, a lost '.'",
     [](ImageBuilder& b, int f, int dir) {
         b.mark(600, 1, true);
         b.set_size(f, 5000);
         b.set_links(f, 2);
         dvtest::put_be(b.image().data() + dvtest::entry_offset(b, dir, 32) + 29, 3, 9);
     },
     "entry 1 is not '.'", 1},
};

TEST(Dvcheck, FindsRepairsAndThenFindsNothing) {
    for (const Damage& c : kCases) {
        ImageBuilder b;
        b.add_file(b.root(), "KEEP", kKeep);
        const int f = b.add_file(b.root(), "F", bytes(100, 'f'));
        const int dir = b.add_dir(b.root(), "DIR");
        c.make(b, f, dir);
        TempDir tmp;
        b.save(tmp / "x.dsk");
        const bytes before = b.image();

        dvtest::Run check = dvtest::run_program("dvcheck", {"x.dsk"}, tmp.path());
        EXPECT_EQ(check.status, 4) << c.what << "\n" << check.out;
        EXPECT_NE(check.out.find(c.line), std::string::npos) << c.what << "\n" << check.out;
        EXPECT_EQ(dvtest::read_file(tmp / "x.dsk"), before) << c.what << ": a check without -r wrote";

        dvtest::Run repair = dvtest::run_program("dvcheck", {"-r", "x.dsk"}, tmp.path());
        EXPECT_EQ(repair.status, c.repaired_status) << c.what << "\n" << repair.out;
        dvtest::Run again = dvtest::run_program("dvcheck", {"x.dsk"}, tmp.path());
        EXPECT_EQ(again.status, 0) << c.what << "\n" << again.out;
        const bytes img = dvtest::read_file(tmp / "x.dsk");
        EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{}) << c.what;
        EXPECT_EQ(dvtest::list_tree(img).at("KEEP").data, kKeep) << c.what;
    }
}

TEST(Dvcheck, SoundImageMissingImageAndNoDisk) {
    TempDir tmp;
    ImageBuilder b;
    b.add_file(b.root(), "KEEP", kKeep);
    b.save(tmp / "x.dsk");
    dvtest::write_file(tmp / "text", bytes(600, 'a'));
    dvtest::Run sound = dvtest::run_program("dvcheck", {"-v", "x.dsk"}, tmp.path());
    EXPECT_EQ(sound.status, 0);
    EXPECT_NE(sound.out.find("x.dsk:/KEEP (FD "), std::string::npos) << sound.out;
    EXPECT_NE(sound.out.find("1 files, 1 directories"), std::string::npos) << sound.out;
    EXPECT_EQ(dvtest::run_program("dvcheck", {"none.dsk"}, tmp.path()).status, 8);
    EXPECT_EQ(dvtest::run_program("dvcheck", {"text", "x.dsk"}, tmp.path()).status, 8);
}

}  // namespace
