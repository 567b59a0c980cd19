// Deleted entries on images the tests make: a file or directory deleted
// through the library, then left alone, written over or moved, and entries
// damaged by hand.  Each is listed with what became of it and restored only
// when nothing took its FD or units; a restore leaves the tree check clean,
// a refused one leaves the image as it was, and one stopped after any write
// leaves nothing worse than leaked units.
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
using rbf::image_ref;

const bytes kData = [] {
    bytes b(700);
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<unsigned char>(i * 11 + 3);
    return b;
}();

std::vector<rbf::os9_deleted> deleted_in(const image_ref& image, const std::string& dir) {
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

// DIR, holding KEEP, space never used and a cleared name that names no FD
// (neither is a deleted entry).
int base(ImageBuilder& b) {
    const int dir = b.add_dir(b.root(), "DIR");
    b.add_file(dir, "KEEP", std::string("kept"));
    b.add_raw_entry(dir, bytes(32, 0));
    b.add_raw_entry(dir, deleted_entry("GHOST", 0));
    return dir;
}

void ok(rbf::error_code ec) { ASSERT_EQ(ec, 0); }

struct Case {
    const char* name;
    bool directory;  // DIR/SUBDIR holding INNER, else the file DIR/README
    std::function<void(const image_ref&)> after;  // the library's work, the delete among it
    deleted_state state;
    bool parent_fixed = false;
    int fd_at = -1;  // README's FD, far above its data: a new FD takes its first data unit
    int cluster = 1;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

const auto kDelete = [](const image_ref& m) { ok(rbf::_os9_delete(m, "DIR/README")); };
const auto kOverwrite = [](const image_ref& m) {
    ok(rbf::_os9_delete(m, "DIR/README"));
    ok(dvtest::put_bytes(m, "OTHER", bytes(10, 'o')));
};

const Case kCases[] = {
    {"intact_file", false, kDelete, deleted_state::recoverable},
    {"intact_file_in_clusters_of_four", false, kDelete, deleted_state::recoverable, false, -1, 4},
    {"fd_taken_by_a_new_file", false, kOverwrite, deleted_state::fd_in_use},
    {"units_taken_by_a_new_file", false, kOverwrite, deleted_state::unit_in_use, false, 500},
    {"deleted_directory", true,
     [](const image_ref& m) {
         ok(rbf::_os9_delete(m, "DIR/SUBDIR/INNER"));
         ok(rbf::_os9_delete_dir(m, "DIR/SUBDIR"));
     },
     deleted_state::recoverable},
    {"directory_moved_then_deleted", true,
     [](const image_ref& m) {
         ok(rbf::_os9_delete(m, "DIR/SUBDIR/INNER"));
         ok(rbf::_os9_move(m, "DIR/SUBDIR", "SUBDIR", false));
         ok(rbf::_os9_delete_dir(m, "SUBDIR"));
     },
     deleted_state::recoverable, true},
};

class Undelete : public ::testing::TestWithParam<Case> {};

TEST_P(Undelete, ListsWhatBecameOfTheEntryAndRestoresOnlyWhatIsFree) {
    const Case& c = GetParam();
    ImageBuilder b(630, "CoCo Disk", 8, c.cluster);
    const int dir = base(b);
    if (c.directory) {
        b.add_file(b.add_dir(dir, "SUBDIR"), "INNER", kData);
    } else if (c.fd_at >= 0) {
        const int data = b.alloc_run(3);
        b.write_data(b.make_fd(0x1B, {{data, 3}}, static_cast<std::uint32_t>(kData.size()), 1, c.fd_at), 0, kData);
        b.add_entry(dir, "README", c.fd_at);
    } else {
        b.add_file(dir, "README", kData);
    }
    MemImage m(b.image());
    c.after(m.image());
    if (HasFatalFailure()) return;
    const bytes start = m.get();

    const std::vector<rbf::os9_deleted> found = deleted_in(m.image(), "DIR");
    ASSERT_EQ(found.size(), 1u);
    const rbf::os9_deleted& d = found[0];
    EXPECT_EQ(d.rest, c.directory ? "UBDIR" : "EADME");
    EXPECT_EQ(d.state, c.state);
    if (c.state == deleted_state::unit_in_use) {
        EXPECT_TRUE(dvtest::bit_set(start, static_cast<int>(d.unit)));
    }

    rbf::undelete_report report;
    const int want = c.state == deleted_state::recoverable ? 0 : 214;
    ASSERT_EQ(rbf::_os9_undelete(m.image(), "DIR", d.fd_lsn, "NEW", &report), want);
    const bytes after = m.get();
    if (want) {
        EXPECT_EQ(after, start) << "a refused restore wrote";
        return;
    }
    EXPECT_EQ(report.parent_fixed, c.parent_fixed);
    EXPECT_EQ(dvtest::check_tree(after), std::vector<std::string>{});
    // At the entry's own position, the whole entry as a creation writes it; one link.
    const std::size_t at = dvtest::entry_offset(b, dir, static_cast<std::uint32_t>(d.pos));
    EXPECT_EQ(dvtest::slice(after, at, 32), dvtest::os9_entry("NEW", static_cast<int>(d.fd_lsn)));
    EXPECT_EQ(after[d.fd_lsn * 256 + 8], 1);
    EXPECT_TRUE(deleted_in(m.image(), "DIR").empty());
    std::string file = "DIR/NEW";
    if (c.directory) {
        // The directory's files are deleted entries in it, restored in turn.
        const auto inner = deleted_in(m.image(), "DIR/NEW");
        ASSERT_EQ(inner.size(), 1u);
        ASSERT_EQ(rbf::_os9_undelete(m.image(), "DIR/NEW", inner[0].fd_lsn, "INNER", &report), 0);
        file += "/INNER";
    }
    EXPECT_EQ(dvtest::list_tree(m.get()).at(file).data, kData);

    // Stopped after each write in turn (the host refusing the rest), a
    // restore leaves the entry deleted or restored, never half: nothing
    // worse than leaked units.
    bool restored = false;
    for (long writes = 0; !restored && writes < 20; ++writes) {
        SCOPED_TRACE(std::to_string(writes) + " writes");
        MemImage s(start);
        rbf::image_limit_writes(*s.image(), writes);
        const int ec = rbf::_os9_undelete(s.image(), "DIR", d.fd_lsn, "NEW", &report);
        const bytes img = s.get();
        EXPECT_EQ(dvtest::problems_beyond_leaks(img), std::vector<std::string>{});
        restored = dvtest::list_tree(img).contains("DIR/NEW");
        EXPECT_EQ(restored, ec == 0);
    }
    EXPECT_TRUE(restored);
}

INSTANTIATE_TEST_SUITE_P(Entries, Undelete, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Entries damaged by hand: README naming a sector (or, with 0, a free FD
// at 400 with these segments and size; a directory's "." naming itself or
// DIR, and a live entry after it when `live`).  Each is refused, and
// nothing is written.
TEST(UndeleteDamaged, RefusedWithTheReason) {
    using S = deleted_state;
    const struct {
        const char* name;
        int sector;
        unsigned char att;
        dvtest::seglist segs;
        std::uint32_t size;
        S state;
        bool dot_is_self = true, live = false;
    } rows[] = {
        {"fd_off_the_disk", 5000, 0, {}, 0, S::fd_outside},
        {"fd_in_the_bitmap", 1, 0, {}, 0, S::fd_outside},
        {"segment_off_the_disk", 0, 0x1B, {{0xFFF000, 0xFFFF}}, 10, S::fd_damaged},
        {"segments_over_each_other", 0, 0x1B, {{300, 4}, {302, 4}}, 10, S::fd_damaged},
        {"segment_after_the_end", 0, 0x1B, {{300, 1}, {0, 0}, {310, 1}}, 10, S::fd_damaged},
        {"size_past_its_units", 0, 0x1B, {{300, 1}}, 1000, S::fd_damaged},
        {"directory_without_its_dot", 0, 0xBF, {{300, 1}}, 0, S::fd_damaged, false},
        {"directory_holding_live_entries", 0, 0xBF, {{300, 1}}, 0, S::holds_entries, true, true},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        ImageBuilder b;
        const int dir = base(b);
        int fd = r.sector;
        if (!fd) b.mark(fd = b.make_fd(r.att, r.segs, r.size, 0, 400), 1, false);
        if (r.att & 0x80) {
            b.add_entry(fd, "..", dir);
            b.add_entry(fd, ".", r.dot_is_self ? fd : dir);
            if (r.live) b.add_entry(fd, "LIVE", dir);
        }
        b.add_raw_entry(dir, deleted_entry("README", fd));
        MemImage m(b.image());
        const auto found = deleted_in(m.image(), "DIR");
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0].state, r.state);
        rbf::undelete_report report;
        EXPECT_EQ(rbf::_os9_undelete(m.image(), "DIR", static_cast<std::uint32_t>(fd), "NEW", &report), 214);
        EXPECT_EQ(m.get(), b.image());
    }
}

}  // namespace
