// The library's removal of a directory tree (rbf::_os9_prune) on images held
// in memory, where it goes beyond what dvprune's own tests show: the step
// budget, and names that lead elsewhere once a directory is gone.
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
using dvtest::MemImage;

// KEEP, and DIR holding f1, SUB (holding g) and f2.
struct Tree {
    ImageBuilder b;
    Tree() {
        b.add_file(b.root(), "KEEP", std::string("stays"));
        int d = b.add_dir(b.root(), "DIR");
        b.add_file(d, "f1", bytes(300, '1'));
        int sub = b.add_dir(d, "SUB");
        b.add_file(sub, "g", bytes(700, 'g'));
        b.add_file(d, "f2", bytes(10, '2'));
    }
};

}  // namespace

TEST(Prune, BudgetThatFallsOneStepShortStopsWithSpentAndASoundImage) {
    // The steps a whole removal takes, from a run with room to spare.
    long used = 0;
    {
        Tree t;
        MemImage m(t.b.image());
        rbf::prune_options options;
        options.budget = 1000;
        const rbf::prune_result r = rbf::_os9_prune(m.image(), "x:DIR", "DIR", options);
        ASSERT_EQ(r.error, 0);
        ASSERT_FALSE(r.spent);
        ASSERT_GE(r.budget_left, 0);
        used = 1000 - r.budget_left;
        // Two directories entered, eight entries met ("..", "." included).
        EXPECT_GE(used, 2 + 8);
        EXPECT_EQ(dvtest::list_tree(m.get()).size(), 1u);
    }
    {
        Tree t;
        MemImage m(t.b.image());
        rbf::prune_options options;
        options.budget = used;
        const rbf::prune_result r = rbf::_os9_prune(m.image(), "x:DIR", "DIR", options);
        EXPECT_EQ(r.error, 0);
        EXPECT_FALSE(r.spent);
        EXPECT_EQ(r.budget_left, 0);
        EXPECT_EQ(dvtest::list_tree(m.get()).size(), 1u);
    }
    {
        Tree t;
        MemImage m(t.b.image());
        rbf::prune_options options;
        options.budget = used - 1;
        const rbf::prune_result r = rbf::_os9_prune(m.image(), "x:DIR", "DIR", options);
        EXPECT_EQ(r.error, 0);
        EXPECT_TRUE(r.spent);
        EXPECT_EQ(r.budget_left, 0) << "a spent budget must not read as no limit";
        const bytes img = m.get();
        EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
        EXPECT_EQ(dvtest::list_tree(img).count("DIR"), 1u);
    }
}

TEST(Prune, BudgetLeftCarriesOverToTheNextCall) {
    // Two trees removed under one budget: what the first leaves, the second
    // gets; once it is spent nothing more is done.
    ImageBuilder b;
    for (const char* name : {"A", "B", "C"}) {
        int d = b.add_dir(b.root(), name);
        b.add_file(d, "f", std::string("x"));
    }
    MemImage m(b.image());
    rbf::prune_options options;
    options.budget = 1000;
    rbf::prune_result r = rbf::_os9_prune(m.image(), "x:A", "A", options);
    ASSERT_EQ(r.error, 0);
    const long per_tree = 1000 - r.budget_left;
    ASSERT_GT(per_tree, 0);
    // Enough for B but not for C.
    options.budget = per_tree + per_tree / 2;
    r = rbf::_os9_prune(m.image(), "x:B", "B", options);
    EXPECT_EQ(r.error, 0);
    EXPECT_FALSE(r.spent);
    EXPECT_EQ(r.budget_left, per_tree / 2);
    options.budget = r.budget_left;
    r = rbf::_os9_prune(m.image(), "x:C", "C", options);
    EXPECT_TRUE(r.spent);
    EXPECT_EQ(r.budget_left, 0);
    options.budget = r.budget_left;
    r = rbf::_os9_prune(m.image(), "x:C", "C", options);
    EXPECT_TRUE(r.spent);
    const bytes img = m.get();
    EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
    auto tree = dvtest::list_tree(img);
    EXPECT_EQ(tree.count("A"), 0u);
    EXPECT_EQ(tree.count("B"), 0u);
    EXPECT_EQ(tree.count("C"), 1u);
}

TEST(Prune, ASecondEntryOfTheSameNameIsLeftAsItIs) {
    // DIR the directory, and later in the root a plain file also named DIR
    // (a damaged but consistent tree): once the directory is gone the name
    // leads to the file, which keeps its attributes and bytes.
    ImageBuilder b;
    const int free0 = dvtest::free_units(b.image());
    int d = b.add_dir(b.root(), "DIR");
    b.add_file(d, "f", std::string("inside"));
    const bytes data(600, 'p');
    int plain = b.add_file(b.root(), "DIR", data);
    const int plain_units = 1 + 3;  // its FD and 600 bytes in 3 units
    ASSERT_EQ(dvtest::check_tree(b.image()), std::vector<std::string>{});
    MemImage m(b.image());
    const rbf::prune_result r = rbf::_os9_prune(m.image(), "x:DIR", "DIR", {});
    EXPECT_EQ(r.error, 0);
    const bytes img = m.get();
    EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
    EXPECT_EQ(img[static_cast<std::size_t>(plain) * 256], 0x1B) << "the plain file's attributes changed";
    auto tree = dvtest::list_tree(img);
    ASSERT_EQ(tree.size(), 1u);
    ASSERT_EQ(tree.count("DIR"), 1u);
    EXPECT_FALSE(tree.at("DIR").dir);
    EXPECT_EQ(tree.at("DIR").fd, plain);
    EXPECT_EQ(tree.at("DIR").data, data);
    EXPECT_EQ(dvtest::free_units(img), free0 - plain_units);
}
