// Allocation bitmap operations: bit k is byte k / 8 under the mask
// 0x80 >> (k % 8), most significant bit first.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <span>
#include <vector>

#include "os9path.h"
#include "os9sys.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<unsigned char>;

using dvtest::map_bit;

// Reference model of a bitmap, bit by bit from the layout.
void set_ref(Bytes& b, long long first, long long num, bool on, std::size_t limit_bytes) {
    for (long long k = first; k < first + num; ++k) {
        if (k < 0 || static_cast<std::size_t>(k / 8) >= limit_bytes) continue;
        unsigned char m = static_cast<unsigned char>(0x80 >> (k % 8));
        auto& byte = b[static_cast<std::size_t>(k / 8)];
        byte = on ? (byte | m) : (byte & ~m);
    }
}

// Small deterministic generator for the random comparisons.
struct Lcg {
    std::uint32_t x;
    std::uint32_t next() {
        x = x * 1103515245u + 12345u;
        return x >> 8;
    }
};

}  // namespace

// ---- _os9_allbit / _os9_delbit -------------------------------------------------

TEST(AllBit, FirstBitIsTheMostSignificantBitOfByteZero) {
    Bytes b(4, 0);
    EXPECT_EQ(rbf::_os9_allbit(b, 0, 1), 0);
    EXPECT_EQ(b, (Bytes{0x80, 0, 0, 0}));
}

TEST(AllBit, RunCrossesIntoTheNextByte) {
    Bytes b(4, 0);
    EXPECT_EQ(rbf::_os9_allbit(b, 7, 2), 0);
    EXPECT_EQ(b, (Bytes{0x01, 0x80, 0, 0}));
}

TEST(AllBit, LongRunCoversWholeBytesAndPartialEnds) {
    Bytes b(8, 0);
    rbf::_os9_allbit(b, 3, 30);  // bits 3 .. 32
    EXPECT_EQ(b, (Bytes{0x1F, 0xFF, 0xFF, 0xFF, 0x80, 0, 0, 0}));
    Bytes c(8, 0);
    rbf::_os9_allbit(c, 8, 16);  // exactly bytes 1 and 2
    EXPECT_EQ(c, (Bytes{0, 0xFF, 0xFF, 0, 0, 0, 0, 0}));
    Bytes d(8, 0);
    rbf::_os9_allbit(d, 13, 2);  // inside one byte
    EXPECT_EQ(d, (Bytes{0, 0x06, 0, 0, 0, 0, 0, 0}));
}

TEST(AllBit, LeavesOtherBitsAsTheyWere) {
    Bytes b = {0x42, 0x00, 0x18, 0x81};
    rbf::_os9_allbit(b, 9, 5);  // bits 9..13 of byte 1: 0x7C
    EXPECT_EQ(b, (Bytes{0x42, 0x7C, 0x18, 0x81}));
}

TEST(DelBit, ClearsTheSameRunsAllBitSets) {
    Bytes b(8, 0xFF);
    EXPECT_EQ(rbf::_os9_delbit(b, 0, 1), 0);
    EXPECT_EQ(b[0], 0x7F);
    Bytes c(8, 0xFF);
    rbf::_os9_delbit(c, 7, 2);
    EXPECT_EQ(c, (Bytes{0xFE, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    Bytes d(8, 0xFF);
    rbf::_os9_delbit(d, 3, 30);
    EXPECT_EQ(d, (Bytes{0xE0, 0, 0, 0, 0x7F, 0xFF, 0xFF, 0xFF}));
}

TEST(AllBitDelBit, RunOfZeroOrNegativeLengthChangesNothing) {
    Bytes b = {0x5A, 0xA5, 0x0F};
    const Bytes before = b;
    rbf::_os9_allbit(b, 3, 0);
    rbf::_os9_allbit(b, 3, -5);
    rbf::_os9_delbit(b, 1, 0);
    rbf::_os9_delbit(b, 1, -1);
    EXPECT_EQ(b, before);
}

TEST(AllBitDelBit, RunIsClippedAtTheEndOfTheSpan) {
    // A span over the first two bytes of a longer buffer: the bytes after
    // it are not the bitmap and must stay as they are.
    Bytes store(4, 0);
    std::span<unsigned char> two(store.data(), 2);
    rbf::_os9_allbit(two, 12, 20);
    EXPECT_EQ(store, (Bytes{0x00, 0x0F, 0x00, 0x00}));
    rbf::_os9_allbit(two, 16, 8);  // wholly outside
    EXPECT_EQ(store, (Bytes{0x00, 0x0F, 0x00, 0x00}));

    Bytes full(4, 0xFF);
    std::span<unsigned char> one(full.data(), 1);
    rbf::_os9_delbit(one, 4, 100);
    EXPECT_EQ(full, (Bytes{0xF0, 0xFF, 0xFF, 0xFF}));

    Bytes none(2, 0);
    rbf::_os9_allbit(std::span<unsigned char>(none.data(), 0), 0, 16);
    EXPECT_EQ(none, (Bytes{0, 0}));
}

TEST(AllBitDelBit, RunNearTheLargestBitNumberChangesNothingAndDoesNotOverflow) {
    Bytes b(4, 0x00);
    rbf::_os9_allbit(b, INT_MAX - 3, 100);
    rbf::_os9_allbit(b, INT_MAX, INT_MAX);
    EXPECT_EQ(b, (Bytes{0, 0, 0, 0}));
    Bytes c(4, 0xFF);
    rbf::_os9_delbit(c, INT_MAX - 3, 100);
    EXPECT_EQ(c, (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
    // A long run from inside the span still stops at its end.
    Bytes store(6, 0);
    rbf::_os9_allbit(std::span<unsigned char>(store.data(), 4), 30, INT_MAX);
    EXPECT_EQ(store, (Bytes{0, 0, 0, 0x03, 0, 0}));
    EXPECT_NE(rbf::_os9_ckbit(store, INT_MAX), 0);
    // The formatter's runs as well.
    Bytes d(4, 0x00);
    rbf::_os9_allocate_bits(d.data(), d.size(), INT_MAX - 3, 100);
    rbf::_os9_allocate_bits(d.data(), d.size(), 30, INT_MAX);
    EXPECT_EQ(d, (Bytes{0, 0, 0, 0x03}));
}

TEST(AllBitDelBit, MatchBitByBitModelOnRandomRuns) {
    Lcg g{7};
    for (int round = 0; round < 3000; ++round) {
        Bytes b(16);
        for (auto& x : b) x = static_cast<unsigned char>(g.next());
        std::size_t span_bytes = g.next() % 17;  // 0..16 bytes of it are the bitmap
        int first = static_cast<int>(g.next() % 140);
        int num = static_cast<int>(g.next() % 70) - 5;
        bool on = g.next() & 1;
        Bytes expect = b;
        set_ref(expect, first, num, on, span_bytes);
        std::span<unsigned char> s(b.data(), span_bytes);
        if (on) rbf::_os9_allbit(s, first, num);
        else rbf::_os9_delbit(s, first, num);
        ASSERT_EQ(b, expect) << "first " << first << " num " << num << " on " << on << " span " << span_bytes;
    }
}

// ---- _os9_ckbit -----------------------------------------------------------------

TEST(CkBit, ReturnsTheMaskOfASetBitAndZeroForAClearOne) {
    Bytes b(2, 0);
    b[0] = 0x10;  // bit 3
    EXPECT_EQ(rbf::_os9_ckbit(b, 3), 0x10);
    EXPECT_EQ(rbf::_os9_ckbit(b, 2), 0);
    EXPECT_EQ(rbf::_os9_ckbit(b, 4), 0);
    b[1] = 0x01;  // bit 15
    EXPECT_EQ(rbf::_os9_ckbit(b, 15), 0x01);
    EXPECT_EQ(rbf::_os9_ckbit(b, 8), 0);
}

TEST(CkBit, AgreesWithTheLayoutForEveryBit) {
    Bytes b = {0xA5, 0x3C, 0x00, 0xFF, 0x81};
    for (int k = 0; k < 40; ++k) {
        int mask = 0x80 >> (k % 8);
        EXPECT_EQ(rbf::_os9_ckbit(b, k), map_bit(b, k) ? mask : 0) << k;
    }
}

TEST(CkBit, BitsOutsideTheSpanReadAsInUse) {
    Bytes store = {0x00, 0x00, 0x00};
    std::span<const unsigned char> one(store.data(), 1);
    EXPECT_EQ(rbf::_os9_ckbit(one, 7), 0);
    EXPECT_NE(rbf::_os9_ckbit(one, 8), 0);
    EXPECT_NE(rbf::_os9_ckbit(one, 1000), 0);
    EXPECT_NE(rbf::_os9_ckbit(std::span<const unsigned char>(), 0), 0);
}

// ---- _os9_getfreebit ----------------------------------------------------------------

TEST(GetFreeBit, ReturnsAndSetsTheLowestClearBit) {
    Bytes b(4, 0);
    rbf::_os9_allbit(b, 0, 10);  // bits 0..9 in use
    EXPECT_EQ(rbf::_os9_getfreebit(b, 32), 10);
    EXPECT_EQ(b[1], 0xE0);  // bit 10 now set as well
    EXPECT_EQ(rbf::_os9_getfreebit(b, 32), 11);
    EXPECT_EQ(b[1], 0xF0);
}

TEST(GetFreeBit, NoClearBitBelowTotalGivesMinusOne) {
    Bytes b(4, 0);
    rbf::_os9_allbit(b, 0, 10);
    const Bytes before = b;
    EXPECT_EQ(rbf::_os9_getfreebit(b, 10), -1);
    EXPECT_EQ(b, before);
    EXPECT_EQ(rbf::_os9_getfreebit(b, 2), -1);
    EXPECT_EQ(rbf::_os9_getfreebit(b, 0), -1);
    EXPECT_EQ(b, before);
}

TEST(GetFreeBit, NeverReturnsBitZeroOrOne) {
    Bytes b(2, 0);
    EXPECT_EQ(rbf::_os9_getfreebit(b, 16), 2);
    EXPECT_EQ(b[0], 0x20);
    Bytes c = {0x20, 0x00};  // only bit 2 in use; 0 and 1 free
    EXPECT_EQ(rbf::_os9_getfreebit(c, 16), 3);
    EXPECT_EQ(c[0], 0x30);
    Bytes d = {0x20, 0x00};
    EXPECT_EQ(rbf::_os9_getfreebit(d, 3), -1);
    EXPECT_EQ(d[0], 0x20);
}

TEST(GetFreeBit, FindsAFreeBitBehindFullBytes) {
    Bytes b(8, 0xFF);
    b[5] = 0xFB;  // bit 45 free
    EXPECT_EQ(rbf::_os9_getfreebit(b, 64), 45);
    EXPECT_EQ(b[5], 0xFF);
    EXPECT_EQ(rbf::_os9_getfreebit(b, 64), -1);
}

TEST(GetFreeBit, BitsOutsideTheSpanAreNotFree) {
    Bytes store = {0xFF, 0x00};
    std::span<unsigned char> one(store.data(), 1);
    EXPECT_EQ(rbf::_os9_getfreebit(one, 16), -1);
    EXPECT_EQ(store[1], 0x00);
}

TEST(GetFreeBit, SuccessiveCallsTakeAscendingBitsUntilFull) {
    Bytes b(3, 0);
    rbf::_os9_allbit(b, 0, 2);
    for (int expect = 2; expect < 20; ++expect) ASSERT_EQ(rbf::_os9_getfreebit(b, 20), expect);
    EXPECT_EQ(rbf::_os9_getfreebit(b, 20), -1);
    EXPECT_EQ(b, (Bytes{0xFF, 0xFF, 0xF0}));
}

// ---- the formatter's bit runs ------------------------------------------------------------

TEST(FormatterBits, AllocateAndDeleteSetAndClearTheRun) {
    Bytes b(4, 0);
    EXPECT_EQ(rbf::_os9_allocate_bits(b.data(), b.size(), 0, 1), 0);
    EXPECT_EQ(b, (Bytes{0x80, 0, 0, 0}));
    EXPECT_EQ(rbf::_os9_allocate_bits(b.data(), b.size(), 7, 2), 0);
    EXPECT_EQ(b, (Bytes{0x81, 0x80, 0, 0}));
    EXPECT_EQ(rbf::_os9_delete_bits(b.data(), b.size(), 0, 8), 0);
    EXPECT_EQ(b, (Bytes{0x00, 0x80, 0, 0}));
}

TEST(FormatterBits, RunIsClippedToTheGivenBytes) {
    Bytes b(4, 0);
    rbf::_os9_allocate_bits(b.data(), 2, 12, 20);
    EXPECT_EQ(b, (Bytes{0x00, 0x0F, 0x00, 0x00}));
    Bytes c(4, 0xFF);
    rbf::_os9_delete_bits(c.data(), 1, 4, 100);
    EXPECT_EQ(c, (Bytes{0xF0, 0xFF, 0xFF, 0xFF}));
    Bytes d(2, 0);
    rbf::_os9_allocate_bits(d.data(), 2, 3, 0);
    rbf::_os9_allocate_bits(d.data(), 2, 3, -4);
    EXPECT_EQ(d, (Bytes{0, 0}));
}

TEST(FormatterBits, SameEffectAsAllBitAndDelBit) {
    Lcg g{99};
    for (int round = 0; round < 3000; ++round) {
        Bytes a(12);
        for (auto& x : a) x = static_cast<unsigned char>(g.next());
        Bytes b = a;
        Bytes model = a;
        std::size_t bytes = g.next() % 13;
        int first = static_cast<int>(g.next() % 110);
        int num = static_cast<int>(g.next() % 60) - 3;
        bool on = g.next() & 1;
        std::span<unsigned char> s(a.data(), bytes);
        if (on) {
            rbf::_os9_allbit(s, first, num);
            rbf::_os9_allocate_bits(b.data(), bytes, first, num);
        } else {
            rbf::_os9_delbit(s, first, num);
            rbf::_os9_delete_bits(b.data(), bytes, first, num);
        }
        set_ref(model, first, num, on, bytes);
        ASSERT_EQ(a, b) << "first " << first << " num " << num << " on " << on << " bytes " << bytes;
        ASSERT_EQ(b, model) << "first " << first << " num " << num << " on " << on << " bytes " << bytes;
    }
}
