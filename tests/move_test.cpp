// Moves within and across directories: the tree after each, the image
// sound (no unit leaked, link counts and ".." right), and refusals that
// change nothing.
#include <gtest/gtest.h>

#include <set>

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
        {"notes", std::string(29, 'n'), false, 215, {}},
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
