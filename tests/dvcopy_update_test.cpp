// dvcopy -u: a file goes only where it is missing or older, by the minute
// the disk keeps, into an image and out of it.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

namespace {

using dvtest::bytes;

bytes text(const std::string& s) { return bytes(s.begin(), s.end()); }

using dvtest::builder_date;
using dvtest::write_dated_file;

}  // namespace

// -r both ways.  In: a older on the host is skipped, b seconds later in the
// same minute is no newer, c a minute later replaces, d missing in the image
// goes.  Out: a older on the host is replaced (and dated as in the image), b
// and c are kept, d missing on the host goes.  A second run in copies nothing.
TEST(DvCopyUpdate, WholeTreesBothWays) {
    dvtest::TempDir dir;
    dvtest::ImageBuilder b;
    const int d = b.add_dir(b.root(), "DIR");
    for (const char* name : {"a", "b", "c"}) b.add_file(d, name, std::string("disk\r"));
    b.save(dir / "x.dsk");
    std::filesystem::create_directories(dir / "h/DIR");
    const std::pair<const char*, std::time_t> host[] = {{"a", -120}, {"b", 59}, {"c", 60}, {"d", 120}};
    for (const auto& [name, later] : host) write_dated_file(dir / "h/DIR/" + name, text(name), later);

    EXPECT_TRUE(dvtest::run_gave(dvtest::run_program("dvcopy", {"-u", "-r", "h/DIR", "x.dsk:"}, dir.path()), {"", "", 0}));
    const bytes img = dvtest::read_file(dir / "x.dsk");
    EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
    const auto tree = dvtest::list_tree(img);
    for (const auto& [name, data] : {std::pair{"a", "disk\r"}, {"b", "disk\r"}, {"c", "c"}, {"d", "d"}})
        EXPECT_EQ(tree.at(std::string("DIR/") + name).data, text(data)) << name;

    std::filesystem::remove(dir / "h/DIR/d");
    EXPECT_TRUE(dvtest::run_gave(dvtest::run_program("dvcopy", {"-u", "-r", "x.dsk:DIR", "h"}, dir.path()), {"", "", 0}));
    for (const auto& [name, data] : {std::pair{"a", "disk\r"}, {"b", "b"}, {"c", "c"}, {"d", "d"}})
        EXPECT_EQ(dvtest::read_file(dir / "h/DIR/" + name), text(data)) << name;
    struct stat st {};
    ASSERT_EQ(stat((dir / "h/DIR/a").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, builder_date());
    EXPECT_TRUE(dvtest::run_gave(dvtest::run_program("dvcopy", {"-u", "-r", "h/DIR", "x.dsk:"}, dir.path()), {"", "", 0}));
    EXPECT_EQ(dvtest::read_file(dir / "x.dsk"), img);
}
