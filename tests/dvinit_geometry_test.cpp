// dvinit's geometries: each option's LSN 0 bytes, a sound empty disk on
// the result, and bad values refused before any file exists.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "image_builder.h"
#include "run_program.h"
#include "test_support.h"
#include "tree_check.h"

namespace {

using dvtest::bytes;

struct Geometry {
    std::vector<std::string> args;
    int dd_tot, dd_tks, dd_fmt, pd_cyl, pd_sid, pd_dns, pd_typ, pd_t0s, pd_sas;
};

int be16(const bytes& b, int at) { return b[at] << 8 | b[at + 1]; }
int be24(const bytes& b, int at) { return b[at] << 16 | b[at + 1] << 8 | b[at + 2]; }

TEST(DvInitGeometry, OptionsGiveTheirLsn0Bytes) {
    const Geometry table[] = {
        {{}, 630, 18, 2, 35, 1, 1, 0x20, 18, 8},
        {{"-2", "-t40"}, 1440, 18, 3, 40, 2, 1, 0x20, 18, 8},
        {{"-T100000", "-c2"}, 100000, 18, 2, 5556, 1, 1, 0x20, 18, 8},
        {{"-T5000", "-s32"}, 5000, 32, 2, 157, 1, 1, 0x20, 32, 8},
        {{"-t40", "-z10"}, 10 + 39 * 18, 18, 2, 40, 1, 1, 0x20, 10, 8},
        {{"-t80", "-2", "-s16", "-z10", "-k96"}, 10 + 159 * 16, 16, 7, 80, 2, 3, 0x20, 10, 8},
        {{"-t80", "-2", "-k135"}, 2880, 18, 7, 80, 2, 3, 0x22, 18, 8},
        {{"-S", "-t35", "-s10"}, 350, 10, 0, 35, 1, 0, 0x20, 10, 8},
        {{"-a32", "-t80"}, 1440, 18, 2, 80, 1, 1, 0x20, 18, 32},
    };
    for (const Geometry& g : table) {
        dvtest::TempDir dir;
        std::vector<std::string> args = g.args;
        args.push_back("-i0x1234");
        args.push_back("d.dsk");
        const std::string what = ::testing::PrintToString(g.args);
        const dvtest::Run r = dvtest::run_program("dvinit", args, dir.path());
        ASSERT_EQ(r.status, 0) << what << r.err;
        const bytes img = dvtest::read_file(dir / "d.dsk");
        ASSERT_EQ(img.size(), static_cast<std::size_t>(g.dd_tot) * 256) << what;
        EXPECT_EQ(be24(img, 0x00), g.dd_tot) << what;
        EXPECT_EQ(img[0x03], g.dd_tks) << what;
        EXPECT_EQ(img[0x10], g.dd_fmt) << what;
        EXPECT_EQ(be16(img, 0x11), g.dd_tks) << what;  // dd_spt
        EXPECT_EQ(img[0x42], g.pd_typ) << what;
        EXPECT_EQ(img[0x43], g.pd_dns) << what;
        EXPECT_EQ(be16(img, 0x44), g.pd_cyl) << what;
        EXPECT_EQ(img[0x46], g.pd_sid) << what;
        EXPECT_EQ(be16(img, 0x4A), g.pd_t0s) << what;
        EXPECT_EQ(img[0x4D], g.pd_sas) << what;
        EXPECT_TRUE(dvtest::check_tree(img).empty()) << what;
        const int cluster = be16(img, 6);
        const int system = 1 + be16(img, 4) / 256 + 1 + 1 + (g.pd_sas - 1);  // LSN 0, bitmap, root FD and data
        EXPECT_EQ(dvtest::free_units(img), g.dd_tot / cluster - (system + cluster - 1) / cluster) << what;
    }
}

TEST(DvInitGeometry, BadValuesTouchNoFile) {
    const std::vector<std::vector<std::string>> table = {
        {"-z19"},             {"-s10", "-z11"}, {"-k100"},        {"-T1000", "-2"},
        {"-T1000", "-t40"},   {"-T1000", "-z9"}, {"-T16777216"},  {"-a0"},
        {"-z9", "-fjvc"},     {"-T2000", "-fdmk"}, {"-T3"},
    };
    for (const auto& bad : table) {
        dvtest::TempDir dir;
        std::vector<std::string> args = bad;
        args.push_back("d.dsk");
        const dvtest::Run r = dvtest::run_program("dvinit", args, dir.path());
        EXPECT_EQ(r.status, 1) << ::testing::PrintToString(bad) << r.err;
        EXPECT_FALSE(std::filesystem::exists(dir / "d.dsk")) << ::testing::PrintToString(bad);
    }
}

}  // namespace
