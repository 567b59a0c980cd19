// dvrename run as a user runs it, each run on a fresh image: a rename
// changes one name field and nothing else, a refused one changes nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <set>

#include "misc/frame.h"
#include "test_support.h"

TEST(DvRenameProgram, CasesTable) {
    using Names = std::set<std::string>;
    const std::string L28(28, 'L');
    // Arguments, the error number (0: success), the names after a success (BAD's
    // FD is outside the disk: no name).  Each new name differs from the old in its
    // first letter, so the name field starts at the first byte that changed.
    const std::tuple<std::vector<std::string>, int, Names> cases[] = {
        {{"x.dsk:NOTES", "n"}, 0, {"DIR", "DIR/f", "n", "Other"}},
        {{"x.dsk:notes", "NOTES"}, 0, {"DIR", "DIR/f", "NOTES", "Other"}},
        {{"x.dsk:dir", "Sub_1.x"}, 0, {"Sub_1.x", "Sub_1.x/f", "notes", "Other"}},
        {{"x.dsk:DIR/f", L28}, 0, {"DIR", "DIR/" + L28, "notes", "Other"}},
        {{"x.dsk:BAD", "b2"}, 0, {"DIR", "DIR/f", "notes", "Other"}},
        {{"x.dsk:notes", "OTHER"}, 218, {}}, {{"x.dsk:DIR/..", "up"}, 187, {}}, {{"x.dsk:notes", ".."}, 187, {}},
        {{"x.dsk:notes", "a b"}, 215, {}}, {{"x.dsk:notes", L28 + "LL"}, 215, {}}, {{"x.dsk:@", "n"}, 215, {}},
        {{"x.dsk:none", "n"}, 216, {}}, {{"x.dsk:notes"}, 2, {}},
    };
    for (const auto& [args, status, names] : cases) {
        SCOPED_TRACE(args[0] + " " + args.back());
        dvtest::TempDir dir;
        dvtest::ImageBuilder b;
        b.add_file(b.add_dir(b.root(), "DIR"), "f", std::string("in dir"));
        b.add_file(b.root(), "notes", std::string("notes"));
        b.add_file(b.root(), "Other", std::string("other"));
        b.add_entry(b.root(), "BAD", 5000);
        b.save(dir / "x.dsk");
        const std::string self = dvtest::program_path("dvrename");
        const std::string err = status == 2 ? self + ": missing operand\nTry '" + self + " --help'.\n"
                                : status    ? dv::failure_line("dvrename", status, "renaming", args[0]) : "";
        EXPECT_TRUE(dvtest::run_gave(dvtest::run_program("dvrename", args, dir.path()), {"", err, status}));
        const dvtest::bytes img = dvtest::read_file(dir / "x.dsk"), before = b.image();
        ASSERT_EQ(img.size(), before.size());
        const auto first = std::mismatch(img.begin(), img.end(), before.begin()).first;
        const auto last = std::mismatch(img.rbegin(), img.rend(), before.rbegin()).first.base();
        ASSERT_EQ(first == img.end(), status != 0);
        if (status) continue;
        // The name, bit 7 on its last character, zeros after it to the end of the field.
        ASSERT_LE(last - first, 28);
        const auto end = std::find_if(first, first + 28, [](unsigned char ch) { return ch & 0x80; });
        ASSERT_NE(end, first + 28);
        EXPECT_TRUE(std::all_of(end + 1, first + 28, [](unsigned char ch) { return ch == 0; }));
        Names left;
        for (const auto& e : dvtest::list_tree(img)) left.insert(e.first);
        EXPECT_EQ(left, names);
    }
    // A host file is renamed in its directory, never over another file.
    dvtest::TempDir host;
    dvtest::write_file(host / "a.txt", {'a'});
    dvtest::write_file(host / "b.txt", {'b'});
    EXPECT_EQ(dvtest::run_program("dvrename", {"a.txt", "b.txt"}, host.path()).status, EEXIST);
    EXPECT_EQ(dvtest::run_program("dvrename", {"a.txt", "c.txt"}, host.path()).status, 0);
    EXPECT_EQ(dvtest::read_file(host / "c.txt"), dvtest::bytes{'a'});
}
