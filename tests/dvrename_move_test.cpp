// dvrename with a pathlist as its second operand: the file or directory
// moves within its image (into a directory, or to a new name), each case on
// a fresh image, the tree sound after every move and the image untouched by
// every refused one.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "misc/frame.h"
#include "test_support.h"

namespace {

using dvtest::bytes;
using Names = std::set<std::string>;

// A/F, B/, C, D/E/G.
bytes sample() {
    dvtest::ImageBuilder b;
    b.add_file(b.add_dir(b.root(), "A"), "F", std::string("f\r"));
    b.add_dir(b.root(), "B");
    b.add_file(b.root(), "C", std::string("c\r"));
    b.add_file(b.add_dir(b.add_dir(b.root(), "D"), "E"), "G", std::string("g\r"));
    return b.image();
}

// The image's tree, sound, by path.
Names names_of(const bytes& img) {
    EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
    Names n;
    for (const auto& e : dvtest::list_tree(img)) n.insert(e.first);
    return n;
}

// The sample's tree with `from` (and everything below it) at `to`.
Names moved(const std::string& from, const std::string& to) {
    Names n;
    for (const std::string p : {"A", "A/F", "B", "C", "D", "D/E", "D/E/G"}) {
        if (p == from || p.rfind(from + "/", 0) == 0) n.insert(to + p.substr(from.size()));
        else n.insert(p);
    }
    return n;
}

struct MoveCase {
    std::vector<std::string> args;  // run beside x.dsk, y.dsk (the same disk) and host.txt
    int status;
    Names after = {};   // on success
    std::string extra = "";  // the line after the failure line, if any
};

const MoveCase kMoves[] = {
    {{"x.dsk:A/F", "x.dsk:B/"}, 0, moved("A/F", "B/F")},
    {{"x.dsk:C", "x.dsk:B"}, 0, moved("C", "B/C")},
    {{"x.dsk:A/F", "x.dsk:B/G"}, 0, moved("A/F", "B/G")},
    {{"x.dsk:A/F", "x.dsk:"}, 0, moved("A/F", "F")},
    {{"x.dsk:D/", "x.dsk:A/"}, 0, moved("D", "A/D")},
    {{"x.dsk:C", "./x.dsk:A"}, 0, moved("C", "A/C")},
    {{"x.dsk:D", "x.dsk:d"}, 0, moved("D", "d")},  // itself in another case: a new name, not into it
    {{"x.dsk:D", "x.dsk:D/E/"}, 187},
    {{"x.dsk:", "x.dsk:B/"}, 187},
    {{"x.dsk:A", "x.dsk:D/E/G"}, 218},
    {{"x.dsk:C", "x.dsk:NONE/"}, 216},
    {{"x.dsk:NONE", "x.dsk:B/"}, 216},
    {{"x.dsk:A/F", "x.dsk:C/"}, 214},
    {{"x.dsk:C/", "x.dsk:B/"}, 214},
    {{"x.dsk:C", "x.dsk:B/bad name"}, 215},
    {{"x.dsk:C", "x.dsk:.@"}, 215},
    {{"x.dsk:C", "y.dsk:B/"}, 214, {}, "dvrename: 'y.dsk:B/' is in another image than 'x.dsk:C': a move stays in one image\n"},
    {{"host.txt", "x.dsk:B/"}, 214, {}, "dvrename: 'host.txt' is a host file: a new name without a colon renames it\n"},
};

TEST(DvRenameMove, CasesTable) {
    for (const MoveCase& c : kMoves) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        dvtest::TempDir dir;
        const bytes before = sample();
        dvtest::write_file(dir / "x.dsk", before);
        dvtest::write_file(dir / "y.dsk", before);
        dvtest::write_file(dir / "host.txt", {'h'});
        std::string err = c.status ? dv::failure_line("dvrename", c.status, "moving", c.args[0]) : "";
        if (c.status) err.insert(err.size() - 1, " to '" + c.args[1] + "'");
        EXPECT_TRUE(dvtest::run_gave(dvtest::run_program("dvrename", c.args, dir.path()), {"", err + c.extra, c.status}));
        const bytes img = dvtest::read_file(dir / "x.dsk");
        EXPECT_EQ(dvtest::read_file(dir / "y.dsk"), before);
        if (c.status) EXPECT_EQ(img, before);
        else EXPECT_EQ(names_of(img), c.after);
    }
}

// In a partition, named with its offset spelled two ways: the same disk, and
// no byte outside it changes.
TEST(DvRenameMove, InAPartition) {
    constexpr long PART = 0x4000;
    dvtest::TempDir dir;
    const bytes disk = sample();
    bytes file(PART + disk.size(), 'P');
    std::copy(disk.begin(), disk.end(), file.begin() + PART);
    dvtest::write_file(dir / "hd.img", file);
    const auto r = dvtest::run_program("dvrename", {"hd.img@@0x4000:D/E", "hd.img@@16384:A/"}, dir.path());
    EXPECT_TRUE(dvtest::run_gave(r, {"", "", 0}));
    file = dvtest::read_file(dir / "hd.img");
    EXPECT_TRUE(std::all_of(file.begin(), file.begin() + PART, [](unsigned char c) { return c == 'P'; }));
    EXPECT_EQ(names_of(bytes(file.begin() + PART, file.end())), moved("D/E", "A/E"));
}

}  // namespace
