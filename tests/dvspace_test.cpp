// dvspace run as a user runs it, on images built byte by byte; and the
// guarantee that neither reading program changes an image.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "image_builder.h"
#include "run_program.h"
#include "test_support.h"

namespace {

using dvtest::bytes;
using dvtest::ImageBuilder;
using dvtest::run_gave;
using dvtest::run_program;
using dvtest::TempDir;

const std::string kHelp =
    "Syntax: dvspace {[<opts>]} {<disk> [<...>]} {[<opts>]}\n"
    "Usage:  display OS-9 disk utilization\n"
    "Options:\n";

// One report block as the format lays it out, with 1-sector clusters.
std::string report(const std::string& name, const std::string& date, int total, int free_sectors, int largest) {
    long long bytes_free = 256LL * free_sectors;
    std::string s = "\n\"" + name + "\" created on " + date + "\n";
    s += "Capacity: " + std::to_string(total * 256LL / 1024) + "K (" + std::to_string(total) +
         " sectors) 1-sector clusters\n";
    s += std::to_string(free_sectors) + " Free sectors, largest block " + std::to_string(largest) + " sectors\n";
    if (bytes_free >= 1024)
        s += "Free space: " + std::to_string(bytes_free / 1024) + "K (" + std::to_string(bytes_free) + " bytes)\n";
    else
        s += "Free space: " + std::to_string(bytes_free) + " bytes\n";
    return s + "\n";
}

dvtest::Run space(const TempDir& dir, const std::vector<std::string>& args) {
    return run_program("dvspace", args, dir.path());
}

// ---- the report ----------------------------------------------------------

TEST(DvSpaceProgram, DefaultDiskGivesTheWorkedExampleExactly) {
    TempDir dir;
    ImageBuilder b;
    b.set_date(126, 3, 7, 14, 5);
    b.save(dir / "disk.dsk");
    dvtest::Run r = space(dir, {"disk.dsk"});
    EXPECT_EQ(r.out,
              "\n\"CoCo Disk\" created on 03/07/2026\n"
              "Capacity: 157K (630 sectors) 1-sector clusters\n"
              "620 Free sectors, largest block 620 sectors\n"
              "Free space: 155K (158720 bytes)\n"
              "\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

TEST(DvSpaceProgram, DateIsMonthDayAndFourDigitYear) {
    TempDir dir;
    struct Case {
        int y, m, d;
        std::string shown;
    };
    for (const Case& c : std::vector<Case>{{99, 12, 31, "12/31/1999"}, {0, 1, 2, "01/02/1900"},
                                           {200, 10, 9, "10/09/2100"}}) {
        ImageBuilder b;
        b.set_date(c.y, c.m, c.d, 23, 59);
        b.save(dir / "disk.dsk");
        EXPECT_EQ(space(dir, {"disk.dsk"}).out, report("CoCo Disk", c.shown, 630, 620, 620));
    }
}

TEST(DvSpaceProgram, FullDiskShowsZeroInThePlainBytesForm) {
    TempDir dir;
    ImageBuilder b;
    b.mark(0, 630, true);
    b.save(dir / "full.dsk");
    dvtest::Run r = space(dir, {"full.dsk"});
    EXPECT_EQ(r.out,
              "\n\"CoCo Disk\" created on 03/03/2026\n"
              "Capacity: 157K (630 sectors) 1-sector clusters\n"
              "0 Free sectors, largest block 0 sectors\n"
              "Free space: 0 bytes\n"
              "\n");
    EXPECT_EQ(r.status, 0);
}

TEST(DvSpaceProgram, FreeSpaceOfExactlyOneKilobyteTakesTheKilobyteForm) {
    TempDir dir;
    ImageBuilder four;
    four.mark(0, 630, true);
    for (int u : {100, 101, 300, 629}) four.mark(u, 1, false);
    four.save(dir / "four.dsk");
    EXPECT_EQ(space(dir, {"four.dsk"}).out,
              "\n\"CoCo Disk\" created on 03/03/2026\n"
              "Capacity: 157K (630 sectors) 1-sector clusters\n"
              "4 Free sectors, largest block 2 sectors\n"
              "Free space: 1K (1024 bytes)\n"
              "\n");

    ImageBuilder three;
    three.mark(0, 630, true);
    for (int u : {100, 300, 629}) three.mark(u, 1, false);
    three.save(dir / "three.dsk");
    EXPECT_EQ(space(dir, {"three.dsk"}).out,
              "\n\"CoCo Disk\" created on 03/03/2026\n"
              "Capacity: 157K (630 sectors) 1-sector clusters\n"
              "3 Free sectors, largest block 1 sectors\n"
              "Free space: 768 bytes\n"
              "\n");
}

TEST(DvSpaceProgram, LargestBlockIsTheLongestRunOfFreeSectors) {
    TempDir dir;
    // Longest run in the middle, shorter ones after it.
    ImageBuilder middle;
    middle.mark(0, 630, true);
    middle.mark(20, 3, false);
    middle.mark(100, 7, false);
    middle.mark(200, 1, false);
    middle.mark(625, 5, false);
    middle.save(dir / "middle.dsk");
    EXPECT_EQ(space(dir, {"middle.dsk"}).out, report("CoCo Disk", "03/03/2026", 630, 16, 7));

    // Longest run reaching the last sector of the disk.  Bits past the end
    // of the disk are cleared too: they are no sectors and do not count.
    ImageBuilder tail;
    tail.mark(0, 630, true);
    tail.mark(20, 3, false);
    tail.mark(622, 8, false);
    tail.mark(630, 10, false);
    tail.save(dir / "tail.dsk");
    EXPECT_EQ(space(dir, {"tail.dsk"}).out, report("CoCo Disk", "03/03/2026", 630, 11, 8));
}

TEST(DvSpaceProgram, LargerDiskWithTwoBitmapSectors) {
    TempDir dir;
    // 2880 sectors: dd_map 361, two bitmap sectors, root FD at 3, data 4-10.
    ImageBuilder b(2880, "Big");
    b.set_date(125, 11, 30, 0, 0);
    b.save(dir / "big.dsk");
    EXPECT_EQ(space(dir, {"big.dsk"}).out,
              "\n\"Big\" created on 11/30/2025\n"
              "Capacity: 720K (2880 sectors) 1-sector clusters\n"
              "2869 Free sectors, largest block 2869 sectors\n"
              "Free space: 717K (734464 bytes)\n"
              "\n");
}

TEST(DvSpaceProgram, SeveralDisksAreReportedInCommandLineOrder) {
    TempDir dir;
    ImageBuilder a;
    a.save(dir / "a.dsk");
    ImageBuilder b(1440, "Second");
    b.set_date(124, 2, 29, 8, 0);
    b.save(dir / "b.dsk");
    dvtest::Run r = space(dir, {"b.dsk", "a.dsk", "b.dsk"});
    std::string ra = report("CoCo Disk", "03/03/2026", 630, 620, 620);
    std::string rb = report("Second", "02/29/2024", 1440, 1430, 1430);
    EXPECT_EQ(r.out, rb + ra + rb);
    EXPECT_EQ(r.status, 0);
}

TEST(DvSpaceProgram, UnopenableDiskStopsTheListWithItsStatus) {
    TempDir dir;
    ImageBuilder a;
    a.save(dir / "a.dsk");
    a.save(dir / "b.dsk");
    dvtest::Run r = space(dir, {"a.dsk", "missing.dsk", "b.dsk"});
    EXPECT_TRUE(run_gave(r, {.out = report("CoCo Disk", "03/03/2026", 630, 620, 620),
                             .err = dvtest::program_path("dvspace") + ": error 216 (pathname not found) opening 'missing.dsk'\n",
                             .status = 216}));
}

TEST(DvSpaceProgram, DiskArgumentWithAPathReportsTheWholeImage) {
    TempDir dir;
    ImageBuilder b;
    b.add_dir(b.root(), "CMDS");
    b.save(dir / "x.dsk");
    std::string expected = report("CoCo Disk", "03/03/2026", 630, 611, 611);
    for (std::string arg : {"x.dsk", "x.dsk:/CMDS", "x.dsk:NOSUCH/thing"}) {
        dvtest::Run r = space(dir, {arg});
        EXPECT_EQ(r.out, expected) << arg;
        EXPECT_EQ(r.status, 0) << arg;
    }
    // The completed pathlist shows in the message: the path is kept, "@" added.
    dvtest::Run r = space(dir, {"nope.dsk:/CMDS"});
    EXPECT_EQ(r.err, dvtest::program_path("dvspace") + ": error 216 (pathname not found) opening 'nope.dsk:/CMDS'\n");
    EXPECT_EQ(r.status, 216);
}

// ---- the disk name -------------------------------------------------------

TEST(DvSpaceProgram, NameFillingAllThirtyTwoBytesIsPrintedInFull) {
    TempDir dir;
    const std::string name = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";
    ASSERT_EQ(name.size(), 32u);
    ImageBuilder b;
    b.set_disk_name_raw(dvtest::os9_name(name));
    b.save(dir / "disk.dsk");
    EXPECT_EQ(space(dir, {"disk.dsk"}).out, report(name, "03/03/2026", 630, 620, 620));
}

TEST(DvSpaceProgram, EmptyNameFieldPrintsEmptyQuotes) {
    TempDir dir;
    ImageBuilder b;
    b.set_disk_name_raw(bytes(32, 0));
    b.save(dir / "disk.dsk");
    EXPECT_EQ(space(dir, {"disk.dsk"}).out, report("", "03/03/2026", 630, 620, 620));
}

TEST(DvSpaceProgram, NameEndsAtItsBitSevenCharacterEvenWithStrayBytesAfterIt) {
    TempDir dir;
    ImageBuilder b;
    bytes field = dvtest::os9_name("Work");
    field.push_back('\r');
    for (char c : std::string("junk")) field.push_back(static_cast<unsigned char>(c));
    b.set_disk_name_raw(field);
    b.save(dir / "disk.dsk");
    EXPECT_EQ(space(dir, {"disk.dsk"}).out, report("Work", "03/03/2026", 630, 620, 620));
}

// ---- options and arguments -----------------------------------------------

TEST(DvSpaceProgram, HelpOptionAnywhereReportsNothing) {
    TempDir dir;
    ImageBuilder b;
    b.save(dir / "disk.dsk");
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"disk.dsk", "-h"}, {"-h", "disk.dsk"}, {"-?"}, {"disk.dsk", "-hx"}, {"missing.dsk", "-h"}, {}}) {
        dvtest::Run r = space(dir, args);
        EXPECT_TRUE(run_gave(r, {.out = "", .err = kHelp, .status = 0}));
    }
}

TEST(DvSpaceProgram, UnknownOptionReportsNothing) {
    TempDir dir;
    ImageBuilder b;
    b.save(dir / "disk.dsk");
    for (const auto& args : std::vector<std::vector<std::string>>{{"-x"}, {"disk.dsk", "-x"}, {"-xh", "disk.dsk"}}) {
        dvtest::Run r = space(dir, args);
        EXPECT_TRUE(run_gave(r, {.out = "",
                                 .err = dvtest::program_path("dvspace") + ": unknown option 'x'\nTry '" +
                                        dvtest::program_path("dvspace") + " --help'.\n",
                                 .status = 2}));
    }
}

TEST(DvSpaceProgram, LoneDashIsIgnored) {
    TempDir dir;
    ImageBuilder b;
    b.save(dir / "disk.dsk");
    dvtest::Run r = space(dir, {"-", "disk.dsk", "-"});
    EXPECT_TRUE(run_gave(r, {.out = report("CoCo Disk", "03/03/2026", 630, 620, 620), .err = "", .status = 0}));
    // An argument was given, so no help, but no operand either.
    r = space(dir, {"-"});
    const std::string self = dvtest::program_path("dvspace");
    EXPECT_TRUE(run_gave(r, {.out = "", .err = self + ": missing operand\nTry '" + self + " --help'.\n", .status = 2}));
}

TEST(DvSpaceProgram, ArgumentTooLongForTheCompletedPathlistIsRefusedWith215) {
    TempDir dir;
    ImageBuilder b;
    // 252 characters: with ":." and "@" the pathlist has 255 and still fits.
    const std::string fits(252, 'f');
    b.save(dir / fits);
    dvtest::Run r = space(dir, {fits});
    EXPECT_EQ(r.out, report("CoCo Disk", "03/03/2026", 630, 620, 620));
    EXPECT_EQ(r.status, 0);

    const std::string too_long(253, 'g');
    b.save(dir / too_long);
    r = space(dir, {too_long});
    EXPECT_TRUE(run_gave(r, {.out = "",
                             .err = dvtest::program_path("dvspace") + ": error 215 (bad pathname) opening '" + too_long + "'\n",
                             .status = 215}));

    // With a colon only "@" is added.
    b.save(dir / "x.dsk");
    const std::string path_fits = "x.dsk:" + std::string(248, 'p');  // 254 + "@"
    r = space(dir, {path_fits});
    EXPECT_EQ(r.out, report("CoCo Disk", "03/03/2026", 630, 620, 620));
    EXPECT_EQ(r.status, 0);
    const std::string path_long = "x.dsk:" + std::string(249, 'p');  // 255 + "@"
    r = space(dir, {"x.dsk", path_long});
    EXPECT_TRUE(run_gave(r, {.out = report("CoCo Disk", "03/03/2026", 630, 620, 620),
                             .err = dvtest::program_path("dvspace") + ": error 215 (bad pathname) opening '" + path_long + "'\n",
                             .status = 215}));
}

// ---- the image stays as it was -------------------------------------------

struct timespec mtime_of(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0);
    return st.st_mtim;
}

TEST(ReadingPrograms, NeitherDvtypeNorDvspaceChangesTheImage) {
    TempDir dir;
    ImageBuilder b;
    int d = b.add_dir(b.root(), "DIR");
    b.add_file(d, "readme", std::string("line one\rline two\r"));
    // A file with a generous allocation: a writing close would trim it.
    const std::string shorttext = "short\r";
    int big = b.add_file(b.root(), "slack", bytes(shorttext.begin(), shorttext.end()), 0x1B, {{300, 20}});
    ASSERT_EQ(b.size(big), 6u);
    b.save(dir / "disk.dsk");
    const std::string img = dir / "disk.dsk";
    const struct timespec old_times[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, img.c_str(), old_times, 0), 0);
    const bytes before = dvtest::read_file(img);

    const std::vector<std::pair<std::string, std::vector<std::string>>> runs = {
        {"dvtype", {"disk.dsk:DIR/readme"}}, {"dvtype", {"disk.dsk:slack"}},  {"dvtype", {"disk.dsk:nothere"}},
        {"dvtype", {"disk.dsk:DIR"}},        {"dvtype", {"disk.dsk:.@"}},     {"dvspace", {"disk.dsk"}},
        {"dvspace", {"disk.dsk:DIR"}},       {"dvspace", {"disk.dsk:slack"}},
    };
    for (const auto& [prog, args] : runs) {
        run_program(prog, args, dir.path());
        EXPECT_EQ(dvtest::read_file(img), before) << prog << " " << args[0];
        struct timespec t = mtime_of(img);
        EXPECT_EQ(t.tv_sec, 1000000000) << prog << " " << args[0];
        EXPECT_EQ(t.tv_nsec, 0) << prog << " " << args[0];
    }
}

}  // namespace
