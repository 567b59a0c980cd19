// Big-endian accessors of the disk format: byte order, widths, round trips.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "rbf/bigendian.h"

namespace {

using Buf = std::array<unsigned char, 8>;

// A buffer of guard bytes, so that a put writing too much shows.
Buf guarded() {
    Buf b;
    b.fill(0xA5);
    return b;
}

// Deterministic spread of 32-bit values (a plain LCG) plus the corners.
std::vector<std::uint32_t> sample32() {
    std::vector<std::uint32_t> v = {0u,          1u,          0x7Fu,       0x80u,       0xFFu,       0x100u,
                                    0x7FFFu,     0x8000u,     0xFFFFu,     0x10000u,    0x7FFFFFu,   0x800000u,
                                    0xFFFFFFu,   0x1000000u,  0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFEu, 0xFFFFFFFFu};
    std::uint32_t x = 12345;
    for (int i = 0; i < 20000; ++i) {
        x = x * 1664525u + 1013904223u;
        v.push_back(x);
    }
    return v;
}

}  // namespace

TEST(BigEndian, Put16StoresMostSignificantByteFirst) {
    Buf b = guarded();
    rbf::put_be16(b.data() + 1, 0x1234);
    EXPECT_EQ(b[0], 0xA5);
    EXPECT_EQ(b[1], 0x12);
    EXPECT_EQ(b[2], 0x34);
    EXPECT_EQ(b[3], 0xA5);
}

TEST(BigEndian, Put24StoresMostSignificantByteFirst) {
    Buf b = guarded();
    rbf::put_be24(b.data() + 1, 0x123456);
    EXPECT_EQ(b[0], 0xA5);
    EXPECT_EQ(b[1], 0x12);
    EXPECT_EQ(b[2], 0x34);
    EXPECT_EQ(b[3], 0x56);
    EXPECT_EQ(b[4], 0xA5);
}

TEST(BigEndian, Put32StoresMostSignificantByteFirst) {
    Buf b = guarded();
    rbf::put_be32(b.data() + 1, 0x12345678);
    EXPECT_EQ(b[0], 0xA5);
    EXPECT_EQ(b[1], 0x12);
    EXPECT_EQ(b[2], 0x34);
    EXPECT_EQ(b[3], 0x56);
    EXPECT_EQ(b[4], 0x78);
    EXPECT_EQ(b[5], 0xA5);
}

TEST(BigEndian, GetReadsMostSignificantByteFirstWithoutSignExtension) {
    const unsigned char p[] = {0x81, 0x92, 0xA3, 0xB4};
    EXPECT_EQ(rbf::get_be16(p), 0x8192u);
    EXPECT_EQ(rbf::get_be24(p), 0x8192A3u);
    EXPECT_EQ(rbf::get_be32(p), 0x8192A3B4u);
    const unsigned char ff[] = {0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(rbf::get_be16(ff), 0xFFFFu);
    EXPECT_EQ(rbf::get_be24(ff), 0xFFFFFFu);
    EXPECT_EQ(rbf::get_be32(ff), 0xFFFFFFFFu);
}

TEST(BigEndian, PutKeepsOnlyTheLowBytesOfWideValues) {
    Buf b = guarded();
    rbf::put_be16(b.data(), 0xABCD1234u);
    EXPECT_EQ(b[0], 0x12);
    EXPECT_EQ(b[1], 0x34);
    EXPECT_EQ(b[2], 0xA5);
    b = guarded();
    rbf::put_be24(b.data(), 0xAB123456u);
    EXPECT_EQ(b[0], 0x12);
    EXPECT_EQ(b[1], 0x34);
    EXPECT_EQ(b[2], 0x56);
    EXPECT_EQ(b[3], 0xA5);
}

TEST(BigEndian, Every16BitValueRoundTrips) {
    for (std::uint32_t v = 0; v <= 0xFFFF; ++v) {
        Buf b = guarded();
        rbf::put_be16(b.data() + 2, v);
        ASSERT_EQ(b[2], v >> 8) << v;
        ASSERT_EQ(b[3], v & 0xFF) << v;
        ASSERT_EQ(rbf::get_be16(b.data() + 2), v) << v;
        ASSERT_EQ(b[1], 0xA5);
        ASSERT_EQ(b[4], 0xA5);
    }
}

TEST(BigEndian, Every16BitByteTwoReadsBack) {
    // The get side on its own: every pair of bytes, built by hand.
    for (int hi = 0; hi < 256; ++hi) {
        for (int lo = 0; lo < 256; ++lo) {
            const unsigned char p[] = {static_cast<unsigned char>(hi), static_cast<unsigned char>(lo)};
            ASSERT_EQ(rbf::get_be16(p), static_cast<std::uint32_t>(hi * 256 + lo));
        }
    }
}

TEST(BigEndian, Sampled24BitValuesRoundTrip) {
    // Every value whose middle byte is one of a spread, plus the corners.
    for (std::uint32_t v = 0; v <= 0xFFFFFF; v += 0x101 + (v & 7)) {
        Buf b = guarded();
        rbf::put_be24(b.data() + 2, v);
        ASSERT_EQ(b[2], (v >> 16) & 0xFF) << v;
        ASSERT_EQ(b[3], (v >> 8) & 0xFF) << v;
        ASSERT_EQ(b[4], v & 0xFF) << v;
        ASSERT_EQ(rbf::get_be24(b.data() + 2), v) << v;
        ASSERT_EQ(b[1], 0xA5);
        ASSERT_EQ(b[5], 0xA5);
    }
    for (std::uint32_t v : sample32()) {
        Buf b = guarded();
        rbf::put_be24(b.data(), v);
        ASSERT_EQ(rbf::get_be24(b.data()), v & 0xFFFFFF) << v;
        ASSERT_EQ(b[3], 0xA5);
    }
}

TEST(BigEndian, Sampled32BitValuesRoundTrip) {
    for (std::uint32_t v : sample32()) {
        Buf b = guarded();
        rbf::put_be32(b.data() + 2, v);
        ASSERT_EQ(b[2], (v >> 24) & 0xFF) << v;
        ASSERT_EQ(b[3], (v >> 16) & 0xFF) << v;
        ASSERT_EQ(b[4], (v >> 8) & 0xFF) << v;
        ASSERT_EQ(b[5], v & 0xFF) << v;
        ASSERT_EQ(rbf::get_be32(b.data() + 2), v) << v;
        ASSERT_EQ(b[1], 0xA5);
        ASSERT_EQ(b[6], 0xA5);
    }
}

TEST(BigEndian, NarrowerReadsSeeTheHighPartOfAWiderNumber) {
    // A 32-bit number read back as 16 and 24 bits from the same place gives
    // its leading bytes: the order is the same at every width.
    Buf b = guarded();
    rbf::put_be32(b.data(), 0xCAFEBABE);
    EXPECT_EQ(rbf::get_be16(b.data()), 0xCAFEu);
    EXPECT_EQ(rbf::get_be24(b.data()), 0xCAFEBAu);
    EXPECT_EQ(rbf::get_be16(b.data() + 2), 0xBABEu);
    EXPECT_EQ(rbf::get_be24(b.data() + 1), 0xFEBABEu);
}
