// Writers on damaged disks: whatever an FD or the bitmap says, LSN 0, the
// bitmap sectors and the root's FD are never freed, handed out or written
// as data, and a unit that two files claim is not freed when one of them
// goes (the delete says 241).  Each case: a damaged image, the operation,
// its expected result, then the units that must still be in use and the
// file that must still read the same.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "image_builder.h"
#include "os9disk.h"
#include "os9path.h"
#include "rbf/image.h"
#include "test_support.h"
#include "tree_check.h"

namespace {

using dvtest::bytes;
using dvtest::ImageBuilder;

struct Damage {
    const char* what;
    std::function<void(ImageBuilder&)> make;  // damages a disk holding KEEP
    std::function<int(const rbf::image_ref&)> run;
    int status;
    std::vector<int> still_used;  // units that must stay in use
};

bool used(const bytes& img, int unit) { return img[256 + unit / 8] & (0x80 >> (unit % 8)); }

const bytes kKeep(700, 'k');

const Damage kCases[] = {
    {"a file's segment covers the root's FD",
     [](ImageBuilder& b) { b.add_file(b.root(), "X", bytes{}, 0x1B, {{b.root(), 2}}); },
     [](const rbf::image_ref& img) { return rbf::_os9_delete(img, "X"); }, 241, {2}},
    {"a file's segment covers LSN 0 and the bitmap",
     [](ImageBuilder& b) { b.add_file(b.root(), "X", bytes{}, 0x1B, {{0, 3}}); },
     [](const rbf::image_ref& img) { return rbf::_os9_delete(img, "X"); }, 0, {0, 1, 2}},
    {"the bitmap marks the root's FD free, then a directory is made",
     [](ImageBuilder& b) { b.mark(b.root(), 1, false); },
     [](const rbf::image_ref& img) { return rbf::_os9_makdir(img, "NEW"); }, 0, {}},
    {"two files share a unit, one is deleted",
     [](ImageBuilder& b) { b.add_file(b.root(), "X", bytes{}, 0x1B, b.segments(10)); },
     [](const rbf::image_ref& img) { return rbf::_os9_delete(img, "X"); }, 241, {}},
    {"a tree holds a file that shares a unit with one outside",
     [](ImageBuilder& b) {
         const int t = b.add_dir(b.root(), "T");
         b.add_file(t, "X", bytes{}, 0x1B, b.segments(10));
     },
     [](const rbf::image_ref& img) { return rbf::_os9_prune(img, "m:T", "T", {}).error; }, 241, {}},
    {"a directory without its read attribute is deleted as a file",
     [](ImageBuilder& b) { b.add_dir(b.root(), "NR", 0xBE); },
     [](const rbf::image_ref& img) { return rbf::_os9_delete(img, "NR"); }, 192, {}},
};

TEST(DamagedWrite, SystemUnitsAndSharedUnitsSurviveEveryWriter) {
    for (const Damage& c : kCases) {
        ImageBuilder b;
        const int keep = b.add_file(b.root(), "KEEP", kKeep);
        ASSERT_EQ(keep, 10) << "the cases name KEEP's FD by its place";
        c.make(b);
        const bytes before = b.image();
        rbf::image_ref img = rbf::image_in_memory(before);
        EXPECT_EQ(c.run(img), c.status) << c.what;
        const bytes& after = rbf::image_contents(*img);
        // The root's FD is still the root's, and it, KEEP's FD and KEEP's
        // units are in use.
        EXPECT_EQ(bytes(after.begin() + b.root() * 256 + 16, after.begin() + b.root() * 256 + 21),
                  bytes(before.begin() + b.root() * 256 + 16, before.begin() + b.root() * 256 + 21))
            << c.what;
        EXPECT_TRUE(after[b.root() * 256] & 0x80) << c.what;
        EXPECT_TRUE(used(after, b.root())) << c.what;
        EXPECT_TRUE(used(after, keep)) << c.what;
        for (const auto& [first, count] : b.segments(keep))
            for (int u = first; u < first + count; ++u) EXPECT_TRUE(used(after, u)) << c.what << ": unit " << u;
        for (int u : c.still_used) EXPECT_TRUE(used(after, u)) << c.what << ": unit " << u;
        const auto tree = dvtest::list_tree(after);
        ASSERT_TRUE(tree.count("KEEP")) << c.what;
        EXPECT_EQ(tree.at("KEEP").data, kKeep) << c.what;
        // A later writer does not overwrite anything of theirs either.
        EXPECT_EQ(rbf::_os9_makdir(img, "LATER"), 0) << c.what;
        EXPECT_EQ(dvtest::list_tree(rbf::image_contents(*img)).at("KEEP").data, kKeep) << c.what;
        EXPECT_TRUE(dvtest::list_tree(rbf::image_contents(*img)).count("LATER")) << c.what;
    }
}

}  // namespace
