// Installing what a disk boots from: the boot file as the root's OS9Boot
// (one segment, or several with LSN 0 naming its FD) and the boot code (the
// CoCo kernel track, the Dragon's boot area), over a table of geometries;
// refusals that change nothing; and a stop after any number of writes that
// leaves the disk sound, LSN 0 naming a whole boot file, old or new.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rbf/image.h"
#include "rbf/module.h"
#include "test_support.h"

namespace {

using dvtest::bytes;
using dvtest::ImageBuilder;

bytes pattern(std::size_t n, unsigned seed) {
    bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>((i * 13 + seed * 7) % 253);
    return b;
}

// A boot file of modules: `count` programs of about 1 KB each.
bytes boot_modules(int count, unsigned seed) {
    bytes out;
    for (int k = 0; k < count; ++k) {
        const bytes m = rbf::module_build("Mod" + std::to_string(k), 1, 1, 8, 1, pattern(1000, seed + k));
        out.insert(out.end(), m.begin(), m.end());
    }
    return out;
}

bytes kernel_code(std::size_t n) {
    bytes k = pattern(n, 3);
    k[0] = 'O', k[1] = 'S';
    return k;
}

std::pair<int, int> pointer(const bytes& img) {
    return {static_cast<int>(dvtest::be(img.data() + 21, 3)), static_cast<int>(dvtest::be(img.data() + 24, 2))};
}

rbf::error_code install(const rbf::image_ref& img, const bytes& file, rbf::boot_form form) {
    rbf::put_options o;
    o.replace = true;
    o.boot = form;
    std::size_t at = 0;
    return rbf::_os9_put_file(img, "OS9Boot", o, [&](u_char* buf, std::size_t size, std::size_t* got) {
        *got = std::min(size, file.size() - at);
        std::copy_n(file.data() + at, *got, buf);
        at += *got;
        return rbf::E_SUCCESS;
    });
}

struct Geometry {
    int tracks, sides;
    int track_lsn;  // the kernel track's first sector
};

const Geometry kGeometries[] = {{35, 1, 612}, {35, 2, 1224}, {40, 1, 612}, {40, 2, 1224}, {80, 1, 612}, {80, 2, 1224}};

ImageBuilder disk(const Geometry& g) {
    ImageBuilder b(g.tracks * g.sides * 18);
    b.set_lsn0_byte(16, static_cast<unsigned char>(g.sides == 2 ? 3 : 2));
    return b;
}

class BootDisk : public ::testing::TestWithParam<std::tuple<Geometry, rbf::boot_form>> {};

TEST_P(BootDisk, KernelTrackThenBootFileAndTheReportAgrees) {
    const auto [g, form] = GetParam();
    ImageBuilder b = disk(g);
    b.add_file(b.root(), "README", pattern(900, 1));
    dvtest::MemImage m(b.image());
    const bytes kernel = kernel_code(3000), boot = boot_modules(12, 5);
    std::string owner;
    ASSERT_EQ(rbf::_os9_install_boot_code(m.image(), rbf::boot_code::kernel_track, kernel, &owner), 0) << owner;
    ASSERT_EQ(install(m.image(), boot, form), 0);
    // Installed again over itself: the old file gives way.
    ASSERT_EQ(install(m.image(), boot, form), 0);
    const bytes img = m.get();
    EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
    bytes track = dvtest::slice(img, g.track_lsn * 256u, 18 * 256u);
    bytes want = kernel;
    want.resize(18 * 256, 0);
    EXPECT_EQ(track, want);
    for (int u = g.track_lsn; u < g.track_lsn + 18; ++u) EXPECT_TRUE(dvtest::bit_set(img, u)) << u;
    const auto tree = dvtest::list_tree(img);
    ASSERT_EQ(tree.count("OS9Boot"), 1u);
    const dvtest::TreeNode& f = tree.at("OS9Boot");
    EXPECT_EQ(f.data, boot);
    const auto segs = dvtest::fd_segments(img, f.fd);
    if (form == rbf::boot_form::one_segment) {
        ASSERT_EQ(segs.size(), 1u);
        EXPECT_EQ(pointer(img), std::make_pair(segs[0].first, static_cast<int>(boot.size())));
    } else {
        EXPECT_EQ(pointer(img), std::make_pair(f.fd, 0));
    }
    rbf::boot_report r;
    ASSERT_EQ(rbf::_os9_boot_report(m.image(), rbf::boot_code::kernel_track, &r), 0);
    EXPECT_TRUE(r.file_found);
    EXPECT_EQ(r.file_place, "/OS9Boot");
    EXPECT_EQ(r.file_bytes, boot);
    EXPECT_EQ(r.code.first, static_cast<std::uint32_t>(g.track_lsn));
    EXPECT_EQ(r.code_marked, 18u);
    EXPECT_EQ(r.code_owner, "");
    EXPECT_EQ(r.code_bytes, want);
}

INSTANTIATE_TEST_SUITE_P(Geometries, BootDisk,
                         ::testing::Combine(::testing::ValuesIn(kGeometries),
                                            ::testing::Values(rbf::boot_form::one_segment, rbf::boot_form::fd_form)));

TEST(BootCode, OverAFileOrTheSystemIsRefusedNamingIt) {
    // A file whose segment covers LSN 620 of the one-sided kernel track.
    ImageBuilder b(630);
    const int fd = b.add_file(b.root(), "BIG", bytes{}, 0x1B, {{615, 10}});
    b.write_data(fd, 0, pattern(2000, 2));
    const bytes before = b.image();
    dvtest::MemImage m(before);
    std::string owner;
    EXPECT_EQ(rbf::_os9_install_boot_code(m.image(), rbf::boot_code::kernel_track, kernel_code(100), &owner), 214);
    EXPECT_EQ(owner, "/BIG");
    // The Dragon area of a disk whose root FD is at LSN 2.
    EXPECT_EQ(rbf::_os9_install_boot_code(m.image(), rbf::boot_code::dragon_area, kernel_code(100), &owner), 214);
    EXPECT_EQ(owner, "/");
    EXPECT_EQ(rbf::_os9_install_boot_code(m.image(), rbf::boot_code::kernel_track, kernel_code(4609), &owner), 248);
    EXPECT_EQ(m.get(), before);
    // A disk of 30 tracks has no track 34.
    dvtest::MemImage small(ImageBuilder(540).image());
    EXPECT_EQ(rbf::_os9_install_boot_code(small.image(), rbf::boot_code::kernel_track, kernel_code(100), &owner), 1);
}

TEST(BootCode, DragonAreaOfAReservedDisk) {
    // LSN 2-17 reserved before the root's FD at 18.
    ImageBuilder b(1440);
    bytes img = b.image();
    std::copy_n(img.begin() + 2 * 256, 8 * 256, img.begin() + 18 * 256);
    std::fill_n(img.begin() + 2 * 256, 16 * 256, 0);
    for (int at : {8, 18 * 256 + 16, 19 * 256 + 29, 19 * 256 + 61}) dvtest::put_be(img.data() + at, 3, at == 18 * 256 + 16 ? 19 : 18);
    for (int u = 2; u < 26; ++u) dvtest::mark_unit(img, u, u >= 18);  // the boot area marked free
    dvtest::MemImage m(img);
    std::string owner;
    ASSERT_EQ(rbf::_os9_install_boot_code(m.image(), rbf::boot_code::dragon_area, kernel_code(4096), &owner), 0);
    const bytes after = m.get();
    EXPECT_EQ(dvtest::slice(after, 512, 4096), kernel_code(4096));
    EXPECT_EQ(dvtest::check_tree(after), std::vector<std::string>{});
}

TEST(BootFile, TooBigForAnyRunIs248AndChangesNothing) {
    // Free runs of 9 sectors between units a file holds: 12 KB fits none.
    ImageBuilder b(630);
    for (int part = 0; part < 2; ++part) {  // a segment list holds 48 segments
        dvtest::seglist holes;
        for (int u = 30 + part * 300; u < 330 + part * 300; u += 10) holes.emplace_back(u, 1);
        b.add_file(b.root(), part ? "HOLES" : "GAPS", bytes{}, 0x1B, holes);
    }
    const bytes before = b.image();
    dvtest::MemImage m(before);
    EXPECT_EQ(install(m.image(), boot_modules(12, 1), rbf::boot_form::one_segment), 248);
    EXPECT_EQ(m.get(), before);
    // In several segments it goes in.
    EXPECT_EQ(install(m.image(), boot_modules(12, 1), rbf::boot_form::fd_form), 0);
    EXPECT_EQ(dvtest::check_tree(m.get()), std::vector<std::string>{});
}

// Stopped after each write of a reinstall: nothing worse than leaked units,
// but for LSN 0 still naming the old boot file, whose bytes are whole, while
// the new one is not yet named.
TEST(BootFile, StoppedAfterAnyWriteLeavesABootingDisk) {
    for (const rbf::boot_form form : {rbf::boot_form::one_segment, rbf::boot_form::fd_form}) {
        ImageBuilder b(1260);
        dvtest::MemImage setup(b.image());
        const bytes old_boot = boot_modules(8, 1), new_boot = boot_modules(10, 2), kernel = kernel_code(4608);
        ASSERT_EQ(install(setup.image(), old_boot, form), 0);
        const bytes start = setup.get();
        rbf::image_ref whole = rbf::image_in_memory(start);
        const std::uint64_t before = whole->generation;
        std::string owner;
        ASSERT_EQ(rbf::_os9_install_boot_code(whole, rbf::boot_code::kernel_track, kernel, &owner), 0);
        ASSERT_EQ(install(whole, new_boot, form), 0);
        const long writes = static_cast<long>(whole->generation - before);
        ASSERT_GT(writes, 3);
        for (long n = 0; n <= writes; ++n) {
            SCOPED_TRACE("stopped after " + std::to_string(n) + " of " + std::to_string(writes) + " writes");
            rbf::image_ref img = rbf::image_in_memory(start);
            rbf::image_limit_writes(*img, n);
            if (rbf::_os9_install_boot_code(img, rbf::boot_code::kernel_track, kernel, &owner) == 0)
                install(img, new_boot, form);
            rbf::boot_report r;
            ASSERT_EQ(rbf::_os9_boot_report(rbf::image_in_memory(rbf::image_contents(*img)),
                                            rbf::boot_code::kernel_track, &r),
                      0);
            const bytes after = rbf::image_contents(*img);
            std::vector<std::string> worse = dvtest::problems_beyond_leaks(after);
            if (!r.file_found) {
                // The old file, unreachable now, is still what LSN 0 names.
                EXPECT_EQ(pointer(after), pointer(start));
                const auto [lsn, size] = pointer(start);
                if (size) {
                    EXPECT_EQ(dvtest::slice(after, lsn * 256u, static_cast<std::size_t>(size)), old_boot);
                }
                std::erase_if(worse, [](const std::string& p) { return p.find("the boot pointer") != std::string::npos; });
            } else {
                EXPECT_TRUE(r.file_bytes == old_boot || r.file_bytes == new_boot);
            }
            EXPECT_EQ(worse, std::vector<std::string>{});
        }
    }
}

}  // namespace
