// dvident run as a user runs it: the listing's exact lines, the short and
// JSON forms, statuses, and -f on a host file and on a file in an image.
#include <gtest/gtest.h>

#include "misc/frame.h"
#include "rbf/bigendian.h"
#include "rbf/module.h"
#include "test_support.h"

namespace {

using dvtest::bytes;

const bytes kHello = rbf::module_build("Hello", 1, 1, 8, 1, {0x00, 0x10, 0x00, 0x80, 0x39});
const bytes kData = rbf::module_build("Data", 4, 0, 8, 1, {1, 2, 3});
const char kHead[] = "offset   size  type              language          attr rev  parity  crc            name\n";

bytes both() {
    bytes b = kHello;
    b.insert(b.end(), kData.begin(), kData.end());
    return b;
}

std::string crc_of(const bytes& m) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%06X", static_cast<unsigned>(rbf::get_be24(m.data() + m.size() - 3)));
    return buf;
}

TEST(DvIdentProgram, CasesTable) {
    const std::string h = crc_of(kHello), d = crc_of(kData);
    bytes bad = both();
    bad[kHello.size() + 8] ^= 1;  // Data's parity
    const bytes cut(kHello.begin(), kHello.end() - 2);
    const std::tuple<std::vector<std::string>, bytes, std::string, int> cases[] = {
        {{"m.bin"}, both(),
         std::string(kHead) + "$0000   $0016  program           6809 object code  $8   1    good    $" + h +
             " good   Hello\n$0016   $0013  data              data              $8   1    good    $" + d + " good   Data\n",
         0},
        {{"-s", "m.bin"}, both(), h + " Hello\n" + d + " Data\n", 0},
        {{"-s", "m.bin"}, bad, h + " Hello\n" + d + " Data (bad parity) (bad CRC)\n", 1},
        {{"-s", "m.bin"}, cut, "problem: the bytes end inside the module at offset $0000 (it gives 22 bytes, 20 are left)\n", 1},
        {{"-s", "m.bin"}, bytes{}, "problem: no module at offset $0000 (0 bytes to the end)\n", 1},
        {{"-j", "m.bin"}, kHello,
         "{\"file\":\"m.bin\",\"offset\":0,\"size\":22,\"name\":\"Hello\",\"type\":1,\"type_name\":\"program\",\"language\":1,"
         "\"language_name\":\"6809 object code\",\"attributes\":8,\"revision\":1,\"parity_ok\":true,\"crc\":\"" + h +
             "\",\"crc_ok\":true,\"exec\":16,\"data_size\":128}\n",
         0},
        {{"-s", "m.bin", "m.bin"}, kData, "m.bin:\n" + d + " Data\nm.bin:\n" + d + " Data\n", 0},
    };
    for (const auto& [args, file, out, status] : cases) {
        SCOPED_TRACE(args[0] + " " + std::to_string(file.size()));
        dvtest::TempDir dir;
        dvtest::write_file(dir / "m.bin", file);
        EXPECT_TRUE(dvtest::run_gave(dvtest::run_program("dvident", args, dir.path()), {out, "", status}));
        EXPECT_EQ(dvtest::read_file(dir / "m.bin"), file);  // only -f writes
    }
}

TEST(DvIdentProgram, FixSetsRightInPlaceOnTheHostAndInAnImage) {
    dvtest::TempDir dir;
    bytes broken = both();
    broken[8] ^= 0xFF;              // Hello's parity
    broken[kHello.size() + 10] = 9;  // a byte of Data patched: its CRC is now wrong
    bytes want = both();
    want[kHello.size() + 10] = 9;
    rbf::module_fix(want, rbf::scan_modules(want).modules[1]);
    dvtest::write_file(dir / "m.bin", broken);
    dvtest::ImageBuilder b;
    b.add_file(b.root(), "OS9Boot", broken);
    b.save(dir / "x.dsk");
    for (const std::string name : {"m.bin", "x.dsk:OS9Boot"}) {
        SCOPED_TRACE(name);
        const dvtest::Run fix = dvtest::run_program("dvident", {"-f", name}, dir.path());
        EXPECT_EQ(fix.status, 0) << fix.err;
        EXPECT_NE(fix.out.find("fixed   $" + crc_of(kHello) + " fixed  Hello\n"), std::string::npos) << fix.out;
        EXPECT_NE(fix.out.find("good    $" + crc_of(want) + " fixed  Data\n"), std::string::npos) << fix.out;
        EXPECT_TRUE(dvtest::run_gave(dvtest::run_program("dvident", {"-s", name}, dir.path()),
                                     {crc_of(kHello) + " Hello\n" + crc_of(want) + " Data\n", "", 0}));
    }
    EXPECT_EQ(dvtest::read_file(dir / "m.bin"), want);
    const bytes img = dvtest::read_file(dir / "x.dsk");
    EXPECT_EQ(dvtest::list_tree(img).at("OS9Boot").data, want);
    EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
    EXPECT_TRUE(dvtest::run_gave(dvtest::run_program("dvident", {"x.dsk:NONE"}, dir.path()),
                                 {"", dv::failure_line("dvident", 216, "reading", "x.dsk:NONE"), 216}));
}

}  // namespace
