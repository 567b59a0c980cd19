// The container encoders: every JVC, VDK and DMK image they make is read
// back by the tests' own reader of the format (header fields, ID fields and
// CRCs, table offsets at FE marks, sectors where their IDs say), and gives
// the disk's sectors back byte for byte.  Then the geometries refused, the
// tracks LSN 0 describes, and the offsets of partitions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "container_bytes.h"
#include "image_builder.h"
#include "rbf/container_write.h"
#include "rbf/pathlist.h"
#include "rbf/littleendian.h"

namespace {

using dvtest::bytes;
using rbf::container_fit;
using rbf::container_kind;
using fault = rbf::container_fit::fault;

// `sectors` sectors, each told apart from every other by its bytes.
bytes patterned(std::uint32_t sectors) {
    bytes d(std::size_t{sectors} * 256);
    for (std::size_t i = 0; i < d.size(); ++i) d[i] = static_cast<unsigned char>((i / 256) * 7 + i * 13 + (i >> 11));
    return d;
}

struct EncodeCase {
    const char* name;
    container_kind kind;
    std::uint32_t spt, sides, sectors;  // the disk: `sectors` sectors
    std::uint32_t cylinders;            // the container's, whole tracks
    bytes header;                       // JVC, VDK: the exact header
    std::size_t dmk_track = 0;          // DMK: the track length
};

class Encode : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(Encode, ReadsBackAsTheFormatDescribesIt) {
    const EncodeCase& c = GetParam();
    const bytes disk = patterned(c.sectors);
    bytes out;
    ASSERT_EQ(rbf::encode_container(c.kind, disk, {c.spt, c.sides, 0}, &out), 0);
    const char* kinds[] = {"raw", "jvc", "vdk", "dmk"};
    const dvtest::unpacked u = dvtest::unpack(kinds[static_cast<int>(c.kind)], out);
    ASSERT_EQ(u.fault, "");
    EXPECT_EQ(u.sectors, c.spt);
    EXPECT_EQ(u.sides, c.sides);
    EXPECT_EQ(u.cylinders, c.cylinders);
    bytes padded = disk;
    padded.resize(std::size_t{c.cylinders} * c.sides * c.spt * 256, 0);
    EXPECT_TRUE(u.disk == padded) << "the sectors did not come back";
    if (c.kind == container_kind::dmk) {
        EXPECT_EQ(rbf::get_le16(out.data() + 2), c.dmk_track);
    } else {
        EXPECT_EQ(bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(c.header.size())), c.header);
    }
}

const bytes kVdk1 = {'d', 'k', 12, 0, 0x10, 0x10, 0, 0, 35, 1, 0, 0};
const bytes kVdk2 = {'d', 'k', 12, 0, 0x10, 0x10, 0, 0, 40, 2, 0, 0};

INSTANTIATE_TEST_SUITE_P(
    Containers, Encode,
    ::testing::Values(EncodeCase{"jvc_default_has_no_header", container_kind::jvc, 18, 1, 630, 35, {}},
                      EncodeCase{"jvc_two_sides", container_kind::jvc, 18, 2, 1440, 40, {18, 2}},
                      EncodeCase{"jvc_partial_track_padded", container_kind::jvc, 10, 1, 25, 3, {10, 1}},
                      EncodeCase{"vdk_one_side", container_kind::vdk, 18, 1, 630, 35, kVdk1},
                      EncodeCase{"vdk_two_sides", container_kind::vdk, 18, 2, 1440, 40, kVdk2},
                      EncodeCase{"dmk_one_side", container_kind::dmk, 18, 1, 630, 35, {}, 0x1900},
                      EncodeCase{"dmk_two_sides", container_kind::dmk, 18, 2, 1440, 40, {}, 0x1900},
                      EncodeCase{"dmk_ten_sectors_partial", container_kind::dmk, 10, 2, 33, 2, {}, 0x1900},
                      EncodeCase{"dmk_36_sectors_longer_track", container_kind::dmk, 36, 2, 144, 2, {}, 12488},
                      EncodeCase{"dmk_47_sectors_at_the_limit", container_kind::dmk, 47, 1, 47, 1, {}, 16250}),
    [](const auto& info) { return std::string(info.param.name); });

// The reader above would pass a broken encoder only if it missed such
// faults: each flip must be seen.
TEST(Encode, TheTestsReaderSeesADamagedDmk) {
    const bytes disk = patterned(36);
    bytes good;
    ASSERT_EQ(rbf::encode_container(container_kind::dmk, disk, {18, 2, 0}, &good), 0);
    const std::size_t track1 = 16 + 0x1900;  // cylinder 0, side 1
    const std::size_t fe = track1 + (rbf::get_le16(good.data() + track1 + 2) & 0x3FFF);  // its second sector
    const std::vector<std::pair<std::size_t, int>> flips = {
        {fe + 3, 1},         // R: the ID's CRC
        {fe + 7 + 50, 1},    // a data byte: the data CRC
        {track1 + 2, 1},     // the table entry: no FE there
        {1, 1},              // cylinders: the file's size
        {4, 0x10},           // one side: the file's size
        {fe - 5, 0x4E},      // the sync before the ID
    };
    for (const auto& [at, by] : flips) {
        bytes bad = good;
        bad[at] = static_cast<unsigned char>(bad[at] + by);
        EXPECT_NE(dvtest::unpack_dmk(bad).fault, "") << "byte " << at;
    }
}

TEST(Encode, RawIsTheBytesAsTheyAre) {
    const bytes disk = {1, 2, 3};  // not even a sector
    bytes out;
    ASSERT_EQ(rbf::encode_container(container_kind::raw, disk, {18, 1, 0}, &out), 0);
    EXPECT_EQ(out, disk);
}

struct FitCase {
    container_kind kind;
    rbf::track_geometry g;
    std::uint64_t bytes;
    fault what;
    std::uint64_t limit;
};

TEST(Encode, GeometriesTheContainerCannotHoldAreRefusedAndNothingMade) {
    const std::vector<FitCase> cases = {
        {container_kind::vdk, {20, 1, 0}, 5120, fault::sectors_per_track, 18},
        {container_kind::vdk, {18, 1, 2}, 18 * 256 * 3, fault::too_short, 3},
        {container_kind::vdk, {18, 2, 0}, 256ull * 18 * 2 * 256, fault::cylinders, 255},
        {container_kind::dmk, {48, 1, 0}, 256, fault::sectors_per_track, 47},
        {container_kind::dmk, {0, 1, 0}, 256, fault::sectors_per_track, 47},
        {container_kind::dmk, {18, 1, 0}, 256ull * 18 * 256, fault::cylinders, 255},
        {container_kind::dmk, {18, 3, 0}, 256, fault::sides, 2},
        {container_kind::jvc, {256, 1, 0}, 256, fault::sectors_per_track, 255},
        {container_kind::jvc, {18, 0, 0}, 256, fault::sides, 2},
        {container_kind::imd, {18, 1, 0}, 256, fault::not_written, 0},
        {container_kind::dmk, {47, 2, 255}, 47ull * 2 * 255 * 256, fault::none, 0},
        {container_kind::raw, {0, 9, 0}, 1, fault::none, 0},
    };
    for (const FitCase& c : cases) {
        const container_fit fit = rbf::container_fits(c.kind, c.g, c.bytes);
        EXPECT_EQ(fit.what, c.what) << static_cast<int>(c.kind) << " " << c.g.sectors_per_track;
        EXPECT_EQ(fit.limit, c.limit) << static_cast<int>(c.kind) << " " << c.g.sectors_per_track;
        if (c.what == fault::none || c.bytes > (1u << 20)) continue;
        bytes out = {0x55};
        EXPECT_EQ(rbf::encode_container(c.kind, bytes(c.bytes), c.g, &out), 1);
        EXPECT_EQ(out, bytes{0x55});
    }
}

TEST(Encode, CrcIsCcittFromFFFF) {
    const unsigned char check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(rbf::crc16_ccitt(check), 0x29B1);
    const bytes d = patterned(3);
    EXPECT_EQ(rbf::crc16_ccitt(d), dvtest::crc_ccitt(d.data(), d.size()));
}

TEST(Encode, LittleEndianFieldsLowByteFirst) {
    unsigned char b[6] = {0xA5, 0, 0, 0, 0, 0xA5};
    rbf::put_le32(b + 1, 0x12345678);
    EXPECT_EQ(bytes(b, b + 6), (bytes{0xA5, 0x78, 0x56, 0x34, 0x12, 0xA5}));
    EXPECT_EQ(rbf::get_le32(b + 1), 0x12345678u);
    rbf::put_le16(b + 1, 0xBEEF);
    EXPECT_EQ(rbf::get_le16(b + 1), 0xBEEFu);
    EXPECT_EQ(b[3], 0x34);
}

// LSN 0 as a test writes it: dd_tot, dd_tks, dd_fmt, dd_spt.
struct Lsn0Case {
    int total, tks, fmt, spt;
    std::uint64_t file_bytes;
    int error;
    rbf::track_geometry want;
};

TEST(Encode, TracksComeFromLsn0) {
    const std::vector<Lsn0Case> cases = {
        {630, 18, 2, 18, 630 * 256, 0, {18, 1, 35}},
        {1440, 18, 3, 18, 1440 * 256, 0, {18, 2, 40}},
        {630, 0, 0, 10, 630 * 256, 0, {10, 1, 63}},      // dd_tks 0: dd_spt
        {630, 18, 2, 18, 640 * 256, 0, {18, 1, 36}},     // a file longer than dd_tot
        {630, 18, 2, 18, 100 * 256, 0, {18, 1, 35}},     // shorter: dd_tot still
        {630, 0, 2, 0, 630 * 256, 249, {}},              // no sectors per track
    };
    for (const Lsn0Case& c : cases) {
        dvtest::ImageBuilder b(c.total);
        bytes img = b.image();
        img[3] = static_cast<unsigned char>(c.tks);
        img[16] = static_cast<unsigned char>(c.fmt);
        dvtest::put_be(img.data() + 17, 2, static_cast<std::uint32_t>(c.spt));
        rbf::track_geometry g;
        ASSERT_EQ(rbf::geometry_from_lsn0(img.data(), c.file_bytes, &g), c.error) << c.total << " " << c.spt;
        if (c.error) continue;
        EXPECT_EQ(g.sectors_per_track, c.want.sectors_per_track);
        EXPECT_EQ(g.sides, c.want.sides);
        EXPECT_EQ(g.cylinders, c.want.cylinders) << c.file_bytes;
    }
    bytes not_a_disk(256, 0);
    rbf::track_geometry g;
    EXPECT_EQ(rbf::geometry_from_lsn0(not_a_disk.data(), 256, &g), 249);
}

TEST(PartitionOffset, BytesHexOrSectors) {
    const std::vector<std::pair<std::string, std::int64_t>> cases = {
        {"0", 0},
        {"4096", 4096},
        {"0x1000", 4096},
        {"0X1a", 26},
        {"16s", 4096},
        {"0x10s", 4096},
        {"9223372036854775807", INT64_MAX},
        {"36028797018963967s", INT64_MAX - 255},
        {"", -1},
        {"s", -1},
        {"0x", -1},
        {"0xs", -1},
        {"12a", -1},
        {"-1", -1},
        {" 1", -1},
        {"16S", -1},
        {"9223372036854775808", -1},
        {"36028797018963968s", -1},
        {"0x8000000000000000", -1},
    };
    for (const auto& [text, want] : cases) {
        std::uint64_t got = 77;
        const bool ok = rbf::parse_partition_offset(text, &got);
        EXPECT_EQ(ok, want >= 0) << "'" << text << "'";
        EXPECT_EQ(got, want >= 0 ? static_cast<std::uint64_t>(want) : 77u) << "'" << text << "'";
    }
}

}  // namespace
