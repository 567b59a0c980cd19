// Reads and writes at a byte position and size changes both ways: the
// bytes kept, zeros in gaps, units given back, and failures that leave the
// file as it was.
#include <gtest/gtest.h>

#include "test_support.h"

namespace {

dvtest::bytes pattern(std::size_t n, int seed) {
    dvtest::bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>((i * 7 + seed) % 251 + 1);
    return b;
}

// A 2000-sector disk holding the 1000-byte file F.
dvtest::ImageBuilder with_file() {
    dvtest::ImageBuilder b(2000);
    b.add_file(b.root(), "F", pattern(1000, 3));
    return b;
}

// Bytes of sectors (whole units) F's segment list holds.
long long held(const dvtest::bytes& img) {
    long long n = 0;
    for (const auto& [lsn, num] : dvtest::fd_segments(img, dvtest::list_tree(img).at("F").fd)) n += num;
    return n * 256;
}

}  // namespace

TEST(SetSize, BothWaysKeepsBytesAndFillsZeros) {
    const std::uint64_t sizes[] = {0, 1, 255, 256, 999, 1000, 1001, 5000, 70000, 300000};
    for (std::uint64_t size : sizes) {
        SCOPED_TRACE(size);
        dvtest::ImageBuilder b = with_file();
        dvtest::MemImage m(b.image());
        dvtest::Path p;
        ASSERT_EQ(rbf::_os9_open(p.out(), m.image(), "F", rbf::MODE_READ | rbf::MODE_WRITE), 0);
        ASSERT_EQ(rbf::_os9_set_size(p.p, size), 0);
        p.close();
        const dvtest::bytes img = m.get();
        EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
        dvtest::bytes want = pattern(1000, 3);
        want.resize(size, 0);
        EXPECT_EQ(dvtest::list_tree(img).at("F").data, want);
        // Shrunk: whole sectors for the size and no more.
        if (size < 1000) {
            EXPECT_EQ(held(img), static_cast<long long>((size + 255) / 256 * 256));
        }
    }
}

TEST(WriteAt, PastTheEndFillsTheGapWithZeros) {
    // Position, bytes written, size after.
    const std::tuple<std::uint64_t, std::size_t, std::uint32_t> cases[] = {
        {0, 10, 1000}, {995, 10, 1005}, {1000, 1, 1001}, {1001, 1, 1002}, {5000, 2, 5002}, {100, 200000, 200100},
    };
    for (const auto& [pos, n, size] : cases) {
        SCOPED_TRACE(pos);
        dvtest::ImageBuilder b = with_file();
        dvtest::MemImage m(b.image());
        dvtest::Path p;
        ASSERT_EQ(rbf::_os9_open(p.out(), m.image(), "F", rbf::MODE_READ | rbf::MODE_WRITE), 0);
        const dvtest::bytes data = pattern(n, 9);
        ASSERT_EQ(rbf::_os9_write_at(p.p, pos, data.data(), data.size()), 0);
        dvtest::bytes want = pattern(1000, 3);
        want.resize(size, 0);
        std::copy(data.begin(), data.end(), want.begin() + static_cast<long>(pos));
        // Read back through the same path, then from the image after the close.
        dvtest::bytes got(size + 50);
        std::size_t count = 0;
        ASSERT_EQ(rbf::_os9_read_at(p.p, 0, got.data(), got.size(), &count), 0);
        got.resize(count);
        EXPECT_EQ(got, want);
        p.close();
        const dvtest::bytes img = m.get();
        EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
        EXPECT_EQ(dvtest::list_tree(img).at("F").data, want);
    }
}

TEST(ReadAt, ClippedAtTheEnd) {
    dvtest::ImageBuilder b = with_file();
    dvtest::MemImage m(b.image());
    dvtest::Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), m.image(), "F", rbf::MODE_READ), 0);
    const std::pair<std::uint64_t, std::size_t> cases[] = {{0, 1000}, {950, 50}, {999, 1}, {1000, 0}, {5000, 0}};
    for (const auto& [pos, want] : cases) {
        dvtest::bytes buf(100);
        std::size_t got = 99;
        ASSERT_EQ(rbf::_os9_read_at(p.p, pos, buf.data(), pos == 0 ? 0 : buf.size(), &got), 0);
        EXPECT_EQ(got, pos == 0 ? 0u : want) << pos;
    }
    // A read-only path neither writes nor changes the size.
    const unsigned char x = 'x';
    EXPECT_EQ(rbf::_os9_write_at(p.p, 0, &x, 1), rbf::E_FNA);
    EXPECT_EQ(rbf::_os9_set_size(p.p, 0), rbf::E_FNA);
}

TEST(WriteAt, DiskFullLeavesTheFileAsItWas) {
    // A gap, or bytes, that the disk cannot hold: 248, the file unchanged
    // and every unit taken given back.
    const std::pair<std::uint64_t, std::size_t> cases[] = {{600000, 1}, {0, 600000}, {900, 600000}};
    for (const auto& [pos, n] : cases) {
        SCOPED_TRACE(pos);
        dvtest::ImageBuilder b = with_file();
        const dvtest::bytes before = b.image();
        dvtest::MemImage m(before);
        dvtest::Path p;
        ASSERT_EQ(rbf::_os9_open(p.out(), m.image(), "F", rbf::MODE_READ | rbf::MODE_WRITE), 0);
        const dvtest::bytes data = pattern(n, 5);
        EXPECT_EQ(rbf::_os9_write_at(p.p, pos, data.data(), data.size()), rbf::E_FULL);
        EXPECT_EQ(rbf::_os9_set_size(p.p, pos + n), rbf::E_FULL);
        p.close();
        const dvtest::bytes img = m.get();
        EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
        EXPECT_EQ(dvtest::list_tree(img).at("F").data, pattern(1000, 3));
        EXPECT_EQ(dvtest::free_units(img), dvtest::free_units(before));
    }
}
