// dvdiff run as a user runs it: an image tree against a host tree made
// equal to it, then changed in one way per case; each case gives the lines
// and the status.
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
namespace fs = std::filesystem;

bytes text(const std::string& s) { return bytes(s.begin(), s.end()); }

// The builder dates every FD 2026-03-03 00:00, local time.
std::time_t image_date() {
    std::tm tm{};
    tm.tm_year = 126;
    tm.tm_mon = 2;
    tm.tm_mday = 3;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

// FILE, DIR/a (text), DIR/b (binary, a CR in it), DIR/SUB/deep.
bytes sample() {
    dvtest::ImageBuilder b;
    b.add_file(b.root(), "FILE", std::string("hi\r"));
    const int d = b.add_dir(b.root(), "DIR");
    b.add_file(d, "a", std::string("one\rtwo\r"));
    b.add_file(d, "b", bytes{0, '\r', 2, 255});
    b.add_file(b.add_dir(d, "SUB"), "deep", std::string("d\r"));
    return b.image();
}

void put(const std::string& path, const bytes& data, std::time_t when) {
    dvtest::write_file(path, data);
    const timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// The host side as dvcopy -r would leave it, seconds into the same minute.
void host_tree(const dvtest::TempDir& dir) {
    const std::time_t t = image_date() + 40;
    fs::create_directories(dir / "h/DIR/SUB");
    put(dir / "h/FILE", text("hi\r"), t);
    put(dir / "h/DIR/a", text("one\rtwo\r"), t);
    put(dir / "h/DIR/b", bytes{0, '\r', 2, 255}, t);
    put(dir / "h/DIR/SUB/deep", text("d\r"), t);
}

struct DiffCase {
    const char* what;
    std::vector<std::string> args;  // beside x.dsk and the host tree h/
    std::function<void(const dvtest::TempDir&)> change;  // of the host tree
    std::string out;
    int status;
};

const std::time_t kDay = 24 * 60 * 60;

const DiffCase kCases[] = {
    {"equal trees", {"x.dsk:DIR", "h/DIR"}, nullptr, "", 0},
    {"the whole disk", {"x.dsk:", "h"}, nullptr, "", 0},
    {"names in any letter case", {"x.dsk:DIR", "h/DIR"},
     [](const dvtest::TempDir& d) {
         fs::rename(d / "h/DIR/a", d / "h/DIR/A");
         fs::rename(d / "h/DIR/SUB", d / "h/DIR/sub");
     },
     "", 0},
    {"missing on the host", {"x.dsk:DIR", "h/DIR"}, [](const dvtest::TempDir& d) { fs::remove(d / "h/DIR/SUB/deep"); },
     "only in image: SUB/deep\n", 1},
    {"a missing directory is one line", {"x.dsk:", "h"}, [](const dvtest::TempDir& d) { fs::remove_all(d / "h/DIR/SUB"); },
     "only in image: DIR/SUB\n", 1},
    {"extra on the host", {"x.dsk:DIR", "h/DIR"},
     [](const dvtest::TempDir& d) { dvtest::write_file(d / "h/DIR/c", {'c'}); }, "only on host: c\n", 1},
    {"size", {"x.dsk:DIR", "h/DIR"},
     [](const dvtest::TempDir& d) { put(d / "h/DIR/b", {0, '\r', 2, 255, 9}, image_date()); },
     "size differs: b (image 4, host 5)\n", 1},
    {"bytes", {"x.dsk:DIR", "h/DIR"},
     [](const dvtest::TempDir& d) { put(d / "h/DIR/b", {0, '\r', 2, 254}, image_date()); }, "bytes differ: b\n", 1},
    {"date, by the minute", {"x.dsk:DIR", "h/DIR"},
     [](const dvtest::TempDir& d) { put(d / "h/DIR/a", text("one\rtwo\r"), image_date() + kDay); },
     "date differs: a (image 2026-03-03 00:00, host 2026-03-04 00:00)\n", 1},
    {"a directory against a file", {"x.dsk:DIR", "h/DIR"},
     [](const dvtest::TempDir& d) {
         fs::remove_all(d / "h/DIR/SUB");
         put(d / "h/DIR/SUB", text("x"), image_date());
     },
     "kind differs: SUB (a directory in the image, a file on the host)\n", 1},
    {"every difference, in the order of the names", {"x.dsk:", "h"},
     [](const dvtest::TempDir& d) {
         dvtest::write_file(d / "h/DIR/c", {'c'});
         fs::remove(d / "h/DIR/a");
         put(d / "h/FILE", text("ho\r"), image_date() + 60);
     },
     "only in image: DIR/a\nonly on host: DIR/c\nbytes differ: FILE\n"
     "date differs: FILE (image 2026-03-03 00:00, host 2026-03-03 00:01)\n",
     1},
    {"host line ends, bytes", {"x.dsk:DIR/a", "h/DIR/a"},
     [](const dvtest::TempDir& d) { put(d / "h/DIR/a", text("one\ntwo\n"), image_date()); }, "bytes differ: a\n", 1},
    {"host line ends, -t", {"-t", "x.dsk:DIR/a", "h/DIR/a"},
     [](const dvtest::TempDir& d) { put(d / "h/DIR/a", text("one\r\ntwo\n"), image_date()); }, "", 0},
    {"-t finds a different text", {"-t", "x.dsk:DIR/a", "h/DIR/a"},
     [](const dvtest::TempDir& d) { put(d / "h/DIR/a", text("one\ntwo"), image_date()); }, "text differs: a\n", 1},
    {"-t turns a binary's line ends too", {"-t", "x.dsk:DIR", "h/DIR"},
     [](const dvtest::TempDir& d) {
         put(d / "h/DIR/a", text("one\ntwo\n"), image_date());
         put(d / "h/DIR/b", {0, '\n', 2, 255}, image_date());
     },
     "", 0},
    {"-a keeps a binary's bytes", {"-a", "x.dsk:DIR", "h/DIR"},
     [](const dvtest::TempDir& d) {
         put(d / "h/DIR/a", text("one\ntwo\n"), image_date());
         put(d / "h/DIR/b", {0, '\n', 2, 255}, image_date());
     },
     "bytes differ: b\n", 1},
    {"a file against a file", {"x.dsk:FILE", "h/DIR/SUB/deep"}, nullptr, "size differs: FILE (image 3, host 2)\n", 1},
    {"a file against its namesake in a directory", {"x.dsk:FILE", "h/"}, nullptr, "", 0},
    {"a file against a directory without it", {"x.dsk:FILE", "h/DIR"}, nullptr, "only in image: FILE\n", 1},
    {"a directory against a file", {"x.dsk:DIR", "h/FILE"}, nullptr,
     "kind differs: DIR (a directory in the image, a file on the host)\n", 1},
};

TEST(DvDiff, CasesTable) {
    for (const DiffCase& c : kCases) {
        SCOPED_TRACE(c.what);
        dvtest::TempDir dir;
        dvtest::write_file(dir / "x.dsk", sample());
        host_tree(dir);
        if (c.change) c.change(dir);
        const dvtest::Run r = dvtest::run_program("dvdiff", c.args, dir.path());
        EXPECT_TRUE(dvtest::run_gave(r, {c.out, "", c.status}));
    }
}

TEST(DvDiff, OperandsOnTheWrongSideOrMissing) {
    dvtest::TempDir dir;
    dvtest::write_file(dir / "x.dsk", sample());
    host_tree(dir);
    const std::pair<std::vector<std::string>, dvtest::Run> cases[] = {
        {{"h/FILE", "h/FILE"},
         {"", "dvdiff: error 215 (bad pathname) comparing 'h/FILE'\ndvdiff: 'h/FILE' is no path in an image (image:path)\n", 215}},
        {{"x.dsk:FILE", "x.dsk:FILE"},
         {"",
          "dvdiff: error 215 (bad pathname) comparing 'x.dsk:FILE'\n"
          "dvdiff: 'x.dsk:FILE' is in an image: the second operand is a host path\n",
          215}},
        {{"x.dsk:NONE", "h"}, {"", "dvdiff: error 216 (pathname not found) comparing 'x.dsk:NONE'\n", 216}},
        {{"x.dsk:FILE", "nothing"}, {"", "dvdiff: error 216 (pathname not found) comparing 'nothing'\n", 216}},
        {{"x.dsk:FILE/", "h"}, {"", "dvdiff: error 214 (file not accessible) comparing 'x.dsk:FILE/'\n", 214}},
    };
    for (const auto& [args, want] : cases) {
        SCOPED_TRACE(args[0] + " " + args[1]);
        EXPECT_TRUE(dvtest::run_gave(dvtest::run_program("dvdiff", args, dir.path()), want));
    }
}

}  // namespace
