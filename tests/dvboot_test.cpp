// dvboot run as a user runs it: a fresh disk reported unbootable line by
// line, a boot file and a kernel track installed from host files and from
// another image, the report of the result, the files taken out again, and
// the refusals with their messages.
#include <gtest/gtest.h>

#include "misc/frame.h"
#include "rbf/module.h"
#include "test_support.h"

namespace {

using dvtest::bytes;
using dvtest::run_program;

bytes modules(int count) {
    bytes out;
    for (int k = 0; k < count; ++k) {
        const bytes m = rbf::module_build("M" + std::to_string(k), 0xC, 1, 8, 1, bytes(2000, static_cast<u_char>(k)));
        out.insert(out.end(), m.begin(), m.end());
    }
    return out;
}

std::string short_lines(const bytes& b) {
    std::string out;
    for (const rbf::module_info& m : rbf::scan_modules(b).modules) {
        char crc[8];
        std::snprintf(crc, sizeof crc, "%06X", static_cast<unsigned>(m.crc));
        out += std::string(crc) + " " + m.name + "\n";
    }
    return out;
}

dvtest::ImageBuilder two_sided_40() {
    dvtest::ImageBuilder b(1440);
    b.set_lsn0_byte(16, 3);
    return b;
}

TEST(DvBootProgram, InstalledReportedAndTakenOut) {
    dvtest::TempDir dir;
    two_sided_40().save(dir / "x.dsk");
    const dvtest::Run fresh = run_program("dvboot", {"x.dsk"}, dir.path());
    EXPECT_TRUE(dvtest::run_gave(fresh, {"boot file: none\nboot pointer: dd_bt 0, dd_bsz 0\n"
                                         "kernel track: LSN 1224-1241, 0 of 18 sectors marked in use, first bytes 00 00 00 00 00 00 00 00\n"
                                         "problem: LSN 0 names no boot file (dd_bt 0)\n"
                                         "problem: the kernel track (LSN 1224-1241) does not begin with \"OS\"\n",
                                         "", 1}));
    const bytes boot = modules(15);  // 30 KB
    bytes kernel(4000, 0x12);
    kernel[0] = 'O', kernel[1] = 'S';
    dvtest::write_file(dir / "kernel", kernel);
    // The boot file comes from another image.
    dvtest::ImageBuilder src;
    src.add_file(src.root(), "BOOT", boot);
    src.save(dir / "src.dsk");
    EXPECT_TRUE(dvtest::run_gave(run_program("dvboot", {"-k", "kernel", "-b", "src.dsk:BOOT", "x.dsk"}, dir.path()), {"", "", 0}));
    const bytes img = dvtest::read_file(dir / "x.dsk");
    const dvtest::TreeNode f = dvtest::list_tree(img).at("OS9Boot");
    const int first = dvtest::fd_segments(img, f.fd)[0].first;
    const std::string at = std::to_string(first);
    EXPECT_TRUE(dvtest::run_gave(
        run_program("dvboot", {"x.dsk"}, dir.path()),
        {"boot file: /OS9Boot (FD " + std::to_string(f.fd) + "), LSN " + at + ", " + std::to_string(boot.size()) +
             " bytes in 1 segment\nboot pointer: dd_bt " + at + ", dd_bsz " + std::to_string(boot.size()) +
             " (its first sector and size)\nkernel track: LSN 1224-1241, 18 of 18 sectors marked in use, first bytes 4F 53 12 12 12 12 12 12\nmodules:\n" +
             short_lines(boot),
         "", 0}));
    EXPECT_EQ(run_program("dvcheck", {"x.dsk"}, dir.path()).status, 0);
    const dvtest::Run out = run_program("dvboot", {"-x", "saved", "x.dsk"}, dir.path());
    EXPECT_EQ(out.status, 0) << out.out << out.err;
    EXPECT_EQ(dvtest::read_file(dir / "saved/OS9Boot"), boot);
    kernel.resize(4608, 0);
    EXPECT_EQ(dvtest::read_file(dir / "saved/KernelTrack"), kernel);
}

TEST(DvBootProgram, RefusalsSayWhyAndChangeNothing) {
    dvtest::TempDir dir;
    dvtest::ImageBuilder b = two_sided_40();
    // Units a file holds every 20 sectors: no run holds 30 KB; one in the track.
    // (A segment list holds 48 segments: two files share the holes.)
    for (int part = 0; part < 2; ++part) {
        dvtest::seglist holes;
        for (int u = 30 + part * 720; u < 750 + part * 690; u += 20) holes.emplace_back(u, 1);
        b.add_file(b.root(), part ? "HOLES" : "GAPS", bytes{}, 0x1B, holes);
    }
    b.save(dir / "x.dsk");
    dvtest::write_file(dir / "boot", modules(15));
    dvtest::write_file(dir / "nokernel", bytes(100, 0x12));
    dvtest::write_file(dir / "kernel", bytes{'O', 'S', 1});
    const std::string k = "dvboot: error 214 (file not accessible) installing the kernel track in 'x.dsk'\n";
    const std::tuple<std::vector<std::string>, std::string, int> cases[] = {
        {{"-b", "boot", "x.dsk"},
         dv::failure_line("dvboot", 248, "installing the boot file in", "x.dsk") +
             "dvboot: no run of free sectors holds its " + std::to_string(modules(15).size()) +
             " bytes (-e installs it in several segments)\n",
         248},
        {{"-k", "nokernel", "x.dsk"}, "dvboot: 'nokernel' does not begin with \"OS\": no kernel (-F installs it all the same)\n", 1},
        {{"-k", "kernel", "x.dsk"}, k + "dvboot: kernel track (LSN 1224-1241) holds part of /HOLES\n", 214},
        {{"-F", "-k", "nokernel", "x.dsk"}, k + "dvboot: kernel track (LSN 1224-1241) holds part of /HOLES\n", 214},
        {{"x.dsk", "y.dsk"}, "@: extra operand 'y.dsk'\nTry '@ --help'.\n", 2},
    };
    for (const auto& [args, err, status] : cases) {
        SCOPED_TRACE(args[0] + " " + args[1]);
        std::string want = err;  // "@": the program's path
        for (std::size_t at; (at = want.find('@')) != std::string::npos;) want.replace(at, 1, dvtest::program_path("dvboot"));
        EXPECT_TRUE(dvtest::run_gave(run_program("dvboot", args, dir.path()), {"", want, status}));
        EXPECT_EQ(dvtest::read_file(dir / "x.dsk"), b.image());
    }
    // In several segments the boot file goes in; LSN 0 names its FD.
    EXPECT_TRUE(dvtest::run_gave(run_program("dvboot", {"-e", "-b", "boot", "x.dsk"}, dir.path()), {"", "", 0}));
    const bytes img = dvtest::read_file(dir / "x.dsk");
    EXPECT_EQ(static_cast<int>(dvtest::be(img.data() + 21, 3)), dvtest::list_tree(img).at("OS9Boot").fd);
    EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
}

}  // namespace
