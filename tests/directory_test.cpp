// The directory module: its name index follows the module's own entry
// writes (moves in and out, a file replaced in place), and its tree walk
// reaches each FD once whatever loops and links the entries make.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "os9disk.h"
#include "os9path.h"
#include "rbf/directory.h"
#include "test_support.h"

using dvtest::bytes;
using dvtest::MemImage;

// A directory being filled keeps its index; entries the module writes for
// a move or a replace are learnt, so creates after them see every name.
TEST(Directory, IndexFollowsMovesAndReplaces) {
    dvtest::ImageBuilder b;
    b.add_dir(b.root(), "D");
    b.add_file(b.root(), "OUT", std::string("out"));
    MemImage m(b.image());
    for (int i = 0; i < 30; ++i) ASSERT_EQ(dvtest::create_file(m.image(), "D/N" + std::to_string(10 + i)), 0);
    const struct {
        const char* what;
        std::function<rbf::error_code()> change;
        std::vector<std::pair<const char*, rbf::error_code>> creates;
    } steps[] = {
        {"moved in", [&] { return rbf::_os9_move(m.image(), "OUT", "D/M1", false); }, {{"m1", rbf::E_CEF}, {"M2", 0}}},
        {"moved out", [&] { return rbf::_os9_move(m.image(), "D/N15", "N15", false); }, {{"N15", 0}, {"n15", rbf::E_CEF}}},
        {"moved within", [&] { return rbf::_os9_move(m.image(), "D/N16", "D/Z16", false); },
         {{"N16", 0}, {"z16", rbf::E_CEF}}},
        {"replaced", [&] { return dvtest::put_bytes(m.image(), "D/N20", bytes{'n', 'e', 'w'}, true); }, {{"n20", rbf::E_CEF}, {"N41", 0}}},
        {"deleted", [&] { return rbf::_os9_delete(m.image(), "D/N21"); }, {{"N21", 0}, {"N21", rbf::E_CEF}}},
    };
    for (const auto& step : steps) {
        ASSERT_EQ(step.change(), 0) << step.what;
        for (const auto& [name, want] : step.creates)
            EXPECT_EQ(dvtest::create_file(m.image(), std::string("D/") + name), want) << step.what << ": " << name;
    }
    const auto tree = dvtest::list_tree(m.get());
    EXPECT_EQ(std::string(tree.at("D/M1").data.begin(), tree.at("D/M1").data.end()), "out");
    EXPECT_EQ(std::string(tree.at("D/N20").data.begin(), tree.at("D/N20").data.end()), "new");
    EXPECT_EQ(dvtest::check_tree(m.get()), std::vector<std::string>{});
}

// Loops back up the tree, a directory under two names and a hard link:
// the walk takes up every FD once, is told which entries lead to one seen
// before, and a stop ends it at once.
TEST(Directory, WalkTakesUpEachFdOnceAndStops) {
    dvtest::ImageBuilder b;
    const int a = b.add_dir(b.root(), "A");
    const int sub = b.add_dir(a, "SUB");
    const int f = b.add_file(sub, "F", std::string("f"));
    b.add_entry(sub, "UP", a);
    b.add_entry(b.root(), "SAME", sub);
    b.add_entry(a, "LINK", f);
    b.add_entry(sub, "SELF", sub);
    MemImage m(b.image());
    dvtest::Path raw;
    ASSERT_EQ(rbf::_os9_open(raw.out(), m.image(), "@", rbf::MODE_READ), 0);
    for (const int stop_after : {0, 2, 100}) {
        std::map<std::uint32_t, int> taken_up;
        int seen = 0;
        rbf::detail::walk_tree(*raw.p, static_cast<std::uint32_t>(b.root()), 0,
            [&](const rbf::detail::walk_node& node, rbf::fd_stats& fd) {
                if (static_cast<int>(taken_up.size()) == stop_after) return rbf::detail::walk_next::stop;
                if (++taken_up[node.lsn] > 1) return rbf::detail::walk_next::stop;  // taken up again
                if (rbf::detail::fd_load(*raw.p, node.lsn, fd) != 0) return rbf::detail::walk_next::skip;
                return (fd.fd_att & 0x80) ? rbf::detail::walk_next::descend : rbf::detail::walk_next::skip;
            },
            [&](const rbf::detail::walk_node&, const rbf::fd_dentry&, std::int64_t, bool before, std::size_t*) {
                seen += before;
                return rbf::detail::walk_next::descend;
            });
        const std::size_t all = 4;  // the root, A, SUB, F
        EXPECT_EQ(taken_up.size(), std::min<std::size_t>(all, static_cast<std::size_t>(stop_after)));
        for (const auto& [lsn, times] : taken_up) EXPECT_EQ(times, 1) << lsn;
        if (stop_after == 100) {
            for (const int lsn : {b.root(), a, sub, f}) EXPECT_EQ(taken_up.count(static_cast<std::uint32_t>(lsn)), 1u);
            // "..", "." of three directories, and UP, SAME (or SUB), LINK (or F), SELF.
            EXPECT_EQ(seen, 6 + 4);
        }
    }
}
