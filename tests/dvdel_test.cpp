// dvdel run as a user runs it, each run on a fresh image: the tree check and
// the names the image still holds after it.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "misc/frame.h"
#include "test_support.h"

TEST(DvDelProgram, CasesTable) {
    using Names = std::set<std::string>;
    const Names all = {"DIR", "DIR/f", "NR", "NR/g", "a", "b"};
    auto fail = [](int n, const std::string& op) { return dv::failure_line("dvdel", n, "deleting", op); };
    auto dir = [&](const std::string& op) {
        return fail(214, op) + "dvdel: '" + op + "' is a directory: dvprune deletes directory trees\n";
    };
    // Arguments (each ends with BAD, whose FD lies past the disk: the entry
    // goes, nothing is freed on its word), standard error, status, names left.
    const std::tuple<std::vector<std::string>, std::string, int, Names> cases[] = {
        {{"x.dsk:A", "x.dsk:dir/F", "x.dsk:BAD"}, "", 0, {"DIR", "NR", "NR/g", "b"}},
        {{"x.dsk:DIR", "x.dsk:NR", "x.dsk:BAD"}, dir("x.dsk:DIR") + dir("x.dsk:NR"), 214, all},
        {{"x.dsk:a", "x.dsk:none", "x.dsk:DIR/..", "x.dsk:b", "x.dsk:BAD"},
         fail(216, "x.dsk:none") + fail(187, "x.dsk:DIR/.."), 216, {"DIR", "DIR/f", "NR", "NR/g"}},
        {{"x.dsk:DIR/", "x.dsk:@", "x.dsk:BAD"}, dir("x.dsk:DIR/") + fail(215, "x.dsk:@"), 214, all},
        {{"h.txt", "sub", "x.dsk:BAD"}, dir("sub"), 214, all},
    };
    for (const auto& [args, err, status, names] : cases) {
        SCOPED_TRACE(args[0]);
        dvtest::TempDir tmp;
        // Root: DIR holding f, NR (no read attribute) holding g, a, b and BAD.
        dvtest::ImageBuilder b;
        b.add_file(b.add_dir(b.root(), "DIR"), "f", std::string("in dir"));
        b.add_file(b.add_dir(b.root(), "NR", 0xBE), "g", std::string("in nr"));
        b.add_file(b.root(), "a", std::string(300, 'a'));
        b.add_file(b.root(), "b", std::string("b"));
        b.add_entry(b.root(), "BAD", 5000);
        b.save(tmp / "x.dsk");
        dvtest::write_file(tmp / "h.txt", {'h'});
        std::filesystem::create_directory(tmp / "sub");
        EXPECT_TRUE(dvtest::run_gave(dvtest::run_program("dvdel", args, tmp.path()), {"", err, status}));
        const dvtest::bytes img = dvtest::read_file(tmp / "x.dsk");
        EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
        Names left;
        for (const auto& e : dvtest::list_tree(img)) left.insert(e.first);
        EXPECT_EQ(left, names);
        EXPECT_EQ(std::filesystem::exists(tmp / "h.txt"), args[0] != "h.txt");
    }
}

// A host operand that holds a disk (the colon forgotten) is kept unless -f;
// other host files go.  Arguments, standard error, status, host files left.
TEST(DvDelProgram, HostDiskImagesNeedForce) {
    using Names = std::set<std::string>;
    const std::string refused =
        dv::failure_line("dvdel", 214, "deleting", "x.dsk") + "dvdel: 'x.dsk' is a disk image; use -f to delete it\n";
    const std::tuple<std::vector<std::string>, std::string, int, Names> cases[] = {
        {{"x.dsk"}, refused, 214, {"x.dsk", "short", "text"}},
        {{"x.dsk", "short", "text"}, refused, 214, {"x.dsk"}},
        {{"-f", "x.dsk"}, "", 0, {"short", "text"}},
        {{"short", "text"}, "", 0, {"x.dsk"}},
    };
    for (const auto& [args, err, status, names] : cases) {
        SCOPED_TRACE(args.back());
        dvtest::TempDir tmp;
        dvtest::ImageBuilder().save(tmp / "x.dsk");
        dvtest::write_file(tmp / "short", {'s'});                            // less than a sector
        dvtest::write_file(tmp / "text", dvtest::bytes(600, 'x'));           // no LSN 0
        EXPECT_TRUE(dvtest::run_gave(dvtest::run_program("dvdel", args, tmp.path()), {"", err, status}));
        Names left;
        for (const auto& e : std::filesystem::directory_iterator(tmp.path())) left.insert(e.path().filename());
        EXPECT_EQ(left, names);
    }
}
