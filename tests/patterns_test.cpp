// Shell patterns in the last name of an in-image path, run through the
// programs as a user runs them: what each lists, copies, deletes or
// changes, the failure of a pattern that matches nothing, escapes, and the
// operands that are never expanded.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "container_builders.h"
#include "misc/frame.h"
#include "test_support.h"

namespace {

using Names = std::set<std::string>;

// Root: CMDS holding ls, Copy, del and SUB (holding x); TMP holding a.o,
// B.O and c.c; README; A*B (no pathlist can make that name) and AxB.
dvtest::bytes example_disk() {
    dvtest::ImageBuilder b;
    const int cmds = b.add_dir(b.root(), "CMDS");
    const int tmp = b.add_dir(b.root(), "TMP");
    for (const char* name : {"README", "A*B", "AxB"}) b.add_file(b.root(), name, std::string(name));
    for (const char* name : {"ls", "Copy", "del"}) b.add_file(cmds, name, std::string(name));
    b.add_file(b.add_dir(cmds, "SUB"), "x", std::string("x"));
    for (const char* name : {"a.o", "B.O", "c.c"}) b.add_file(tmp, name, std::string(name));
    return b.image();
}

const Names kAll = {"A*B",     "AxB",    "CMDS", "CMDS/Copy", "CMDS/SUB", "CMDS/SUB/x", "CMDS/del",
                    "CMDS/ls", "README", "TMP",  "TMP/B.O",   "TMP/a.o",  "TMP/c.c"};

Names without(Names names, const Names& gone) {
    for (const std::string& n : gone) names.erase(n);
    return names;
}

Names image_names(const dvtest::bytes& img) {
    Names left;
    for (const auto& e : dvtest::list_tree(img)) left.insert(e.first);
    return left;
}

// The host tree below `dir`, by relative path.
Names host_names(const std::string& dir) {
    Names names;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
        names.insert(std::filesystem::relative(e.path(), dir).string());
    return names;
}

std::string fail(const std::string& program, int n, const std::string& verb, const std::string& op) {
    return dv::failure_line(program, n, verb, op);
}

struct Case {
    std::vector<std::string> args;  // the program first
    std::string out, err;
    int status;
    Names left = kAll;  // the image's tree after the run
    Names copied = {};  // the host tree below out/
};

}  // namespace

TEST(Patterns, ProgramRunsTable) {
    const std::string kChecked = "d.dsk: 10 files, 4 directories; 57 units used, 573 free, 0 leaked; 0 problems found, 0 repaired\n";
    const std::string dir_refused = "' is a directory: dvprune deletes directory trees\n";
    const Case cases[] = {
        // dvls: files of a pattern together, each directory under its heading, names in order
        // without regard to case; "*/" only directories.
        {{"dvls", "d.dsk:CMDS/*"}, "d.dsk:CMDS/*:\nCopy\ndel\nls\n\nd.dsk:CMDS/SUB:\nx\n", "", 0},
        {{"dvls", "d.dsk:*/"}, "d.dsk:CMDS:\nls\nCopy\ndel\nSUB\n\nd.dsk:TMP:\na.o\nB.O\nc.c\n", "", 0},
        {{"dvls", "d.dsk:CMDS/*.x"}, "", fail("dvls", 216, "opening", "d.dsk:CMDS/*.x"), 216},
        {{"dvls", "d.dsk:CMDS/*.x", "d.dsk:README"}, "d.dsk:CMDS/*.x:\n\nd.dsk:README:\nREADME\n",
         fail("dvls", 216, "opening", "d.dsk:CMDS/*.x"), 216},
        {{"dvls", "d.dsk:NONE/*"}, "", fail("dvls", 216, "opening", "d.dsk:NONE/*"), 216},
        // A pattern before the last name is a name; a backslash makes a character plain.
        {{"dvls", "d.dsk:C*/ls"}, "", fail("dvls", 216, "opening", "d.dsk:C*/ls"), 216},
        {{"dvls", "d.dsk:A\\*B"}, "A*B\n", "", 0},
        {{"dvdel", "d.dsk:A\\*B"}, "", "", 0, without(kAll, {"A*B"})},
        // dvcopy: each match a source; several need a directory.
        {{"dvcopy", "d.dsk:TMP/*.o", "out"}, "", "", 0, kAll, {"a.o", "B.O"}},
        {{"dvcopy", "d.dsk:TMP/*.o", "out/one"}, "", fail("dvcopy", 216, "copying to", "out/one"), 216},
        {{"dvcopy", "d.dsk:TMP/c*", "out/one"}, "", "", 0, kAll, {"one"}},
        {{"dvcopy", "d.dsk:TMP/*.z", "d.dsk:README", "out"}, "", fail("dvcopy", 216, "copying", "d.dsk:TMP/*.z"),
         216, kAll, {"README"}},
        // dvdel: each match deleted as if named, directories refused.
        {{"dvdel", "d.dsk:TMP/*.o"}, "", "", 0, without(kAll, {"TMP/a.o", "TMP/B.O"})},
        {{"dvdel", "d.dsk:TMP/*.q", "d.dsk:README"}, "", fail("dvdel", 216, "deleting", "d.dsk:TMP/*.q"), 216,
         without(kAll, {"README"})},
        {{"dvdel", "d.dsk:*"}, "",
         fail("dvdel", 214, "deleting", "d.dsk:CMDS") + "dvdel: 'd.dsk:CMDS" + dir_refused +
             fail("dvdel", 214, "deleting", "d.dsk:TMP") + "dvdel: 'd.dsk:TMP" + dir_refused,
         214, without(kAll, {"README", "A*B", "AxB"})},
        // Raw pathlists and host paths are never expanded.
        {{"dvdel", "d.dsk:*@"}, "", fail("dvdel", 215, "deleting", "d.dsk:*@"), 215},
        {{"dvdel", "*.dsk"}, "", fail("dvdel", 2, "deleting", "*.dsk"), 2},  // the host says ENOENT
        // dvattr: one match alone, several each with its pathlist.
        {{"dvattr", "d.dsk:TMP/*.o", "e"}, "---wrewr d.dsk:TMP/a.o\n---wrewr d.dsk:TMP/B.O\n", "", 0},
        {{"dvattr", "d.dsk:TMP/c*"}, "---wr-wr\n", "", 0},
        {{"dvattr", "d.dsk:TMP/*.q", "e"}, "", fail("dvattr", 216, "changing", "d.dsk:TMP/*.q"), 216},
        // dvcheck -v lists only the files a pattern names, but checks the whole image; without -v a
        // name inside the image is refused.
        {{"dvcheck", "-v", "d.dsk:TMP/*.O"}, "d.dsk:/TMP/B.O (FD 53)\nd.dsk:/TMP/a.o (FD 51)\n" + kChecked, "", 0},
        {{"dvcheck", "-v", "d.dsk:CMDS/s*"}, "d.dsk:/CMDS/SUB (FD 40) directory\n" + kChecked, "", 0},
        {{"dvcheck", "-v", "d.dsk:TMP/*.q"}, "", fail("dvcheck", 216, "checking", "d.dsk:TMP/*.q"), 8},
        {{"dvcheck", "d.dsk:TMP/*.O"}, "", fail("dvcheck", 215, "checking", "d.dsk:TMP/*.O"), 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        dvtest::TempDir tmp;
        dvtest::write_file(tmp / "d.dsk", example_disk());
        std::filesystem::create_directory(tmp / "out");
        const std::vector<std::string> args(c.args.begin() + 1, c.args.end());
        EXPECT_TRUE(dvtest::run_gave(dvtest::run_program(c.args[0], args, tmp.path()), {c.out, c.err, c.status}));
        const dvtest::bytes img = dvtest::read_file(tmp / "d.dsk");
        EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
        EXPECT_EQ(image_names(img), c.left);
        EXPECT_EQ(host_names(tmp / "out"), c.copied);
    }
}

// Patterns go through the library, so a disk in a container is matched,
// read and written as a raw one is.
TEST(Patterns, InAContainer) {
    dvtest::TempDir tmp;
    dvtest::write_file(tmp / "d.dmk", dvtest::make_dmk(example_disk(), 35, 1));
    EXPECT_TRUE(dvtest::run_gave(dvtest::run_program("dvls", {"d.dmk:TMP/*.o"}, tmp.path()), {"a.o\nB.O\n", "", 0}));
    EXPECT_TRUE(dvtest::run_gave(dvtest::run_program("dvdel", {"d.dmk:TMP/*.O"}, tmp.path()), {"", "", 0}));
    EXPECT_TRUE(dvtest::run_gave(dvtest::run_program("dvls", {"d.dmk:TMP/*"}, tmp.path()), {"c.c\n", "", 0}));
}
