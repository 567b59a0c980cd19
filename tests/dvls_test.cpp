// dvls run as a user runs it, one table of cases (arguments, image -> standard
// output, standard error, status), on images built byte by byte; and the
// refusal of files that are no RBF disk.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image_builder.h"
#include "run_program.h"
#include "test_support.h"

namespace {

using dvtest::bytes;
using dvtest::ImageBuilder;
using dvtest::run_gave;
using dvtest::TempDir;

// Root: DIR (FD 10: "..", ".", readme) and notes (FD 21); readme is FD 19.
// Every FD is dated 2026-03-03 00:00 by the builder.
ImageBuilder sample() {
    ImageBuilder b;
    int dir = b.add_dir(b.root(), "DIR");
    b.add_file(dir, "readme", std::string("hi\r"));
    b.add_file(b.root(), "notes", std::string("12345"));
    return b;
}

// The sample with a damaged tree: an entry whose FD lies past the end of the
// disk, and an entry in DIR that leads back to the root.
ImageBuilder damaged() {
    ImageBuilder b = sample();
    b.add_entry(b.root(), "LOST", 5000);
    b.add_entry(10, "LOOP", b.root());
    b.add_file(b.root(), "after", std::string("x"));
    return b;
}

struct Case {
    const char* what;
    std::vector<std::string> args;
    std::string out;
    std::string err;
    int status;
};

const std::string kDamagedErr = "dvls: error 1 (general failure) reading 'd.dsk:LOST'\n";

const Case kCases[] = {
    {"names in directory order", {"s.dsk"}, "DIR\nnotes\n", "", 0},
    {"a directory by pathlist", {"s.dsk:DIR"}, "readme\n", "", 0},
    {"case is ignored in the path", {"s.dsk:dir"}, "readme\n", "", 0},
    {"-a shows the dot entries", {"-a", "s.dsk:DIR"}, "..\n.\nreadme\n", "", 0},
    {"a file is listed alone", {"s.dsk:DIR/readme"}, "readme\n", "", 0},
    {"long form in aligned columns",
     {"-e", "s.dsk"},
     "d-ewrewr 0 2026-03-03 00:00 96 10 DIR\n"
     "---wr-wr 0 2026-03-03 00:00  5 21 notes\n",
     "", 0},
    {"whole tree by relative paths", {"-r", "s.dsk"}, "DIR\nDIR/readme\nnotes\n", "", 0},
    {"long form of a tree",
     {"-r", "-e", "s.dsk"},
     "d-ewrewr 0 2026-03-03 00:00 96 10 DIR\n"
     "---wr-wr 0 2026-03-03 00:00  3 19 DIR/readme\n"
     "---wr-wr 0 2026-03-03 00:00  5 21 notes\n",
     "", 0},
    {"JSON Lines",
     {"-j", "s.dsk:DIR"},
     "{\"image\":\"s.dsk\",\"name\":\"readme\",\"path\":\"DIR/readme\",\"fd_lsn\":19,\"directory\":false,\"size\":3,"
     "\"attributes\":\"---wr-wr\",\"owner\":0,\"links\":1,\"created\":\"2026-03-03\",\"modified\":\"2026-03-03T00:00\"}\n",
     "", 0},
    {"several operands under headings", {"s.dsk:DIR", "s.dsk"}, "s.dsk:DIR:\nreadme\n\ns.dsk:\nDIR\nnotes\n", "", 0},
    {"a missing name", {"s.dsk:NONE"}, "", "dvls: error 216 (pathname not found) opening 's.dsk:NONE'\n", 216},
    {"a missing image", {"none.dsk"}, "", "dvls: error 216 (pathname not found) opening 'none.dsk'\n", 216},
    {"a text file is no disk", {"text.txt"}, "", "dvls: error 249 (not an RBF disk image) opening 'text.txt'\n", 249},
    {"a bad pathlist", {":"}, "", "dvls: error 215 (bad pathname) opening ':'\n", 215},
    {"later operands are listed after a failure",
     {"s.dsk:NONE", "s.dsk:DIR"},
     "s.dsk:NONE:\n\ns.dsk:DIR:\nreadme\n",
     "dvls: error 216 (pathname not found) opening 's.dsk:NONE'\n", 216},
    {"a damaged entry is marked and the rest listed",
     {"d.dsk"}, "DIR\nnotes\nLOST  [damaged]\nafter\n", kDamagedErr, 1},
    {"a damaged entry in the long form",
     {"-e", "d.dsk"},
     "d-ewrewr 0 2026-03-03 00:00 128   10 DIR\n"
     "---wr-wr 0 2026-03-03 00:00   5   21 notes\n"
     "\?\?\?\?\?\?\?\? ? \?\?\?\?-\?\?-\?\? \?\?:\?\?   ? 5000 LOST  [damaged]\n"
     "---wr-wr 0 2026-03-03 00:00   1   23 after\n",
     kDamagedErr, 1},
    {"a loop back to the root is listed once",
     {"-r", "d.dsk"},
     "DIR\nDIR/readme\nDIR/LOOP\nnotes\nLOST  [damaged]\nafter\n", kDamagedErr, 1},
};

TEST(DvLsProgram, CasesTable) {
    TempDir dir;
    sample().save(dir / "s.dsk");
    damaged().save(dir / "d.dsk");
    dvtest::write_file(dir / "text.txt", bytes(4096, 'a'));
    for (const Case& c : kCases) {
        dvtest::Run r = dvtest::run_program("dvls", c.args, dir.path());
        EXPECT_TRUE(run_gave(r, {.out = c.out, .err = c.err, .status = c.status})) << c.what;
    }
}

TEST(DvLsProgram, ListingChangesNothing) {
    TempDir dir;
    damaged().save(dir / "d.dsk");
    const bytes before = dvtest::read_file(dir / "d.dsk");
    dvtest::run_program("dvls", {"-r", "-e", "-a", "d.dsk"}, dir.path());
    EXPECT_EQ(dvtest::read_file(dir / "d.dsk"), before);
}

// A text file passed the old checks and was reported as a disk of about
// 416,000 GB; every reader now refuses it.
TEST(NotAnRbfDisk, TextFileIsRefusedByTheReadingPrograms) {
    TempDir dir;
    std::string text;
    while (text.size() < 2000) text += "root:x:0:0:root:/root:/bin/bash\ndaemon:x:1:1:daemon:/usr/sbin:/usr/sbin/nologin\n";
    dvtest::write_file(dir / "passwd", bytes(text.begin(), text.end()));
    dvtest::Run r = dvtest::run_program("dvspace", {"passwd"}, dir.path());
    EXPECT_TRUE(run_gave(r, {.out = "", .err = dvtest::program_path("dvspace") + ": error 249 (not an RBF disk image) opening 'passwd'\n",
                             .status = 249}));
    r = dvtest::run_program("dvtype", {"passwd:x"}, dir.path());
    EXPECT_TRUE(run_gave(r, {.out = "",
                             .err = dvtest::program_path("dvtype") + ": error 249 (not an RBF disk image) opening 'passwd:x'\n",
                             .status = 249}));
}

// dvprune's l answer runs the dvls beside it: the listing appears.
TEST(DvPruneListing, TheListingComesFromTheDvlsBesideDvprune) {
    TempDir dir;
    sample().save(dir / "s.dsk");
    dvtest::Run r = dvtest::run_program("dvprune", {"s.dsk:DIR"}, dir.path(), "l q\n");
    EXPECT_NE(r.out.find("The command: dvls -e 's.dsk:DIR'\n---wr-wr 0 2026-03-03 00:00 3 19 readme\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.status, 0);
}

}  // namespace
