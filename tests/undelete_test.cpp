// Deleted entries on images the tests make: files and directories deleted
// through the library, then left alone, written over or moved, and entries
// damaged by hand.  Each is listed with what became of it, and restored
// only when nothing took its FD or units; every restore leaves the tree
// check clean, a refused one leaves the image as it was, and a restore
// stopped after any write leaves nothing worse than leaked units.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "image_builder.h"
#include "os9disk.h"
#include "rbf/memory_device.h"
#include "test_support.h"
#include "tree_check.h"

namespace {

using dvtest::bytes;
using dvtest::ImageBuilder;
using dvtest::MemImage;
using rbf::deleted_state;

bytes pattern(std::size_t n, int seed) {
    bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>(i * 11 + static_cast<std::size_t>(seed));
    return b;
}

const bytes kData = pattern(700, 3);

std::vector<rbf::os9_deleted> deleted_in(const rbf::image_ref& image, const std::string& dir) {
    dvtest::Path p;
    EXPECT_EQ(rbf::_os9_open(p.out(), image, dir, rbf::MODE_DIR | rbf::MODE_READ), 0) << dir;
    std::vector<rbf::os9_deleted> out;
    EXPECT_EQ(rbf::_os9_deleted_entries(p, &out), 0) << dir;
    return out;
}

// An entry as a delete leaves it: the name's first byte cleared.
bytes deleted_entry(const std::string& name, int lsn) {
    bytes e = dvtest::os9_entry(name, lsn);
    e[0] = 0;
    return e;
}

// A free FD at `at` (its bit cleared again) with these segments, named by a
// deleted entry README of `dir`.
int loose_fd(ImageBuilder& b, int dir, int at, unsigned char att, const dvtest::seglist& segs, std::uint32_t size) {
    const int fd = b.make_fd(att, segs, size, 0, at);
    b.mark(at, 1, false);
    b.add_raw_entry(dir, deleted_entry("README", fd));
    return fd;
}

struct Case {
    const char* name;
    // More of DIR (the deleted entry README or SUBDIR among it), built before
    // the image is opened.
    std::function<void(ImageBuilder&, int dir)> build;
    // The library's work on the open image (deletes, writes, moves).
    std::function<void(const rbf::image_ref&)> after;
    std::string rest;  // the deleted entry to restore, by the rest of its name
    deleted_state state;
    int restore;              // the error of restoring it as NEW
    bool parent_fixed = false;
};

void file_readme(ImageBuilder& b, int dir) { b.add_file(dir, "README", kData); }
void delete_readme(const rbf::image_ref& m) { ASSERT_EQ(rbf::_os9_delete(m, "DIR/README"), 0); }

const Case kCases[] = {
    {"intact_file", file_readme, delete_readme, "EADME", deleted_state::recoverable, 0},
    {"fd_taken_by_a_new_file", file_readme,
     [](const rbf::image_ref& m) {
         delete_readme(m);
         ASSERT_EQ(dvtest::put_bytes(m, "OTHER", pattern(10, 1)), 0);
     },
     "EADME", deleted_state::fd_in_use, 214},
    {"units_taken_by_a_new_file",
     // The FD far above its data: a new file's FD takes the first data unit.
     [](ImageBuilder& b, int dir) {
         const int data = b.alloc_run(3);
         const int fd = b.make_fd(0x1B, {{data, 3}}, static_cast<std::uint32_t>(kData.size()), 1, 500);
         b.write_data(fd, 0, kData);
         b.add_entry(dir, "README", fd);
     },
     [](const rbf::image_ref& m) {
         delete_readme(m);
         ASSERT_EQ(dvtest::put_bytes(m, "OTHER", pattern(10, 1)), 0);
     },
     "EADME", deleted_state::unit_in_use, 214},
    {"moved_file_lives_elsewhere", file_readme,
     [](const rbf::image_ref& m) { ASSERT_EQ(rbf::_os9_move(m, "DIR/README", "README", false), 0); }, "EADME",
     deleted_state::fd_in_use, 214},
    {"deleted_directory",
     [](ImageBuilder& b, int dir) { b.add_file(b.add_dir(dir, "SUBDIR"), "INNER", std::string("inner")); },
     [](const rbf::image_ref& m) {
         ASSERT_EQ(rbf::_os9_delete(m, "DIR/SUBDIR/INNER"), 0);
         ASSERT_EQ(rbf::_os9_delete_dir(m, "DIR/SUBDIR"), 0);
     },
     "UBDIR", deleted_state::recoverable, 0},
    {"directory_moved_then_deleted", [](ImageBuilder& b, int dir) { b.add_dir(dir, "SUBDIR"); },
     [](const rbf::image_ref& m) {
         ASSERT_EQ(rbf::_os9_move(m, "DIR/SUBDIR", "SUBDIR", false), 0);
         ASSERT_EQ(rbf::_os9_delete_dir(m, "SUBDIR"), 0);
     },
     "UBDIR", deleted_state::recoverable, 0, true},
    {"directory_holding_live_entries",
     [](ImageBuilder& b, int dir) {
         const int sub = b.add_dir(dir, "SUBDIR");
         b.add_file(sub, "INNER", std::string("inner"));
         b.image()[dvtest::entry_offset(b, dir, 5 * 32)] = 0;
         b.mark(sub, 1, false);
         for (auto [lsn, n] : b.segments(sub)) b.mark(lsn, n, false);
     },
     nullptr, "UBDIR", deleted_state::holds_entries, 214},
    {"fd_off_the_disk", [](ImageBuilder& b, int dir) { b.add_raw_entry(dir, deleted_entry("README", 5000)); },
     nullptr, "EADME", deleted_state::fd_outside, 214},
    {"fd_in_the_bitmap", [](ImageBuilder& b, int dir) { b.add_raw_entry(dir, deleted_entry("README", 1)); }, nullptr,
     "EADME", deleted_state::fd_outside, 214},
    {"segment_off_the_disk", [](ImageBuilder& b, int dir) { loose_fd(b, dir, 400, 0x1B, {{0xFFF000, 0xFFFF}}, 10); },
     nullptr, "EADME", deleted_state::fd_damaged, 214},
    {"segments_over_each_other",
     [](ImageBuilder& b, int dir) { loose_fd(b, dir, 400, 0x1B, {{300, 4}, {302, 4}}, 10); }, nullptr, "EADME",
     deleted_state::fd_damaged, 214},
    {"segment_after_the_end",
     [](ImageBuilder& b, int dir) { loose_fd(b, dir, 400, 0x1B, {{300, 1}, {0, 0}, {310, 1}}, 10); }, nullptr,
     "EADME", deleted_state::fd_damaged, 214},
    {"size_past_its_units", [](ImageBuilder& b, int dir) { loose_fd(b, dir, 400, 0x1B, {{300, 1}}, 1000); },
     nullptr, "EADME", deleted_state::fd_damaged, 214},
    {"directory_without_its_dot",
     [](ImageBuilder& b, int dir) {
         const int fd = loose_fd(b, dir, 400, 0xBF, {{300, 1}}, 0);
         b.add_entry(fd, "..", dir);
         b.add_entry(fd, ".", dir);
     },
     nullptr, "EADME", deleted_state::fd_damaged, 214},
};

// A case prints as its name, not as its bytes.
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class Undelete : public ::testing::TestWithParam<Case> {};

TEST_P(Undelete, ListsWhatBecameOfTheEntryAndRestoresOnlyWhatIsFree) {
    const Case& c = GetParam();
    ImageBuilder b;
    const int dir = b.add_dir(b.root(), "DIR");
    b.add_file(dir, "KEEP", std::string("kept"));
    // Space never used, and a cleared name that names no FD: no deleted entries.
    b.add_raw_entry(dir, bytes(32, 0));
    b.add_raw_entry(dir, deleted_entry("GHOST", 0));
    c.build(b, dir);
    MemImage m(b.image());
    if (c.after) c.after(m.image());
    if (HasFatalFailure()) return;

    const std::vector<rbf::os9_deleted> found = deleted_in(m.image(), "DIR");
    ASSERT_EQ(found.size(), 1u);
    const rbf::os9_deleted& d = found[0];
    EXPECT_EQ(d.rest, c.rest);
    EXPECT_EQ(d.state, c.state);
    // The position is the entry's own: its first byte 0, then the rest of the name.
    const bytes before = m.get();
    const std::size_t at = dvtest::entry_offset(b, dir, static_cast<std::uint32_t>(d.pos));
    ASSERT_NE(at, 0u);
    EXPECT_EQ(before[at], 0);
    EXPECT_EQ(dvtest::entry_name(before.data() + at + 1), c.rest);
    EXPECT_EQ(dvtest::be(before.data() + at + 29, 3), d.fd_lsn);
    if (c.state == deleted_state::unit_in_use) {
        EXPECT_TRUE(dvtest::bit_set(before, static_cast<int>(d.unit)));
    }

    rbf::undelete_report report;
    EXPECT_EQ(rbf::_os9_undelete(m.image(), "DIR", d.fd_lsn, "NEW", &report), c.restore);
    EXPECT_EQ(report.entry.state, c.state);
    const bytes after = m.get();
    if (c.restore) {
        EXPECT_EQ(after, before) << "a refused restore wrote";
        return;
    }
    EXPECT_EQ(report.parent_fixed, c.parent_fixed);
    EXPECT_EQ(dvtest::check_tree(after), std::vector<std::string>{});
    // The whole entry, name and FD sector, as a creation writes it.
    EXPECT_EQ(dvtest::slice(after, at, 32), dvtest::os9_entry("NEW", static_cast<int>(d.fd_lsn)));
    EXPECT_EQ(after[d.fd_lsn * 256 + 8], 1) << "link count";
    const auto tree = dvtest::list_tree(after);
    ASSERT_TRUE(tree.contains("DIR/NEW"));
    if (!tree.at("DIR/NEW").dir) {
        EXPECT_EQ(tree.at("DIR/NEW").data, kData);
    }
    EXPECT_TRUE(deleted_in(m.image(), "DIR").empty());
}

INSTANTIATE_TEST_SUITE_P(Entries, Undelete, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A directory and then the files in it come back, each by its own restore.
TEST(UndeleteTree, DeletedDirectoryComesBackWithItsFiles) {
    ImageBuilder b;
    const int sub = b.add_dir(b.root(), "SUBDIR");
    b.add_file(sub, "ALPHA", kData);
    b.add_file(sub, "BETA", pattern(3000, 5));
    MemImage m(b.image());
    rbf::prune_options quiet;
    ASSERT_EQ(rbf::_os9_prune(m.image(), "x", "SUBDIR", quiet).error, 0);
    const auto top = deleted_in(m.image(), ".");
    ASSERT_EQ(top.size(), 1u);
    rbf::undelete_report report;
    ASSERT_EQ(rbf::_os9_undelete(m.image(), "", top[0].fd_lsn, "BACK", &report), 0);
    EXPECT_EQ(dvtest::check_tree(m.get()), std::vector<std::string>{});
    for (const rbf::os9_deleted& d : deleted_in(m.image(), "BACK")) {
        EXPECT_EQ(d.state, deleted_state::recoverable) << d.rest;
        ASSERT_EQ(rbf::_os9_undelete(m.image(), "BACK", d.fd_lsn, "X" + d.rest, &report), 0) << d.rest;
    }
    const auto tree = dvtest::list_tree(m.get());
    EXPECT_EQ(tree.at("BACK/XLPHA").data, kData);
    EXPECT_EQ(tree.at("BACK/XETA").data, pattern(3000, 5));
    EXPECT_EQ(dvtest::check_tree(m.get()), std::vector<std::string>{});
}

// The names and places a restore refuses, before anything is written.
TEST(UndeleteRefusals, NamesAndPlaces) {
    ImageBuilder b;
    const int dir = b.add_dir(b.root(), "DIR");
    b.add_file(dir, "KEEP", std::string("kept"));
    file_readme(b, dir);
    b.add_file(b.root(), "FILE", std::string("a file"));
    MemImage m(b.image());
    delete_readme(m.image());
    const std::uint32_t fd = deleted_in(m.image(), "DIR").at(0).fd_lsn;
    const bytes before = m.get();
    const struct {
        std::string dir;
        std::uint32_t fd;
        std::string name;
        int error;
    } rows[] = {
        {"DIR", fd, "keep", 218},  {"DIR", fd, "..", 218},     {"DIR", fd, "a b", 215},
        {"DIR", fd, "-x", 215},    {"DIR", fd, "", 215},       {"DIR", fd, std::string(30, 'N'), 215},
        {"DIR", fd + 1, "NEW", 216}, {"DIR", 0, "NEW", 216},   {"", fd, "NEW", 216},
        {"DIR/@", fd, "NEW", 215}, {"FILE", fd, "NEW", 214},   {"NONE", fd, "NEW", 216},
    };
    for (const auto& r : rows) {
        rbf::undelete_report report;
        EXPECT_EQ(rbf::_os9_undelete(m.image(), r.dir, r.fd, r.name, &report), r.error) << r.dir << " " << r.name;
        EXPECT_EQ(m.get(), before) << r.dir << " " << r.name;
    }
}

// Stopped after each write in turn (the host refusing the rest), a restore
// leaves the file deleted or restored, never half: nothing but leaked
// units, which the next restore or dvcheck -r gives back.
TEST(UndeleteOrder, StoppedAfterAnyWriteLeavesOnlyLeaks) {
    for (const bool directory : {false, true}) {
        bool restored = false;
        for (long writes = 0; !restored && writes < 20; ++writes) {
            SCOPED_TRACE((directory ? "directory, " : "file, ") + std::to_string(writes) + " writes");
            ImageBuilder b;
            b.add_dir(b.root(), "DIR");
            b.add_dir(b.root(), "OTHER");
            MemImage m(b.image());
            if (directory) {
                ASSERT_EQ(rbf::_os9_makdir(m.image(), "OTHER/SUBDIR"), 0);
                ASSERT_EQ(rbf::_os9_move(m.image(), "OTHER/SUBDIR", "DIR/SUBDIR", false), 0);
                ASSERT_EQ(rbf::_os9_delete_dir(m.image(), "DIR/SUBDIR"), 0);
            } else {
                ASSERT_EQ(dvtest::put_bytes(m.image(), "DIR/README", kData), 0);
                ASSERT_EQ(rbf::_os9_delete(m.image(), "DIR/README"), 0);
            }
            // The restore goes into OTHER for the directory: its ".." is pointed there.
            const std::string into = directory ? "OTHER" : "DIR";
            const auto found = deleted_in(m.image(), into);
            ASSERT_EQ(found.size(), 1u);
            rbf::image_limit_writes(*m.image(), writes);
            rbf::undelete_report report;
            const int ec = rbf::_os9_undelete(m.image(), into, found[0].fd_lsn, "NEW", &report);
            const bytes img = m.get();
            EXPECT_EQ(dvtest::problems_beyond_leaks(img), std::vector<std::string>{});
            restored = dvtest::list_tree(img).contains(into + "/NEW");
            EXPECT_EQ(restored, ec == 0);
            if (restored) {
                EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
            }
        }
        EXPECT_TRUE(restored);
    }
}

// Clusters of four sectors: the FD's cluster and whole clusters of data
// come back, and a cluster another file took is refused.
TEST(UndeleteClusters, WholeClustersComeBack) {
    ImageBuilder b(1440, "Clusters", 8, 4);
    const int dir = b.add_dir(b.root(), "DIR");
    b.add_file(dir, "README", kData);
    MemImage m(b.image());
    delete_readme(m.image());
    auto found = deleted_in(m.image(), "DIR");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].state, deleted_state::recoverable);
    rbf::undelete_report report;
    ASSERT_EQ(rbf::_os9_undelete(m.image(), "DIR", found[0].fd_lsn, "NEW", &report), 0);
    EXPECT_EQ(dvtest::check_tree(m.get()), std::vector<std::string>{});
    EXPECT_EQ(dvtest::list_tree(m.get()).at("DIR/NEW").data, kData);
}

}  // namespace
