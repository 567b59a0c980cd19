// A directory that grows while files are made in it (each file's FD and
// data taken between its growths) holds far more than 48 segments of
// pd_sas sectors would: its new segments grow with what it holds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image_builder.h"
#include "os9disk.h"
#include "os9path.h"
#include "rbf/image.h"
#include "test_support.h"
#include "tree_check.h"

namespace {

TEST(BigDirectory, GrowsPastWhatFortyEightSasSegmentsHold) {
    constexpr int kFiles = 4000;  // 48 segments of 8 sectors hold 3,070 entries
    dvtest::ImageBuilder b(40000);
    b.add_dir(b.root(), "D");
    rbf::image_ref img = rbf::image_in_memory(b.image());
    const std::string data(100, 'x');
    for (int k = 0; k < kFiles; ++k) {
        rbf::os9_path_id p = nullptr;
        ASSERT_EQ(rbf::_os9_create(&p, img, "D/F" + std::to_string(k), rbf::MODE_WRITE, 0x1B), 0) << k;
        int size = static_cast<int>(data.size());
        ASSERT_EQ(rbf::_os9_write(p, data.data(), &size), 0) << k;
        ASSERT_EQ(rbf::_os9_close(p), 0) << k;
    }
    const auto tree = dvtest::list_tree(rbf::image_contents(*img));
    EXPECT_EQ(tree.size(), static_cast<std::size_t>(kFiles + 1));
    EXPECT_LT(dvtest::fd_segments(rbf::image_contents(*img), tree.at("D").fd).size(), 40u);
    EXPECT_EQ(dvtest::check_tree(rbf::image_contents(*img)), std::vector<std::string>{});
}

// Fifty thousand entries in one directory: made, listed, checked and pruned
// in time proportional to their number.
TEST(BigDirectory, FiftyThousandEntriesAreMadeListedAndPruned) {
    constexpr int kFiles = 50000;
    dvtest::ImageBuilder empty(80000);
    dvtest::ImageBuilder b = empty;
    b.add_dir(b.root(), "D");
    rbf::image_ref img = rbf::image_in_memory(b.image());
    for (int k = 0; k < kFiles; ++k) {
        rbf::os9_path_id p = nullptr;
        ASSERT_EQ(rbf::_os9_create(&p, img, "D/F" + std::to_string(k), rbf::MODE_WRITE, 0x1B), 0) << k;
        ASSERT_EQ(rbf::_os9_close(p), 0) << k;
    }
    rbf::os9_path_id p = nullptr;
    EXPECT_EQ(rbf::_os9_create(&p, img, "D/f777", rbf::MODE_WRITE, 0x1B), rbf::E_CEF);
    EXPECT_EQ(dvtest::list_tree(rbf::image_contents(*img)).size(), static_cast<std::size_t>(kFiles + 1));
    EXPECT_EQ(dvtest::check_tree(rbf::image_contents(*img)), std::vector<std::string>{});
    const rbf::prune_result r = rbf::_os9_prune(img, "x:D", "D", rbf::prune_options{});
    EXPECT_EQ(r.error, 0);
    EXPECT_TRUE(dvtest::list_tree(rbf::image_contents(*img)).empty());
    EXPECT_EQ(dvtest::check_tree(rbf::image_contents(*img)), std::vector<std::string>{});
    EXPECT_EQ(dvtest::free_units(rbf::image_contents(*img)), dvtest::free_units(empty.image()));
}

}  // namespace
