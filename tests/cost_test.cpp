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
    rbf::put_options o;
    for (int k = 0; k < files; ++k) {
        const bytes data(100, static_cast<unsigned char>(k));
        std::size_t at = 0;
        const rbf::error_code ec = rbf::_os9_put_file(image, "DIR/F" + std::to_string(k), o,
            [&](unsigned char* buf, std::size_t size, std::size_t* got) {
                *got = std::min(size, data.size() - at);
                std::copy_n(data.begin() + static_cast<long>(at), *got, buf);
                at += *got;
                return rbf::E_SUCCESS;
            });
        EXPECT_EQ(ec, 0);
    }
    return rbf::image_contents(*image);
}

rbf::error_code put(const rbf::image_ref& image, const std::string& in_image, bool replace) {
    rbf::put_options o;
    o.replace = replace;
    bool given = false;
    return rbf::_os9_put_file(image, in_image, o, [&](unsigned char* buf, std::size_t, std::size_t* got) {
        *got = given ? 0 : 1;
        buf[0] = 'x';
        given = true;
        return rbf::E_SUCCESS;
    });
}

// A new file in a directory of 2,000: its FD, the directory's and the
// root's, a few more; not every FD of the disk (the close-time trim of the
// new file once walked the whole tree to learn who else claims its units).
TEST(Cost, ANewFileInABigDirectoryReadsAFewFdsNotAll) {
    const bytes img = disk_of_files(2000);
    rbf::image_ref image = rbf::image_in_memory(img);  // a fresh volume, as a new run has
    const std::uint64_t before = rbf::image_sector_reads(*image);
    ASSERT_EQ(put(image, "DIR/NEW", false), 0);
    EXPECT_LE(rbf::image_sector_reads(*image) - before, 40u);
    EXPECT_TRUE(dvtest::check_tree(rbf::image_contents(*image)).empty());
}

}  // namespace
