// dvinit run as a user runs it: the images it writes are compared byte for
// byte with the layout of a freshly formatted disk.
#include <gtest/gtest.h>

#include <cstring>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "image_builder.h"
#include "run_program.h"
#include "test_support.h"
#include "tree_check.h"

namespace {

using dvtest::be;
using dvtest::bytes;
using dvtest::local_date;
using dvtest::put_be;
using dvtest::run_gave;
using dvtest::run_program;
using dvtest::slice;
using dvtest::TempDir;

const std::string kHelp =
    "Syntax: dvinit {[<opts>]} <disk> {[<...>]} {[<opts>]}\n"
    "Usage:  formats a virtual disk\n"
    "Options:\n"
    "     -t<tracks>\n"
    "     -s<sectors/track>\n"
    "     -n<disk name>\n"
    "     -1 = 1 side\n"
    "     -2 = 2 sides\n"
    "     -c = cluser size\n"
    "     -i<disk ID>\n"
    "     -f<container> = raw, jvc, vdk or dmk (also --to <container>);\n"
    "                     default from the disk's extension, else raw\n";

// A run of dvinit with the local date just before and just after it.
struct Formatted {
    dvtest::Run run;
    bytes date_before, date_after;
};

Formatted format(const TempDir& dir, const std::vector<std::string>& args) {
    Formatted f;
    f.date_before = local_date(std::time(nullptr));
    f.run = run_program("dvinit", args, dir.path());
    f.date_after = local_date(std::time(nullptr));
    return f;
}

bool exists(const std::string& path) { return std::filesystem::exists(path); }

bool dir_is_empty(const TempDir& dir) {
    return std::filesystem::directory_iterator(dir.path()) == std::filesystem::directory_iterator();
}

bytes read_head(const std::string& path, std::size_t n, std::size_t at = 0) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(at));
    bytes b(n);
    in.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(n));
    b.resize(static_cast<std::size_t>(in.gcount()));
    return b;
}

// The date in LSN 0 and the root FD: one of the two dates around the run,
// the same in all three places.  Returns the 5 bytes found.
bytes check_dates(const bytes& img, const Formatted& f) {
    bytes date = slice(img, 26, 5);
    EXPECT_TRUE(date == f.date_before || date == f.date_after) << "formatting date is not the current local time";
    int dd_dir = static_cast<int>(be(img.data() + 8, 3));
    const std::size_t fd = static_cast<std::size_t>(dd_dir) * 256;
    EXPECT_EQ(slice(img, fd + 3, 5), date) << "root FD date";
    EXPECT_EQ(slice(img, fd + 13, 3), slice(date, 0, 3)) << "root FD creation date";
    return date;
}

// The disk ID in LSN 0 (dd_dsk), which a new disk draws at random: never 0.
std::uint16_t own_id(const bytes& img) {
    const auto id = static_cast<std::uint16_t>(img.size() >= 16 ? be(img.data() + 14, 2) : 0);
    EXPECT_NE(id, 0) << "a disk ID of 0";
    return id;
}

// Index of the first differing byte, for readable failures.
std::string first_difference(const bytes& got, const bytes& want) {
    if (got.size() != want.size())
        return "size " + std::to_string(got.size()) + " instead of " + std::to_string(want.size());
    for (std::size_t i = 0; i < got.size(); ++i)
        if (got[i] != want[i])
            return "byte " + std::to_string(i) + " (LSN " + std::to_string(i / 256) + " offset " +
                   std::to_string(i % 256) + ") is " + std::to_string(got[i]) + " instead of " +
                   std::to_string(want[i]);
    return "";
}

// A formatted disk of the given geometry, from the layout rules: LSN 0, the
// bitmap in dd_map / 256 + 1 sectors, the root FD right after it with one
// segment of 7 data sectors, the rest zero.
bytes expected_image(int tracks, int spt, int sides, const std::string& name, const bytes& date, std::uint16_t id) {
    const int total = tracks * spt * sides;
    const int map = total / 8 + 1;
    const int bitmap_sectors = map / 256 + 1;
    const int dd_dir = map / 256 + 2;
    bytes img(static_cast<std::size_t>(total) * 256, 0);
    unsigned char* s0 = img.data();
    put_be(s0 + 0, 3, static_cast<std::uint32_t>(total));
    s0[3] = static_cast<unsigned char>(spt);
    put_be(s0 + 4, 2, static_cast<std::uint32_t>(map));
    put_be(s0 + 6, 2, 1);
    put_be(s0 + 8, 3, static_cast<std::uint32_t>(dd_dir));
    s0[13] = 0xFF;
    put_be(s0 + 14, 2, id);
    s0[16] = static_cast<unsigned char>(sides + 1);
    put_be(s0 + 17, 2, static_cast<std::uint32_t>(spt));
    std::copy(date.begin(), date.end(), s0 + 26);
    bytes nm = dvtest::os9_name(name);
    std::copy(nm.begin(), nm.end(), s0 + 31);
    s0[63] = 1;
    s0[64] = 1;
    s0[66] = 0x20;
    s0[67] = 1;
    put_be(s0 + 68, 2, static_cast<std::uint32_t>(tracks));
    s0[70] = static_cast<unsigned char>(sides);
    put_be(s0 + 72, 2, static_cast<std::uint32_t>(spt));
    put_be(s0 + 74, 2, static_cast<std::uint32_t>(spt));
    s0[76] = 3;
    s0[77] = 8;
    const int in_use = 1 + bitmap_sectors + 8;
    for (int k = 0; k < bitmap_sectors * 256 * 8; ++k)
        if (k < in_use || k >= total) img[256 + k / 8] |= static_cast<unsigned char>(0x80 >> (k % 8));
    unsigned char* fd = img.data() + static_cast<std::size_t>(dd_dir) * 256;
    fd[0] = 0xBF;
    std::copy(date.begin(), date.end(), fd + 3);
    fd[8] = 1;
    put_be(fd + 9, 4, 64);
    std::copy(date.begin(), date.begin() + 3, fd + 13);
    put_be(fd + 16, 3, static_cast<std::uint32_t>(dd_dir + 1));
    put_be(fd + 19, 2, 7);
    unsigned char* data = fd + 256;
    data[0] = 0x2E;
    data[1] = 0xAE;
    put_be(data + 29, 3, static_cast<std::uint32_t>(dd_dir));
    data[32] = 0xAE;
    put_be(data + 61, 3, static_cast<std::uint32_t>(dd_dir));
    return img;
}

// Formats `disk` with `options`, expects success and an image equal to the
// layout of that geometry, with disk ID `id` (-1: any but 0); returns the image.
bytes format_and_compare(const TempDir& dir, const std::vector<std::string>& options, int tracks, int spt,
                         int sides, const std::string& name = "CoCo Disk", int id = -1) {
    std::vector<std::string> args = options;
    args.push_back("disk.dsk");
    std::filesystem::remove(dir / "disk.dsk");
    Formatted f = format(dir, args);
    EXPECT_EQ(f.run.status, 0);
    EXPECT_EQ(f.run.out, "");
    EXPECT_EQ(f.run.err, "");
    bytes img = dvtest::read_file(dir / "disk.dsk");
    if (img.size() < 512) {
        ADD_FAILURE() << "no image written";
        return img;
    }
    bytes date = check_dates(img, f);
    const std::uint16_t want_id = id < 0 ? own_id(img) : static_cast<std::uint16_t>(id);
    EXPECT_EQ(first_difference(img, expected_image(tracks, spt, sides, name, date, want_id)), "");
    EXPECT_TRUE(dvtest::check_tree(img).empty());
    EXPECT_TRUE(dvtest::list_tree(img).empty());
    return img;
}

// ---- the default image ---------------------------------------------------

TEST(DvInitProgram, DefaultImageMatchesTheFormatTableByteForByte) {
    TempDir dir;
    Formatted f = format(dir, {"disk.dsk"});
    EXPECT_EQ(f.run.status, 0);
    EXPECT_EQ(f.run.out, "");
    EXPECT_EQ(f.run.err, "");
    bytes img = dvtest::read_file(dir / "disk.dsk");
    ASSERT_EQ(img.size(), 161280u);
    bytes date = check_dates(img, f);

    bytes want(161280, 0);
    auto put = [&](std::size_t at, const bytes& b) { std::copy(b.begin(), b.end(), want.begin() + static_cast<long>(at)); };
    // Bytes 14 and 15, the disk's own ID, are compared on their own.
    put(0, {0x00, 0x02, 0x76, 0x12, 0x00, 0x4F, 0x00, 0x01, 0x00, 0x00, 0x02, 0x00, 0x00,
            0xFF, 0x00, 0x00, 0x02, 0x00, 0x12, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
    put(26, date);
    put(31, {0x43, 0x6F, 0x43, 0x6F, 0x20, 0x44, 0x69, 0x73, 0xEB});
    put(63, {0x01, 0x01, 0x00, 0x20, 0x01, 0x00, 0x23, 0x01, 0x00, 0x00, 0x12, 0x00, 0x12, 0x03, 0x08});
    // LSN 1: bits 0-9 and 630-2047.
    put(256, {0xFF, 0xC0});
    want[256 + 78] = 0x03;
    for (int i = 79; i < 256; ++i) want[256 + i] = 0xFF;
    // LSN 2: the root FD.
    put(512, {0xBF, 0x00, 0x00});
    put(515, date);
    put(520, {0x01, 0x00, 0x00, 0x00, 0x40});
    put(525, slice(date, 0, 3));
    put(528, {0x00, 0x00, 0x03, 0x00, 0x07});
    // LSN 3: ".." and ".".
    put(768, {0x2E, 0xAE});
    put(768 + 29, {0x00, 0x00, 0x02});
    put(768 + 32, {0xAE});
    put(768 + 61, {0x00, 0x00, 0x02});
    own_id(img);
    img[14] = img[15] = 0;
    EXPECT_EQ(first_difference(img, want), "");
    EXPECT_TRUE(dvtest::check_tree(img).empty());
    EXPECT_EQ(dvtest::free_units(img), 620);
}

// ---- geometry ------------------------------------------------------------

TEST(DvInitProgram, EightyTracksDoubleSidedHasTwoBitmapSectors) {
    TempDir dir;
    bytes img = format_and_compare(dir, {"-t80", "-s18", "-2"}, 80, 18, 2);
    ASSERT_EQ(img.size(), 2880u * 256u);
    EXPECT_EQ(be(img.data(), 3), 2880u);
    EXPECT_EQ(be(img.data() + 4, 2), 361u);  // dd_map
    EXPECT_EQ(be(img.data() + 8, 3), 3u);    // dd_dir: after two bitmap sectors
    EXPECT_EQ(img[16], 3);                   // double-sided
    auto used = [&](int k) { return dvtest::bit_set(img, k); };
    for (int k = 0; k <= 10; ++k) EXPECT_TRUE(used(k)) << k;
    for (int k = 11; k < 2880; ++k) ASSERT_FALSE(used(k)) << k;
    for (int k = 2880; k < 4096; ++k) ASSERT_TRUE(used(k)) << k;
    EXPECT_EQ(be(img.data() + 3 * 256 + 16, 3), 4u);  // root data right after its FD
    EXPECT_EQ(dvtest::free_units(img), 2869);
}

TEST(DvInitProgram, TrackSectorAndSideOptionsSetTheGeometry) {
    TempDir dir;
    EXPECT_EQ(format_and_compare(dir, {"-t40", "-s18", "-2"}, 40, 18, 2).size(), 1440u * 256u);
    // "-12" is the option 1 (one side); the rest of the argument is ignored.
    EXPECT_EQ(format_and_compare(dir, {"-2", "-12"}, 35, 18, 1).size(), 630u * 256u);
    // Numbers are decimal, leading zeros and all.
    EXPECT_EQ(format_and_compare(dir, {"-t040"}, 40, 18, 1).size(), 720u * 256u);
    EXPECT_EQ(format_and_compare(dir, {"-s9", "-t3", "-t77"}, 77, 9, 1).size(), 693u * 256u);
}

TEST(DvInitProgram, DisksOfThreeOrNineSectorsAreTooSmall) {
    TempDir dir;
    for (const auto& opts : std::vector<std::vector<std::string>>{
             {"-t0"}, {"-t1", "-s3"}, {"-t3", "-s1"}, {"-t1", "-s9"}, {"-t9", "-s1"}, {"-s0"}}) {
        std::vector<std::string> args = opts;
        args.push_back("small.dsk");
        dvtest::Run r = run_program("dvinit", args, dir.path());
        EXPECT_EQ(r.err, "Too few sectors\n") << opts[0];
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.status, 1) << opts[0];
        EXPECT_FALSE(exists(dir / "small.dsk")) << opts[0];
    }
}

TEST(DvInitProgram, TenSectorsIsTheSmallestDiskAndHasNoFreeSector) {
    TempDir dir;
    bytes img = format_and_compare(dir, {"-t1", "-s10"}, 1, 10, 1);
    ASSERT_EQ(img.size(), 2560u);
    EXPECT_EQ(dvtest::free_units(img), 0);
    EXPECT_EQ(be(img.data() + 4, 2), 2u);  // dd_map
}

TEST(DvInitProgram, DisksBeyondSixteenBitBitmapSizeAreTooLarge) {
    TempDir dir;
    // A bitmap past 65,535 bytes: a larger cluster would fit, and the
    // message says which; past 3-byte LSNs nothing fits.
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"-t65535", "-s8"}, "Disk too large: use -c2 or more\n"},           // dd_map would be 65536
        {{"-t32768", "-s16"}, "Disk too large: use -c2 or more\n"},          // dd_map would be 65537
        {{"-t32896", "-s255", "-2", "-c16"}, "Disk too large: use -c32 or more\n"},
        {{"-t65535", "-s255", "-2"}, "Disk too large\n"}};  // beyond 3-byte LSNs
    for (const auto& [opts, message] : cases) {
        std::vector<std::string> args = opts;
        args.push_back("big.dsk");
        dvtest::Run r = run_program("dvinit", args, dir.path());
        EXPECT_EQ(r.err, message) << opts[0] << " " << opts[1];
        EXPECT_EQ(r.status, 1);
        EXPECT_FALSE(exists(dir / "big.dsk")) << opts[0] << " " << opts[1];
    }
}

TEST(DvInitProgram, LargestDiskHasABitmapOf65535Bytes) {
    TempDir dir;
    // 524277 sectors: the most that tracks and sectors within their fields
    // give below a 65536-byte bitmap.
    dvtest::Run r = run_program("dvinit", {"-t58253", "-s9", "max.dsk"}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    struct stat st {};
    ASSERT_EQ(stat((dir / "max.dsk").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 524277LL * 256);
    bytes head = read_head(dir / "max.dsk", 256);
    ASSERT_EQ(head.size(), 256u);
    EXPECT_EQ(be(head.data(), 3), 524277u);
    EXPECT_EQ(be(head.data() + 4, 2), 65535u);  // dd_map
    EXPECT_EQ(be(head.data() + 8, 3), 257u);    // dd_dir after 256 bitmap sectors
}

TEST(DvInitProgram, HalfMillionSectorImageIsSparse) {
    TempDir dir;
    dvtest::Run r = run_program("dvinit", {"-t2000", "-s250", "huge.dsk"}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const std::string img = dir / "huge.dsk";
    struct stat st {};
    ASSERT_EQ(stat(img.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 128000000);
    // Only LSN 0, 245 bitmap sectors and the root's 8 sectors hold data.
    EXPECT_LT(static_cast<long long>(st.st_blocks) * 512, 2LL * 1024 * 1024);

    const int map = 500000 / 8 + 1;       // 62501
    const int bitmap_sectors = map / 256 + 1;  // 245
    const int dd_dir = map / 256 + 2;     // 246
    bytes head = read_head(img, static_cast<std::size_t>(dd_dir + 2) * 256);
    ASSERT_EQ(head.size(), static_cast<std::size_t>(dd_dir + 2) * 256);
    EXPECT_EQ(be(head.data(), 3), 500000u);
    EXPECT_EQ(be(head.data() + 4, 2), static_cast<std::uint32_t>(map));
    EXPECT_EQ(be(head.data() + 8, 3), static_cast<std::uint32_t>(dd_dir));
    const int in_use = 1 + bitmap_sectors + 8;
    int wrong = 0;
    for (int k = 0; k < bitmap_sectors * 2048; ++k) {
        bool used = head[256 + k / 8] & (0x80 >> (k % 8));
        wrong += used != (k < in_use || k >= 500000);
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(head[static_cast<std::size_t>(dd_dir) * 256], 0xBF);
    EXPECT_EQ(be(head.data() + dd_dir * 256 + 16, 3), static_cast<std::uint32_t>(dd_dir + 1));
    EXPECT_EQ(slice(head, static_cast<std::size_t>(dd_dir + 1) * 256, 2), (bytes{0x2E, 0xAE}));
    EXPECT_EQ(read_head(img, 256, 128000000 - 256), bytes(256, 0));
}

// ---- options -------------------------------------------------------------

TEST(DvInitProgram, HelpAnywhereFormatsNothing) {
    TempDir dir;
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {"disk.dsk", "-h"}, {"-?", "disk.dsk"}, {"-t40", "disk.dsk", "-help"}}) {
        dvtest::Run r = run_program("dvinit", args, dir.path());
        EXPECT_TRUE(run_gave(r, {.out = "", .err = kHelp, .status = 0}));
        EXPECT_TRUE(dir_is_empty(dir));
    }
}

TEST(DvInitProgram, UnknownOptionFormatsNothing) {
    TempDir dir;
    for (const auto& args : std::vector<std::vector<std::string>>{{"disk.dsk", "-x"}, {"-x5", "disk.dsk"}}) {
        dvtest::Run r = run_program("dvinit", args, dir.path());
        EXPECT_TRUE(run_gave(r, {.out = "",
                                 .err = dvtest::program_path("dvinit") + ": unknown option 'x'\nTry '" +
                                        dvtest::program_path("dvinit") + " --help'.\n",
                                 .status = 2}));
        EXPECT_TRUE(dir_is_empty(dir));
    }
}

TEST(DvInitProgram, OptionsWithoutDiskAreAMissingOperand) {
    TempDir dir;
    dvtest::Run r = run_program("dvinit", {"-t40", "-s9", "-2", "-"}, dir.path());
    const std::string self = dvtest::program_path("dvinit");
    EXPECT_TRUE(run_gave(r, {.out = "", .err = self + ": missing operand\nTry '" + self + " --help'.\n", .status = 2}));
    EXPECT_TRUE(dir_is_empty(dir));
}

TEST(DvInitProgram, TwoDisksGetTheSameGeometryAndName) {
    TempDir dir;
    Formatted f = format(dir, {"-nPair", "one.dsk", "-t40", "two.dsk"});
    EXPECT_EQ(f.run.status, 0);
    bytes one = dvtest::read_file(dir / "one.dsk");
    bytes two = dvtest::read_file(dir / "two.dsk");
    ASSERT_EQ(one.size(), 720u * 256u);
    EXPECT_EQ(first_difference(one, expected_image(40, 18, 1, "Pair", check_dates(one, f), own_id(one))), "");
    EXPECT_EQ(first_difference(two, expected_image(40, 18, 1, "Pair", check_dates(two, f), own_id(two))), "");
}

// OS-9 tells disks apart by their ID alone: dvinit gives every disk one of
// its own, two of a run too.  Six random IDs with no more than three
// distinct values would be a chance of about one in 10^13; one ID per run
// (or one for every run) gives three or one.
TEST(DvInitProgram, EveryDiskDrawsItsOwnIdNeverZero) {
    TempDir dir;
    std::set<std::uint16_t> ids;
    for (int run = 0; run < 3; ++run) {
        ASSERT_EQ(run_program("dvinit", {"a.dsk", "b.dsk"}, dir.path()).status, 0);
        for (const char* disk : {"a.dsk", "b.dsk"}) ids.insert(own_id(read_head(dir / disk, 16)));
    }
    EXPECT_GT(ids.size(), 3u);
}

TEST(DvInitProgram, OptionIGivesTheIdInDecimalOrHex) {
    TempDir dir;
    for (const auto& [arg, id] : std::vector<std::pair<std::string, int>>{
             {"-i1", 1}, {"-i384", 0x0180}, {"-i$0180", 0x0180}, {"-i0x0180", 0x0180}, {"-i$fFfF", 0xFFFF},
             {"-i0XA5", 0xA5}, {"-i65535", 0xFFFF}, {"-i0180", 180}})
        format_and_compare(dir, {arg}, 35, 18, 1, "CoCo Disk", id);
}

TEST(DvInitProgram, DiskNameOfOneToThirtyTwoCharacters) {
    TempDir dir;
    const std::string name32 = "A Name Of Exactly 32 Characters.";
    ASSERT_EQ(name32.size(), 32u);
    bytes img = format_and_compare(dir, {"-n" + name32}, 35, 18, 1, name32);
    ASSERT_GE(img.size(), 256u);
    EXPECT_EQ(img[31 + 31], '.' | 0x80);
    EXPECT_EQ(img[63], 1);  // pd_dtp right after the field, untouched
    format_and_compare(dir, {"-nX"}, 35, 18, 1, "X");

    for (const std::string& bad : {"-n" + name32 + "!", std::string("-n")}) {
        std::filesystem::remove(dir / "disk.dsk");
        dvtest::Run r = run_program("dvinit", {bad, "disk.dsk"}, dir.path());
        EXPECT_NE(r.err, "") << bad;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.status, 1) << bad;
        EXPECT_FALSE(exists(dir / "disk.dsk")) << bad;
    }
}

TEST(DvInitProgram, ClusterSizeOutsideSixteenBitsIsRefused) {
    TempDir dir;
    for (const char* bad : {"-c0", "-c65536", "-c-1"}) {
        dvtest::Run r = run_program("dvinit", {bad, "disk.dsk"}, dir.path());
        EXPECT_NE(r.err, "") << bad;
        EXPECT_EQ(r.status, 1) << bad;
        EXPECT_FALSE(exists(dir / "disk.dsk")) << bad;
    }
}

// ---- existing files ------------------------------------------------------

TEST(DvInitProgram, LongerExistingFileKeepsItsBytesPastTheNewImage) {
    TempDir dir;
    dvtest::write_file(dir / "disk.dsk", bytes(200000, 0x5A));
    Formatted f = format(dir, {"disk.dsk"});
    EXPECT_EQ(f.run.status, 0);
    bytes img = dvtest::read_file(dir / "disk.dsk");
    ASSERT_EQ(img.size(), 200000u);
    bytes image_part = slice(img, 0, 161280);
    const bytes want = expected_image(35, 18, 1, "CoCo Disk", check_dates(img, f), own_id(img));
    EXPECT_EQ(first_difference(image_part, want), "");
    EXPECT_EQ(slice(img, 161280, 200000 - 161280), bytes(200000 - 161280, 0x5A));
}

TEST(DvInitProgram, ShorterExistingFileWithJunkReadsAsZerosInFreeSectors) {
    TempDir dir;
    bytes junk(5000);
    for (std::size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<unsigned char>(0xA5 ^ i);
    dvtest::write_file(dir / "disk.dsk", junk);
    Formatted f = format(dir, {"disk.dsk"});
    EXPECT_EQ(f.run.status, 0);
    bytes img = dvtest::read_file(dir / "disk.dsk");
    ASSERT_EQ(img.size(), 161280u);
    EXPECT_EQ(first_difference(img, expected_image(35, 18, 1, "CoCo Disk", check_dates(img, f), own_id(img))), "");
}

TEST(DvInitProgram, DirectoryAsDiskIsReportedAndTheNextDiskIsStillMade) {
    TempDir dir;
    std::filesystem::create_directory(dir / "adir");
    Formatted f = format(dir, {"adir", "next.dsk"});
    EXPECT_EQ(f.run.err, dvtest::program_path("dvinit") + ": cannot open virtual disk\n" + dvtest::program_path("dvinit") +
                             ": 'adir': " + std::strerror(EISDIR) + "\n");
    EXPECT_NE(f.run.status, 0);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "adir"));
    EXPECT_TRUE(std::filesystem::is_empty(dir / "adir"));
    bytes img = dvtest::read_file(dir / "next.dsk");
    ASSERT_EQ(img.size(), 161280u);
    EXPECT_EQ(first_difference(img, expected_image(35, 18, 1, "CoCo Disk", check_dates(img, f), own_id(img))), "");
}

// ---- the new image works with the other programs ---------------------------

TEST(DvInitProgram, NewImageIsReportedByDvspace) {
    TempDir dir;
    ASSERT_EQ(run_program("dvinit", {"-t80", "-s18", "-2", "-nBig Disk", "disk.dsk"}, dir.path()).status, 0);
    bytes img = dvtest::read_file(dir / "disk.dsk");
    ASSERT_GE(img.size(), 256u);
    char date[16];
    std::snprintf(date, sizeof date, "%02d/%02d/%04d", img[27], img[28], img[26] + 1900);
    dvtest::Run r = run_program("dvspace", {"disk.dsk"}, dir.path());
    EXPECT_EQ(r.out, std::string("\n\"Big Disk\" created on ") + date +
                         "\nCapacity: 720K (2880 sectors) 1-sector clusters\n"
                         "2869 Free sectors, largest block 2869 sectors\n"
                         "Free space: 717K (734464 bytes)\n\n");
}

}  // namespace
