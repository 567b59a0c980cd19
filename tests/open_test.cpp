// Pathlists, open (walk and access check), close (trimming and the bitmap
// write-back), parent lookups, name lookups and capacities.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "image_builder.h"
#include "os9path.h"
#include "run_program.h"
#include "test_support.h"
#include "tree_check.h"

namespace {

using dvtest::bit_set;
using dvtest::bytes;
using dvtest::ImageBuilder;
using dvtest::mark_unit;
using dvtest::MemImage;
using dvtest::Path;

// The two ways to reach one image: the host file `file` through pathlists,
// and the same bytes held in memory through the image overloads.
std::vector<dvtest::Access> both(const std::string& file, const MemImage& mem) {
    return {dvtest::Access::host_file(file), dvtest::Access::held(mem.image())};
}

// Segment entry `k` of the FD at LSN `fd`, to be changed in place.
unsigned char* seg_entry(bytes& img, int fd, int k) { return img.data() + fd * 256 + 16 + 5 * k; }

// Byte offset of the entry named `name` (as stored, bit 7 cleared) in the
// data of directory `dir`, or -1.
long long entry_offset(const ImageBuilder& b, int dir, const std::string& name) {
    bytes data = b.read_data(dir);
    for (std::size_t off = 0; off + 32 <= data.size(); off += 32)
        if (dvtest::entry_name(data.data() + off) == name) return static_cast<long long>(off);
    return -1;
}

// The disk most tests open:
//   /DIR (dir) / tool "hello\r"
//   /readme "line one\rline two\r"
//   /a (dir) / b (dir)
struct Disk {
    ImageBuilder b;
    int dir, tool, readme, a, ab;
    Disk() {
        dir = b.add_dir(b.root(), "DIR");
        tool = b.add_file(dir, "tool", std::string("hello\r"));
        readme = b.add_file(b.root(), "readme", std::string("line one\rline two\r"));
        a = b.add_dir(b.root(), "a");
        ab = b.add_dir(a, "b");
    }
};

}  // namespace

// ---- validate_pathlist -----------------------------------------------------------------

TEST(ValidatePathlist, NoPieceIsABadPathname) {
    for (const char* pl : {"", ":", ":::::"}) {
        rbf::_pd pd;
        EXPECT_EQ(rbf::validate_pathlist(&pd, pl), rbf::E_BPNAM) << '"' << pl << '"';
    }
}

TEST(ValidatePathlist, OnePieceIsAHostFile) {
    for (const char* pl : {"disk.dsk", "disk.dsk:", "::disk.dsk", ":disk.dsk::"}) {
        rbf::_pd pd;
        ASSERT_EQ(rbf::validate_pathlist(&pd, pl), 0) << pl;
        EXPECT_TRUE(rbf::path_is_host(&pd)) << pl;
        EXPECT_EQ(rbf::path_image_file(&pd), "disk.dsk") << pl;
        EXPECT_EQ(rbf::path_in_image(&pd), "") << pl;
    }
}

TEST(ValidatePathlist, TwoOrMorePiecesNameImageAndPathAndIgnoreTheRest) {
    struct Case {
        const char* pl;
        const char* img;
        const char* path;
    } cases[] = {
        {"disk.dsk:DIR/tool", "disk.dsk", "DIR/tool"},
        {"a:b:c", "a", "b"},
        {"a::b", "a", "b"},
        {":a:b:", "a", "b"},
        {"x.dsk:/", "x.dsk", "/"},
        {"x.dsk:.@", "x.dsk", ".@"},
    };
    for (const Case& c : cases) {
        rbf::_pd pd;
        ASSERT_EQ(rbf::validate_pathlist(&pd, c.pl), 0) << c.pl;
        EXPECT_FALSE(rbf::path_is_host(&pd)) << c.pl;
        EXPECT_EQ(rbf::path_image_file(&pd), c.img) << c.pl;
        EXPECT_EQ(rbf::path_in_image(&pd), c.path) << c.pl;
    }
}

TEST(ValidatePathlist, PieceLongerThan511CharactersIsABadPathname) {
    const std::string p511(511, 'p');
    const std::string p512(512, 'p');
    {
        rbf::_pd pd;
        EXPECT_EQ(rbf::validate_pathlist(&pd, p511 + ":" + p511), 0);
        EXPECT_EQ(rbf::path_image_file(&pd).size(), 511u);
        EXPECT_EQ(rbf::path_in_image(&pd).size(), 511u);
    }
    {
        rbf::_pd pd;
        EXPECT_EQ(rbf::validate_pathlist(&pd, p512), rbf::E_BPNAM);
    }
    {
        rbf::_pd pd;
        EXPECT_EQ(rbf::validate_pathlist(&pd, p512 + ":x"), rbf::E_BPNAM);
    }
    {
        rbf::_pd pd;
        EXPECT_EQ(rbf::validate_pathlist(&pd, "x:" + p512), rbf::E_BPNAM);
    }
}

// ---- _os9_open: pathlists and the walk --------------------------------------------------

TEST(Open, EmptyOrColonOnlyPathlistIs215AndHoldsNothing) {
    for (const char* pl : {"", ":", "::"}) {
        Path p;
        EXPECT_EQ(rbf::_os9_open(p.out(), pl, 1), rbf::E_BPNAM) << '"' << pl << '"';
        EXPECT_EQ(p.p, nullptr);
    }
}

TEST(Open, ImageNameWithLoneColonOpensTheHostFile) {
    Disk d;
    dvtest::TempDir tmp;
    const std::string file = tmp / "disk.dsk";
    d.b.save(file);
    Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), file + ":", 1), 0);
    EXPECT_TRUE(rbf::path_is_host(p));
    EXPECT_EQ(rbf::path_image_file(p), file);
    // It reads the host file's own bytes: LSN 0 of the image.
    unsigned char buf[256];
    int n = 256;
    ASSERT_EQ(rbf::_os9_read(p.p, buf, &n), 0);
    ASSERT_EQ(n, 256);
    EXPECT_EQ(0, std::memcmp(buf, d.b.image().data(), 256));
}

TEST(Open, FindsTheFileOnHostImageAndInMemory) {
    Disk d;
    dvtest::TempDir tmp;
    d.b.save(tmp / "disk.dsk");
    MemImage mem(d.b.image());
    for (const dvtest::Access& at : both(tmp / "disk.dsk", mem)) {
        Path p;
        ASSERT_EQ(at.open(p.out(), "DIR/tool", 1), 0) << at.describe("DIR/tool");
        EXPECT_FALSE(rbf::path_is_host(p));
        EXPECT_FALSE(rbf::path_is_raw(p));
        EXPECT_EQ(rbf::path_fd_sector(p), d.tool);
        EXPECT_EQ(rbf::path_position(p), 0);
        rbf::disk_geometry geo{};
        ASSERT_EQ(rbf::path_geometry(p, &geo), 0);
        EXPECT_EQ(geo.unit_bytes, 256u);
        EXPECT_EQ(geo.cluster_sectors, 1u);
        EXPECT_EQ(geo.total_units, static_cast<std::uint32_t>(d.b.total()));
        EXPECT_EQ(geo.root_fd, static_cast<std::uint32_t>(d.b.root()));
        EXPECT_EQ(geo.bitmap_bytes, dvtest::be(d.b.image().data() + 4, 2));
        EXPECT_EQ(geo.sas, 8u);
    }
}

TEST(Open, RawPathHoldsTheBitmapCopyFromTheStart) {
    Disk d;
    dvtest::TempDir tmp;
    d.b.save(tmp / "disk.dsk");
    MemImage mem(d.b.image());
    for (const dvtest::Access& at : both(tmp / "disk.dsk", mem)) {
        Path p;
        ASSERT_EQ(at.open(p.out(), "@", 1), 0) << at.describe("@");
        rbf::disk_geometry geo{};
        ASSERT_EQ(rbf::path_geometry(p, &geo), 0);
        EXPECT_EQ(geo.bitmap_bytes, dvtest::be(d.b.image().data() + 4, 2));
        const std::span<unsigned char> copy = rbf::path_bitmap(p);
        ASSERT_GE(copy.size(), static_cast<std::size_t>(geo.bitmap_bytes));
        EXPECT_EQ(0, std::memcmp(copy.data(), d.b.image().data() + 256, geo.bitmap_bytes));
        EXPECT_EQ(geo.sas, 8u);
    }
}

TEST(Open, ThreePiecesUseTheFirstTwo) {
    Disk d;
    dvtest::TempDir tmp;
    d.b.save(tmp / "disk.dsk");
    for (const std::string& pl : {tmp / "disk.dsk:DIR/tool:readme", tmp / "disk.dsk::DIR/tool::readme:"}) {
        Path p;
        ASSERT_EQ(rbf::_os9_open(p.out(), pl, 1), 0) << pl;
        EXPECT_EQ(rbf::path_fd_sector(p), d.tool) << pl;
    }
}

TEST(Open, LeadingTrailingAndDoubledSlashesChangeNothing) {
    Disk d;
    MemImage mem(d.b.image());
    for (const char* in : {"DIR/tool", "/DIR/tool", "//DIR//tool/", "DIR///tool//", "///DIR/tool"}) {
        Path p;
        ASSERT_EQ(rbf::_os9_open(p.out(), mem.image(), in, 1), 0) << in;
        EXPECT_EQ(rbf::path_fd_sector(p), d.tool) << in;
    }
}

TEST(Open, NamesMatchRegardlessOfCase) {
    Disk d;
    MemImage mem(d.b.image());
    for (const char* in : {"dir/TOOL", "Dir/Tool", "DIR/tool", "dIr/tOoL"}) {
        Path p;
        ASSERT_EQ(rbf::_os9_open(p.out(), mem.image(), in, 1), 0) << in;
        EXPECT_EQ(rbf::path_fd_sector(p), d.tool) << in;
    }
}

TEST(Open, DotAndDotDotAreFoundAsOrdinaryEntries) {
    Disk d;
    MemImage mem(d.b.image());
    {
        Path p;
        ASSERT_EQ(rbf::_os9_open(p.out(), mem.image(), "DIR/../readme", 1), 0);
        EXPECT_EQ(rbf::path_fd_sector(p), d.readme);
    }
    {
        Path p;
        ASSERT_EQ(rbf::_os9_open(p.out(), mem.image(), "a/b/.", 0x81), 0);
        EXPECT_EQ(rbf::path_fd_sector(p), d.ab);
    }
    {
        Path p;  // the root's ".." is the root itself
        ASSERT_EQ(rbf::_os9_open(p.out(), mem.image(), "../..", 0x81), 0);
        EXPECT_EQ(rbf::path_fd_sector(p), d.b.root());
    }
}

TEST(Open, PathOfOnlySlashesOpensTheRoot) {
    Disk d;
    MemImage mem(d.b.image());
    for (const char* in : {"/", "///"}) {
        Path p;
        ASSERT_EQ(rbf::_os9_open(p.out(), mem.image(), in, 0x81), 0) << in;
        EXPECT_EQ(rbf::path_fd_sector(p), d.b.root());
    }
}

TEST(Open, MissingComponentIs216AndHoldsNothing) {
    Disk d;
    MemImage mem(d.b.image());
    for (const char* in : {"nothere", "DIR/nothere", "nothere/tool", "DIR/tool2", "DIR/too"}) {
        Path p;
        EXPECT_EQ(rbf::_os9_open(p.out(), mem.image(), in, 1), rbf::E_PNNF) << in;
        EXPECT_EQ(p.p, nullptr);
    }
}

TEST(Open, MissingImageOrHostFileIs216) {
    dvtest::TempDir tmp;
    for (const std::string& pl : {tmp / "nothere.dsk:DIR", tmp / "nothere.dsk:@", tmp / "nothere"}) {
        Path p;
        EXPECT_EQ(rbf::_os9_open(p.out(), pl, 1), rbf::E_PNNF) << pl;
        EXPECT_EQ(p.p, nullptr);
    }
    // A host directory named as an image says what it is.
    Path p;
    EXPECT_EQ(rbf::_os9_open(p.out(), tmp.path() + ":x", 1), rbf::E_ISDIR);
    EXPECT_EQ(p.p, nullptr);
}

TEST(Open, FirstMatchingEntryInDirectoryOrderWins) {
    ImageBuilder b;
    int first = b.add_file(b.root(), "dup", std::string("1"));
    b.add_file(b.root(), "DUP", std::string("2"));
    MemImage mem(b.image());
    Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), mem.image(), "Dup", 1), 0);
    EXPECT_EQ(rbf::path_fd_sector(p), first);
}

TEST(Open, DeletedEntryMatchesNoComponent) {
    ImageBuilder b;
    int fd = b.make_fd(0x1B, {}, 0);
    bytes e(32, 0);
    e[0] = 0;  // "abc" with its first byte cleared by a delete
    e[1] = 'b';
    e[2] = 'c' | 0x80;
    dvtest::put_be(e.data() + 29, 3, static_cast<std::uint32_t>(fd));
    b.add_raw_entry(b.root(), e);
    MemImage mem(b.image());
    for (const char* in : {"abc", "bc", "c"}) {
        Path p;
        EXPECT_EQ(rbf::_os9_open(p.out(), mem.image(), in, 1), rbf::E_PNNF) << in;
    }
}

TEST(Open, NameEndsAtBit7CharacterWhateverFollowsInTheField) {
    ImageBuilder b;
    int fd = b.make_fd(0x1B, {}, 0);
    bytes e(32, 0);
    e[0] = 'a';
    e[1] = 'b' | 0x80;
    e[2] = 0x0D;  // stray bytes after the end of the name
    e[3] = 'x';
    e[4] = 'y' | 0x80;
    dvtest::put_be(e.data() + 29, 3, static_cast<std::uint32_t>(fd));
    b.add_raw_entry(b.root(), e);
    MemImage mem(b.image());
    {
        Path p;
        ASSERT_EQ(rbf::_os9_open(p.out(), mem.image(), "ab", 1), 0);
        EXPECT_EQ(rbf::path_fd_sector(p), fd);
    }
    Path q;
    EXPECT_EQ(rbf::_os9_open(q.out(), mem.image(), "ab\rxy", 1), rbf::E_PNNF);
}

TEST(Open, TwentyEightCharacterNameIsFoundAndLongerNeverMatches) {
    ImageBuilder b;
    const std::string name28(28, 'N');
    int fd = b.add_file(b.root(), name28, std::string("x"));
    MemImage mem(b.image());
    {
        Path p;
        ASSERT_EQ(rbf::_os9_open(p.out(), mem.image(), name28, 1), 0);
        EXPECT_EQ(rbf::path_fd_sector(p), fd);
    }
    Path q;
    EXPECT_EQ(rbf::_os9_open(q.out(), mem.image(), name28 + "N", 1), rbf::E_PNNF);
}

TEST(Open, NameFillingTheWholeFieldEndsAtTheLsnWithOrWithoutBit7) {
    // 29 characters up to the FD's LSN: byte 28 is the name's last, bit 7
    // set as OS-9 writes it, or clear (the field ends there all the same).
    for (const unsigned char last : {static_cast<unsigned char>('Z' | 0x80), static_cast<unsigned char>('Z')}) {
        ImageBuilder b;
        int fd = b.make_fd(0x1B, {}, 0);
        bytes e(32, 0);
        for (int i = 0; i < 28; ++i) e[static_cast<std::size_t>(i)] = static_cast<unsigned char>('a' + i % 26);
        e[28] = last;
        dvtest::put_be(e.data() + 29, 3, static_cast<std::uint32_t>(fd));
        b.add_raw_entry(b.root(), e);
        MemImage mem(b.image());
        const std::string name = std::string(e.begin(), e.begin() + 28) + "Z";
        Path p;
        ASSERT_EQ(rbf::_os9_open(p.out(), mem.image(), name, 1), 0);
        EXPECT_EQ(rbf::path_fd_sector(p), fd);
        Path q, r;
        EXPECT_EQ(rbf::_os9_open(q.out(), mem.image(), name.substr(0, 28), 1), rbf::E_PNNF);
        EXPECT_EQ(rbf::_os9_open(r.out(), mem.image(), name + "Z", 1), rbf::E_PNNF);
    }
}

TEST(Open, IntermediateComponentIsReadAsADirectoryWhateverItIs) {
    // A plain file whose data happens to be a directory entry naming tool.
    Disk d;
    bytes e(32, 0);
    bytes nm = dvtest::os9_name("tool");
    std::copy(nm.begin(), nm.end(), e.begin());
    dvtest::put_be(e.data() + 29, 3, static_cast<std::uint32_t>(d.tool));
    d.b.add_file(d.b.root(), "fake", e);
    MemImage mem(d.b.image());
    Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), mem.image(), "fake/tool", 1), 0);
    EXPECT_EQ(rbf::path_fd_sector(p), d.tool);
}

TEST(Open, TooLongPiecesAre215) {
    Disk d;
    dvtest::TempDir tmp;
    const std::string file = tmp / "disk.dsk";
    d.b.save(file);
    const std::string p512(512, 'x');
    Path p1;
    EXPECT_EQ(rbf::_os9_open(p1.out(), p512, 1), rbf::E_BPNAM);
    Path p2;
    EXPECT_EQ(rbf::_os9_open(p2.out(), p512 + ":DIR", 1), rbf::E_BPNAM);
    Path p3;
    EXPECT_EQ(rbf::_os9_open(p3.out(), file + ":" + p512, 1), rbf::E_BPNAM);
    // 511 characters are within the limit: only not found.
    Path p4;
    EXPECT_EQ(rbf::_os9_open(p4.out(), file + ":" + std::string(511, 'x'), 1), rbf::E_PNNF);
    // ... and a 511-character path of slashes and a name is walked.
    Path p5;
    EXPECT_EQ(rbf::_os9_open(p5.out(), file + ":" + std::string(511 - 8, '/') + "DIR/tool", 1), 0);
    EXPECT_EQ(rbf::path_fd_sector(p5), d.tool);
}

// ---- _os9_open: the access check -------------------------------------------------------

TEST(Open, AccessCheckFollowsOwnerBitsAndTheDirectoryBit) {
    ImageBuilder b;
    b.add_file(b.root(), "r", std::string("x"), 0x01);    // owner read only
    b.add_file(b.root(), "rw", std::string("x"), 0x03);   // owner read and write
    b.add_file(b.root(), "pub", std::string("x"), 0x38);  // public bits only
    b.add_file(b.root(), "all", std::string("x"), 0x7F);  // every non-directory bit
    b.add_file(b.root(), "none", std::string("x"), 0x00);
    b.add_dir(b.root(), "d", 0xBF);
    b.add_dir(b.root(), "dr", 0x81);  // directory with owner read only
    struct Case {
        const char* name;
        int mode;
        int expect;
    } cases[] = {
        {"r", 0x01, 0},          {"r", 0x03, 214},     {"r", 0x02, 214},    {"rw", 0x03, 0},
        {"rw", 0x02, 0},         {"pub", 0x01, 214},   {"pub", 0x02, 214},  {"all", 0x05, 214},
        {"all", 0x04, 214},      {"all", 0x41, 214},   {"all", 0x03, 0},    {"all", 0x81, 214},
        {"none", 0x00, 0},       {"all", 0x00, 0},     {"none", 0x01, 214}, {"d", 0x01, 214},
        {"d", 0x81, 0},          {"d", 0x82, 0},       {"d", 0x83, 0},      {"d", 0x80, 0},
        {"d", 0x00, 214},        {"d", 0x02, 214},     {"dr", 0x81, 0},     {"dr", 0x82, 214},
        {"d", 0x85, 214},
    };
    MemImage mem(b.image());
    for (const Case& c : cases) {
        Path p;
        EXPECT_EQ(rbf::_os9_open(p.out(), mem.image(), c.name, c.mode), c.expect)
            << c.name << " mode 0x" << std::hex << c.mode;
        if (c.expect != 0) {
            EXPECT_EQ(p.p, nullptr);
        }
    }
}

TEST(Open, AccessCheckOnHostImageFile) {
    Disk d;
    dvtest::TempDir tmp;
    d.b.save(tmp / "disk.dsk");
    Path p1;
    EXPECT_EQ(rbf::_os9_open(p1.out(), tmp / "disk.dsk:DIR", 1), rbf::E_FNA);
    Path p2;
    EXPECT_EQ(rbf::_os9_open(p2.out(), tmp / "disk.dsk:DIR", 0x81), 0);
    Path p3;
    EXPECT_EQ(rbf::_os9_open(p3.out(), tmp / "disk.dsk:DIR/tool", 0x81), rbf::E_FNA);
    Path p4;
    EXPECT_EQ(rbf::_os9_open(p4.out(), tmp / "disk.dsk:DIR/tool", 3), 0);
}

// ---- raw access --------------------------------------------------------------------------

TEST(Open, RawPathNeedsNoWalkAndNoAccessCheck) {
    Disk d;
    bytes img = d.b.image();
    // dd_dir names a free sector on the disk: a root that holds nothing, so
    // no walk can find anything.
    ASSERT_FALSE(bit_set(img, 600));
    dvtest::put_be(img.data() + 8, 3, 600);
    MemImage mem(img);
    {
        Path p;
        EXPECT_NE(rbf::_os9_open(p.out(), mem.image(), "DIR", 0x81), 0);
        EXPECT_EQ(p.p, nullptr);
    }
    for (const char* in : {"@", ".@", "no/such/file@", "DIR@"}) {
        for (int mode : {0x01, 0x03, 0x81, 0x00}) {
            Path p;
            ASSERT_EQ(rbf::_os9_open(p.out(), mem.image(), in, mode), 0) << in << " " << mode;
            EXPECT_TRUE(rbf::path_is_raw(p));
            EXPECT_FALSE(rbf::path_is_host(p));
            EXPECT_EQ(rbf::path_fd_sector(p), 0);
            EXPECT_EQ(rbf::path_position(p), 0);
        }
    }
}

TEST(Close, RawWritePathTrimsNothing) {
    ImageBuilder b;
    int fd = b.add_file(b.root(), "big", bytes{}, 0x1B, {{100, 3}});  // size 0, 3 units
    MemImage mem(b.image());
    Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), mem.image(), ".@", 3), 0);
    p.close();
    EXPECT_EQ(mem.get(), b.image());
    EXPECT_EQ(dvtest::be(mem.get().data() + fd * 256 + 16 + 3, 2), 3u);
}

// ---- damaged images -------------------------------------------------------------------------

TEST(Open, ClusterSizeZeroIsRefusedWith249) {
    Disk d;
    d.b.set_lsn0_byte(6, 0);
    d.b.set_lsn0_byte(7, 0);
    MemImage mem(d.b.image());
    dvtest::TempDir tmp;
    d.b.save(tmp / "disk.dsk");
    for (const dvtest::Access& at : both(tmp / "disk.dsk", mem)) {
        for (const char* in : {"DIR/tool", "@", ".@"}) {
            Path p;
            EXPECT_EQ(at.open(p.out(), in, 1), rbf::E_BTYP) << at.describe(in);
            EXPECT_EQ(p.p, nullptr);
        }
    }
}

TEST(Open, ImageShorterThanLsn0IsNoRbfDisk) {
    Disk d;
    bytes short_img(d.b.image().begin(), d.b.image().begin() + 255);
    MemImage mem(short_img);
    MemImage empty(bytes{});
    dvtest::TempDir tmp;
    dvtest::write_file(tmp / "short.dsk", short_img);
    dvtest::write_file(tmp / "empty.dsk", {});
    std::vector<dvtest::Access> images = both(tmp / "short.dsk", mem);
    for (const dvtest::Access& at : both(tmp / "empty.dsk", empty)) images.push_back(at);
    for (const dvtest::Access& at : images) {
        for (const char* in : {"DIR", "@", ".@"}) {
            Path p;
            EXPECT_EQ(at.open(p.out(), in, 0x81), rbf::E_BTYP) << at.describe(in);
            EXPECT_EQ(p.p, nullptr);
        }
    }
}

TEST(Open, Lsn0ThatCannotDescribeADiskIsRefusedWith249AtItsLimitsItOpens) {
    // The builder's disk: 630 sectors, dd_map 79 (630 bits need 79 bytes),
    // the bitmap in LSN 1, the root's FD at LSN 2.  Only LSN 0 changes; raw
    // access needs nothing but LSN 0, so it shows where the checks draw the
    // line.
    struct Case {
        const char* what;
        int tot, map, bit, dir;
        int expect;
    } cases[] = {
        {"as built", 630, 79, 1, 2, 0},
        {"no sectors", 0, 79, 1, 2, rbf::E_BTYP},
        {"no sectors per cluster", 630, 79, 0, 2, rbf::E_BTYP},
        {"bitmap a byte short", 630, 78, 1, 2, rbf::E_BTYP},
        {"bitmap a sector longer than its bits need", 630, 79 + 256, 1, 3, 0},
        {"bitmap longer than that", 630, 80 + 256, 1, 3, rbf::E_BTYP},
        {"longer bitmap reaching over the root", 630, 79 + 256, 1, 2, rbf::E_BTYP},
        {"root on the last sector", 630, 79, 1, 629, 0},
        {"root past the disk", 630, 79, 1, 630, rbf::E_BTYP},
        {"root in LSN 0", 630, 79, 1, 0, rbf::E_BTYP},
        {"root in the bitmap", 630, 79, 1, 1, rbf::E_BTYP},
        {"two-sector clusters", 630, 40, 2, 2, 0},  // 315 clusters need 40 bytes
        {"two-sector clusters, bitmap a byte short", 630, 39, 2, 2, rbf::E_BTYP},
        {"two-sector clusters, root in the bitmap's sector", 630, 40, 2, 1, rbf::E_BTYP},
        {"two-sector clusters, bitmap too long", 630, 41 + 256, 2, 3, rbf::E_BTYP},
        {"three-sector clusters: no power of two", 630, 27, 3, 2, rbf::E_GENERAL},
        {"32768-sector clusters", 70000, 1, 32768, 2, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ImageBuilder b;
        bytes img = b.image();
        dvtest::put_be(img.data() + 0, 3, static_cast<std::uint32_t>(c.tot));
        dvtest::put_be(img.data() + 4, 2, static_cast<std::uint32_t>(c.map));
        dvtest::put_be(img.data() + 6, 2, static_cast<std::uint32_t>(c.bit));
        dvtest::put_be(img.data() + 8, 3, static_cast<std::uint32_t>(c.dir));
        dvtest::TempDir tmp;
        dvtest::write_file(tmp / "disk.dsk", img);
        MemImage mem(img);
        for (const dvtest::Access& at : both(tmp / "disk.dsk", mem)) {
            Path p;
            EXPECT_EQ(at.open(p.out(), "@", 1), c.expect) << at.describe("@");
            if (c.expect != 0) {
                EXPECT_EQ(p.p, nullptr);
                continue;
            }
            ASSERT_NE(p.p, nullptr);
            rbf::disk_geometry geo{};
            ASSERT_EQ(rbf::path_geometry(p, &geo), 0);
            EXPECT_EQ(geo.total_units, static_cast<std::uint32_t>(c.tot));
            EXPECT_EQ(geo.bitmap_bytes, static_cast<std::uint32_t>(c.map));
            EXPECT_EQ(geo.cluster_sectors, static_cast<std::uint32_t>(c.bit));
            EXPECT_EQ(geo.root_fd, static_cast<std::uint32_t>(c.dir));
            EXPECT_EQ(geo.unit_bytes, 256u);  // a sector, whatever the cluster
        }
        EXPECT_EQ(dvtest::read_file(tmp / "disk.dsk"), img);
        EXPECT_EQ(mem.get(), img);
    }
}

TEST(Open, EveryCallOnAnImageThatIsNoDiskGives249AndChangesNothing) {
    Disk d;
    d.b.set_lsn0_byte(6, 0);  // dd_bit 0
    d.b.set_lsn0_byte(7, 0);
    const bytes before = d.b.image();
    MemImage mem(before);
    dvtest::TempDir tmp;
    const std::string file = tmp / "disk.dsk";
    dvtest::write_file(file, before);
    rbf::os9_path_id p = nullptr;
    EXPECT_EQ(rbf::_os9_create(&p, mem.image(), "NEW", 3, 0x1B), rbf::E_BTYP);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(rbf::_os9_create(&p, file + ":NEW", 3, 0x1B), rbf::E_BTYP);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(rbf::_os9_makdir(mem.image(), "NEWDIR"), rbf::E_BTYP);
    EXPECT_EQ(rbf::_os9_makdir(file + ":NEWDIR"), rbf::E_BTYP);
    EXPECT_EQ(rbf::_os9_delete(mem.image(), "readme"), rbf::E_BTYP);
    EXPECT_EQ(rbf::_os9_delete(file + ":readme"), rbf::E_BTYP);
    std::string filename;
    EXPECT_EQ(rbf::_os9_open_parent_directory(&p, mem.image(), "DIR/tool", 0x81, filename), rbf::E_BTYP);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(mem.get(), before);
    EXPECT_EQ(dvtest::read_file(file), before);
}

TEST(Open, ImageEndingAfterLsn0FailsWithoutReadingPastIt) {
    Disk d;
    bytes cut(d.b.image().begin(), d.b.image().begin() + 256);
    MemImage mem(cut);
    Path p;
    EXPECT_NE(rbf::_os9_open(p.out(), mem.image(), "DIR/tool", 1), 0);
    EXPECT_EQ(p.p, nullptr);
    Path r;  // raw access has nothing to walk and opens
    EXPECT_EQ(rbf::_os9_open(r.out(), mem.image(), "@", 1), 0);
}

TEST(Open, EntryNamingAnFdInTheBitmapOrPastTheDiskIs1) {
    Disk d;
    d.b.add_entry(d.b.root(), "inmap", 1);
    d.b.add_entry(d.b.root(), "inlsn0", 0);
    d.b.add_entry(d.b.root(), "past", d.b.total());
    d.b.add_entry(d.b.root(), "far", 0xFFFFFF);
    MemImage mem(d.b.image());
    for (const char* in : {"inmap", "inlsn0", "past", "far", "inmap/x", "past/x"}) {
        Path p;
        EXPECT_EQ(rbf::_os9_open(p.out(), mem.image(), in, 1), 1) << in;
        EXPECT_EQ(p.p, nullptr);
    }
}

TEST(Open, DirectoryWhoseSegmentLiesOutsideTheDiskIs1) {
    Disk d;
    d.b.set_segments(d.dir, {{d.b.total() + 5, 8}});
    MemImage mem(d.b.image());
    Path p;
    EXPECT_EQ(rbf::_os9_open(p.out(), mem.image(), "DIR/tool", 1), 1);
    EXPECT_EQ(p.p, nullptr);
}

// ---- close ------------------------------------------------------------------------------------

TEST(Close, NullPathIsAccepted) { EXPECT_EQ(rbf::_os9_close(nullptr), 0); }

TEST(Close, ReadOnlyPathLeavesEveryImageByteAsItWas) {
    ImageBuilder b;
    b.add_file(b.root(), "big", bytes{}, 0x1B, {{100, 3}});  // would be trimmed
    dvtest::TempDir tmp;
    b.save(tmp / "disk.dsk");
    MemImage mem(b.image());
    for (const dvtest::Access& at : both(tmp / "disk.dsk", mem)) {
        Path p;
        ASSERT_EQ(at.open(p.out(), "big", 1), 0) << at.describe("big");
        p.close();
    }
    for (const dvtest::Access& at : both(tmp / "disk.dsk", mem)) {
        Path p;
        ASSERT_EQ(at.open(p.out(), "@", 1), 0) << at.describe("@");
        // The path's own bitmap copy changes; a read-only path must not
        // write it back.
        const std::span<unsigned char> copy = rbf::path_bitmap(p);
        ASSERT_GE(copy.size(), 30u);
        rbf::_os9_allbit(copy, 200, 5);
        p.close();
    }
    EXPECT_EQ(dvtest::read_file(tmp / "disk.dsk"), b.image());
    EXPECT_EQ(mem.get(), b.image());
}

TEST(Close, RawWritePathWritesBackTheBitmapBitsItChanged) {
    ImageBuilder b;
    bytes expect = b.image();
    for (int u = 200; u < 205; ++u) mark_unit(expect, u, true);
    mark_unit(expect, 2, false);  // the root's FD, as a caller might clear it
    dvtest::TempDir tmp;
    b.save(tmp / "disk.dsk");
    MemImage mem(b.image());
    for (const dvtest::Access& at : both(tmp / "disk.dsk", mem)) {
        Path p;
        ASSERT_EQ(at.open(p.out(), "@", 3), 0) << at.describe("@");
        const std::span<unsigned char> copy = rbf::path_bitmap(p);
        ASSERT_GE(copy.size(), 30u);
        rbf::_os9_allbit(copy, 200, 5);
        rbf::_os9_delbit(copy, 2, 1);
        // Past dd_map (79 bytes here) the copy is not the bitmap: never
        // written back.
        ASSERT_GT(copy.size(), 100u);
        copy[100] = 0x5A;
        p.close();
    }
    EXPECT_EQ(dvtest::read_file(tmp / "disk.dsk"), expect);
    EXPECT_EQ(mem.get(), expect);
}

TEST(Close, EmptyFileWithThreeUnitsKeepsOne) {
    ImageBuilder b;
    int fd = b.add_file(b.root(), "f", bytes{}, 0x1B, {{100, 3}});
    ASSERT_EQ(b.size(fd), 0u);
    bytes expect = b.image();
    dvtest::put_be(seg_entry(expect, fd, 0) + 3, 2, 1);
    mark_unit(expect, 101, false);
    mark_unit(expect, 102, false);

    dvtest::TempDir tmp;
    b.save(tmp / "disk.dsk");
    MemImage mem(b.image());
    for (const dvtest::Access& at : both(tmp / "disk.dsk", mem)) {
        Path p;
        ASSERT_EQ(at.open(p.out(), "f", 2), 0) << at.describe("f");
        p.close();
    }
    bytes host = dvtest::read_file(tmp / "disk.dsk");
    EXPECT_EQ(host, expect);
    EXPECT_EQ(mem.get(), expect);
    EXPECT_TRUE(bit_set(host, 100));
    EXPECT_TRUE(dvtest::check_tree(host).empty());
}

TEST(Close, FileOfOneClusterSizeWithFourUnitsKeepsTwo) {
    ImageBuilder b;
    bytes data(256);
    for (int i = 0; i < 256; ++i) data[i] = static_cast<unsigned char>(i);
    int fd = b.add_file(b.root(), "f", data, 0x1B, {{100, 4}});
    ASSERT_EQ(b.size(fd), 256u);
    bytes expect = b.image();
    dvtest::put_be(seg_entry(expect, fd, 0) + 3, 2, 2);
    mark_unit(expect, 102, false);
    mark_unit(expect, 103, false);
    MemImage mem(b.image());
    Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), mem.image(), "f", 3), 0);
    p.close();
    EXPECT_EQ(mem.get(), expect);
    EXPECT_TRUE(dvtest::check_tree(mem.get()).empty());
}

TEST(Close, AlreadyTrimmedFileIsLeftUnchanged) {
    ImageBuilder b;
    b.add_file(b.root(), "f300", bytes(300, 'x'), 0x1B, {{100, 2}});  // 300 bytes in 2 units
    b.add_file(b.root(), "f10", bytes(10, 'y'), 0x1B, {{110, 1}});
    b.add_file(b.root(), "f511", bytes(511, 'z'), 0x1B, {{120, 1}, {130, 1}});
    MemImage mem(b.image());
    for (const char* name : {"f300", "f10", "f511"}) {
        Path p;
        ASSERT_EQ(rbf::_os9_open(p.out(), mem.image(), name, 2), 0) << name;
        p.close();
        EXPECT_EQ(mem.get(), b.image()) << name;
    }
}

TEST(Close, TrimThatEmptiesASegmentClearsItsLsnAndGoesOnWithThePreviousOne) {
    ImageBuilder b;
    int fd = b.add_file(b.root(), "f", bytes(10, 'q'), 0x1B, {{100, 2}, {120, 1}});
    bytes expect = b.image();
    dvtest::put_be(seg_entry(expect, fd, 0) + 3, 2, 1);
    std::fill(seg_entry(expect, fd, 1), seg_entry(expect, fd, 1) + 5, 0);
    mark_unit(expect, 101, false);
    mark_unit(expect, 120, false);
    MemImage mem(b.image());
    Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), mem.image(), "f", 2), 0);
    p.close();
    EXPECT_EQ(mem.get(), expect);
    EXPECT_TRUE(dvtest::check_tree(mem.get()).empty());
}

TEST(Close, TrimRunsBackThroughSeveralSegments) {
    ImageBuilder b;
    int fd = b.add_file(b.root(), "f", bytes{}, 0x1B, {{100, 1}, {110, 1}, {120, 1}, {130, 2}});
    bytes expect = b.image();
    for (int k = 1; k < 4; ++k) std::fill(seg_entry(expect, fd, k), seg_entry(expect, fd, k) + 5, 0);
    for (int u : {110, 120, 130, 131}) mark_unit(expect, u, false);
    dvtest::TempDir tmp;
    b.save(tmp / "disk.dsk");
    Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), tmp / "disk.dsk:f", 2), 0);
    p.close();
    bytes got = dvtest::read_file(tmp / "disk.dsk");
    EXPECT_EQ(got, expect);
    EXPECT_TRUE(dvtest::check_tree(got).empty());
}

TEST(Close, TrimOfAListWithAZeroCountEntryFreesOnlyTheFilesOwnUnits) {
    ImageBuilder b;
    int fd = b.add_file(b.root(), "f", bytes{}, 0x1B, {{100, 2}, {110, 0}, {120, 1}});
    const bytes before = b.image();
    MemImage mem(b.image());
    Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), mem.image(), "f", 2), 0);
    p.close();
    bytes after = mem.get();
    // Three units for an empty file: two go, from the end, and the first
    // unit of the first segment stays.
    for (int u = 0; u < b.total(); ++u) {
        bool expect = (u == 101 || u == 120) ? false : bit_set(before, u);
        EXPECT_EQ(bit_set(after, u), expect) << "unit " << u;
    }
    EXPECT_EQ(dvtest::be(seg_entry(after, fd, 0), 3), 100u);
    EXPECT_EQ(dvtest::be(seg_entry(after, fd, 0) + 3, 2), 1u);
    EXPECT_EQ(dvtest::be(seg_entry(after, fd, 2), 3), 0u);
}

TEST(Close, TrimNeverFreesUnitsOutsideTheFilesDataArea) {
    // Lists naming LSN 0 / the bitmap sectors or units past the disk: the
    // bits of the system area and of other files stay set whatever happens.
    ImageBuilder b;
    b.add_file(b.root(), "sys", bytes{}, 0x1B, {{100, 1}, {1, 2}});
    b.add_file(b.root(), "past", bytes{}, 0x1B, {{110, 3}, {b.total() - 1, 5}});
    const bytes before = b.image();
    MemImage mem(b.image());
    for (const char* name : {"sys", "past"}) {
        Path p;
        ASSERT_EQ(rbf::_os9_open(p.out(), mem.image(), name, 2), 0) << name;
        p.close();
    }
    bytes after = mem.get();
    // Every bit of the bitmap sector, those of units past dd_tot included.
    for (int u = 0; u < 256 * 8; ++u) {
        if (u == 111 || u == 112) continue;  // "past"'s own spare units may go
        EXPECT_EQ(bit_set(after, u), bit_set(before, u)) << "unit " << u;
    }
}

TEST(Close, DirectoryIsNeverTrimmed) {
    Disk d;  // DIR has 8 units and three entries
    ASSERT_EQ(d.b.size(d.dir), 96u);
    dvtest::TempDir tmp;
    d.b.save(tmp / "disk.dsk");
    MemImage mem(d.b.image());
    for (const dvtest::Access& at : both(tmp / "disk.dsk", mem)) {
        for (const char* in : {"DIR", "/"}) {
            Path p;
            ASSERT_EQ(at.open(p.out(), in, 0x83), 0) << at.describe(in);
            p.close();
        }
    }
    EXPECT_EQ(dvtest::read_file(tmp / "disk.dsk"), d.b.image());
    EXPECT_EQ(mem.get(), d.b.image());
}

TEST(Close, WritesBackOnlyTheBitmapBytesItsPathChanged) {
    // Two write paths on one image: the one closed last changed nothing in
    // the bitmap and must not put back the bits the other one freed.
    ImageBuilder b;
    b.add_file(b.root(), "x", bytes{}, 0x1B, {{100, 3}});
    b.add_file(b.root(), "y", bytes(300, 'y'), 0x1B, {{140, 2}});
    bytes expect = b.image();
    int xfd = 0;
    {
        // Where x's FD went: the entry named x in the root.
        bytes root = b.read_data(b.root());
        for (std::size_t off = 0; off + 32 <= root.size(); off += 32)
            if (root[off] == ('x' | 0x80)) xfd = static_cast<int>(dvtest::be(root.data() + off + 29, 3));
    }
    ASSERT_GT(xfd, 0);
    dvtest::put_be(seg_entry(expect, xfd, 0) + 3, 2, 1);
    mark_unit(expect, 101, false);
    mark_unit(expect, 102, false);
    dvtest::TempDir tmp;
    b.save(tmp / "disk.dsk");
    MemImage mem(b.image());
    for (const dvtest::Access& at : both(tmp / "disk.dsk", mem)) {
        Path px, py;
        ASSERT_EQ(at.open(px.out(), "x", 2), 0) << at.describe("x");
        ASSERT_EQ(at.open(py.out(), "y", 2), 0) << at.describe("y");
        px.close();
        py.close();
    }
    EXPECT_EQ(dvtest::read_file(tmp / "disk.dsk"), expect);
    EXPECT_EQ(mem.get(), expect);
}

// ---- _os9_open_parent_directory ---------------------------------------------------------------

TEST(OpenParentDirectory, SplitsTheLastComponentAndOpensItsDirectory) {
    Disk d;
    MemImage mem(d.b.image());
    dvtest::TempDir tmp;
    d.b.save(tmp / "disk.dsk");
    struct Case {
        std::string in;
        std::string name;
        int dir;
    } cases[] = {
        {"DIR/tool", "tool", d.dir},
        {"tool", "tool", d.b.root()},
        {"a/b/", "", d.ab},
        {"DIR/newname", "newname", d.dir},
        {"a/b/c", "c", d.ab},
        {"readme", "readme", d.b.root()},
    };
    for (const dvtest::Access& at : both(tmp / "disk.dsk", mem)) {
        for (const Case& c : cases) {
            Path p;
            std::string filename = "junk";
            ASSERT_EQ(at.open_parent_directory(p.out(), c.in, 0x81, filename), 0) << at.describe(c.in);
            EXPECT_EQ(filename, c.name) << at.describe(c.in);
            EXPECT_EQ(rbf::path_fd_sector(p), c.dir) << at.describe(c.in);
            EXPECT_EQ(rbf::path_position(p), 0);
        }
    }
}

TEST(OpenParentDirectory, ParentIsReachedThroughItsDotEntry) {
    // A directory whose "." names another directory: the parent opened is
    // the one "." names.
    ImageBuilder b;
    int other = b.add_dir(b.root(), "other");
    int odd = b.make_fd(0xBF, {}, 0);
    int lsn = b.alloc_run(8);
    b.set_segments(odd, {{lsn, 8}});
    b.add_entry(odd, "..", b.root());
    b.add_entry(odd, ".", other);
    b.add_entry(b.root(), "odd", odd);
    MemImage mem(b.image());
    Path p;
    std::string filename;
    ASSERT_EQ(rbf::_os9_open_parent_directory(p.out(), mem.image(), "odd/f", 0x81, filename), 0);
    EXPECT_EQ(filename, "f");
    EXPECT_EQ(rbf::path_fd_sector(p), other);
}

TEST(OpenParentDirectory, ModeIsPassedThrough) {
    Disk d;
    MemImage mem(d.b.image());
    std::string filename;
    Path p1;
    EXPECT_EQ(rbf::_os9_open_parent_directory(p1.out(), mem.image(), "DIR/x", 1, filename), rbf::E_FNA);
    EXPECT_EQ(p1.p, nullptr);
    Path p2;
    EXPECT_EQ(rbf::_os9_open_parent_directory(p2.out(), mem.image(), "DIR/x", 0x82, filename), 0);
    EXPECT_EQ(rbf::path_mode(p2), 0x82);
}

TEST(OpenParentDirectory, MissingParentFailsAsOpenWithTheNameFilledIn) {
    Disk d;
    MemImage mem(d.b.image());
    std::string filename;
    Path p;
    EXPECT_EQ(rbf::_os9_open_parent_directory(p.out(), mem.image(), "nodir/x", 0x81, filename), rbf::E_PNNF);
    EXPECT_EQ(p.p, nullptr);
    EXPECT_EQ(filename, "x");
}

TEST(OpenParentDirectory, TooLongPathlistOrNameIs215) {
    Disk d;
    dvtest::TempDir tmp;
    d.b.save(tmp / "disk.dsk");
    MemImage mem(d.b.image());
    // Leading slashes are ignored by the walk, so they pad a path to any
    // length without changing what it names.  A pathlist counts whole, the
    // image's name and the colon included; the image overload counts the
    // in-image path.
    const std::string head = tmp / "disk.dsk:";
    for (const dvtest::Access& at : both(tmp / "disk.dsk", mem)) {
        const std::size_t counted = at.by_pathlist() ? head.size() : 0;
        auto padded = [&](std::size_t total, const std::string& tail) {
            return std::string(total - counted - tail.size(), '/') + tail;
        };
        std::string filename;
        {
            Path p;
            std::string in = padded(254, "DIR/tool");
            ASSERT_EQ(counted + in.size(), 254u);
            EXPECT_EQ(at.open_parent_directory(p.out(), in, 0x81, filename), 0) << at.describe(in);
            EXPECT_EQ(filename, "tool");
            ASSERT_NE(p.p, nullptr);
            EXPECT_EQ(rbf::path_fd_sector(p), d.dir);
        }
        {
            Path p;
            std::string in = padded(255, "DIR/tool");
            EXPECT_EQ(at.open_parent_directory(p.out(), in, 0x81, filename), rbf::E_BPNAM) << at.describe(in);
            EXPECT_EQ(p.p, nullptr);
        }
        {
            Path p;
            const std::string n31(31, 'n');
            EXPECT_EQ(at.open_parent_directory(p.out(), "DIR/" + n31, 0x81, filename), 0);
            EXPECT_EQ(filename, n31);
        }
        {
            Path p;
            EXPECT_EQ(at.open_parent_directory(p.out(), "DIR/" + std::string(32, 'n'), 0x81, filename), rbf::E_BPNAM);
            EXPECT_EQ(p.p, nullptr);
        }
    }
}

// ---- _os9_file_exists ------------------------------------------------------------------------

TEST(FileExists, FindsANameThatDiffersOnlyInCaseAndStopsAfterIt) {
    Disk d;
    long long off = entry_offset(d.b, d.b.root(), "readme");
    ASSERT_GE(off, 0);
    MemImage mem(d.b.image());
    Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), mem.image(), "/", 0x81), 0);
    EXPECT_EQ(rbf::_os9_file_exists(p.p, "README"), rbf::E_CEF);
    EXPECT_EQ(rbf::path_position(p), off + 32);
    EXPECT_EQ(rbf::_os9_file_exists(p.p, "ReadMe"), rbf::E_CEF);
    EXPECT_EQ(rbf::path_position(p), off + 32);
    EXPECT_EQ(rbf::_os9_file_exists(p.p, "dir"), rbf::E_CEF);
    EXPECT_EQ(rbf::path_position(p), entry_offset(d.b, d.b.root(), "DIR") + 32);
}

TEST(FileExists, AbsentNameIsZeroWithThePositionAtTheEnd) {
    Disk d;
    MemImage mem(d.b.image());
    Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), mem.image(), "DIR", 0x81), 0);
    EXPECT_EQ(rbf::_os9_file_exists(p.p, "nothere"), 0);
    EXPECT_EQ(rbf::path_position(p), static_cast<int>(d.b.size(d.dir)));
    EXPECT_EQ(rbf::_os9_file_exists(p.p, "too"), 0);
    EXPECT_EQ(rbf::_os9_file_exists(p.p, "tool"), rbf::E_CEF);
}

TEST(FileExists, EmptyNameMatchesTheFirstDeletedEntry) {
    ImageBuilder b;
    b.add_file(b.root(), "keep", std::string("k"));
    int gone = b.make_fd(0x1B, {}, 0);
    bytes e(32, 0);
    e[1] = 'o';
    e[2] = 'n' | 0x80;
    dvtest::put_be(e.data() + 29, 3, static_cast<std::uint32_t>(gone));
    b.add_raw_entry(b.root(), e);
    b.add_file(b.root(), "later", std::string("l"));
    // ".." 0, "." 32, keep 64, deleted 96, later 128.
    MemImage mem(b.image());
    Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), mem.image(), "/", 0x81), 0);
    EXPECT_EQ(rbf::_os9_file_exists(p.p, ""), rbf::E_CEF);
    EXPECT_EQ(rbf::path_position(p), 128);
    EXPECT_EQ(rbf::_os9_file_exists(p.p, "later"), rbf::E_CEF);
    EXPECT_EQ(rbf::path_position(p), 160);
}

TEST(FileExists, ReadErrorOfTheDirectoryIsReturned) {
    Disk d;
    MemImage mem(d.b.image());
    Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), mem.image(), "DIR", 0x83), 0);
    // The directory now claims more entries than its segment list holds.
    rbf::fd_stats st;
    ASSERT_EQ(rbf::_os9_gs_fd(p.p, 256, &st), 0);
    dvtest::put_be(st.fd_siz, 4, 8 * 256 + 64);
    ASSERT_EQ(rbf::_os9_gs_fd_set(p.p, 256, &st), 0);
    EXPECT_EQ(rbf::_os9_file_exists(p.p, "nothere"), 1);
    EXPECT_EQ(rbf::_os9_file_exists(p.p, "TOOL"), rbf::E_CEF);
}

// ---- _os9_ok_filename -----------------------------------------------------------------------

TEST(OkFilename, LettersDigitsUnderscoreDotDollarAndDashAfterTheFirst) {
    EXPECT_EQ(rbf::_os9_ok_filename(""), 0);
    EXPECT_EQ(rbf::_os9_ok_filename("abcXYZ"), 0);
    EXPECT_EQ(rbf::_os9_ok_filename("file_1.txt"), 0);
    EXPECT_EQ(rbf::_os9_ok_filename("0123456789"), 0);
    EXPECT_EQ(rbf::_os9_ok_filename(".."), 0);
    EXPECT_EQ(rbf::_os9_ok_filename(std::string(40, 'a')), 0);  // length is not its business
    for (const char* good : {"a-b", "x-", "$", "$SYS", "a$b-c", ".-"}) EXPECT_EQ(rbf::_os9_ok_filename(good), 0) << good;
    for (const char* bad : {"-", "-a", "--", "a b", " ", "a/b", "a:b", "tab\t", "x@", "\x80", "caf\xc3\xa9", "~"}) {
        EXPECT_EQ(rbf::_os9_ok_filename(bad), 1) << bad;
    }
}

// ---- _os9_maximum_file_size -----------------------------------------------------------------

TEST(MaximumFileSize, SumsTheUsedRunOfTheSegmentList) {
    rbf::fd_stats fd{};
    EXPECT_EQ(rbf::_os9_maximum_file_size(fd, 256), 0);
    auto set = [&](int k, std::uint32_t lsn, std::uint32_t num) {
        dvtest::put_be(fd.fd_seg[k].lsn, 3, lsn);
        dvtest::put_be(fd.fd_seg[k].num, 2, num);
    };
    set(0, 100, 3);
    set(1, 200, 5);
    EXPECT_EQ(rbf::_os9_maximum_file_size(fd, 256), 8 * 256);
    EXPECT_EQ(rbf::_os9_maximum_file_size(fd, 512), 8 * 512);
    // Entries after the first empty one do not count.
    set(3, 300, 7);
    EXPECT_EQ(rbf::_os9_maximum_file_size(fd, 256), 8 * 256);
    // An entry with a zero count still belongs to the run; lsn decides.
    set(2, 250, 0);
    EXPECT_EQ(rbf::_os9_maximum_file_size(fd, 256), 15 * 256);
}

TEST(MaximumFileSize, FirstEntryEmptyIsZeroWhateverFollows) {
    rbf::fd_stats fd{};
    dvtest::put_be(fd.fd_seg[0].num, 2, 9);  // lsn 0: empty despite its count
    dvtest::put_be(fd.fd_seg[1].lsn, 3, 50);
    dvtest::put_be(fd.fd_seg[1].num, 2, 9);
    EXPECT_EQ(rbf::_os9_maximum_file_size(fd, 256), 0);
}

TEST(MaximumFileSize, FullListOfLargestSegmentsDoesNotOverflow) {
    rbf::fd_stats fd{};
    for (int k = 0; k < 48; ++k) {
        dvtest::put_be(fd.fd_seg[k].lsn, 3, 0xFFFFFF);
        dvtest::put_be(fd.fd_seg[k].num, 2, 0xFFFF);
    }
    EXPECT_EQ(rbf::_os9_maximum_file_size(fd, 256), std::int64_t{48} * 0xFFFF * 256);
}
