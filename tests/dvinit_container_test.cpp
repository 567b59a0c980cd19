// dvinit making containers and partitions, run as a user runs it: each
// container read back by the tests' own reader holds the disk a raw dvinit
// of the same options makes; a partition changes no byte outside it; and
// what it refuses before any file is touched.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "container_bytes.h"
#include "image_builder.h"
#include "run_program.h"
#include "test_support.h"
#include "tree_check.h"

namespace {

using dvtest::bytes;
using dvtest::read_file;
using dvtest::run_program;
using dvtest::TempDir;

// The raw disk dvinit makes with `options` (and a fixed disk ID).
bytes raw_disk(const std::vector<std::string>& options) {
    TempDir dir;
    std::vector<std::string> args = options;
    args.push_back("raw.dsk");
    EXPECT_EQ(run_program("dvinit", args, dir.path()).status, 0);
    return read_file(dir / "raw.dsk");
}

struct Made {
    std::vector<std::string> options;  // with -i0x4D31 before them
    std::string file, kind;            // what is made, its container
    bytes header;                      // its first bytes (JVC, VDK)
};

TEST(DvInitContainers, EachHoldsTheDiskARawFormatMakes) {
    const std::vector<Made> cases = {
        {{}, "a.jvc", "jvc", {}},  // no header: the raw image
        {{"-t40", "-2"}, "a.JVC", "jvc", {18, 2}},
        {{"--to", "jvc", "-s10"}, "a.dsk", "jvc", {10, 1}},
        {{}, "a.vdk", "vdk", {'d', 'k', 12, 0, 0x10, 0x10, 0, 0, 35, 1, 0, 0}},
        {{"-t40", "-2", "--to=vdk"}, "a.img", "vdk", {'d', 'k', 12, 0, 0x10, 0x10, 0, 0, 40, 2, 0, 0}},
        {{"-t40", "-2"}, "a.dmk", "dmk", {0, 40, 0x00, 0x19, 0}},
        {{"-fdmk", "-t80", "-s36", "-2", "-c2"}, "a.img", "dmk", {0, 80, 0xC8, 0x30, 0}},
        {{"-fraw"}, "a.dmk", "raw", {}},
        {{"-fdmk", "-fraw"}, "a.dsk", "raw", {}},
    };
    for (const Made& c : cases) {
        TempDir dir;
        dvtest::write_file(dir / c.file, bytes(1000000, 0xE5));  // an old, longer file
        std::vector<std::string> args = {"-i0x4D31"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const std::vector<std::string> geometry(args.begin(), args.end());
        args.push_back(c.file);
        ASSERT_TRUE(dvtest::run_gave(run_program("dvinit", args, dir.path()), {.out = "", .err = "", .status = 0}))
            << c.file;
        const bytes file = read_file(dir / c.file);
        EXPECT_EQ(bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(c.header.size())), c.header) << c.file;
        const dvtest::unpacked u = dvtest::unpack(c.kind, file);
        ASSERT_EQ(u.fault, "") << c.file;
        std::vector<std::string> raw_options;
        for (const std::string& a : geometry)
            if (a.rfind("-f", 0) != 0 && a.rfind("--to", 0) != 0 && a != "jvc") raw_options.push_back(a);
        bytes raw = raw_disk(raw_options);
        if (c.kind == "raw") raw.resize(1000000, 0xE5);  // a raw image keeps what lies past it, as always
        EXPECT_TRUE(dvtest::same_dates(u.disk, raw) == raw) << c.file << ": not the disk a raw format makes";
        EXPECT_TRUE(dvtest::check_tree(u.disk).empty()) << c.file;
    }
}

struct Partition {
    std::string at;        // as written after "@@"
    std::size_t offset;
    std::size_t old_size;  // of the file before (0: no file)
};

TEST(DvInitContainers, APartitionChangesNoByteOutsideIt) {
    const bytes disk = raw_disk({"-i0x4D31", "-t4", "-s10"});  // 40 sectors
    const std::vector<Partition> cases = {
        {"4096", 4096, 65536},   {"0x1000", 4096, 65536}, {"16s", 4096, 65536}, {"0", 0, 65536},
        {"0x1000:", 4096, 65536}, {"1000", 1000, 65536},  // a partition need not start on a sector
        {"4096", 4096, 6000},  // the file ends inside: it grows to the partition's end
        {"4096", 4096, 0},     // no file: one is made, zeros before the partition
    };
    for (const Partition& c : cases) {
        TempDir dir;
        bytes old(c.old_size);
        for (std::size_t i = 0; i < old.size(); ++i) old[i] = static_cast<unsigned char>(i * 7 + (i >> 8) + 1);
        if (c.old_size) dvtest::write_file(dir / "hd.img", old);
        ASSERT_EQ(run_program("dvinit", {"-i0x4D31", "-t4", "-s10", "hd.img@@" + c.at}, dir.path()).status, 0) << c.at;
        const bytes now = read_file(dir / "hd.img");
        const std::size_t end = c.offset + disk.size();
        ASSERT_EQ(now.size(), std::max(c.old_size, end)) << c.at;
        for (std::size_t i = 0; i < now.size(); ++i) {
            if (i >= c.offset && i < end) continue;
            ASSERT_EQ(now[i], i < c.old_size ? old[i] : 0) << c.at << ": byte " << i << " outside the partition";
        }
        const bytes part(now.begin() + static_cast<std::ptrdiff_t>(c.offset), now.begin() + static_cast<std::ptrdiff_t>(end));
        EXPECT_EQ(dvtest::same_dates(part, disk), disk) << c.at;
    }
}

struct Refused {
    std::vector<std::string> args;
    std::string err;  // after "<dvinit's path>: "; "!" stands for that path
    int status = 1;
};

TEST(DvInitContainers, RefusalsTouchNoFile) {
    const std::string imd = "writing ImageDisk is not supported: convert to raw, jvc, vdk or dmk\n";
    const std::vector<Refused> cases = {
        {{"x.imd"}, imd},
        {{"-fimd", "x.dsk"}, imd},
        {{"-fxyz", "x.dsk"}, "unknown container 'xyz': raw, jvc, vdk or dmk\n"},
        {{"--to"}, "option --to needs a value\nTry '! --help'.\n", 2},
        {{"-s20", "x.vdk"}, "cannot make 'x.vdk': a VDK image holds 18 sectors per track, not 20\n"},
        {{"-s48", "x.dmk"}, "cannot make 'x.dmk': a DMK track holds 1 to 47 sectors of 256 bytes, not 48\n"},
        {{"-t256", "x.dmk"}, "cannot make 'x.dmk': a DMK image holds at most 255 cylinders, not 256\n"},
        {{"-fjvc", "hd.img@@0"}, "a JVC image is a host file of its own: 'hd.img@@0'\n"},
        {{"-fdmk", "hd.img:.@"}, "a DMK image is a host file of its own: 'hd.img:.@'\n"},
        {{"ok.dsk", "hd.img@@12q"}, "bad partition offset '12q' in 'hd.img@@12q'\n"},
        {{"hd.img@@"}, "bad partition offset '' in 'hd.img@@'\n"},
    };
    const bytes old(9000, 0x6C);
    for (const Refused& c : cases) {
        TempDir dir;
        dvtest::write_file(dir / "hd.img", old);
        const dvtest::Run r = run_program("dvinit", c.args, dir.path());
        std::string err = c.err;
        for (std::size_t at; (at = err.find('!')) != std::string::npos;) err.replace(at, 1, dvtest::program_path("dvinit"));
        EXPECT_TRUE(dvtest::run_gave(r, {.out = "", .err = dvtest::program_path("dvinit") + ": " + err, .status = c.status}))
            << c.args[0];
        EXPECT_EQ(read_file(dir / "hd.img"), old);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << c.args[0];
    }
}

}  // namespace
