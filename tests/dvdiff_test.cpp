// dvdiff run as a user runs it: an image tree against a host tree made
// equal to it, then changed in one way per case; each case gives the lines,
// the message and the status.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using dvtest::bytes;
using dvtest::TempDir;
namespace fs = std::filesystem;

bytes text(const std::string& s) { return bytes(s.begin(), s.end()); }

using dvtest::builder_date;
using dvtest::write_dated_file;

// The image holds FILE, DIR/a (text), DIR/b (binary, a CR in it) and
// DIR/SUB/deep; h/ holds the same as dvcopy -r would leave it, seconds into
// the same minute.
void both_trees(const TempDir& dir) {
    dvtest::ImageBuilder b;
    b.add_file(b.root(), "FILE", std::string("hi\r"));
    const int d = b.add_dir(b.root(), "DIR");
    b.add_file(d, "a", std::string("one\rtwo\r"));
    b.add_file(d, "b", bytes{0, '\r', 2, 255});
    b.add_file(b.add_dir(d, "SUB"), "deep", std::string("d\r"));
    b.save(dir / "x.dsk");
    fs::create_directories(dir / "h/DIR/SUB");
    write_dated_file(dir / "h/FILE", text("hi\r"), 40);
    write_dated_file(dir / "h/DIR/a", text("one\rtwo\r"), 40);
    write_dated_file(dir / "h/DIR/b", bytes{0, '\r', 2, 255}, 40);
    write_dated_file(dir / "h/DIR/SUB/deep", text("d\r"), 40);
}

// Host line ends for DIR/a and DIR/b, and FILE without its last one.
void host_line_ends(const TempDir& d) {
    write_dated_file(d / "h/FILE", text("hi"));
    write_dated_file(d / "h/DIR/a", text("one\r\ntwo\n"));
    write_dated_file(d / "h/DIR/b", {0, '\n', 2, 255});
}

struct DiffCase {
    const char* what;
    std::vector<std::string> args;  // beside x.dsk and the host tree h/
    std::function<void(const TempDir&)> change;  // of the host tree
    std::string out;
    int status;
    std::string err = "";
};

const DiffCase kCases[] = {
    {"equal trees", {"x.dsk:DIR", "h/DIR"}, nullptr, "", 0},
    {"names in any letter case", {"x.dsk:DIR", "h/DIR"},
     [](const TempDir& d) {
         fs::rename(d / "h/DIR/a", d / "h/DIR/A");
         fs::rename(d / "h/DIR/SUB", d / "h/DIR/sub");
     },
     "", 0},
    {"every difference in the order of the names, a missing directory in one line", {"x.dsk:", "h"},
     [](const TempDir& d) {
         dvtest::write_file(d / "h/DIR/c", {'c'});
         fs::remove(d / "h/DIR/a");
         fs::remove_all(d / "h/DIR/SUB");
         write_dated_file(d / "h/FILE", text("ho\r"), 60);
     },
     "only in image: DIR/a\nonly on host: DIR/c\nonly in image: DIR/SUB\nbytes differ: FILE\n"
     "date differs: FILE (image 2026-03-03 00:00, host 2026-03-03 00:01)\n",
     1},
    {"-t turns every file's line ends, a last line without one differs", {"-t", "x.dsk:", "h"}, host_line_ends,
     "text differs: FILE\n", 1},
    {"-a keeps a binary's bytes", {"-a", "x.dsk:DIR", "h/DIR"}, host_line_ends, "bytes differ: b\n", 1},
    {"a file against a file, not as text", {"x.dsk:FILE", "h/DIR/SUB/deep"}, nullptr, "size differs: FILE (image 3, host 2)\n", 1},
    {"a file against its namesake in a directory", {"x.dsk:FILE", "h/"}, nullptr, "", 0},
    {"a file against a directory without it", {"x.dsk:FILE", "h/DIR"}, nullptr, "only in image: FILE\n", 1},
    {"a directory against a file", {"x.dsk:DIR", "h/FILE"}, nullptr,
     "kind differs: DIR (a directory in the image, a file on the host)\n", 1},
    // Operands on the wrong side or missing.
    {"a host path first", {"h/FILE", "h/FILE"}, nullptr, "", 215,
     "dvdiff: error 215 (bad pathname) comparing 'h/FILE'\ndvdiff: 'h/FILE' is no path in an image (image:path)\n"},
    {"an image second", {"x.dsk:FILE", "x.dsk:FILE"}, nullptr, "", 215,
     "dvdiff: error 215 (bad pathname) comparing 'x.dsk:FILE'\n"
     "dvdiff: 'x.dsk:FILE' is in an image: the second operand is a host path\n"},
    {"not in the image", {"x.dsk:NONE", "h"}, nullptr, "", 216,
     "dvdiff: error 216 (pathname not found) comparing 'x.dsk:NONE'\n"},
    {"not on the host", {"x.dsk:FILE", "nothing"}, nullptr, "", 216,
     "dvdiff: error 216 (pathname not found) comparing 'nothing'\n"},
    {"a file named as a directory", {"x.dsk:FILE/", "h"}, nullptr, "", 214,
     "dvdiff: error 214 (file not accessible) comparing 'x.dsk:FILE/'\n"},
};

TEST(DvDiff, CasesTable) {
    for (const DiffCase& c : kCases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        both_trees(dir);
        if (c.change) c.change(dir);
        EXPECT_TRUE(dvtest::run_gave(dvtest::run_program("dvdiff", c.args, dir.path()), {c.out, c.err, c.status}));
    }
}

}  // namespace
