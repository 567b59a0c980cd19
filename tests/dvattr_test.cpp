// dvattr run as a user runs it, each run on a fresh image: a change writes
// the FD's attribute byte and nothing else, and a second run shows what the
// first printed; a refused change writes nothing.
#include <gtest/gtest.h>

#include <algorithm>

#include "misc/frame.h"
#include "test_support.h"

TEST(DvAttrProgram, CasesTable) {
    const std::string unknown = "dvattr: unknown attribute 'x' (e w r pe pw pr s, each with '-' to clear)\n";
    const std::string dir_bit = "dvattr: '-d': whether a file is a directory cannot be changed\n";
    // Arguments, standard output, the error number and the line after its report.
    const std::tuple<std::vector<std::string>, std::string, int, std::string> cases[] = {
        {{"x.dsk:CMDS/hello"}, "---wr-wr\n", 0, ""},
        {{"x.dsk:cmds/HELLO", "e", "pe", "-pw"}, "--e-rewr\n", 0, ""},
        {{"x.dsk:CMDS/hello", "-r", "s", "-w", "r", "w", "-w"}, "-s-wr--r\n", 0, ""},  // the last word wins
        {{"x.dsk:CMDS/hello", "pw", "r"}, "---wr-wr\n", 0, ""},                        // nothing to write
        {{"x.dsk:.", "-pw", "-pe"}, "d---rewr\n", 0, ""},
        {{"x.dsk:CMDS", "-d"}, "", 214, dir_bit}, {{"x.dsk:CMDS", "e", "x"}, "", 187, unknown},
        {{"x.dsk:none", "e"}, "", 216, ""}, {{"x.dsk:BAD", "e"}, "", 1, ""}, {{"x.dsk:BAD"}, "", 1, ""},
        {{"x.dsk", "e"}, "", 215, ""},
    };
    for (const auto& [args, out, status, hint] : cases) {
        SCOPED_TRACE(args[0] + " " + args.back());
        dvtest::TempDir dir;
        // Root d-ewrewr: CMDS d-ewrewr holding hello ---wr-wr, and BAD, whose FD lies past the disk.
        dvtest::ImageBuilder b;
        b.add_file(b.add_dir(b.root(), "CMDS"), "hello", std::string("hi"));
        b.add_entry(b.root(), "BAD", 5000);
        b.save(dir / "x.dsk");
        const char* verb = args.size() > 1 ? "changing" : "reading";
        const std::string err = status ? dv::failure_line("dvattr", status, verb, args[0]) + hint : "";
        EXPECT_TRUE(dvtest::run_gave(dvtest::run_program("dvattr", args, dir.path()), {out, err, status}));
        const dvtest::bytes img = dvtest::read_file(dir / "x.dsk"), before = b.image();
        ASSERT_EQ(img.size(), before.size());
        const auto first = std::mismatch(img.begin(), img.end(), before.begin()).first;
        if (status || out == "---wr-wr\n") {
            EXPECT_EQ(first, img.end());
            continue;
        }
        EXPECT_EQ((first - img.begin()) % 256, 0) << "not the attribute byte of an FD";
        EXPECT_TRUE(std::equal(first + 1, img.end(), before.begin() + (first + 1 - img.begin())));
        EXPECT_TRUE(dvtest::run_gave(dvtest::run_program("dvattr", {args[0]}, dir.path()), {out, "", 0}));
    }
}

// Several pathlists in one run: each reported on its own line with its
// pathlist, the words applied to all of them, the status the first failure's
// and the other files still changed.
TEST(DvAttrProgram, SeveralFilesInOneRun) {
    dvtest::TempDir dir;
    dvtest::ImageBuilder b;
    const int sys = b.add_dir(b.root(), "SYS");
    b.add_file(sys, "a", std::string("a"));
    b.add_file(sys, "b", std::string("b"));
    b.save(dir / "x.dsk");
    EXPECT_TRUE(dvtest::run_gave(dvtest::run_program("dvattr", {"x.dsk:SYS/a", "x.dsk:SYS/b", "-w", "e", "pr"}, dir.path()),
                                 {"---wre-r x.dsk:SYS/a\n---wre-r x.dsk:SYS/b\n", "", 0}));
    EXPECT_TRUE(dvtest::run_gave(
        dvtest::run_program("dvattr", {"x.dsk:SYS/a", "x.dsk:SYS/none", "x.dsk:SYS/b", "w"}, dir.path()),
        {"---wrewr x.dsk:SYS/a\n---wrewr x.dsk:SYS/b\n", dv::failure_line("dvattr", 216, "changing", "x.dsk:SYS/none"), 216}));
    EXPECT_TRUE(dvtest::run_gave(dvtest::run_program("dvattr", {"x.dsk:SYS/a", "x.dsk:SYS/b"}, dir.path()),
                                 {"---wrewr x.dsk:SYS/a\n---wrewr x.dsk:SYS/b\n", "", 0}));
}
