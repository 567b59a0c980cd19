// dvcopy -u: a file goes only where it is missing or older, by the minute
// the disk keeps, into images and out of them, one file or whole trees.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <tuple>
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

// F ("disk\r"), DIR/a, DIR/b.
bytes sample() {
    dvtest::ImageBuilder b;
    b.add_file(b.root(), "F", std::string("disk\r"));
    const int d = b.add_dir(b.root(), "DIR");
    b.add_file(d, "a", std::string("disk a\r"));
    b.add_file(d, "b", std::string("disk b\r"));
    return b.image();
}

void put(const std::string& path, const std::string& data, std::time_t when) {
    dvtest::write_file(path, text(data));
    const timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

std::time_t mtime(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_mtime : 0;
}

// The host file's date against the image's F (2026-03-03 00:00), the way
// of the copy, and whether F's bytes went.
const std::tuple<const char*, std::time_t, bool, bool> kCases[] = {
    {"in: an older host file is skipped", -3600, true, false},
    {"in: seconds later in the same minute is not newer", 59, true, false},
    {"in: a newer host file replaces", 60, true, true},
    {"out: a newer host file is kept", 3600, false, false},
    {"out: one of the same minute is kept", 30, false, false},
    {"out: an older host file is replaced", -60, false, true},
};

TEST(DvCopyUpdate, OneFileEachWay) {
    for (const auto& [what, offset, into, copied] : kCases) {
        SCOPED_TRACE(what);
        dvtest::TempDir dir;
        dvtest::write_file(dir / "x.dsk", sample());
        put(dir / "f.txt", "host\n", image_date() + offset);
        const std::vector<std::string> args = {"-u", into ? "f.txt" : "x.dsk:F", into ? "x.dsk:F" : "f.txt"};
        EXPECT_TRUE(dvtest::run_gave(dvtest::run_program("dvcopy", args, dir.path()), {"", "", 0}));
        const bytes img = dvtest::read_file(dir / "x.dsk");
        EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
        EXPECT_EQ(dvtest::list_tree(img).at("F").data, text(into && copied ? "host\n" : "disk\r"));
        EXPECT_EQ(dvtest::read_file(dir / "f.txt"), text(!into && copied ? "disk\r" : "host\n"));
        EXPECT_EQ(mtime(dir / "f.txt"), !into && copied ? image_date() : image_date() + offset);
    }
}

// -r both ways: a older on the host, b newer, c missing in the image (in),
// then missing on the host (out).
TEST(DvCopyUpdate, WholeTreesBothWays) {
    dvtest::TempDir dir;
    dvtest::write_file(dir / "x.dsk", sample());
    fs::create_directories(dir / "h/DIR");
    put(dir / "h/DIR/a", "host a\n", image_date() - 120);
    put(dir / "h/DIR/b", "host b\n", image_date() + 120);
    put(dir / "h/DIR/c", "host c\n", image_date() + 120);

    EXPECT_EQ(dvtest::run_program("dvcopy", {"-u", "-r", "h/DIR", "x.dsk:"}, dir.path()).status, 0);
    bytes img = dvtest::read_file(dir / "x.dsk");
    auto tree = dvtest::list_tree(img);
    EXPECT_EQ(tree.at("DIR/a").data, text("disk a\r"));
    EXPECT_EQ(tree.at("DIR/b").data, text("host b\n"));
    EXPECT_EQ(tree.at("DIR/c").data, text("host c\n"));
    EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});

    fs::remove(dir / "h/DIR/c");
    EXPECT_EQ(dvtest::run_program("dvcopy", {"-u", "-r", "x.dsk:DIR", "h"}, dir.path()).status, 0);
    EXPECT_EQ(dvtest::read_file(dir / "h/DIR/a"), text("disk a\r"));
    EXPECT_EQ(dvtest::read_file(dir / "h/DIR/b"), text("host b\n"));
    EXPECT_EQ(dvtest::read_file(dir / "h/DIR/c"), text("host c\n"));
    // Copied in and out again, nothing is newer: a second run copies nothing.
    const bytes before = dvtest::read_file(dir / "x.dsk");
    EXPECT_EQ(dvtest::run_program("dvcopy", {"-u", "-r", "h/DIR", "x.dsk:"}, dir.path()).status, 0);
    EXPECT_EQ(dvtest::read_file(dir / "x.dsk"), before);
}

}  // namespace
