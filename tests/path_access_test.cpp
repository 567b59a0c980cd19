// What an open path tells of itself: its kind, its FD, its position, the
// geometry it works in, on each kind of path.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "image_builder.h"
#include "os9path.h"
#include "run_program.h"
#include "test_support.h"

namespace {

using dvtest::bytes;
using dvtest::ImageBuilder;
using dvtest::MemImage;
using dvtest::Path;

// Moving the read position: what each kind of path takes and refuses.
TEST(PathAccess, SetPositionBoundsFollowThePathKind) {
    ImageBuilder b;
    const int f = b.add_file(b.root(), "f", std::string(600, 'x'));
    MemImage mem(b.image());
    dvtest::TempDir tmp;
    dvtest::write_file(tmp / "host.txt", bytes(10, 'h'));
    Path file, raw, host;
    ASSERT_EQ(rbf::_os9_open(file.out(), mem.image(), "f", 1), 0);
    ASSERT_EQ(rbf::_os9_open(raw.out(), mem.image(), "@", 1), 0);
    ASSERT_EQ(rbf::_os9_open(host.out(), tmp / "host.txt", 1), 0);
    const std::int64_t past_int = std::int64_t{INT_MAX} + 1;
    struct Case {
        const char* what;
        rbf::os9_path_id p;
        std::int64_t pos;
        rbf::error_code ec;
        std::int64_t after;  // the position the path reports then
    } cases[] = {
        {"file: inside", file, 300, 0, 300},
        {"file: past its end", file, 5000, 0, 5000},
        {"file: INT_MAX", file, INT_MAX, 0, INT_MAX},
        {"file: past INT_MAX", file, past_int, rbf::E_GENERAL, INT_MAX},
        {"file: below 0", file, -1, rbf::E_GENERAL, INT_MAX},
        {"raw: past INT_MAX", raw, past_int, 0, past_int},
        {"raw: below 0", raw, -5, rbf::E_GENERAL, past_int},
        {"host", host, 3, rbf::E_FNA, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(rbf::path_set_position(c.p, c.pos), c.ec) << c.what;
        EXPECT_EQ(rbf::path_position(c.p), c.after) << c.what;
    }
    // The position set is where the next read starts.
    ASSERT_EQ(rbf::path_set_position(file, 598), 0);
    char buf[10];
    int n = sizeof buf;
    EXPECT_EQ(rbf::_os9_read(file, buf, &n), 0);
    EXPECT_EQ(n, 2);
    EXPECT_EQ(rbf::path_fd_sector(file), f);
}

TEST(PathAccess, HostAndRawPathsHaveNoFdAndOnlyImagePathsAGeometry) {
    ImageBuilder b(700);
    MemImage mem(b.image());
    dvtest::TempDir tmp;
    dvtest::write_file(tmp / "host.txt", bytes(10, 'h'));
    Path raw, host, root;
    ASSERT_EQ(rbf::_os9_open(raw.out(), mem.image(), "@", 1), 0);
    ASSERT_EQ(rbf::_os9_open(host.out(), tmp / "host.txt", 1), 0);
    ASSERT_EQ(rbf::_os9_open(root.out(), mem.image(), ".", 0x81), 0);
    EXPECT_EQ(rbf::path_fd_sector(raw), 0);
    EXPECT_EQ(rbf::path_fd_sector(host), 0);
    EXPECT_EQ(rbf::path_fd_sector(root), b.root());
    EXPECT_EQ(rbf::path_mode(root), 0x81);
    rbf::disk_geometry geo{};
    EXPECT_EQ(rbf::path_geometry(host, &geo), rbf::E_FNA);
    for (rbf::os9_path_id p : {raw.p, root.p}) {
        geo = {};
        ASSERT_EQ(rbf::path_geometry(p, &geo), 0);
        EXPECT_EQ(geo.total_units, 700u);
    }
    EXPECT_TRUE(rbf::path_bitmap(host).empty());
    EXPECT_FALSE(rbf::path_bitmap(raw).empty());
}

}  // namespace
