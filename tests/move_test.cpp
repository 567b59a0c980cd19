// Moves within and across directories: the tree after each, the image
// sound (no unit leaked, link counts and ".." right), and refusals that
// change nothing.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>

#include "rbf/image.h"
#include "test_support.h"

namespace {

using Names = std::set<std::string>;

// ROOT: A/f, B/ (empty), C/D/, C/g, notes, other.
dvtest::ImageBuilder sample() {
    dvtest::ImageBuilder b(2000);
    b.add_file(b.add_dir(b.root(), "A"), "f", std::string("in a"));
    b.add_dir(b.root(), "B");
    const int c = b.add_dir(b.root(), "C");
    b.add_dir(c, "D");
    b.add_file(c, "g", std::string("in c"));
    b.add_file(b.root(), "notes", std::string("the notes"));
    b.add_file(b.root(), "other", std::string("other"));
    return b;
}

Names names_of(const dvtest::bytes& img) {
    Names n;
    for (const auto& [path, node] : dvtest::list_tree(img)) n.insert(path);
    return n;
}

const Names kSample = {"A", "A/f", "B", "C", "C/D", "C/g", "notes", "other"};

Names with(Names n, const Names& gone, const Names& added) {
    for (const auto& g : gone) n.erase(g);
    n.insert(added.begin(), added.end());
    return n;
}


// A move across directories stopped after any of its writes: the file keeps
// at least one name, and its link count is never below the entries that
// name it (a delete of one name would free what another still names).
TEST(Move, StoppedAfterAnyWriteTheFileKeepsANameAndEnoughLinks) {
    const dvtest::bytes start = sample().image();
    for (long stop = 0;; ++stop) {
        rbf::image_ref img = rbf::image_in_memory(start);
        rbf::image_limit_writes(*img, stop);
        const rbf::error_code ec = rbf::_os9_move(img, "A/f", "B/moved", false);
        const auto tree = dvtest::list_tree(rbf::image_contents(*img));
        int names = 0;
        for (const auto& [path, node] : tree)
            if (path == "A/f" || path == "B/moved") {
                ++names;
                EXPECT_EQ(std::string(node.data.begin(), node.data.end()), "in a") << stop;
            }
        EXPECT_GE(names, 1) << "stopped after " << stop << " writes";
        for (const std::string& problem : dvtest::problems_beyond_leaks(rbf::image_contents(*img))) {
            int links = 0, entries = 0;
            const auto at = problem.find("link count ");
            ASSERT_NE(at, std::string::npos) << problem;
            ASSERT_EQ(std::sscanf(problem.c_str() + at, "link count %d, entries %d", &links, &entries), 2) << problem;
            EXPECT_GT(links, entries) << problem;
        }
        if (ec == 0) {
            EXPECT_EQ(names_of(rbf::image_contents(*img)), with(kSample, {"A/f"}, {"B/moved"}));
            EXPECT_EQ(dvtest::check_tree(rbf::image_contents(*img)), std::vector<std::string>{});
            break;
        }
        ASSERT_LT(stop, 50);
    }
}

}  // namespace

TEST(Move, CasesTable) {
    struct Case {
        std::string from, to;
        bool replace;
        int error;
        Names after;                  // when error is 0
        std::string moved_text = "";  // what `to` holds after a file's move
    };
    const Case cases[] = {
        {"notes", "A/notes2", false, 0, with(kSample, {"notes"}, {"A/notes2"}), "the notes"},
        {"A", "B/A", false, 0, with(kSample, {"A", "A/f"}, {"B/A", "B/A/f"})},
        {"C/D", "D2", false, 0, with(kSample, {"C/D"}, {"D2"})},
        {"notes", "Notes", false, 0, with(kSample, {"notes"}, {"Notes"}), "the notes"},
        {"notes", "fresh", false, 0, with(kSample, {"notes"}, {"fresh"}), "the notes"},
        {"notes", "other", true, 0, with(kSample, {"notes"}, {}), "the notes"},
        {"C/g", "A/f", true, 0, with(kSample, {"C/g"}, {}), "in c"},
        {"A", "B", true, 0, with(kSample, {"A", "A/f"}, {"B/f"})},
        {"notes", "other", false, 218, {}},
        {"B", "C", true, 218, {}},         // C holds entries
        {"notes", "B", true, 192, {}},     // a file over a directory
        {"A", "notes", true, 214, {}},     // a directory over a file
        {"C", "C/D/C", false, 187, {}},    // into its own tree
        {"C", "C/C2", false, 187, {}},
        {"notes", "A/..", false, 187, {}},
        {"..", "x", false, 187, {}},
        {"notes", "a b", false, 215, {}},
        {"notes", std::string(30, 'n'), false, 215, {}},
        {"notes", "", false, 215, {}},
        {"notes@", "x", false, 215, {}},
        {"none", "x", false, 216, {}},
        {"notes", "nodir/x", false, 216, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.from + " -> " + c.to);
        dvtest::ImageBuilder b = sample();
        const dvtest::bytes before = b.image();
        dvtest::MemImage m(before);
        ASSERT_EQ(rbf::_os9_move(m.image(), c.from, c.to, c.replace), c.error);
        const dvtest::bytes after = m.get();
        if (c.error) {
            EXPECT_EQ(after, before);
            continue;
        }
        EXPECT_EQ(dvtest::check_tree(after), std::vector<std::string>{});
        EXPECT_EQ(names_of(after), c.after);
        const auto tree = dvtest::list_tree(after);
        if (!c.moved_text.empty()) {
            const auto it = tree.find(c.to);
            ASSERT_NE(it, tree.end());
            EXPECT_EQ(std::string(it->second.data.begin(), it->second.data.end()), c.moved_text);
        }
    }
}
