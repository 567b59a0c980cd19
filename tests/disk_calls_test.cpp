// The calls by concept: LSN 0 decoded into a geometry, directory iteration,
// file status, disk usage and formatting, on images held in memory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image_builder.h"
#include "os9disk.h"
#include "os9path.h"
#include "test_support.h"
#include "tree_check.h"

namespace {

using dvtest::bytes;
using dvtest::ImageBuilder;
using dvtest::put_be;

// ---- geometry -----------------------------------------------------------------

TEST(Geometry, UnitsBecomeBytesInOnePlace) {
    ImageBuilder b(630, "G", 8, 2);
    rbf::image_ref img = rbf::image_in_memory(b.image());
    rbf::disk_geometry g;
    ASSERT_EQ(rbf::image_geometry(*img, &g), 0);
    EXPECT_EQ(g.total_units, 630u);
    EXPECT_EQ(g.cluster_sectors, 2u);
    // Sectors address bytes; clusters only the bitmap.
    EXPECT_EQ(g.unit_bytes, 256u);
    EXPECT_EQ(g.unit_offset(3), 768u);
    EXPECT_EQ(g.unit_bit(5), 2u);
    EXPECT_EQ(g.cluster_count(), 315u);
    EXPECT_EQ(g.root_fd, static_cast<std::uint32_t>(b.root()));
    EXPECT_EQ(rbf::image_geometry(*rbf::image_in_memory(bytes(255, 0)), &g), rbf::E_BTYP);  // no disk at all
}

// ---- directories --------------------------------------------------------------------

std::vector<std::pair<std::string, std::int64_t>> read_all(rbf::os9_path_id dir, int* end_code) {
    std::vector<std::pair<std::string, std::int64_t>> got;
    rbf::os9_dirent e;
    int ec;
    while ((ec = rbf::_os9_readdir(dir, &e)) == 0) got.emplace_back(e.name, e.pos);
    *end_code = ec;
    return got;
}

// The root holding A, a deleted slot at 96 (GONE) and B.
bytes with_a_deleted_slot() {
    ImageBuilder b;
    b.add_file(b.root(), "A", std::string("a"));
    int gone = b.add_file(b.root(), "GONE", std::string("g"));
    b.add_file(b.root(), "B", std::string("b"));
    b.image()[dvtest::entry_offset(b, b.root(), 96)] = 0;
    b.mark(gone, 2, false);
    return b.image();
}

TEST(ReadDir, EntriesInOrderWithDeletedSlotsSkipped) {
    dvtest::MemImage m(with_a_deleted_slot());
    dvtest::Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), m.image(), "", 0x81), 0);
    int end = 0;
    auto got = read_all(p.p, &end);
    EXPECT_EQ(end, rbf::E_EOF);
    std::vector<std::pair<std::string, std::int64_t>> want = {{"..", 0}, {".", 32}, {"A", 64}, {"B", 128}};
    EXPECT_EQ(got, want);
    EXPECT_EQ(rbf::path_position(p), 160);
}

TEST(ReadDir, SeesAnEntryWrittenThroughAnotherPathMeanwhile) {
    dvtest::MemImage m(with_a_deleted_slot());
    dvtest::Path dir;
    ASSERT_EQ(rbf::_os9_open(dir.out(), m.image(), "", 0x81), 0);
    rbf::os9_dirent e;
    ASSERT_EQ(rbf::_os9_readdir(dir.p, &e), 0);  // "..": the directory is now read ahead
    {
        dvtest::Path made;  // takes the free slot at 96
        ASSERT_EQ(rbf::_os9_create(made.out(), m.image(), "NEW", 2, 0x03), 0);
    }
    int end = 0;
    auto got = read_all(dir.p, &end);
    std::vector<std::pair<std::string, std::int64_t>> want = {{".", 32}, {"A", 64}, {"NEW", 96}, {"B", 128}};
    EXPECT_EQ(got, want);
}

TEST(ReadDir, SizeEndingInsideAnEntryEndsTheDirectory) {
    ImageBuilder b;
    b.add_file(b.root(), "A", std::string("a"));
    b.set_size(b.root(), 64 + 20);
    dvtest::MemImage m(b.image());
    dvtest::Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), m.image(), "", 0x81), 0);
    int end = 0;
    auto got = read_all(p.p, &end);
    EXPECT_EQ(end, rbf::E_EOF);
    EXPECT_EQ(got.size(), 2u);
    EXPECT_EQ(rbf::path_position(p), 84);
}

TEST(ReadDir, RawAndHostPathsHaveNoEntries) {
    ImageBuilder b;
    dvtest::MemImage m(b.image());
    dvtest::Path raw;
    ASSERT_EQ(rbf::_os9_open(raw.out(), m.image(), "@", 1), 0);
    rbf::os9_dirent e;
    EXPECT_EQ(rbf::_os9_readdir(raw.p, &e), rbf::E_FNA);
}

// ---- status -------------------------------------------------------------------------

TEST(Stat, FdFieldsSegmentsAndAllocation) {
    ImageBuilder b;
    int fd = b.add_file(b.root(), "F", bytes(600, 'x'), 0x2B, {{40, 2}, {50, 3}});
    b.set_links(fd, 2);
    dvtest::MemImage m(b.image());
    rbf::os9_stat st;
    ASSERT_EQ(rbf::_os9_stat_path(m.image(), "F", &st), 0);
    EXPECT_EQ(st.fd_lsn, static_cast<std::uint32_t>(fd));
    EXPECT_EQ(st.attributes, 0x2B);
    EXPECT_EQ(st.links, 2);
    EXPECT_EQ(st.size, 600u);
    EXPECT_EQ(st.segments, 2);
    EXPECT_EQ(st.allocated, 5u * 256);
    EXPECT_FALSE(st.is_dir);
    EXPECT_EQ(st.modified[0], 126);
    ASSERT_EQ(rbf::_os9_stat_path(m.image(), "", &st), 0);
    EXPECT_TRUE(st.is_dir);

    dvtest::Path root;
    ASSERT_EQ(rbf::_os9_open(root.out(), m.image(), "", 0x81), 0);
    for (std::uint32_t bad : {0u, 1u, 630u, 0xFFFFFFu})
        EXPECT_EQ(rbf::_os9_stat_fd(root.p, bad, &st), rbf::E_GENERAL) << bad;
    EXPECT_EQ(rbf::_os9_stat_path(m.image(), "NONE", &st), rbf::E_PNNF);
}

// ---- usage ------------------------------------------------------------------------

// Free units and the longest free run, counted bit by bit.
std::pair<long, long> count_free(const bytes& img, int total) {
    long free = 0, run = 0, best = 0;
    for (int k = 0; k < total; ++k) {
        std::size_t byte = 256 + static_cast<std::size_t>(k) / 8;
        bool used = byte >= img.size() || (img[byte] & (0x80 >> (k % 8)));
        run = used ? 0 : run + 1;
        free += used ? 0 : 1;
        best = std::max(best, run);
    }
    return {free, best};
}

TEST(Usage, FreeUnitsAndLongestRunOverBitmapPatterns) {
    struct Pattern {
        const char* what;
        int total;
        std::vector<std::pair<int, int>> used;  // runs marked in use
    };
    const Pattern patterns[] = {
        {"a new disk", 630, {}},
        {"a full disk", 630, {{0, 630}}},
        {"runs across byte edges", 630, {{13, 3}, {17, 30}, {100, 1}, {300, 200}}},
        {"a disk not a multiple of 8", 627, {{620, 2}}},
        {"free only at the end", 631, {{0, 629}}},
    };
    for (const Pattern& p : patterns) {
        ImageBuilder b(p.total);
        for (auto [first, n] : p.used) b.mark(first, n, true);
        dvtest::MemImage m(b.image());
        dvtest::Path raw;
        ASSERT_EQ(rbf::_os9_open(raw.out(), m.image(), "@", 1), 0) << p.what;
        rbf::os9_usage u;
        ASSERT_EQ(rbf::_os9_usage(raw.p, &u), 0) << p.what;
        auto [free, best] = count_free(b.image(), p.total);
        EXPECT_EQ(u.free_units, static_cast<std::uint64_t>(free)) << p.what;
        EXPECT_EQ(u.largest_free_run, static_cast<std::uint64_t>(best)) << p.what;
        EXPECT_EQ(u.total_units, static_cast<std::uint32_t>(p.total)) << p.what;
    }
}

// ---- formatting ---------------------------------------------------------------------

TEST(Format, HeadAndZerosMakeASoundEmptyDisk) {
    for (int tracks : {35, 80, 1000}) {
        rbf::format_params f;
        f.tracks = tracks;
        f.sides = 2;
        f.name = "Fresh";
        ASSERT_EQ(rbf::format_check(f), rbf::format_fault::none);
        std::uint64_t total = 0;
        bytes img = rbf::format_head(f, &total);
        ASSERT_EQ(total, static_cast<std::uint64_t>(tracks) * 18 * 2 * 256);
        img.resize(total, 0);
        EXPECT_TRUE(dvtest::check_tree(img).empty()) << tracks;
        EXPECT_EQ(dvtest::free_units(img), dvtest::dd_tot(img) - (1 + dvtest::dd_map(img) / 256 + 1 + 8)) << tracks;
        rbf::image_ref m = rbf::image_in_memory(img);
        ASSERT_EQ(rbf::_os9_makdir(m, "NEW"), 0);
        EXPECT_TRUE(dvtest::check_tree(rbf::image_contents(*m)).empty()) << tracks;
    }
    rbf::format_params tiny;
    tiny.tracks = 1;
    tiny.sectors_per_track = 3;
    EXPECT_EQ(rbf::format_check(tiny), rbf::format_fault::too_few_sectors);
    rbf::format_params huge;
    huge.tracks = 65535;
    huge.sectors_per_track = 255;
    EXPECT_EQ(rbf::format_check(huge), rbf::format_fault::too_large);
}

}  // namespace
