// Deleting files: the entry's first byte, the link count, the units given
// back to the bitmap, and the refusals that leave the image as it was.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "image_builder.h"
#include "os9path.h"
#include "run_program.h"
#include "test_support.h"
#include "tree_check.h"

namespace {

using dvtest::bytes;
using dvtest::dd_map;
using dvtest::entry_offset;
using dvtest::fd_size;
using dvtest::ImageBuilder;
using dvtest::mark_unit;
using dvtest::MemImage;

// What a deletion of the last link must leave: the FD's count at 0, every
// unit of its segments and the FD's own bit clear, byte 0 of the entry 0.
bytes after_last_link(ImageBuilder& b, int fd, std::size_t entry_at) {
    bytes want = b.image();
    want[static_cast<std::size_t>(fd) * 256 + 8] = static_cast<unsigned char>(want[static_cast<std::size_t>(fd) * 256 + 8] - 1);
    for (auto [lsn, num] : b.segments(fd))
        for (int u = lsn; u < lsn + num; ++u) mark_unit(want, u, false);
    mark_unit(want, fd, false);
    want[entry_at] = 0;
    return want;
}

bytes pattern(std::size_t n, int seed) {
    bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>(i * 7 + static_cast<std::size_t>(seed));
    return b;
}

// ---- the last link ------------------------------------------------------------

TEST(OsDelete, LastLinkGivesBackEverySegmentAndTheFd) {
    ImageBuilder b;
    b.add_file(b.root(), "A", std::string("first"));
    int f = b.add_file(b.root(), "F", pattern(600, 1), 0x1B, {{40, 1}, {50, 2}});
    b.add_file(b.root(), "G", std::string("after"));
    const std::size_t at = entry_offset(b, b.root(), 3 * 32);
    ASSERT_EQ(b.image()[at], 'F' | 0x80);
    const bytes want = after_last_link(b, f, at);
    MemImage m(b.image());
    EXPECT_EQ(rbf::_os9_delete(m.image(), "F"), 0);
    // Nothing else: the other 31 bytes of the entry, the parent's size and
    // the file's data stay on the disk.
    EXPECT_EQ(m.get(), want);
    EXPECT_EQ(fd_size(m.get(), b.root()), fd_size(b.image(), b.root()));
    EXPECT_EQ(dvtest::check_tree(m.get()), std::vector<std::string>{});
}

TEST(OsDelete, SecondLinkOnlyLowersTheCount) {
    ImageBuilder b;
    int f = b.add_file(b.root(), "F", pattern(300, 2));
    b.add_entry(b.root(), "ALSO", f);
    b.set_links(f, 2);
    const std::size_t at = entry_offset(b, b.root(), 2 * 32);
    bytes want = b.image();
    want[static_cast<std::size_t>(f) * 256 + 8] = 1;
    want[at] = 0;
    MemImage m(b.image());
    EXPECT_EQ(rbf::_os9_delete(m.image(), "F"), 0);
    EXPECT_EQ(m.get(), want);
    EXPECT_EQ(dvtest::check_tree(m.get()), std::vector<std::string>{});
    // The other name still reads the file; deleting it frees the file.
    rbf::os9_path_id p = nullptr;
    ASSERT_EQ(rbf::_os9_open(&p, m.image(), "ALSO", 1), 0);
    rbf::_os9_close(p);
    ImageBuilder c = b;
    c.set_links(f, 1);
    bytes want2 = after_last_link(c, f, entry_offset(c, c.root(), 3 * 32));
    want2[at] = 0;
    EXPECT_EQ(rbf::_os9_delete(m.image(), "also"), 0);
    EXPECT_EQ(m.get(), want2);
    EXPECT_EQ(dvtest::check_tree(m.get()), std::vector<std::string>{});
}

TEST(OsDelete, NameIsMatchedIgnoringCase) {
    ImageBuilder b;
    int f = b.add_file(b.root(), "ReadMe", std::string("text"));
    const bytes want = after_last_link(b, f, entry_offset(b, b.root(), 2 * 32));
    MemImage m(b.image());
    EXPECT_EQ(rbf::_os9_delete(m.image(), "rEADME"), 0);
    EXPECT_EQ(m.get(), want);
}

TEST(OsDelete, FileWithoutOwnerReadStillGivesBackAllItsUnits) {
    for (unsigned char att : {0x02, 0x00, 0x1A}) {
        SCOPED_TRACE(static_cast<int>(att));
        ImageBuilder b;
        int f = b.add_file(b.root(), "LOCKED", pattern(1000, 3), att, {{30, 2}, {60, 2}});
        const bytes want = after_last_link(b, f, entry_offset(b, b.root(), 2 * 32));
        MemImage m(b.image());
        EXPECT_EQ(rbf::_os9_delete(m.image(), "LOCKED"), 0);
        EXPECT_EQ(m.get(), want);
        EXPECT_EQ(dvtest::check_tree(m.get()), std::vector<std::string>{});
    }
}

TEST(OsDelete, DirectoryWithItsDirectoryBitClearedIsDeletedLikeAFile) {
    ImageBuilder b;
    const int free_before = dvtest::free_units(b.image());
    int d = b.add_dir(b.root(), "DIR");
    b.set_att(d, 0xBF & 0x7F);
    const bytes want = after_last_link(b, d, entry_offset(b, b.root(), 2 * 32));
    MemImage m(b.image());
    EXPECT_EQ(rbf::_os9_delete(m.image(), "DIR"), 0);
    EXPECT_EQ(m.get(), want);
    EXPECT_EQ(dvtest::free_units(m.get()), free_before);
    EXPECT_EQ(dvtest::check_tree(m.get()), std::vector<std::string>{});
}

// ---- refusals ----------------------------------------------------------------------

TEST(OsDelete, ReadableDirectoryGives192AndChangesNothing) {
    ImageBuilder b;
    int d = b.add_dir(b.root(), "DIR");
    b.add_file(d, "inside", std::string("x"));
    b.add_dir(b.root(), "EMPTY");
    const bytes before = b.image();
    MemImage m(before);
    EXPECT_EQ(rbf::_os9_delete(m.image(), "DIR"), 192);
    EXPECT_EQ(rbf::_os9_delete(m.image(), "empty"), 192);
    EXPECT_EQ(rbf::_os9_delete(m.image(), "DIR/."), 192);  // "." of a readable directory opens first
    EXPECT_EQ(m.get(), before);
}

TEST(OsDelete, RawPathlistGives192AndChangesNothing) {
    dvtest::TempDir dir;
    ImageBuilder b;
    b.add_file(b.root(), "F", std::string("x"));
    b.save(dir / "x.dsk");
    EXPECT_EQ(rbf::_os9_delete(dir / "x.dsk:.@"), 192);
    EXPECT_EQ(rbf::_os9_delete(dir / "x.dsk:F@"), 192);
    EXPECT_EQ(dvtest::read_file(dir / "x.dsk"), b.image());
}

TEST(OsDelete, DotAndDotDotGive187AndChangeNothing) {
    // Directories without owner read do not open for reading, so the
    // name itself is what is refused.
    ImageBuilder b;
    int p = b.add_dir(b.root(), "P", 0xBE);
    b.add_dir(p, "D", 0xBE);
    const bytes before = b.image();
    MemImage m(before);
    EXPECT_EQ(rbf::_os9_delete(m.image(), "P/."), 187);
    EXPECT_EQ(rbf::_os9_delete(m.image(), "P/D/.."), 187);
    EXPECT_EQ(rbf::_os9_delete(m.image(), "P/D/."), 187);
    EXPECT_EQ(m.get(), before);
}

TEST(OsDelete, EmptyOrOverlongNameGives215) {
    ImageBuilder b;
    b.add_dir(b.root(), "NR", 0xBE);  // writable, not readable
    const bytes before = b.image();
    MemImage m(before);
    EXPECT_EQ(rbf::_os9_delete(m.image(), "NR/"), 215);
    EXPECT_EQ(rbf::_os9_delete(m.image(), std::string(30, 'Z')), 215);
    EXPECT_EQ(rbf::_os9_delete(m.image(), "NR/" + std::string(40, 'Z')), 215);
    EXPECT_EQ(m.get(), before);
}

TEST(OsDelete, NameNotThereGives0AndChangesNothing) {
    ImageBuilder b;
    int d = b.add_dir(b.root(), "DIR");
    b.add_file(d, "F", std::string("x"));
    bytes gone = dvtest::os9_name("GHOST");
    gone.resize(32, 0);
    gone[0] = 0;  // a deleted entry: never matches
    b.add_raw_entry(d, gone);
    const bytes before = b.image();
    MemImage m(before);
    EXPECT_EQ(rbf::_os9_delete(m.image(), "NOPE"), 0);
    EXPECT_EQ(rbf::_os9_delete(m.image(), "DIR/G"), 0);
    EXPECT_EQ(rbf::_os9_delete(m.image(), "DIR/GHOST"), 0);
    EXPECT_EQ(rbf::_os9_delete(m.image(), "DIR/F2"), 0);
    EXPECT_EQ(m.get(), before);
    // A parent that is not there, or not writable, is an error.
    EXPECT_EQ(rbf::_os9_delete(m.image(), "NODIR/F"), 216);
    EXPECT_EQ(m.get(), before);
}

TEST(OsDelete, ParentWithoutOwnerWriteGives214) {
    ImageBuilder b;
    int d = b.add_dir(b.root(), "RO", 0xBD);
    b.add_file(d, "F", std::string("x"));
    const bytes before = b.image();
    MemImage m(before);
    EXPECT_EQ(rbf::_os9_delete(m.image(), "RO/F"), 214);
    EXPECT_EQ(m.get(), before);
}

// ---- the slot afterwards -------------------------------------------------------------

TEST(OsDelete, FollowingCreateReusesTheClearedSlot) {
    ImageBuilder b;
    b.add_file(b.root(), "A", std::string("a"));
    int f = b.add_file(b.root(), "B", std::string("b"));
    b.add_file(b.root(), "C", std::string("c"));
    MemImage m(b.image());
    ASSERT_EQ(rbf::_os9_delete(m.image(), "B"), 0);
    rbf::os9_path_id p = nullptr;
    ASSERT_EQ(rbf::_os9_create(&p, m.image(), "NEW", 3, 0x1B), 0);
    rbf::_os9_close(p);
    bytes img = m.get();
    EXPECT_EQ(fd_size(img, b.root()), 5u * 32u);
    const std::size_t at = entry_offset(b, b.root(), 3 * 32);
    bytes entry(img.begin() + static_cast<long>(at), img.begin() + static_cast<long>(at) + 32);
    bytes want(32, 0);
    bytes nm = dvtest::os9_name("NEW");
    std::copy(nm.begin(), nm.end(), want.begin());
    // B's FD was the lowest free unit after the delete.
    dvtest::put_be(want.data() + 29, 3, static_cast<std::uint32_t>(f));
    EXPECT_EQ(entry, want);
    EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
}

// ---- the parts ---------------------------------------------------------------------

TEST(OsDelete, FreefileClearsExactlyTheFilesSegmentBitsInTheSpan) {
    ImageBuilder b;
    int f = b.add_file(b.root(), "F", pattern(1500, 4), 0x1B, {{40, 2}, {60, 3}, {100, 1}});
    b.add_file(b.root(), "NR", pattern(10, 5), 0x02);
    const bytes before = b.image();
    MemImage m(before);
    const std::size_t n = static_cast<std::size_t>(dd_map(before));

    std::vector<unsigned char> bm(n, 0xFF);
    EXPECT_EQ(rbf::_os9_freefile(m.image(), "F", std::span<unsigned char>(bm)), 0);
    std::vector<unsigned char> want(n, 0xFF);
    for (int u : {40, 41, 60, 61, 62, 100}) want[static_cast<std::size_t>(u) / 8] &= static_cast<unsigned char>(~(0x80 >> (u % 8)));
    EXPECT_EQ(bm, want);  // the FD's own bit stays
    EXPECT_TRUE(bm[static_cast<std::size_t>(f) / 8] & (0x80 >> (f % 8)));
    EXPECT_EQ(m.get(), before);

    // A span of 8 bytes covers units 0..63: unit 100 is out of reach and
    // the bytes behind the span are not touched.
    std::vector<unsigned char> big(n, 0xFF);
    EXPECT_EQ(rbf::_os9_freefile(m.image(), "F", std::span<unsigned char>(big.data(), 8)), 0);
    std::vector<unsigned char> want8(n, 0xFF);
    for (int u : {40, 41, 60, 61, 62}) want8[static_cast<std::size_t>(u) / 8] &= static_cast<unsigned char>(~(0x80 >> (u % 8)));
    EXPECT_EQ(big, want8);

    // A file that can't be opened for reading, or isn't there: its error,
    // nothing cleared.
    std::vector<unsigned char> untouched(n, 0xFF);
    EXPECT_EQ(rbf::_os9_freefile(m.image(), "NR", std::span<unsigned char>(untouched)), 214);
    EXPECT_EQ(rbf::_os9_freefile(m.image(), "MISSING", std::span<unsigned char>(untouched)), 216);
    EXPECT_EQ(untouched, std::vector<unsigned char>(n, 0xFF));
    EXPECT_EQ(m.get(), before);
}

TEST(OsDelete, DecrementLinkCountLowersTheCountInPlace) {
    ImageBuilder b;
    int f = b.add_file(b.root(), "F", std::string("x"));
    int z = b.add_file(b.root(), "Z", std::string("z"));
    b.set_links(f, 3);
    b.set_links(z, 0);
    MemImage m(b.image());
    rbf::os9_path_id p = nullptr;
    ASSERT_EQ(rbf::_os9_open(&p, m.image(), ".", 0x82), 0);
    EXPECT_EQ(rbf::DecrementLinkCount(p, f), 2);
    EXPECT_EQ(rbf::DecrementLinkCount(p, f), 1);
    EXPECT_EQ(rbf::DecrementLinkCount(p, z), 255);  // 8 bits: 0 wraps
    rbf::_os9_close(p);
    bytes want = b.image();
    want[static_cast<std::size_t>(f) * 256 + 8] = 1;
    want[static_cast<std::size_t>(z) * 256 + 8] = 255;
    EXPECT_EQ(m.get(), want);
}

// ---- host files ----------------------------------------------------------------------

TEST(OsDelete, HostFilesAreUnlinkedWithTheHostsError) {
    dvtest::TempDir dir;
    dvtest::write_file(dir / "gone.txt", bytes{'g'});
    EXPECT_EQ(rbf::_native_delete(dir / "missing.txt"), ENOENT);
    EXPECT_EQ(rbf::_os9_delete(dir / "missing.txt"), ENOENT);
    EXPECT_EQ(rbf::_os9_delete(dir / "gone.txt"), 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "gone.txt"));
    dvtest::write_file(dir / "again.txt", bytes{'a'});
    EXPECT_EQ(rbf::_native_delete(dir / "again.txt"), 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "again.txt"));
}

// ---- many deletions --------------------------------------------------------------------

TEST(OsDelete, ManyDeletionsLeaveAConsistentTree) {
    ImageBuilder b(1200);
    const int free_empty = dvtest::free_units(b.image());
    std::vector<std::string> files;
    std::vector<std::string> dirs;
    for (int d = 0; d < 4; ++d) {
        const std::string dn = "D" + std::to_string(d);
        int dir = b.add_dir(b.root(), dn);
        dirs.push_back(dn);
        for (int k = 0; k < 12; ++k) {
            const std::string fn = "f" + std::to_string(k);
            b.add_file(dir, fn, pattern(static_cast<std::size_t>(k * 150), d + k));
            files.push_back(dn + "/" + fn);
        }
    }
    for (int k = 0; k < 10; ++k) {
        b.add_file(b.root(), "R" + std::to_string(k), pattern(static_cast<std::size_t>(k * 300 + 1), k));
        files.push_back("R" + std::to_string(k));
    }
    ASSERT_EQ(dvtest::check_tree(b.image()), std::vector<std::string>{});
    MemImage m(b.image());
    // An order that is neither creation order nor its reverse.
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string& name = files[(i * 17) % files.size()];
        ASSERT_EQ(rbf::_os9_delete(m.image(), name), 0) << name;
        if (i % 10 == 0) {
            EXPECT_EQ(dvtest::check_tree(m.get()), std::vector<std::string>{}) << name;
        }
    }
    ASSERT_EQ(dvtest::list_tree(m.get()).size(), dirs.size());
    for (const std::string& dn : dirs) {
        rbf::os9_path_id p = nullptr;
        ASSERT_EQ(rbf::_os9_open(&p, m.image(), dn, 0x82), 0);
        rbf::fd_stats fd{};
        ASSERT_EQ(rbf::_os9_gs_fd(p, 256, &fd), 0);
        fd.fd_att &= 0x7F;
        ASSERT_EQ(rbf::_os9_gs_fd_set(p, 256, &fd), 0);
        rbf::_os9_close(p);
        ASSERT_EQ(rbf::_os9_delete(m.image(), dn), 0) << dn;
    }
    bytes img = m.get();
    EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
    EXPECT_TRUE(dvtest::list_tree(img).empty());
    // The root keeps the room its entries took; everything else is back.
    int root_extra = 0;
    for (auto [lsn, num] : b.segments(b.root())) root_extra += num;
    root_extra -= 7;
    EXPECT_EQ(dvtest::free_units(img), free_empty - root_extra);
}

}  // namespace
