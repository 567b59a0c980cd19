// dvconvert run as a user runs it: a raw disk with files on it into every
// container, read back by the tests' own reader of each format to the same
// sectors byte for byte; and what it refuses before anything is written.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "container_builders.h"
#include "container_bytes.h"
#include "image_builder.h"
#include "run_program.h"
#include "test_support.h"

namespace {

using dvtest::bytes;
using dvtest::run_gave;
using dvtest::run_program;
using dvtest::TempDir;


// A disk of `cylinders` x 18 x `sides` sectors, LSN 0 saying so, with files.
bytes disk_with_files(int cylinders, int sides) {
    dvtest::ImageBuilder b(cylinders * 18 * sides);
    b.set_lsn0_byte(3, 18);
    b.set_lsn0_byte(16, static_cast<unsigned char>(sides + 1));
    const int dir = b.add_dir(b.root(), "CMDS");
    bytes data(3000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 31 + 7);
    b.add_file(dir, "tool", data);
    b.add_file(b.root(), "readme", "a disk in any container\r");
    return b.image();
}

std::set<std::string> names_in(const TempDir& dir) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) names.insert(e.path().filename());
    return names;
}

struct RoundTrip {
    std::vector<std::string> args;  // converting src.dsk
    std::string out, kind;          // the file made, its container
};

TEST(DvConvertProgram, RawIntoEachContainerGivesTheSameSectorsBack) {
    const bytes src = disk_with_files(40, 2);
    const std::vector<RoundTrip> cases = {
        {{"src.dsk", "out.jvc"}, "out.jvc", "jvc"},
        {{"src.dsk", "out.VDK"}, "out.VDK", "vdk"},
        {{"src.dsk", "out.dmk"}, "out.dmk", "dmk"},
        {{"src.dsk", "out.dsk"}, "out.dsk", "raw"},
        {{"--to", "dmk", "src.dsk", "out.img"}, "out.img", "dmk"},
        {{"--to=vdk", "src.dsk", "out.dsk"}, "out.dsk", "vdk"},
        {{"-fjvc", "src.dsk", "out"}, "out", "jvc"},
        {{"-fraw", "src.dsk", "out.dmk"}, "out.dmk", "raw"},
    };
    for (const RoundTrip& c : cases) {
        TempDir dir;
        dvtest::write_file(dir / "src.dsk", src);
        ASSERT_TRUE(run_gave(run_program("dvconvert", c.args, dir.path()), {.out = "", .err = "", .status = 0}))
            << c.args[0] << " " << c.out;
        const dvtest::unpacked u = dvtest::unpack(c.kind, dvtest::read_file(dir / c.out));
        EXPECT_EQ(u.fault, "") << c.out;
        EXPECT_TRUE(u.disk == src) << c.out << ": the sectors differ";
        if (c.kind != "raw") {
            EXPECT_EQ(u.cylinders, 40u) << c.out;
        }
        EXPECT_EQ(names_in(dir), (std::set<std::string>{"src.dsk", c.out})) << "a temporary file stayed";
        EXPECT_EQ(dvtest::read_file(dir / "src.dsk"), src);
    }
}

// Back again through the library's own readers: raw -> each -> raw byte for
// byte, and an archived ImageDisk floppy made a raw image.
TEST(DvConvertProgram, EachContainerConvertsBackToTheRawImageByteForByte) {
    const bytes src = disk_with_files(40, 2);
    for (const std::string kind : {"jvc", "vdk", "dmk"}) {
        TempDir dir;
        dvtest::write_file(dir / "src.dsk", src);
        ASSERT_EQ(run_program("dvconvert", {"--to", kind, "src.dsk", "mid"}, dir.path()).status, 0) << kind;
        const dvtest::Run back = run_program("dvconvert", {"--to", "raw", "mid", "back.dsk"}, dir.path());
        EXPECT_TRUE(run_gave(back, {.out = "", .err = "", .status = 0})) << kind;
        EXPECT_TRUE(dvtest::read_file(dir / "back.dsk") == src) << kind << ": the sectors differ";
    }
    TempDir dir;
    dvtest::write_file(dir / "old.imd", dvtest::make_imd(src, 40, 2));
    EXPECT_TRUE(run_gave(run_program("dvconvert", {"old.imd", "new.dsk"}, dir.path()), {.out = "", .err = "", .status = 0}));
    EXPECT_TRUE(dvtest::read_file(dir / "new.dsk") == src) << "ImageDisk: the sectors differ";
}

TEST(DvConvertProgram, AnExistingDestinationIsReplacedWholeAndKeepsItsMode) {
    TempDir dir;
    const bytes src = disk_with_files(40, 1);
    dvtest::write_file(dir / "src.dsk", src);
    dvtest::write_file(dir / "old.vdk", bytes(900000, 0xE5));
    ASSERT_EQ(chmod((dir / "old.vdk").c_str(), 0640), 0);
    ASSERT_EQ(run_program("dvconvert", {"src.dsk", "old.vdk"}, dir.path()).status, 0);
    EXPECT_TRUE(dvtest::unpack_vdk(dvtest::read_file(dir / "old.vdk")).disk == src);
    struct stat st {};
    ASSERT_EQ(stat((dir / "old.vdk").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

struct Refusal {
    std::vector<std::string> args;
    std::string err;  // a leading ':' stands for "dvconvert:"
    int status;
};

TEST(DvConvertProgram, RefusalsWriteNothing) {
    const bytes src = disk_with_files(40, 1);
    dvtest::ImageBuilder ten(300);
    ten.set_lsn0_byte(3, 10);
    // Track 0 of 10 sectors, the others of 18 (pd_t0s, LSN 0 bytes 74-75).
    dvtest::ImageBuilder short0(712);
    short0.set_lsn0_byte(3, 18);
    short0.set_lsn0_byte(74, 0);
    short0.set_lsn0_byte(75, 10);
    const std::string imd = ": writing ImageDisk is not supported: convert to raw, jvc, vdk or dmk\n";
    const std::vector<Refusal> cases = {
        {{"src.dsk", "out.imd"}, imd, 1},
        {{"--to", "imd", "src.dsk", "out.dsk"}, imd, 1},
        {{"--to", "xyz", "src.dsk", "out"}, ": unknown container 'xyz': raw, jvc, vdk or dmk\n", 1},
        {{"-fDMK", "src.dsk", "out"}, ": unknown container 'DMK': raw, jvc, vdk or dmk\n", 1},
        {{"src.dsk", "src.dsk"}, ": 'src.dsk' and 'src.dsk' are the same file\n", 1},
        {{"src.dsk", "./src.dsk"}, ": 'src.dsk' and './src.dsk' are the same file\n", 1},
        {{"ten.dsk", "out.vdk"}, ": cannot convert 'ten.dsk': a VDK image holds 18 sectors per track, not 10\n", 1},
        {{"short0.dsk", "out.dmk"},
         ": cannot convert 'short0.dsk': a DMK image needs whole tracks: track 0 of this disk holds 10 sectors, the others 18\n", 1},
        {{"nope.dsk", "out.dmk"}, ": error 216 (pathname not found) reading 'nope.dsk'\n", 216},
        {{"junk.bin", "out.dmk"}, ": error 249 (not an RBF disk image) reading 'junk.bin'\n", 249},
        {{"src.dsk", "sub"}, ": error 192 (is a directory) writing 'sub'\n", 192},
        // Usage errors: the usage status and a hint ("!" stands for the program's path).
        {{"src.dsk"}, "!: missing operand\nTry '! --help'.\n", 2},
        {{"src.dsk", "out", "more"}, "!: extra operand 'more'\nTry '! --help'.\n", 2},
        {{"src.dsk", "out", "--to"}, "!: option --to needs a value\nTry '! --help'.\n", 2},
    };
    for (const Refusal& c : cases) {
        TempDir dir;
        dvtest::write_file(dir / "src.dsk", src);
        dvtest::write_file(dir / "ten.dsk", ten.image());
        dvtest::write_file(dir / "short0.dsk", short0.image());
        dvtest::write_file(dir / "junk.bin", bytes(4096, 'j'));
        std::filesystem::create_directory(dir / "sub");
        const std::set<std::string> before = names_in(dir);
        std::string err = c.err;
        if (err[0] == ':') err = "dvconvert" + err;
        for (std::size_t at; (at = err.find('!')) != std::string::npos;) err.replace(at, 1, dvtest::program_path("dvconvert"));
        EXPECT_TRUE(run_gave(run_program("dvconvert", c.args, dir.path()), {.out = "", .err = err, .status = c.status}))
            << c.args[0];
        EXPECT_EQ(names_in(dir), before) << c.args[0];
        EXPECT_TRUE(std::filesystem::is_empty(dir / "sub"));
        EXPECT_EQ(dvtest::read_file(dir / "src.dsk"), src);
    }
}

}  // namespace
