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

// Output and repairs where the line itself is the point: clusters in a row
// marked free are one line with the run of sectors, and a directory whose
// size is not whole entries is cut to them.  `lines` are the problem lines
// of the check, exactly, before the summary; -r gives the same, repaired.
struct Exact {
    const char* what;
    int dd_bit;
    // Damages the image; returns the problem lines the check gives for it.
    std::function<std::vector<std::string>(ImageBuilder&)> make;
};

std::vector<std::string> problem_lines(const std::string& out) {
    std::vector<std::string> lines;
    for (std::size_t at = 0, nl; (nl = out.find('\n', at)) != std::string::npos; at = nl + 1)
        lines.push_back(out.substr(at, nl - at));
    if (!lines.empty()) lines.pop_back();  // the summary
    return lines;
}

std::string run_of(int first, int last) { return std::to_string(first) + "-" + std::to_string(last); }

const Exact kExact[] = {
    {"20 bitmap bytes zeroed inside one file: one line", 1,
     [](ImageBuilder& b) {
         const int f = b.add_file(b.root(), "BIG", bytes(200 * 256, 'b'));
         const int byte = (b.segments(f)[0].first + 7) / 8;
         for (int k = 0; k < 20; ++k) b.image()[256 + byte + k] = 0;
         const std::string r = run_of(byte * 8, byte * 8 + 159);
         return std::vector<std::string>{"x.dsk:/BIG (LSN " + r + "): clusters " + r + " are in use but marked free"};
     }},
    {"one cluster: no run", 1,
     [](ImageBuilder& b) {
         const int f = b.add_file(b.root(), "ONE", bytes(256, 'o'));
         const int u = b.segments(f)[0].first;
         b.mark(u, 1, false);
         const std::string n = std::to_string(u);
         return std::vector<std::string>{"x.dsk:/ONE (LSN " + n + "): cluster " + n + " is in use but marked free"};
     }},
    {"two files side by side: a line each", 1,
     [](ImageBuilder& b) {
         const int a = b.add_file(b.root(), "A", bytes(10 * 256, 'a'));
         const int c = b.add_file(b.root(), "C", bytes(10 * 256, 'c'));
         const int from = b.segments(a)[0].first, to = b.segments(c)[0].first + 9;
         b.mark(from, to - from + 1, false);  // A's data, C's FD and data
         return std::vector<std::string>{
             "x.dsk:/A (LSN " + run_of(from, from + 9) + "): clusters " + run_of(from, from + 9) +
                 " are in use but marked free",
             "x.dsk:/C (LSN " + run_of(c, to) + "): clusters " + run_of(c, to) + " are in use but marked free"};
     }},
    {"clusters of 4 sectors: the run in sectors, the clusters by number", 4,
     [](ImageBuilder& b) {
         const int f = b.add_file(b.root(), "F4", bytes(40 * 256, 'q'));
         const int u = b.segments(f)[0].first;
         b.mark(u, 40, false);
         return std::vector<std::string>{"x.dsk:/F4 (LSN " + run_of(u, u + 39) + "): clusters " +
                                         run_of(u / 4, u / 4 + 9) + " are in use but marked free"};
     }},
    {"a directory of 70 bytes", 1,
     [](ImageBuilder& b) {
         const int dir = b.add_dir(b.root(), "DIR");
         b.set_size(dir, 70);
         return std::vector<std::string>{"x.dsk:/DIR (LSN " + std::to_string(dir) +
                                         "): directory size 70 is not a multiple of 32"};
     }},
    {"a directory of 100 bytes holding a file", 1,
     [](ImageBuilder& b) {
         const int dir = b.add_dir(b.root(), "DIR");
         b.add_file(dir, "IN", bytes(300, 'i'));
         b.set_size(dir, 100);
         return std::vector<std::string>{"x.dsk:/DIR (LSN " + std::to_string(dir) +
                                         "): directory size 100 is not a multiple of 32"};
     }},
};

TEST(Dvcheck, RunsOnOneLineAndDirectorySizesCutToWholeEntries) {
    for (const Exact& c : kExact) {
        ImageBuilder b(c.dd_bit == 1 ? 630 : 2520, "CoCo Disk", 8, c.dd_bit);
        b.add_file(b.root(), "KEEP", kKeep);
        const std::vector<std::string> lines = c.make(b);
        TempDir tmp;
        b.save(tmp / "x.dsk");
        const auto before = dvtest::list_tree(b.image());

        const dvtest::Run check = dvtest::run_program("dvcheck", {"x.dsk"}, tmp.path());
        EXPECT_EQ(check.status, 4) << c.what << "\n" << check.out;
        EXPECT_EQ(problem_lines(check.out), lines) << c.what << "\n" << check.out;

        const dvtest::Run repair = dvtest::run_program("dvcheck", {"-r", "x.dsk"}, tmp.path());
        EXPECT_EQ(repair.status, 1) << c.what << "\n" << repair.out;
        std::vector<std::string> repaired = problem_lines(repair.out);
        if (repaired.size() != lines.size()) {
            ADD_FAILURE() << c.what << ": " << repaired.size() << " lines after -r\n" << repair.out;
            continue;
        }
        for (std::size_t k = 0; k < lines.size(); ++k) {
            const bool cut = lines[k].find("directory size") != std::string::npos;
            const std::uint32_t whole = cut ? before.at("DIR").size / 32 * 32 : 0;
            EXPECT_EQ(repaired[k], lines[k] + (cut ? "; cut to " + std::to_string(whole) : "") + " [repaired]") << c.what;
        }
        EXPECT_EQ(dvtest::run_program("dvcheck", {"x.dsk"}, tmp.path()).status, 0) << c.what;

        const bytes img = dvtest::read_file(tmp / "x.dsk");
        EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{}) << c.what;
        const auto after = dvtest::list_tree(img);
        EXPECT_EQ(after.at("KEEP").data, kKeep) << c.what;
        for (const auto& [path, node] : before) {  // nothing lost; only a directory's size changes
            ASSERT_TRUE(after.contains(path)) << c.what << ": " << path;
            EXPECT_EQ(after.at(path).size, node.dir ? node.size / 32 * 32 : node.size) << c.what << ": " << path;
        }
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
