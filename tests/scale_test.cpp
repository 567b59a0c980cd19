// Work that scales with the entries touched: a directory's names known
// between creates, searches for free clusters that start past the full
// ones, and whole directories emptied with few writes.  Each test checks
// that the shortcut gives what the long way gives.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "os9disk.h"
#include "os9path.h"
#include "rbf/image.h"
#include "test_support.h"

using dvtest::bytes;
using dvtest::MemImage;

namespace {

// Byte position of the entry `name` in directory D, -1 when it is missing.
std::int64_t entry_pos(const MemImage& m, const std::string& name) {
    rbf::os9_path_id d = nullptr;
    if (rbf::_os9_open(&d, m.image(), "D", rbf::MODE_DIR | rbf::MODE_READ)) return -1;
    rbf::os9_dirent e;
    std::int64_t pos = -1;
    while (pos < 0 && rbf::_os9_readdir(d, &e) == 0)
        if (e.name == name) pos = e.pos;
    rbf::_os9_close(d);
    return pos;
}

std::uint32_t fd_of(const MemImage& m, const std::string& name) {
    rbf::os9_stat st;
    EXPECT_EQ(rbf::_os9_stat_path(m.image(), name, &st), 0) << name;
    return st.fd_lsn;
}

}  // namespace

// A directory's names are learnt once and kept while only creates change
// it; every other change (a rename, a delete, a raw write into the
// directory) is seen by the next create.
TEST(DirectoryIndex, CreatesSeeEveryChangeToTheDirectory) {
    dvtest::ImageBuilder b;
    b.add_dir(b.root(), "D");
    MemImage m(b.image());
    for (int i = 0; i < 40; ++i) ASSERT_EQ(dvtest::create_file(m.image(), "D/N" + std::to_string(10 + i)), 0);
    // An entry cleared behind the library's back, through the raw image.
    auto clear_raw = [&](const std::string& name) {
        const std::int64_t pos = entry_pos(m, name);
        const auto segs = dvtest::fd_segments(m.get(), static_cast<int>(fd_of(m, "D")));
        dvtest::Path raw;
        ASSERT_EQ(rbf::_os9_open(raw.out(), m.image(), "@", rbf::MODE_WRITE), 0);
        ASSERT_EQ(rbf::_os9_seek(raw.p, static_cast<int>(segs.at(0).first * 256 + pos), 0), 0);
        const unsigned char zero = 0;
        int size = 1;
        ASSERT_EQ(rbf::_os9_write(raw.p, &zero, &size), 0);
        raw.close();
    };
    std::int64_t freed = -1;
    // Names looked up before the change, so that walks know the directory.
    auto look = [&](const std::string& name) {
        rbf::os9_stat st;
        return rbf::_os9_stat_path(m.image(), "D/" + name, &st);
    };
    const struct {
        std::function<void()> change;
        std::vector<std::pair<const char*, rbf::error_code>> creates;
        std::vector<std::pair<const char*, rbf::error_code>> lookups;
    } steps[] = {
        {[] {}, {{"n15", rbf::E_CEF}, {"N49", rbf::E_CEF}}, {{"n15", 0}, {"N60", rbf::E_PNNF}}},  // case ignored
        {[&] { EXPECT_EQ(rbf::_os9_rename(m.image(), "D/N30", "R30"), 0); },
         {{"r30", rbf::E_CEF}, {"N31", rbf::E_CEF}},
         {{"R30", 0}, {"N31", 0}}},
        {[&] { EXPECT_EQ(rbf::_os9_rename(m.image(), "D/R30", "S30"), 0); }, {{"N30", 0}}, {{"R30", rbf::E_PNNF}, {"s30", 0}}},
        {[&] {
             freed = entry_pos(m, "N20");
             EXPECT_EQ(rbf::_os9_delete(m.image(), "D/N20"), 0);
         },
         {{"N20", 0}, {"N20", rbf::E_CEF}},
         {{"N20", 0}}},
        {[&] { clear_raw("N40"); }, {{"N40", 0}}, {{"N40", 0}}},
    };
    for (const auto& step : steps) {
        for (int i = 0; i < 3; ++i) look("N11");
        step.change();
        for (const auto& [name, want] : step.creates) EXPECT_EQ(dvtest::create_file(m.image(), std::string("D/") + name), want) << name;
        for (const auto& [name, want] : step.lookups) EXPECT_EQ(look(name), want) << name;
    }
    // The slot freed was taken again.
    EXPECT_EQ(entry_pos(m, "N20"), freed);
    // Only the FD whose entry the raw write cleared is left over.
    EXPECT_EQ(dvtest::problems_beyond_leaks(m.get()), std::vector<std::string>{});
}

// Freed clusters are handed out again lowest first, though the search for
// free clusters starts past those known to be in use.
TEST(Allocation, UnitsFreedLowOnTheDiskAreTakenFirst) {
    dvtest::ImageBuilder b;
    MemImage m(b.image());
    for (const char* name : {"A", "B", "C", "E"}) ASSERT_EQ(dvtest::create_file(m.image(), name), 0);
    const std::uint32_t a = fd_of(m, "A");
    const std::uint32_t c = fd_of(m, "C");
    ASSERT_EQ(rbf::_os9_delete(m.image(), "A"), 0);
    ASSERT_EQ(rbf::_os9_delete(m.image(), "C"), 0);
    ASSERT_EQ(dvtest::create_file(m.image(), "X"), 0);
    ASSERT_EQ(dvtest::create_file(m.image(), "Y"), 0);
    EXPECT_EQ(fd_of(m, "X"), a);
    EXPECT_EQ(fd_of(m, "Y"), c);
    EXPECT_EQ(dvtest::check_tree(m.get()), std::vector<std::string>{});
}

// Entries naming one FD twice in the directory being emptied: the file is
// freed once, when its last entry goes.
TEST(Prune, HardLinkedFilesInOneDirectoryAreFreedOnce) {
    dvtest::ImageBuilder empty;
    dvtest::ImageBuilder b;
    const int d = b.add_dir(b.root(), "DIR");
    const int f = b.add_file(d, "F", bytes(700, 'f'));
    b.add_entry(d, "ALSO", f);
    b.set_links(f, 2);
    b.add_file(d, "G", bytes(300, 'g'));
    MemImage m(b.image());
    const rbf::prune_result r = rbf::_os9_prune(m.image(), "x:DIR", "DIR", rbf::prune_options{});
    EXPECT_EQ(r.error, 0);
    EXPECT_EQ(dvtest::list_tree(m.get()).size(), 0u);
    EXPECT_EQ(dvtest::check_tree(m.get()), std::vector<std::string>{});
    EXPECT_EQ(dvtest::free_units(m.get()), dvtest::free_units(empty.image()));
}
