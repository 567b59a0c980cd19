// Writes at a byte position and size changes both ways: the bytes kept,
// zeros in gaps, whole clusters given back, and a full disk that leaves the
// file as it was.
#include <gtest/gtest.h>

#include "test_support.h"

namespace {

dvtest::bytes pattern(std::size_t n, int seed) {
    dvtest::bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>((i * 7 + seed) % 251 + 1);
    return b;
}

}  // namespace

TEST(Resize, WritesAtPositionsAndSizeChanges) {
    // On the 1000-byte file F: a write of `n` bytes at `pos`, or with
    // resize a size change to `pos`; the error, and the sectors F holds
    // after (-1: not looked at).
    struct Case {
        bool resize;
        std::uint64_t pos;
        std::size_t n;
        int error;
        long long sectors;
    };
    const Case cases[] = {
        {true, 0, 0, 0, 0},       {true, 1, 0, 0, 1},       {true, 256, 0, 0, 1},      {true, 999, 0, 0, 4},
        {true, 1001, 0, 0, -1},   {true, 70000, 0, 0, -1},  {false, 995, 10, 0, -1},   {false, 1001, 1, 0, -1},
        {false, 5000, 2, 0, -1},  {false, 100, 200000, 0, -1},
        // More than the disk holds: a gap, bytes, both.
        {true, 600000, 0, 248, 4},  {false, 600000, 1, 248, 4}, {false, 900, 600000, 248, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.pos) + (c.resize ? " resize" : " write"));
        dvtest::ImageBuilder b(2000);
        b.add_file(b.root(), "F", pattern(1000, 3));
        const dvtest::bytes before = b.image();
        dvtest::MemImage m(before);
        dvtest::Path p;
        ASSERT_EQ(rbf::_os9_open(p.out(), m.image(), "F", rbf::MODE_READ | rbf::MODE_WRITE), 0);
        const dvtest::bytes data = pattern(c.n, 9);
        EXPECT_EQ(c.resize ? rbf::_os9_set_size(p.p, c.pos) : rbf::_os9_write_at(p.p, c.pos, data.data(), c.n),
                  c.error);
        dvtest::bytes want = pattern(1000, 3);
        if (!c.error) {
            want.resize(c.resize ? c.pos : std::max<std::size_t>(1000, c.pos + c.n), 0);
            std::copy(data.begin(), data.end(), want.begin() + static_cast<long>(c.pos));
        }
        // Read back through the same path, then from the image after the close.
        dvtest::bytes got(want.size() + 50);
        std::size_t count = 0;
        ASSERT_EQ(rbf::_os9_read_at(p.p, 0, got.data(), got.size(), &count), 0);
        got.resize(count);
        EXPECT_EQ(got, want);
        p.close();
        const dvtest::bytes img = m.get();
        EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
        const dvtest::TreeNode f = dvtest::list_tree(img).at("F");
        EXPECT_EQ(f.data, want);
        long long sectors = 0;
        for (const auto& [lsn, num] : dvtest::fd_segments(img, f.fd)) sectors += num;
        if (c.sectors >= 0) {
            EXPECT_EQ(sectors, c.sectors);
        }
        if (c.error) {
            EXPECT_EQ(dvtest::free_units(img), dvtest::free_units(before));
        }
    }
}
