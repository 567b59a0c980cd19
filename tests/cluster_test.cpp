// Every program on disks with clusters of 1, 2, 4, 8 and 32 sectors, made by
// dvinit: a run of the toolkit's work, each writing step followed by the
// tree-wide check and the bytes read back independently of the library;
// and the largest disk (0xFFFF00 sectors in 32-sector clusters) end to end.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "image_builder.h"
#include "run_program.h"
#include "test_support.h"
#include "tree_check.h"

namespace {

using dvtest::bytes;
using dvtest::TempDir;

bytes binary(std::size_t n) {
    bytes b(n);
    for (std::size_t k = 0; k < n; ++k) b[k] = static_cast<unsigned char>(k * 13 + k / 256);
    return b;
}

struct Step {
    std::vector<std::string> args;
    std::string out;   // "*": not compared
    bool writes;
};

TEST(Clusters, EveryProgramOnEachClusterSize) {
    const std::string text = "first line\nsecond line\n";
    const bytes bin = binary(70000);
    bytes as_disk_text(text.begin(), text.end());
    for (unsigned char& b : as_disk_text)
        if (b == '\n') b = '\r';
    const std::vector<Step> steps = {
        {{"dvnewdir", "x.dsk:D"}, "", true},
        {{"dvcopy", "-t", "t.txt", "x.dsk:D/T"}, "", true},
        {{"dvcopy", "b.bin", "x.dsk:D/B"}, "", true},
        {{"dvtype", "x.dsk:D/T"}, text, false},
        {{"dvls", "x.dsk:D"}, "T\nB\n", false},
        {{"dvcopy", "x.dsk:D/B", "back.bin"}, "", false},
        {{"dvrename", "x.dsk:D/B", "C"}, "", true},
        {{"dvattr", "x.dsk:D/C", "e"}, "----rewr\n", true},
        {{"dvdel", "x.dsk:D/T"}, "", true},
        {{"dvcheck", "x.dsk"}, "*", false},
        {{"dvprune", "-q", "x.dsk:D"}, "", true},
    };
    for (int c : {1, 2, 4, 8, 32}) {
        SCOPED_TRACE("clusters of " + std::to_string(c));
        TempDir dir;
        dvtest::write_file(dir / "t.txt", bytes(text.begin(), text.end()));
        dvtest::write_file(dir / "b.bin", bin);
        ASSERT_EQ(dvtest::run_program("dvinit", {"-t80", "-s36", "-2", "-c" + std::to_string(c), "x.dsk"}, dir.path()).status, 0);
        const bytes fresh = dvtest::read_file(dir / "x.dsk");
        ASSERT_EQ(fresh.size(), 5760u * 256);
        EXPECT_EQ(dvtest::check_tree(fresh), std::vector<std::string>{});
        const std::string space = dvtest::run_program("dvspace", {"x.dsk"}, dir.path()).out;
        for (const Step& s : steps) {
            const dvtest::Run r = dvtest::run_program(s.args[0], {s.args.begin() + 1, s.args.end()}, dir.path());
            ASSERT_EQ(r.status, 0) << s.args[0] << ": " << r.err;
            if (s.out != "*") {
                EXPECT_EQ(r.out, s.out) << s.args[0];
            }
            if (!s.writes) continue;
            const bytes img = dvtest::read_file(dir / "x.dsk");
            EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{}) << s.args[0];
            if (s.args[0] == "dvcopy") {
                const bytes want = s.args[1] == "-t" ? as_disk_text : bin;
                EXPECT_EQ(dvtest::list_tree(img).at(s.args.back().substr(6)).data, want);
            }
        }
        EXPECT_EQ(dvtest::read_file(dir / "back.bin"), bin);
        // Every cluster taken was given back.
        EXPECT_EQ(dvtest::run_program("dvspace", {"x.dsk"}, dir.path()).out, space);
    }
}

TEST(Clusters, LargestDiskEndToEnd) {
    TempDir dir;
    const bytes bin = binary(300000);
    dvtest::write_file(dir / "b.bin", bin);
    ASSERT_EQ(dvtest::run_program("dvinit", {"-t32896", "-s255", "-2", "-c32", "big.dsk"}, dir.path()).status, 0);
    struct stat st {};
    ASSERT_EQ(stat((dir / "big.dsk").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0xFFFF00LL * 256);
    EXPECT_LT(st.st_blocks * 512LL, 4LL << 20) << "the image is not sparse";
    const dvtest::Run space = dvtest::run_program("dvspace", {"big.dsk"}, dir.path());
    EXPECT_NE(space.out.find("Capacity: 4194240K (16776960 sectors) 32-sector clusters\n"), std::string::npos) << space.out;
    EXPECT_EQ(dvtest::run_program("dvnewdir", {"big.dsk:D"}, dir.path()).status, 0);
    EXPECT_EQ(dvtest::run_program("dvcopy", {"b.bin", "big.dsk:D/B"}, dir.path()).status, 0);
    EXPECT_EQ(dvtest::run_program("dvcopy", {"big.dsk:D/B", "back.bin"}, dir.path()).status, 0);
    EXPECT_EQ(dvtest::read_file(dir / "back.bin"), bin);
    const dvtest::Run check = dvtest::run_program("dvcheck", {"big.dsk"}, dir.path());
    EXPECT_EQ(check.status, 0) << check.out;
    EXPECT_EQ(dvtest::run_program("dvprune", {"-q", "big.dsk:D"}, dir.path()).status, 0);
    EXPECT_EQ(dvtest::run_program("dvspace", {"big.dsk"}, dir.path()).out, space.out);
}

}  // namespace
