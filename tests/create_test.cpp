// Creating files and directories: the new FD, the entry in the parent, the
// refusals that must leave the image untouched, and host-file creation.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "image_builder.h"
#include "os9path.h"
#include "run_program.h"
#include "test_support.h"
#include "tree_check.h"

namespace {

using dvtest::be;
using dvtest::bit_set;
using dvtest::bytes;
using dvtest::dd_dir;
using dvtest::dd_map;
using dvtest::dd_tot;
using dvtest::fd_segments;
using dvtest::fd_size;
using dvtest::file_bytes;
using dvtest::ImageBuilder;
using dvtest::local_date;
using dvtest::MemImage;
using dvtest::seglist;

// Lowest run of `n` free units in the image's bitmap; -1 if none.
int lowest_free_run(const bytes& img, int n) { return dvtest::lowest_free_run(dvtest::image_bitmap(img), dd_tot(img), n); }

const unsigned char* fd_at(const bytes& img, int lsn) { return img.data() + static_cast<std::size_t>(lsn) * 256; }

// The 32-byte entries of a directory, through its segment list.
std::vector<bytes> entries(const bytes& img, int dir) {
    bytes data = file_bytes(img, dir);
    std::vector<bytes> out;
    for (std::size_t off = 0; off + 32 <= data.size(); off += 32) out.emplace_back(data.begin() + off, data.begin() + off + 32);
    return out;
}

// An entry as the disk format lays it out: name with bit 7 on its last
// character, zeros, the 24-bit FD number.
bytes entry_bytes(const std::string& name, int lsn) {
    bytes e(32, 0);
    bytes nm = dvtest::os9_name(name);
    std::copy(nm.begin(), nm.end(), e.begin());
    dvtest::put_be(e.data() + 29, 3, static_cast<std::uint32_t>(lsn));
    return e;
}

int entry_lsn(const bytes& e) { return static_cast<int>(be(e.data() + 29, 3)); }

// The FD number of `name` in directory `dir`, or -1.
int lookup(const bytes& img, int dir, const std::string& name) {
    bytes want = dvtest::os9_name(name);
    for (const bytes& e : entries(img, dir)) {
        if (e[0] == 0) continue;
        if (bytes(e.begin(), e.begin() + static_cast<long>(want.size())) == want &&
            (want.size() == 29 || e[want.size()] == 0))
            return entry_lsn(e);
    }
    return -1;
}

bytes pattern(std::size_t n, int seed) {
    bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>(i * 13 + static_cast<std::size_t>(seed));
    return b;
}

int create_and_close(const std::string& pathlist, int mode = 3, int perms = 0x1B) {
    rbf::os9_path_id p = nullptr;
    int rc = rbf::_os9_create(&p, pathlist, mode, perms);
    if (rc == 0) rbf::_os9_close(p);
    return rc;
}

// The same on an image held in memory, `in_image` the path inside it.
int create_and_close(const MemImage& m, const std::string& in_image, int mode = 3, int perms = 0x1B) {
    rbf::os9_path_id p = nullptr;
    int rc = rbf::_os9_create(&p, m.image(), in_image, mode, perms);
    if (rc == 0) rbf::_os9_close(p);
    return rc;
}

// ---- directories -----------------------------------------------------------

TEST(OsMakdir, DirectoryMadeInRootHasRootFdInItsDotDotEntry) {
    ImageBuilder b;
    b.add_file(b.root(), "A", std::string("text"));
    const bytes before = b.image();
    MemImage m(before);
    const std::time_t t0 = std::time(nullptr);
    ASSERT_EQ(rbf::_os9_makdir(m.image(), "NEWDIR"), 0);
    const std::time_t t1 = std::time(nullptr);
    bytes img = m.get();

    const int root = dd_dir(img);
    std::vector<bytes> rootents = entries(img, root);
    ASSERT_EQ(rootents.size(), 4u);  // .., ., A and the new one appended
    EXPECT_EQ(fd_size(img, root), fd_size(before, root) + 32);
    const int d = entry_lsn(rootents[3]);
    EXPECT_EQ(rootents[3], entry_bytes("NEWDIR", d));

    // The FD takes the lowest free unit; its first segment the lowest run
    // of pd_sas units after it.
    bytes probe = before;
    EXPECT_EQ(d, lowest_free_run(probe, 1));
    probe[256 + d / 8] |= static_cast<unsigned char>(0x80 >> (d % 8));
    const int run = lowest_free_run(probe, 8);

    const unsigned char* fd = fd_at(img, d);
    EXPECT_EQ(fd[0], 0xBF);
    EXPECT_EQ(fd[1], 0);
    EXPECT_EQ(fd[2], 0);
    EXPECT_EQ(fd[8], 1);
    EXPECT_EQ(fd_size(img, d), 64u);
    bytes dat(fd + 3, fd + 8);
    EXPECT_TRUE(dat == local_date(t0) || dat == local_date(t1));
    EXPECT_EQ(bytes(fd + 13, fd + 16), bytes(fd + 3, fd + 6));
    EXPECT_EQ(fd_segments(img, d), (seglist{{run, 8}}));  // a directory is not trimmed
    std::vector<bytes> ents = entries(img, d);
    ASSERT_EQ(ents.size(), 2u);
    EXPECT_EQ(ents[0], entry_bytes("..", root));
    EXPECT_EQ(ents[1], entry_bytes(".", d));
    for (int u = run; u < run + 8; ++u) EXPECT_TRUE(bit_set(img, u)) << u;
    EXPECT_TRUE(bit_set(img, d));
    EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});

    // One level down the parent is the new directory.
    ASSERT_EQ(rbf::_os9_makdir(m.image(), "newdir/SUB"), 0);
    img = m.get();
    int sub = lookup(img, d, "SUB");
    ASSERT_GT(sub, 0);
    EXPECT_EQ(entries(img, sub)[0], entry_bytes("..", d));
    EXPECT_EQ(entries(img, sub)[1], entry_bytes(".", sub));
    EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
}

// ---- where the entry goes ----------------------------------------------------

TEST(OsCreate, NewEntryTakesFirstDeletedSlotAndParentKeepsItsSize) {
    ImageBuilder b;
    b.add_file(b.root(), "A", std::string("a"));
    bytes gone1 = entry_bytes("OLD1", 77);
    gone1[0] = 0;
    b.add_raw_entry(b.root(), gone1);  // offset 96
    b.add_file(b.root(), "B", std::string("b"));
    bytes gone2 = entry_bytes("OLD2", 78);
    gone2[0] = 0;
    b.add_raw_entry(b.root(), gone2);  // offset 160
    const bytes before = b.image();
    MemImage m(before);
    ASSERT_EQ(create_and_close(m, "NEW"), 0);
    bytes img = m.get();
    const int root = dd_dir(img);
    EXPECT_EQ(fd_size(img, root), 192u);
    std::vector<bytes> ents = entries(img, root);
    ASSERT_EQ(ents.size(), 6u);
    const int nf = entry_lsn(ents[3]);
    EXPECT_EQ(ents[3], entry_bytes("NEW", nf));
    EXPECT_EQ(ents[5], gone2);  // the later free slot stays as it was
    EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});

    // The next one takes the remaining free slot, then the end.
    ASSERT_EQ(create_and_close(m, "NEW2"), 0);
    img = m.get();
    EXPECT_EQ(fd_size(img, root), 192u);
    EXPECT_EQ(entries(img, root)[5], entry_bytes("NEW2", lookup(img, root, "NEW2")));
    ASSERT_EQ(create_and_close(m, "NEW3"), 0);
    img = m.get();
    EXPECT_EQ(fd_size(img, root), 224u);
    EXPECT_EQ(entries(img, root)[6], entry_bytes("NEW3", lookup(img, root, "NEW3")));
    EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
}

TEST(OsCreate, ParentWithoutFreeSlotGrowsByExactly32Bytes) {
    ImageBuilder b;
    int dir = b.add_dir(b.root(), "DIR");
    b.add_file(dir, "A", std::string("a"));
    const bytes before = b.image();
    MemImage m(before);
    ASSERT_EQ(create_and_close(m, "DIR/NEW"), 0);
    bytes img = m.get();
    EXPECT_EQ(fd_size(img, dir), 128u);
    EXPECT_EQ(fd_segments(img, dir), fd_segments(before, dir));
    std::vector<bytes> ents = entries(img, dir);
    ASSERT_EQ(ents.size(), 4u);
    EXPECT_EQ(ents[3], entry_bytes("NEW", entry_lsn(ents[3])));
    EXPECT_EQ(fd_size(img, dd_dir(img)), fd_size(before, dd_dir(before)));
    EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
}

// ---- refusals that write nothing ------------------------------------------------

TEST(OsCreate, NameDifferingOnlyInCaseGives218AndWritesNothing) {
    ImageBuilder b;
    b.add_file(b.root(), "ReadMe", std::string("x"));
    b.add_dir(b.root(), "Cmds");
    const bytes before = b.image();
    MemImage m(before);
    EXPECT_EQ(create_and_close(m, "README"), 218);
    EXPECT_EQ(create_and_close(m, "readme"), 218);
    EXPECT_EQ(create_and_close(m, "CMDS"), 218);
    EXPECT_EQ(rbf::_os9_makdir(m.image(), "cmds"), 218);
    EXPECT_EQ(rbf::_os9_makdir(m.image(), "rEADmE"), 218);
    EXPECT_EQ(m.get(), before);
}

TEST(OsCreate, BadCharactersInNameGive215BeforeAnyWrite) {
    ImageBuilder b;
    b.add_dir(b.root(), "DIR");
    const bytes before = b.image();
    MemImage m(before);
    for (const std::string name : {"-ab", "a b", "a@b", "-", " ", "x*", "n\xe9"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(create_and_close(m, name), 215);
        EXPECT_EQ(create_and_close(m, "DIR/" + name), 215);
        EXPECT_EQ(rbf::_os9_makdir(m.image(), name), 215);
        EXPECT_EQ(m.get(), before);
    }
}

TEST(OsCreate, NameLengthLimits) {
    ImageBuilder b;
    b.add_dir(b.root(), "DIR");
    const bytes before = b.image();
    MemImage m(before);
    EXPECT_EQ(create_and_close(m, "DIR/"), 215);           // empty final name
    EXPECT_EQ(rbf::_os9_makdir(m.image(), "DIR/"), 215);
    EXPECT_EQ(create_and_close(m, std::string(30, 'N')), 215);
    EXPECT_EQ(create_and_close(m, std::string(32, 'N')), 215);
    EXPECT_EQ(rbf::_os9_makdir(m.image(), std::string(30, 'N')), 215);
    EXPECT_EQ(m.get(), before);

    // 28 characters: the zero byte after them stays, before the LSN.
    const std::string name28 = "ABCDEFGHIJKLMNOPQRSTUVWXYZ01";
    ASSERT_EQ(name28.size(), 28u);
    ASSERT_EQ(create_and_close(m, "DIR/" + name28), 0);
    bytes img = m.get();
    int dir = lookup(img, dd_dir(img), "DIR");
    std::vector<bytes> ents = entries(img, dir);
    ASSERT_EQ(ents.size(), 3u);
    EXPECT_EQ(ents[2], entry_bytes(name28, entry_lsn(ents[2])));
    EXPECT_EQ(ents[2][27], static_cast<unsigned char>('1' | 0x80));
    EXPECT_EQ(ents[2][28], 0);
    // And it is found again by that name.
    rbf::os9_path_id p = nullptr;
    ASSERT_EQ(rbf::_os9_open(&p, m.image(), "dir/" + name28, 1), 0);
    rbf::_os9_close(p);
    EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
}

TEST(OsCreate, PathlistLongerThan254Gives215) {
    // Through pathlists the whole pathlist counts, the image's name and the
    // colon included.
    ImageBuilder b;
    const bytes before = b.image();
    dvtest::TempDir tmp;
    const std::string file = tmp / "disk.dsk";
    b.save(file);
    std::string dirs;
    while ((file + ":" + dirs).size() < 250) dirs += "D/";
    const std::string prefix = file + ":" + dirs;
    const std::string at254 = prefix + std::string(254 - prefix.size(), 'X');
    const std::string at255 = prefix + std::string(255 - prefix.size(), 'X');
    ASSERT_EQ(at254.size(), 254u);
    ASSERT_EQ(at255.size(), 255u);
    EXPECT_EQ(create_and_close(at254), 216);  // split, then D is not there
    EXPECT_EQ(create_and_close(at255), 215);
    EXPECT_EQ(rbf::_os9_makdir(at255), 215);
    EXPECT_EQ(create_and_close(file + ":" + std::string(300, 'L')), 215);
    EXPECT_EQ(dvtest::read_file(file), before);
}

TEST(OsCreate, InImagePathLongerThan254Gives215) {
    // Through the image overloads the in-image path counts.
    ImageBuilder b;
    const bytes before = b.image();
    MemImage m(before);
    std::string dirs;
    while (dirs.size() < 250) dirs += "D/";
    const std::string at254 = dirs + std::string(254 - dirs.size(), 'X');
    const std::string at255 = dirs + std::string(255 - dirs.size(), 'X');
    ASSERT_EQ(at254.size(), 254u);
    ASSERT_EQ(at255.size(), 255u);
    EXPECT_EQ(create_and_close(m, at254), 216);  // split, then D is not there
    EXPECT_EQ(create_and_close(m, at255), 215);
    EXPECT_EQ(rbf::_os9_makdir(m.image(), at255), 215);
    EXPECT_EQ(create_and_close(m, std::string(300, 'L')), 215);
    EXPECT_EQ(m.get(), before);
}

TEST(OsCreate, ParentMissingNotADirectoryOrNotWritableIsRefused) {
    ImageBuilder b;
    b.add_file(b.root(), "FILE", std::string("plain"));
    // A directory whose directory bit was cleared: its "." is found, and
    // it is not a directory.
    int former = b.add_dir(b.root(), "FORMER");
    b.set_att(former, 0x3F);
    b.add_dir(b.root(), "RO", 0xBD);  // directory without owner write
    int rw = b.add_dir(b.root(), "RW");
    b.add_dir(rw, "INNER");
    const bytes before = b.image();
    MemImage m(before);
    EXPECT_EQ(create_and_close(m, "NOPE/X"), 216);
    EXPECT_EQ(create_and_close(m, "RW/NOPE/X"), 216);
    EXPECT_EQ(rbf::_os9_makdir(m.image(), "NOPE/X"), 216);
    // A text file read as a directory holds no "." entry.
    EXPECT_EQ(create_and_close(m, "FILE/X"), 216);
    EXPECT_EQ(create_and_close(m, "FORMER/X"), 214);
    EXPECT_EQ(rbf::_os9_makdir(m.image(), "FORMER/X"), 214);
    EXPECT_EQ(create_and_close(m, "RO/X"), 214);
    EXPECT_EQ(rbf::_os9_makdir(m.image(), "RO/X"), 214);
    EXPECT_EQ(m.get(), before);
    EXPECT_EQ(create_and_close(m, "RW/INNER/X"), 0);
}

// ---- the new file --------------------------------------------------------------

TEST(OsCreate, NewFileHasNoSegmentSizeZeroAndTheGivenAttributes) {
    for (int perms : {0x1B, 0x03, 0x107}) {
        SCOPED_TRACE(perms);
        ImageBuilder b;
        const bytes before = b.image();
        MemImage m(before);
        rbf::os9_path_id p = nullptr;
        const std::time_t t0 = std::time(nullptr);
        ASSERT_EQ(rbf::_os9_create(&p, m.image(), "NEW", 3, perms), 0);
        const std::time_t t1 = std::time(nullptr);
        EXPECT_EQ(rbf::path_position(p), 0);
        bytes img = m.get();
        const int nf = lookup(img, dd_dir(img), "NEW");
        ASSERT_GT(nf, 0);
        EXPECT_EQ(rbf::path_fd_sector(p), nf);
        EXPECT_EQ(nf, lowest_free_run(before, 1));
        EXPECT_TRUE(bit_set(img, nf));  // the parent's close wrote the FD's bit
        const unsigned char* fd = fd_at(img, nf);
        EXPECT_EQ(fd[0], perms & 0xFF);
        EXPECT_EQ(fd[1], 0);
        EXPECT_EQ(fd[2], 0);
        bytes dat(fd + 3, fd + 8);
        EXPECT_TRUE(dat == local_date(t0) || dat == local_date(t1));
        EXPECT_EQ(fd[8], 1);
        EXPECT_EQ(fd_size(img, nf), 0u);
        EXPECT_EQ(bytes(fd + 13, fd + 16), bytes(fd + 3, fd + 6));
        EXPECT_EQ(bytes(fd + 16, fd + 256), bytes(240, 0));  // no segment

        // The first write at 0 gives it its first segment.
        bytes probe = img;
        const int run = lowest_free_run(probe, 8);
        const bytes data = pattern(5, perms);
        int size = 5;
        EXPECT_EQ(rbf::_os9_write(p, data.data(), &size), 0);
        EXPECT_EQ(fd_segments(m.get(), nf), (seglist{{run, 8}}));
        EXPECT_EQ(rbf::_os9_close(p), 0);
        img = m.get();
        EXPECT_EQ(fd_segments(img, nf), (seglist{{run, 1}}));
        EXPECT_EQ(file_bytes(img, nf), data);
        EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
    }
}

TEST(OsCreate, NewFileIsOpenedWithTheCallersMode) {
    ImageBuilder b;
    MemImage m(b.image());
    rbf::os9_path_id p = nullptr;
    // Read-only: writes are refused.
    ASSERT_EQ(rbf::_os9_create(&p, m.image(), "RONLY", 1, 0x1B), 0);
    int size = 1;
    const unsigned char c = 'c';
    EXPECT_EQ(rbf::_os9_write(p, &c, &size), 214);
    rbf::_os9_close(p);
    // A mode the new attributes refuse: the file stays, the open fails.
    EXPECT_EQ(rbf::_os9_create(&p, m.image(), "NOWRITE", 3, 0x01), 214);
    EXPECT_EQ(p, nullptr);
    bytes img = m.get();
    EXPECT_GT(lookup(img, dd_dir(img), "NOWRITE"), 0);
    EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
}

// ---- host files and host directories --------------------------------------------

TEST(OsCreate, HostNameWithWritePermsCreatesOrTruncates) {
    dvtest::TempDir dir;
    const std::string host = dir / "host.txt";
    for (int perms : {0x02, 0x01, 0x03}) {
        SCOPED_TRACE(perms);
        rbf::os9_path_id p = nullptr;
        ASSERT_EQ(rbf::_os9_create(&p, host, 2, perms), 0);
        EXPECT_TRUE(rbf::path_is_host(p));
        EXPECT_EQ(dvtest::read_file(host), bytes{});  // created or emptied
        const bytes data = {'a', 'b', 'c'};
        int size = 3;
        EXPECT_EQ(rbf::_os9_write(p, data.data(), &size), 0);
        EXPECT_EQ(size, 3);
        EXPECT_EQ(rbf::_os9_close(p), 0);
        EXPECT_EQ(dvtest::read_file(host), data);
    }
}

TEST(OsCreate, HostNameWithoutWritePermsOpensForReading) {
    dvtest::TempDir dir;
    const std::string host = dir / "keep.txt";
    dvtest::write_file(host, bytes{'k', 'e', 'e', 'p'});
    rbf::os9_path_id p = nullptr;
    ASSERT_EQ(rbf::_os9_create(&p, host, 2, 0), 0);
    unsigned char buf[8] = {};
    int size = 8;
    EXPECT_EQ(rbf::_os9_read(p, buf, &size), 0);
    EXPECT_EQ(size, 4);
    EXPECT_EQ(rbf::_os9_close(p), 0);
    EXPECT_EQ(dvtest::read_file(host), (bytes{'k', 'e', 'e', 'p'}));
    // "r" does not create.
    EXPECT_EQ(rbf::_os9_create(&p, dir / "missing.txt", 2, 0), 214);
    EXPECT_FALSE(std::filesystem::exists(dir / "missing.txt"));
}

TEST(OsMakdir, NothingAfterTheColonIsTheRootThatExists) {
    dvtest::TempDir dir;
    ImageBuilder b;
    b.add_file(b.root(), "A", std::string("a"));
    b.save(dir / "disk.dsk");
    const bytes before = b.image();
    EXPECT_EQ(rbf::_os9_makdir(dir / "disk.dsk:"), 218);
    EXPECT_FALSE(std::filesystem::exists(dir / "disk.dsk:"));
    EXPECT_EQ(dvtest::read_file(dir / "disk.dsk"), before);
}

TEST(OsMakdir, HostDirectoriesAndTheHostsErrorForAnExistingOne) {
    dvtest::TempDir dir;
    EXPECT_EQ(rbf::_native_makdir(dir / "sub"), 0);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "sub"));
    struct stat st {};
    ASSERT_EQ(stat((dir / "sub").c_str(), &st), 0);
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0755u & ~mask);
    EXPECT_EQ(rbf::_native_makdir(dir / "sub"), EEXIST);
    EXPECT_EQ(rbf::_os9_makdir(dir / "sub"), EEXIST);  // no ':' : a host directory
    EXPECT_EQ(rbf::_os9_makdir(dir / "other"), 0);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "other"));
    EXPECT_EQ(rbf::_native_makdir(dir / "none/deeper"), ENOENT);
}

// ---- a full disk and a full segment list ---------------------------------------

TEST(OsCreate, NoFreeUnitForTheFdGives248AndChangesNothing) {
    ImageBuilder b;
    b.add_dir(b.root(), "DIR");
    b.mark(0, b.total(), true);
    const bytes before = b.image();
    MemImage m(before);
    EXPECT_EQ(create_and_close(m, "NEW"), 248);
    EXPECT_EQ(create_and_close(m, "DIR/NEW"), 248);
    EXPECT_EQ(rbf::_os9_makdir(m.image(), "NEWDIR"), 248);
    EXPECT_EQ(m.get(), before);
}

// Every sector that differs between `before` and `after` was free in
// `before`: only unused sectors may receive bytes from a failed create.
void expect_only_free_sectors_changed(const bytes& before, const bytes& after) {
    ASSERT_EQ(before.size(), after.size());
    for (std::size_t s = 0; s < before.size() / 256; ++s) {
        if (std::equal(before.begin() + static_cast<long>(s * 256), before.begin() + static_cast<long>(s * 256 + 256),
                       after.begin() + static_cast<long>(s * 256)))
            continue;
        EXPECT_FALSE(bit_set(before, static_cast<int>(s))) << "sector " << s << " was in use and changed";
    }
}

// Root whose 48 segment entries are all in use and whose entries fill them
// exactly: unit 3, then units 20, 22, ..., 112, with unit 113 taken.
ImageBuilder full_root() {
    ImageBuilder b;
    const int root = b.root();
    b.mark(4, 6, false);  // the root data beyond unit 3 is given up
    seglist segs{{3, 1}};
    for (int k = 0; k < 47; ++k) segs.emplace_back(20 + 2 * k, 1);
    b.set_segments(root, segs);
    for (auto [lsn, num] : segs) b.mark(lsn, num, true);
    b.add_file(root, "X", bytes{'x'}, 0x1B, {{113, 1}});
    int shared = b.add_file(root, "F0", std::string("shared"));
    // More names for one file until the root's 48 units are full.
    for (int k = 1; static_cast<int>(b.size(root)) < 48 * 256; ++k) b.add_entry(root, "F" + std::to_string(k), shared);
    return b;
}

TEST(OsCreate, FullRootSegmentListGives217AndGivesBackTheFdBit) {
    ImageBuilder b = full_root();
    const bytes before = b.image();
    ASSERT_EQ(fd_size(before, b.root()), 48u * 256u);
    ASSERT_EQ(fd_segments(before, b.root()).size(), 48u);
    MemImage m(before);
    EXPECT_EQ(create_and_close(m, "NEW"), 217);
    bytes img = m.get();
    EXPECT_EQ(bytes(img.begin() + 256, img.begin() + 256 + dd_map(img)),
              bytes(before.begin() + 256, before.begin() + 256 + dd_map(before)));
    EXPECT_EQ(bytes(fd_at(img, b.root()), fd_at(img, b.root()) + 256),
              bytes(fd_at(before, b.root()), fd_at(before, b.root()) + 256));
    expect_only_free_sectors_changed(before, img);
    EXPECT_EQ(rbf::_os9_makdir(m.image(), "NEWDIR"), 217);
    expect_only_free_sectors_changed(before, m.get());
}

TEST(OsCreate, ParentThatCannotGrowForLackOfRoomGives248AndGivesBackTheFdBit) {
    // A directory filled exactly, its next unit taken, and a disk with one
    // free unit: the FD finds it, the entry finds no segment.
    ImageBuilder b;
    int dir = b.add_dir(b.root(), "DIR");
    seglist ds = b.segments(dir);
    ASSERT_EQ(ds.size(), 1u);
    for (int k = 2; k < 64; ++k) b.add_entry(dir, "E" + std::to_string(k), b.root());
    ASSERT_EQ(b.size(dir), 8u * 256u);
    for (int u = 0; u < b.total(); ++u) b.mark(u, 1, u != 300);
    const bytes before = b.image();
    ASSERT_EQ(lowest_free_run(before, 2), -1);
    ASSERT_EQ(lowest_free_run(before, 1), 300);
    MemImage m(before);
    EXPECT_EQ(create_and_close(m, "DIR/NEW"), 248);
    bytes img = m.get();
    EXPECT_EQ(bytes(img.begin() + 256, img.begin() + 256 + dd_map(img)),
              bytes(before.begin() + 256, before.begin() + 256 + dd_map(before)));
    expect_only_free_sectors_changed(before, img);
}

// ---- many creations ---------------------------------------------------------------

TEST(OsCreate, ManyCreationsKeepTheTreeConsistent) {
    ImageBuilder b(2000);
    MemImage m(b.image());
    std::map<std::string, std::pair<bool, bytes>> want;  // path -> (dir, data)
    for (int d = 0; d < 10; ++d) {
        const std::string dn = "D" + std::to_string(d);
        ASSERT_EQ(rbf::_os9_makdir(m.image(), dn), 0) << dn;
        want[dn] = {true, {}};
        for (int f = 0; f < 20; ++f) {
            const std::string fn = dn + "/F" + std::to_string(f);
            rbf::os9_path_id p = nullptr;
            ASSERT_EQ(rbf::_os9_create(&p, m.image(), fn, 2, 0x1B), 0) << fn;
            bytes data = pattern(static_cast<std::size_t>((f % 4) * 97 * (d + 1)), d * 20 + f);
            if (!data.empty()) {
                int size = static_cast<int>(data.size());
                EXPECT_EQ(rbf::_os9_write(p, data.data(), &size), 0);
            }
            rbf::_os9_close(p);
            want[fn] = {false, data};
        }
        if (d % 3 == 0) {
            const std::string sn = dn + "/SUB";
            ASSERT_EQ(rbf::_os9_makdir(m.image(), sn), 0);
            want[sn] = {true, {}};
            ASSERT_EQ(create_and_close(m, sn + "/leaf"), 0);
            want[sn + "/leaf"] = {false, {}};
        }
    }
    for (int f = 0; f < 90; ++f) {
        const std::string fn = "R" + std::to_string(f);
        ASSERT_EQ(create_and_close(m, fn), 0) << fn;
        want[fn] = {false, {}};
    }
    ASSERT_GE(want.size(), 300u);
    bytes img = m.get();
    EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
    std::map<std::string, dvtest::TreeNode> tree = dvtest::list_tree(img);
    ASSERT_EQ(tree.size(), want.size());
    for (const auto& [path, w] : want) {
        auto it = tree.find(path);
        ASSERT_NE(it, tree.end()) << path;
        EXPECT_EQ(it->second.dir, w.first) << path;
        if (!w.first) {
            EXPECT_EQ(it->second.data, w.second) << path;
        }
    }
    EXPECT_EQ(fd_size(img, dd_dir(img)), 32u * (2 + 10 + 90));
    EXPECT_EQ(fd_size(img, tree["D0"].fd), 32u * (2 + 20 + 1));
}

}  // namespace
