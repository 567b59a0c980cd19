// dvcopy run as a user runs it: a table of cases (host files and an image ->
// standard error, status, what the image and the host hold after), each
// ending with the tree-wide check of the image; and a round trip of a host
// tree through an image and back.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
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

bytes text(const std::string& s) { return bytes(s.begin(), s.end()); }

// An image holding OLD (text "old\r") and the directory DIR.
ImageBuilder sample() {
    ImageBuilder b;
    b.add_file(b.root(), "OLD", std::string("old\r"));
    b.add_dir(b.root(), "DIR");
    return b;
}

// The image with its free space cut into single units: a file of more than
// 48 units needs more segments than an FD holds.
ImageBuilder fragmented() {
    ImageBuilder b(630, "frag", 1);
    for (int u = 0; u < 630; u += 2)
        if (!b.used(u)) b.mark(u, 1, true);
    return b;
}

struct Case {
    const char* what;
    std::function<ImageBuilder()> image;
    std::vector<std::string> args;  // run in a directory holding x.dsk, a.txt ("a\nb\n"), big (200 KB)
    std::string err;
    int status;
    std::function<void(const bytes& img, const TempDir& dir)> then;  // more checks
};

std::map<std::string, dvtest::TreeNode> tree_of(const bytes& img) { return dvtest::list_tree(img); }

const Case kCases[] = {
    {"a host file in, keeping its name", sample, {"a.txt", "x.dsk:"}, "", 0,
     [](const bytes& img, const TempDir&) { EXPECT_EQ(tree_of(img).at("a.txt").data, text("a\nb\n")); }},
    {"a host file in under a new name, as text", sample, {"-t", "a.txt", "x.dsk:DIR/NOTES"}, "", 0,
     [](const bytes& img, const TempDir&) { EXPECT_EQ(tree_of(img).at("DIR/NOTES").data, text("a\rb\r")); }},
    {"an existing file is kept", sample, {"a.txt", "x.dsk:OLD"},
     "dvcopy: error 218 (file already exists) copying 'a.txt' to 'x.dsk:OLD'\n", 218,
     [](const bytes& img, const TempDir&) { EXPECT_EQ(tree_of(img).at("OLD").data, text("old\r")); }},
    {"-o replaces it and gives its units back", sample, {"-o", "a.txt", "x.dsk:OLD"}, "", 0,
     [](const bytes& img, const TempDir&) {
         EXPECT_EQ(tree_of(img).at("OLD").data, text("a\nb\n"));
         EXPECT_EQ(dvtest::free_units(img), dvtest::free_units(sample().image()));
     }},
    {"a name the disk cannot hold", sample, {"a.txt", "x.dsk:bad name"},
     "dvcopy: error 215 (bad pathname) copying 'a.txt' to 'x.dsk:bad name'\n", 215, nullptr},
    {"a name too long for an entry", sample, {"a.txt", "x.dsk:" + std::string(30, 'n')},
     "dvcopy: error 215 (bad pathname) copying 'a.txt' to 'x.dsk:" + std::string(30, 'n') + "'\n", 215, nullptr},
    {"a directory without -r", sample, {"x.dsk:DIR", "out"},
     "dvcopy: error 192 (is a directory) copying 'x.dsk:DIR'\n"
     "dvcopy: 'x.dsk:DIR' is a directory: -r copies whole trees\n",
     192, nullptr},
    {"several sources into what is not a directory", sample, {"a.txt", "big", "x.dsk:OLD"},
     "dvcopy: error 214 (file not accessible) copying to 'x.dsk:OLD'\n", 214, nullptr},
    {"a missing source is told, the others copied", sample, {"nothing", "a.txt", "x.dsk:DIR"},
     "dvcopy: error 216 (pathname not found) copying 'nothing'\n", 216,
     [](const bytes& img, const TempDir&) { EXPECT_TRUE(tree_of(img).count("DIR/a.txt")); }},
    {"a full disk leaves the image as it was", [] { return ImageBuilder(200); }, {"big", "x.dsk:BIG"},
     "dvcopy: error 248 (media full) copying 'big' to 'x.dsk:BIG'\n", 248,
     [](const bytes& img, const TempDir&) {
         EXPECT_FALSE(tree_of(img).count("BIG"));
         EXPECT_EQ(dvtest::free_units(img), dvtest::free_units(ImageBuilder(200).image()));
     }},
    {"a full segment list leaves the image as it was", fragmented, {"big", "x.dsk:BIG"},
     "dvcopy: error 217 (segment list full) copying 'big' to 'x.dsk:BIG'\n", 217,
     [](const bytes& img, const TempDir&) {
         EXPECT_FALSE(tree_of(img).count("BIG"));
         EXPECT_EQ(dvtest::free_units(img), dvtest::free_units(fragmented().image()));
     }},
    {"out to the host, as text", sample, {"-t", "x.dsk:OLD", "old.txt"}, "", 0,
     [](const bytes&, const TempDir& dir) { EXPECT_EQ(dvtest::read_file(dir / "old.txt"), text("old\n")); }},
    {"an existing host file is kept", sample, {"x.dsk:OLD", "a.txt"},
     "dvcopy: error 218 (file already exists) copying 'x.dsk:OLD' to 'a.txt'\n", 218,
     [](const bytes&, const TempDir& dir) { EXPECT_EQ(dvtest::read_file(dir / "a.txt"), text("a\nb\n")); }},
    {"from image to image", sample, {"x.dsk:OLD", "x.dsk:DIR/COPY"}, "", 0,
     [](const bytes& img, const TempDir&) { EXPECT_EQ(tree_of(img).at("DIR/COPY").data, text("old\r")); }},
};

TEST(Dvcopy, Cases) {
    bytes big(200 * 1024);
    for (std::size_t k = 0; k < big.size(); ++k) big[k] = static_cast<unsigned char>(k * 7 + k / 251);
    for (const Case& c : kCases) {
        TempDir dir;
        const bytes before = c.image().image();
        dvtest::write_file(dir / "x.dsk", before);
        dvtest::write_file(dir / "a.txt", text("a\nb\n"));
        dvtest::write_file(dir / "big", big);
        const dvtest::Run r = dvtest::run_program("dvcopy", c.args, dir.path());
        EXPECT_EQ(r.err, c.err) << c.what;
        EXPECT_EQ(r.status, c.status) << c.what;
        const bytes img = dvtest::read_file(dir / "x.dsk");
        // No worse than before (the fragmented disk leaks by design).
        EXPECT_EQ(dvtest::check_tree(img), dvtest::check_tree(before)) << c.what;
        if (c.then) c.then(img, dir);
    }
}

// A host tree of binary and text files, in with -r and out again, equals the
// original byte for byte; text files through -t both ways too.  Dates and
// the execute bit come back.
TEST(Dvcopy, TreeRoundTripsThroughAnImage) {
    namespace fs = std::filesystem;
    TempDir dir;
    ImageBuilder(4000).save(dir / "x.dsk");
    fs::create_directories(dir / "src/sub/deeper");
    bytes binary(70000);
    for (std::size_t k = 0; k < binary.size(); ++k) binary[k] = static_cast<unsigned char>(k % 253);
    dvtest::write_file(dir / "src/prog", binary);
    chmod((dir / "src/prog").c_str(), 0755);
    dvtest::write_file(dir / "src/sub/empty", {});
    dvtest::write_file(dir / "src/sub/deeper/notes.txt", text("line one\nline two\n"));
    const auto mtime = fs::last_write_time(dir / "src/prog");

    EXPECT_EQ(dvtest::run_program("dvcopy", {"-r", "src", "x.dsk:"}, dir.path()).status, 0);
    EXPECT_EQ(dvtest::check_tree(dvtest::read_file(dir / "x.dsk")), std::vector<std::string>{});
    EXPECT_EQ(dvtest::run_program("dvcopy", {"-r", "x.dsk:src", "back"}, dir.path()).status, 0);
    for (const char* f : {"prog", "sub/empty", "sub/deeper/notes.txt"})
        EXPECT_EQ(dvtest::read_file(dir / ("back/" + std::string(f))), dvtest::read_file(dir / ("src/" + std::string(f))))
            << f;
    EXPECT_NE(fs::status(dir / "back/prog").permissions() & fs::perms::owner_exec, fs::perms::none);
    // The disk keeps minutes.
    EXPECT_LT(std::chrono::abs(fs::last_write_time(dir / "back/prog") - mtime), std::chrono::minutes(1));

    EXPECT_EQ(dvtest::run_program("dvcopy", {"-t", "src/sub/deeper/notes.txt", "x.dsk:T"}, dir.path()).status, 0);
    EXPECT_EQ(dvtest::run_program("dvcopy", {"-t", "x.dsk:T", "t.txt"}, dir.path()).status, 0);
    EXPECT_EQ(dvtest::read_file(dir / "t.txt"), text("line one\nline two\n"));
}

}  // namespace
