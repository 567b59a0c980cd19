// Boot code no file owns (the CoCo kernel track, a Dragon disk's reserved
// sectors) is no leak and is never handed out; LSN 0's dd_bt / dd_bsz
// follow the boot file through a replace, a delete, a rename and a repair.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

namespace {

using dvtest::bytes;
using dvtest::ImageBuilder;
using dvtest::run_program;
using dvtest::TempDir;

constexpr auto npos = std::string::npos;

bytes pattern(std::size_t n, unsigned seed) {
    bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>((i * 7 + seed * 31) % 251);
    return b;
}

std::pair<int, int> pointer(const bytes& img) {  // dd_bt, dd_bsz
    return {static_cast<int>(dvtest::be(img.data() + 21, 3)), static_cast<int>(dvtest::be(img.data() + 24, 2))};
}
void set_pointer(bytes& img, int lsn, int size) {
    dvtest::put_be(img.data() + 21, 3, static_cast<std::uint32_t>(lsn));
    dvtest::put_be(img.data() + 24, 2, static_cast<std::uint32_t>(size));
}

// sides 1 or 2: a 35-track CoCo disk whose kernel track (LSN 34 x sides x
// 18) begins with `mark`; sides 0: a Dragon disk, LSN 2-17 held for the
// boot code ($E5 filler), the root's FD at 18.
bytes boot_code_disk(int sides, bool marked, const char* mark = "OS") {
    if (sides == 0) {
        bytes img = ImageBuilder(1440).image();
        std::copy_n(img.begin() + 2 * 256, 8 * 256, img.begin() + 18 * 256);
        std::fill_n(img.begin() + 2 * 256, 16 * 256, 0xE5);
        for (int at : {8, 18 * 256 + 16, 19 * 256 + 29, 19 * 256 + 61})  // dd_dir, the segment, "..", "."
            dvtest::put_be(img.data() + at, 3, at == 18 * 256 + 16 ? 19 : 18);
        for (int u = 2; u < 26; ++u) dvtest::mark_unit(img, u, marked || u >= 18);
        return img;
    }
    ImageBuilder b(630 * sides);
    b.set_lsn0_byte(16, static_cast<unsigned char>(sides + 1));
    const int track = 34 * sides * 18;
    std::fill_n(b.image().begin() + track * 256, 18 * 256, 0x3F);
    std::copy_n(mark, 2, b.image().begin() + track * 256);
    b.mark(track, 18, marked);
    return b.image();
}

struct AreaCase {
    int sides;
    bool marked;
    const char* mark;
    int leak;                // a unit marked in use that nothing owns (0: none)
    std::string area, line;  // as -v and the summary give it ("" for none); in the output
    int status, repaired;    // of dvcheck, of dvcheck -r
    int first, count;        // in use after the repair and never overwritten
};

const AreaCase kAreas[] = {
    {1, true, "OS", 0, "boot track: LSN 612-629", "0 problems found", 0, 0, 612, 18},
    {2, true, "OS", 0, "boot track: LSN 1224-1241", "0 problems found", 0, 0, 1224, 18},
    {0, true, "", 0, "boot area: LSN 2-17", "0 problems found", 0, 0, 2, 16},
    {0, false, "", 0, "boot area: LSN 2-17", "the boot area (LSN 2-17) is marked free", 4, 1, 2, 16},
    {1, false, "OS", 0, "boot track: LSN 612-629", "the kernel track (LSN 612-629) is marked free", 4, 1, 612, 18},
    {1, true, "OS", 400, "boot track: LSN 612-629", "1 units marked in use belong to nothing (leaked), the first 400", 4,
     1, 612, 18},
    {1, true, "XY", 0, "", "18 units marked in use belong to nothing (leaked), the first 612", 4, 1, 0, 0},
};

TEST(BootAreas, CheckedListedRepairedAndNeverOverwritten) {
    for (const AreaCase& c : kAreas) {
        TempDir tmp;
        bytes before = boot_code_disk(c.sides, c.marked, c.mark);
        if (c.leak) dvtest::mark_unit(before, c.leak, true);
        dvtest::write_file(tmp / "x.dsk", before);
        const dvtest::Run check = run_program("dvcheck", {"-v", "x.dsk"}, tmp.path());
        EXPECT_EQ(check.status, c.status) << check.out;
        EXPECT_NE(check.out.find(c.line), npos) << check.out;
        EXPECT_EQ(check.out.find("x.dsk: " + c.area + "\n") != npos, !c.area.empty()) << check.out;
        EXPECT_EQ(check.out.find(" leaked; " + c.area + "; ") != npos, !c.area.empty()) << check.out;
        EXPECT_EQ(run_program("dvcheck", {"-r", "x.dsk"}, tmp.path()).status, c.repaired) << c.line;
        EXPECT_EQ(run_program("dvcheck", {"x.dsk"}, tmp.path()).status, 0) << c.line;
        const bytes repaired = dvtest::read_file(tmp / "x.dsk");
        for (int u = c.first; u < c.first + c.count; ++u) EXPECT_TRUE(dvtest::bit_set(repaired, u)) << c.line << u;
        // A copy as large as the free space allows goes round the boot code.
        const std::size_t big = std::min<std::size_t>(150 * 1024, (dvtest::free_units(repaired) - 12) * 256);
        dvtest::write_file(tmp / "big", pattern(big, 1));
        EXPECT_EQ(run_program("dvcopy", {"big", "x.dsk:BIG"}, tmp.path()).status, 0) << c.line;
        EXPECT_EQ(dvtest::slice(dvtest::read_file(tmp / "x.dsk"), c.first * 256u, c.count * 256u),
                  dvtest::slice(before, c.first * 256u, c.count * 256u))
            << c.line;
    }
}

TEST(BootAreas, DragonReservedSectorsAreNeverAllocatedEvenMarkedFree) {
    TempDir tmp;
    const bytes before = boot_code_disk(0, false);
    dvtest::write_file(tmp / "x.dsk", before);
    dvtest::write_file(tmp / "f", pattern(3000, 2));
    for (const char* name : {"x.dsk:A", "x.dsk:B"}) EXPECT_EQ(run_program("dvcopy", {"f", name}, tmp.path()).status, 0);
    const bytes after = dvtest::read_file(tmp / "x.dsk");
    EXPECT_EQ(dvtest::slice(after, 512, 16 * 256), dvtest::slice(before, 512, 16 * 256));
    for (const auto& [path, node] : dvtest::list_tree(after))
        EXPECT_GE(std::min(node.fd, dvtest::fd_segments(after, node.fd)[0].first), 18) << path;
}

// A disk booting from /OS9Boot: 3000 bytes, FD 10, one segment at LSN 11
// (fragmented: two segments, dd_bt its FD), then SYS; the free units from
// 60 up to `broken` are runs of 29 between units a file holds.
ImageBuilder boot_disk(int broken, bool fragmented = false) {
    ImageBuilder b(630);
    const int fd = b.add_file(b.root(), "OS9Boot", bytes{}, 0x1B, fragmented ? dvtest::seglist{{40, 6}, {50, 6}}
                                                                             : dvtest::seglist{{11, 12}});
    b.write_data(fd, 0, pattern(3000, 7));
    set_pointer(b.image(), fragmented ? fd : 11, fragmented ? 0 : 3000);
    b.add_dir(b.root(), "SYS");
    dvtest::seglist holes;
    for (int u = 60; u < broken; u += 30) holes.emplace_back(u, 1);
    b.add_file(b.root(), "H0", bytes{}, 0x1B, holes);
    return b;
}

// Replaced by a copy, the boot file is laid in one segment and LSN 0 points
// at it; with no free run long enough the copy fails and changes nothing.
TEST(BootFile, ReplacedByACopyInOneSegmentWithLsn0Following) {
    for (const auto& [broken, fragmented] : {std::pair{400, false}, {400, true}, {630, false}}) {
        TempDir tmp;
        ImageBuilder b = boot_disk(broken, fragmented);
        b.save(tmp / "x.dsk");
        const dvtest::Run check = run_program("dvcheck", {"-v", "x.dsk"}, tmp.path());
        EXPECT_EQ(check.status, 0) << check.out;
        EXPECT_NE(check.out.find("x.dsk: boot file: /OS9Boot\n"), npos) << check.out;
        dvtest::write_file(tmp / "new", pattern(9000, 8));
        const dvtest::Run copy = run_program("dvcopy", {"-o", "new", "x.dsk:OS9Boot"}, tmp.path());
        const bytes img = dvtest::read_file(tmp / "x.dsk");
        if (broken == 630) {
            EXPECT_EQ(copy.status, 248);
            EXPECT_EQ(img, b.image());
            continue;
        }
        EXPECT_EQ(copy.status, 0);
        const dvtest::TreeNode node = dvtest::list_tree(img).at("OS9Boot");
        EXPECT_EQ(node.data, pattern(9000, 8));
        const dvtest::seglist segs = dvtest::fd_segments(img, node.fd);
        ASSERT_EQ(segs.size(), 1u) << fragmented;
        EXPECT_EQ(pointer(img), std::make_pair(segs[0].first, 9000));
        EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
    }
}

// A program and its arguments, and what it says ("" when LSN 0 keeps the boot file).
const std::pair<std::vector<std::string>, std::string> kAways[] = {
    {{"dvdel", "x.dsk:OS9Boot"}, "dvdel: 'x.dsk' no longer boots: its boot file was deleted\n"},
    {{"dvrename", "x.dsk:OS9Boot", "OLDBOOT"}, "dvrename: 'x.dsk' no longer boots: its boot file was renamed\n"},
    {{"dvprune", "-q", "x.dsk:SYS"}, "dvprune: 'x.dsk' no longer boots: its boot file was deleted\n"},
    {{"dvrename", "x.dsk:OS9Boot", "os9boot"}, ""},
    {{"dvrename", "x.dsk:OS9Boot", "x.dsk:SYS/"}, "dvrename: 'x.dsk' no longer boots: its boot file was renamed\n"},
    {{"dvrename", "x.dsk:OS9Boot", "x.dsk:OS9BOOT"}, ""},
    {{"dvdel", "x.dsk:H0"}, ""},
};

TEST(BootFile, DeletedOrRenamedAwayLsn0ForgetsItAndTheProgramSaysSo) {
    for (const auto& [run, err] : kAways) {
        TempDir tmp;
        ImageBuilder b = boot_disk(70);
        if (run[0] == "dvprune") {  // the boot file below SYS instead
            const int k = b.add_file(dvtest::list_tree(b.image()).at("SYS").fd, "K", pattern(300, 4));
            set_pointer(b.image(), b.segments(k)[0].first, 300);
        }
        b.save(tmp / "x.dsk");
        const dvtest::Run r = run_program(run[0], {run.begin() + 1, run.end()}, tmp.path());
        EXPECT_EQ(r.status, 0) << run[1];
        EXPECT_EQ(r.err, err) << run[1];
        const bytes img = dvtest::read_file(tmp / "x.dsk");
        EXPECT_EQ(pointer(img), err.empty() ? pointer(b.image()) : std::make_pair(0, 0)) << run[1];
        EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{}) << run[1];
    }
    dvtest::MemImage mem(boot_disk(0).image());  // moved out of the root, it is no boot file either
    ASSERT_EQ(rbf::_os9_move(mem.image(), "OS9Boot", "SYS/OS9Boot", false), 0);
    EXPECT_EQ(pointer(mem.get()), std::make_pair(0, 0));
}

struct PointerCase {
    int lsn, size;
    bool fragmented;  // OS9Boot in two segments
    std::string line;
    std::pair<int, int> repaired;  // dd_bt, dd_bsz after -r
};

const PointerCase kPointers[] = {
    {500, 3000, false, "names no file's first data sector", {11, 3000}},
    {11, 100, false, "gives 100 bytes, /OS9Boot holds 3000", {11, 3000}},
    {11, 0, false, "names no file's FD", {11, 3000}},
    {0, 3000, false, "names no file's first data sector", {11, 3000}},
    {500, 3000, true, "names no file's first data sector", {0, 0}},
};

TEST(BootFile, CheckReportsAWrongPointerAndRepairPointsItAtOs9BootOrClearsIt) {
    for (const PointerCase& c : kPointers) {
        TempDir tmp;
        ImageBuilder b = boot_disk(0, c.fragmented);
        set_pointer(b.image(), c.lsn, c.size);
        b.save(tmp / "x.dsk");
        const dvtest::Run check = run_program("dvcheck", {"x.dsk"}, tmp.path());
        EXPECT_EQ(check.status, 4) << check.out;
        const std::string said = "(dd_bt " + std::to_string(c.lsn) + ", dd_bsz " + std::to_string(c.size) + ") " + c.line;
        EXPECT_NE(check.out.find("the boot pointer " + said), npos) << check.out;
        EXPECT_EQ(run_program("dvcheck", {"-r", "x.dsk"}, tmp.path()).status, 1) << said;
        const bytes img = dvtest::read_file(tmp / "x.dsk");
        EXPECT_EQ(pointer(img), c.repaired) << said;
        set_pointer(b.image(), c.repaired.first, c.repaired.second);  // and nothing else of LSN 0
        EXPECT_EQ(dvtest::slice(img, 0, 256), dvtest::slice(b.image(), 0, 256)) << said;
        EXPECT_EQ(run_program("dvcheck", {"x.dsk"}, tmp.path()).status, 0) << said;
    }
}

}  // namespace
