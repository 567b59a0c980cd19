// The library's removal of a directory tree (rbf::_os9_prune) on images held
// in memory: what it frees, the question before each directory, the step
// budget, and the operands it refuses.
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
    int free_without_dir = 0;
    Tree() {
        b.add_file(b.root(), "KEEP", std::string("stays"));
        free_without_dir = dvtest::free_units(b.image());
        int d = b.add_dir(b.root(), "DIR");
        b.add_file(d, "f1", bytes(300, '1'));
        int sub = b.add_dir(d, "SUB");
        b.add_file(sub, "g", bytes(700, 'g'));
        b.add_file(d, "f2", bytes(10, '2'));
    }
};

}  // namespace

TEST(Prune, RemovesTheTreeAndFreesEveryUnitOfIt) {
    Tree t;
    MemImage m(t.b.image());
    const rbf::prune_result r = rbf::_os9_prune(m.image(), "disk:DIR", "DIR", {});
    EXPECT_EQ(r.error, 0);
    EXPECT_FALSE(r.quit);
    EXPECT_FALSE(r.spent);
    EXPECT_LT(r.budget_left, 0) << "no limit was set";
    const bytes img = m.get();
    EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
    auto tree = dvtest::list_tree(img);
    EXPECT_EQ(tree.size(), 1u);
    EXPECT_EQ(tree.count("KEEP"), 1u);
    EXPECT_EQ(dvtest::free_units(img), t.free_without_dir);
}

TEST(Prune, AsksBeforeEachDirectoryTopFirstWithTheShownPathlist) {
    Tree t;
    MemImage m(t.b.image());
    std::vector<std::string> asked;
    rbf::prune_options options;
    options.ask = [&](const std::string& pathlist) {
        asked.push_back(pathlist);
        return rbf::prune_answer::go;
    };
    const rbf::prune_result r = rbf::_os9_prune(m.image(), "x.dsk:/DIR", "/DIR", options);
    EXPECT_EQ(r.error, 0);
    EXPECT_EQ(asked, (std::vector<std::string>{"x.dsk:/DIR", "x.dsk:/DIR/SUB"}));
    EXPECT_EQ(dvtest::list_tree(m.get()).size(), 1u);
}

TEST(Prune, QuitAtASubdirectoryKeepsItAndWhatFollowsAndReportsQuit) {
    Tree t;
    MemImage m(t.b.image());
    rbf::prune_options options;
    options.ask = [&](const std::string& pathlist) {
        return pathlist == "x:DIR/SUB" ? rbf::prune_answer::quit : rbf::prune_answer::go;
    };
    const rbf::prune_result r = rbf::_os9_prune(m.image(), "x:DIR", "DIR", options);
    EXPECT_EQ(r.error, 0);
    EXPECT_TRUE(r.quit);
    const bytes img = m.get();
    EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
    auto tree = dvtest::list_tree(img);
    EXPECT_EQ(tree.count("DIR/f1"), 0u);  // met before SUB: gone
    EXPECT_EQ(tree.count("DIR/SUB/g"), 1u);
    EXPECT_EQ(tree.count("DIR/f2"), 1u);
    ASSERT_EQ(tree.count("DIR"), 1u);
    EXPECT_TRUE(tree.at("DIR").dir);
}

TEST(Prune, QuitAtTheFirstQuestionTouchesNothing) {
    Tree t;
    MemImage m(t.b.image());
    rbf::prune_options options;
    options.ask = [](const std::string&) { return rbf::prune_answer::quit; };
    const rbf::prune_result r = rbf::_os9_prune(m.image(), "x:DIR", "DIR", options);
    EXPECT_EQ(r.error, 0);
    EXPECT_TRUE(r.quit);
    EXPECT_EQ(m.get(), t.b.image());
}

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

TEST(Prune, DotDotDotAndEmptyLastComponentsAreRefusedBeforeAnythingIsAsked) {
    Tree t;
    MemImage m(t.b.image());
    struct Case {
        const char* in;
        int error;
    } cases[] = {{".", 187}, {"..", 187}, {"DIR/.", 187}, {"DIR/..", 187}, {"DIR/", 215}, {"", 215}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        int questions = 0;
        rbf::prune_options options;
        options.ask = [&](const std::string&) {
            ++questions;
            return rbf::prune_answer::go;
        };
        const rbf::prune_result r = rbf::_os9_prune(m.image(), std::string("x:") + c.in, c.in, options);
        EXPECT_EQ(r.error, c.error);
        EXPECT_EQ(questions, 0);
    }
    EXPECT_EQ(m.get(), t.b.image());
}

TEST(Prune, MissingDirectoryOrPlainFileFailsAfterTheQuestion) {
    Tree t;
    MemImage m(t.b.image());
    for (const auto& [in, error] : std::vector<std::pair<std::string, int>>{{"NOPE", 216}, {"KEEP", 214}}) {
        SCOPED_TRACE(in);
        int questions = 0;
        rbf::prune_options options;
        options.ask = [&](const std::string&) {
            ++questions;
            return rbf::prune_answer::go;
        };
        const rbf::prune_result r = rbf::_os9_prune(m.image(), "x:" + in, in, options);
        EXPECT_EQ(r.error, error);
        EXPECT_EQ(questions, 1);
    }
    EXPECT_EQ(m.get(), t.b.image());
    // No image at all fails as a directory that is not there.
    const rbf::prune_result r = rbf::_os9_prune(nullptr, "none.dsk:DIR", "DIR", {});
    EXPECT_EQ(r.error, rbf::E_PNNF);
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
