// Shell patterns in the last name of an in-image path, run through the
// programs as a user runs them: what each lists, copies, deletes or
// changes, the failure of a pattern that matches nothing, escapes, and the
// operands that are never expanded.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <sstream>

#include "container_builders.h"
#include "misc/frame.h"
#include "test_support.h"

namespace {

using Names = std::set<std::string>;

// Root: CMDS holding ls, Copy, del and SUB (holding x); TMP holding a.o,
// B.O and c.c; README.
dvtest::ImageBuilder example_disk() {
    dvtest::ImageBuilder b;
    const int cmds = b.add_dir(b.root(), "CMDS");
    const int tmp = b.add_dir(b.root(), "TMP");
    b.add_file(b.root(), "README", std::string("read me"));
    for (const char* name : {"ls", "Copy", "del"}) b.add_file(cmds, name, std::string(name));
    b.add_file(b.add_dir(cmds, "SUB"), "x", std::string("x"));
    for (const char* name : {"a.o", "B.O", "c.c"}) b.add_file(tmp, name, std::string(name));
    return b;
}

const Names kAll = {"CMDS",  "CMDS/Copy", "CMDS/SUB", "CMDS/SUB/x", "CMDS/del", "CMDS/ls",
                    "README", "TMP",      "TMP/B.O",  "TMP/a.o",    "TMP/c.c"};

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
    if (!std::filesystem::exists(dir)) return names;
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
    const std::string del_dir = "dvdel: 'd.dsk:CMDS' is a directory: dvprune deletes directory trees\n";
    const std::string tmp_dir = "dvdel: 'd.dsk:TMP' is a directory: dvprune deletes directory trees\n";
    const Case cases[] = {
        // dvls: files of a pattern together, each directory under its heading, names in order
        // without regard to case.
        {{"dvls", "d.dsk:CMDS/*"}, "d.dsk:CMDS/*:\nCopy\ndel\nls\n\nd.dsk:CMDS/SUB:\nx\n", "", 0},
        {{"dvls", "d.dsk:TMP/*.o"}, "a.o\nB.O\n", "", 0},
        {{"dvls", "d.dsk:tmp/[!a]*"}, "B.O\nc.c\n", "", 0},
        {{"dvls", "d.dsk:*/"}, "d.dsk:CMDS:\nls\nCopy\ndel\nSUB\n\nd.dsk:TMP:\na.o\nB.O\nc.c\n", "", 0},
        {{"dvls", "d.dsk:T*", "d.dsk:README"}, "d.dsk:TMP:\na.o\nB.O\nc.c\n\nd.dsk:README:\nREADME\n", "", 0},
        {{"dvls", "d.dsk:CMDS/*.x"}, "", fail("dvls", 216, "opening", "d.dsk:CMDS/*.x"), 216},
        {{"dvls", "d.dsk:CMDS/*.x", "d.dsk:README"}, "d.dsk:CMDS/*.x:\n\nd.dsk:README:\nREADME\n",
         fail("dvls", 216, "opening", "d.dsk:CMDS/*.x"), 216},
        {{"dvls", "d.dsk:NONE/*"}, "", fail("dvls", 216, "opening", "d.dsk:NONE/*"), 216},
        // A pattern before the last name is a name; a backslash makes a character plain.
        {{"dvls", "d.dsk:C*/ls"}, "", fail("dvls", 216, "opening", "d.dsk:C*/ls"), 216},
        {{"dvls", "d.dsk:TMP/a\\.o"}, "a.o\n", "", 0},
        {{"dvls", "d.dsk:TMP/\\*.o"}, "", fail("dvls", 216, "opening", "d.dsk:TMP/\\*.o"), 216},
        // dvcopy: each match a source; several need a directory.
        {{"dvcopy", "d.dsk:TMP/*.o", "out"}, "", "", 0, kAll, {"a.o", "B.O"}},
        {{"dvcopy", "d.dsk:TMP/*.o", "out/one"}, "", fail("dvcopy", 216, "copying to", "out/one"), 216},
        {{"dvcopy", "d.dsk:TMP/c*", "out/one"}, "", "", 0, kAll, {"one"}},
        {{"dvcopy", "-r", "d.dsk:CMDS/S*", "out"}, "", "", 0, kAll, {"SUB", "SUB/x"}},
        {{"dvcopy", "d.dsk:TMP/*.z", "d.dsk:README", "out"}, "", fail("dvcopy", 216, "copying", "d.dsk:TMP/*.z"),
         216, kAll, {"README"}},
        // dvdel: each match deleted as if named, directories refused.
        {{"dvdel", "d.dsk:TMP/*.o"}, "", "", 0, without(kAll, {"TMP/a.o", "TMP/B.O"})},
        {{"dvdel", "d.dsk:TMP/*.q", "d.dsk:README"}, "", fail("dvdel", 216, "deleting", "d.dsk:TMP/*.q"), 216,
         without(kAll, {"README"})},
        {{"dvdel", "d.dsk:*"}, "",
         fail("dvdel", 214, "deleting", "d.dsk:CMDS") + del_dir + fail("dvdel", 214, "deleting", "d.dsk:TMP") + tmp_dir,
         214, without(kAll, {"README"})},
        // Raw pathlists and host paths are never expanded.
        {{"dvdel", "d.dsk:*@"}, "", fail("dvdel", 215, "deleting", "d.dsk:*@"), 215},
        {{"dvdel", "*.dsk"}, "", fail("dvdel", 2, "deleting", "*.dsk"), 2},  // the host says ENOENT
        // dvattr: one match alone, several each with its pathlist.
        {{"dvattr", "d.dsk:TMP/*.o", "e"}, "---wrewr d.dsk:TMP/a.o\n---wrewr d.dsk:TMP/B.O\n", "", 0},
        {{"dvattr", "d.dsk:TMP/c*"}, "---wr-wr\n", "", 0},
        {{"dvattr", "d.dsk:TMP/*.q", "e"}, "", fail("dvattr", 216, "changing", "d.dsk:TMP/*.q"), 216},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        dvtest::TempDir tmp;
        example_disk().save(tmp / "d.dsk");
        std::filesystem::create_directory(tmp / "out");
        const std::vector<std::string> args(c.args.begin() + 1, c.args.end());
        EXPECT_TRUE(dvtest::run_gave(dvtest::run_program(c.args[0], args, tmp.path()), {c.out, c.err, c.status}));
        const dvtest::bytes img = dvtest::read_file(tmp / "d.dsk");
        EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
        EXPECT_EQ(image_names(img), c.left);
        EXPECT_EQ(host_names(tmp / "out"), c.copied);
    }
}

// dvcheck -v lists only the files a pattern names (by FD sector); the whole
// image is still checked, and without -v a name inside the image is refused.
TEST(Patterns, CheckListsTheMatchesTable) {
    const std::tuple<std::vector<std::string>, Names, std::string, int> cases[] = {
        {{"-v", "d.dsk:TMP/*.O"}, {"d.dsk:/TMP/a.o", "d.dsk:/TMP/B.O"}, "", 0},
        {{"-v", "d.dsk:CMDS/s*"}, {"d.dsk:/CMDS/SUB directory"}, "", 0},
        {{"-v", "d.dsk:TMP/*.q"}, {}, fail("dvcheck", 216, "checking", "d.dsk:TMP/*.q"), 8},
        {{"d.dsk:TMP/*.O"}, {}, fail("dvcheck", 215, "checking", "d.dsk:TMP/*.O"), 8},
    };
    for (const auto& [args, listed, err, status] : cases) {
        SCOPED_TRACE(args.back());
        dvtest::TempDir tmp;
        example_disk().save(tmp / "d.dsk");
        const dvtest::Run r = dvtest::run_program("dvcheck", args, tmp.path());
        EXPECT_EQ(r.err, err);
        EXPECT_EQ(r.status, status);
        Names seen;
        std::istringstream lines(r.out);
        for (std::string line; std::getline(lines, line);) {
            if (const std::size_t fd = line.find(" (FD "); fd != std::string::npos)
                seen.insert(line.substr(0, fd) + (line.ends_with(" directory") ? " directory" : ""));
        }
        EXPECT_EQ(seen, listed);
        EXPECT_EQ(r.out.find("d.dsk: 8 files, 4 directories;") != std::string::npos, status == 0) << r.out;
    }
}

// A backslash makes the pattern character plain: on a disk that holds the
// name "A*B" (no pathlist can make one), only that file is named.
TEST(Patterns, BackslashNamesTheCharacterTable) {
    const std::tuple<std::vector<std::string>, std::string, Names> cases[] = {
        {{"dvls", "d.dsk:A\\*B"}, "A*B\n", {"A*B", "AxB"}},
        {{"dvls", "d.dsk:a*b"}, "A*B\nAxB\n", {"A*B", "AxB"}},
        {{"dvdel", "d.dsk:A\\*B"}, "", {"AxB"}},
        {{"dvdel", "d.dsk:A?B"}, "", {}},
    };
    for (const auto& [args, out, left] : cases) {
        SCOPED_TRACE(args[0] + " " + args[1]);
        dvtest::TempDir tmp;
        dvtest::ImageBuilder b;
        b.add_file(b.root(), "AxB", std::string("x"));
        b.add_file(b.root(), "A*B", std::string("star"));
        b.save(tmp / "d.dsk");
        EXPECT_TRUE(dvtest::run_gave(dvtest::run_program(args[0], {args[1]}, tmp.path()), {out, "", 0}));
        EXPECT_EQ(image_names(dvtest::read_file(tmp / "d.dsk")), left);
    }
}

// Patterns go through the library, so a disk in a container is matched as
// a raw one is.
TEST(Patterns, InContainersTable) {
    const std::tuple<const char*, std::function<dvtest::bytes(const dvtest::bytes&)>> containers[] = {
        {"d.vdk", [](const dvtest::bytes& r) { return dvtest::make_vdk(r, 35, 1); }},
        {"d.dmk", [](const dvtest::bytes& r) { return dvtest::make_dmk(r, 35, 1); }},
    };
    for (const auto& [file, wrap] : containers) {
        SCOPED_TRACE(file);
        dvtest::TempDir tmp;
        dvtest::write_file(tmp / file, wrap(example_disk().image()));
        const std::string disk = file;
        const dvtest::Run listed = dvtest::run_program("dvls", {disk + ":TMP/*.o"}, tmp.path());
        EXPECT_TRUE(dvtest::run_gave(listed, {"a.o\nB.O\n", "", 0}));
        std::filesystem::create_directory(tmp / "out");
        EXPECT_EQ(dvtest::run_program("dvcopy", {disk + ":CMDS/?o*", "out"}, tmp.path()).status, 0);
        EXPECT_EQ(host_names(tmp / "out"), (Names{"Copy"}));
        EXPECT_TRUE(dvtest::run_gave(dvtest::run_program("dvdel", {disk + ":TMP/*.O"}, tmp.path()), {"", "", 0}));
        EXPECT_TRUE(dvtest::run_gave(dvtest::run_program("dvls", {disk + ":TMP/*"}, tmp.path()), {"c.c\n", "", 0}));
    }
}
