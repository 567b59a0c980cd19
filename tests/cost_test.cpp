// What one-file operations cost on a disk holding many files: counted
// reads of FD sectors, not times.
#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace {

using dvtest::bytes;

// A formatted disk with `files` small files in DIR, made through the library.
bytes disk_of_files(int files) {
    rbf::format_params f;
    f.tracks = 200;
    f.sectors_per_track = 100;
    std::uint64_t total = 0;
    bytes img = rbf::format_head(f, &total);
    img.resize(total, 0);
    rbf::image_ref image = rbf::image_in_memory(img);
    EXPECT_EQ(rbf::_os9_makdir(image, "DIR"), 0);
    for (int k = 0; k < files; ++k)
        EXPECT_EQ(dvtest::put_bytes(image, "DIR/F" + std::to_string(k), bytes(100, static_cast<unsigned char>(k))), 0);
    return rbf::image_contents(*image);
}

// A new file in a directory of 2,000: its FD, the directory's and the
// root's, a few more; not every FD of the disk (the close-time trim of the
// new file once walked the whole tree to learn who else claims its units).
TEST(Cost, ANewFileInABigDirectoryReadsAFewFdsNotAll) {
    const bytes img = disk_of_files(2000);
    rbf::image_ref image = rbf::image_in_memory(img);  // a fresh volume, as a new run has
    const std::uint64_t before = rbf::image_sector_reads(*image);
    ASSERT_EQ(dvtest::put_bytes(image, "DIR/NEW", bytes{'x'}), 0);
    EXPECT_LE(rbf::image_sector_reads(*image) - before, 40u);
    EXPECT_TRUE(dvtest::check_tree(rbf::image_contents(*image)).empty());
}

}  // namespace
