// dvnewdir run as a user runs it: the directories it makes are checked in
// the image bytes, with the tree checker and with the other programs.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "image_builder.h"
#include "run_program.h"
#include "misc/errors.h"
#include "test_support.h"
#include "tree_check.h"

namespace {

using dvtest::be;
using dvtest::bytes;
using dvtest::entry_name;
using dvtest::ImageBuilder;
using dvtest::run_gave;
using dvtest::run_program;
using dvtest::TempDir;

const std::string kHelp =
    "Syntax: dvnewdir {<file> [<...>]}\n"
    "Usage:  Creates a directory according to the pahlist given.\n";

dvtest::Run newdir(const TempDir& dir, const std::vector<std::string>& args) {
    return run_program("dvnewdir", args, dir.path());
}

// Checks a directory made by the program: its FD and its two entries;
// `size` is 64 unless entries were added to it since.
void expect_new_directory(const bytes& img, int fd_lsn, int parent_lsn, const std::string& what,
                          std::uint32_t size = 64) {
    SCOPED_TRACE(what);
    const unsigned char* fd = img.data() + static_cast<std::size_t>(fd_lsn) * 256;
    EXPECT_EQ(fd[0], 0xBF);               // directory, all permissions
    EXPECT_EQ(be(fd + 1, 2), 0u);         // owner
    EXPECT_EQ(fd[8], 1);                  // link count
    EXPECT_EQ(be(fd + 9, 4), size);       // ".." and "." (and what was added)
    EXPECT_EQ(bytes(fd + 13, fd + 16), bytes(fd + 3, fd + 6));  // creation date = date of fd_dat
    EXPECT_GE(fd[4], 1);
    EXPECT_LE(fd[4], 12);
    // One segment of 8 units (the disk's allocation size), nothing after it.
    int seg = static_cast<int>(be(fd + 16, 3));
    EXPECT_NE(seg, 0);
    EXPECT_EQ(be(fd + 19, 2), 8u);
    EXPECT_EQ(be(fd + 21, 3), 0u);
    const unsigned char* data = img.data() + static_cast<std::size_t>(seg) * 256;
    EXPECT_EQ(data[0], 0x2E);
    EXPECT_EQ(data[1], 0xAE);
    EXPECT_EQ(bytes(data + 2, data + 29), bytes(27, 0));
    EXPECT_EQ(static_cast<int>(be(data + 29, 3)), parent_lsn);
    EXPECT_EQ(data[32], 0xAE);
    EXPECT_EQ(bytes(data + 33, data + 61), bytes(28, 0));
    EXPECT_EQ(static_cast<int>(be(data + 61, 3)), fd_lsn);
}

std::string free_line(const std::string& report) {
    std::size_t at = report.find(" Free sectors");
    if (at == std::string::npos) return "";
    std::size_t start = report.rfind('\n', at) + 1;
    return report.substr(start, report.find('\n', at) - start);
}

// ---- making directories --------------------------------------------------

TEST(DvNewdirProgram, DirectoriesInTheRootAndInASubdirectory) {
    TempDir dir;
    ImageBuilder b;
    b.save(dir / "disk.dsk");
    dvtest::Run r = newdir(dir, {"disk.dsk:CMDS", "disk.dsk:CMDS/Sub.1"});
    EXPECT_TRUE(run_gave(r, {.out = "", .err = "", .status = 0}));

    bytes img = dvtest::read_file(dir / "disk.dsk");
    EXPECT_TRUE(dvtest::check_tree(img).empty());
    auto tree = dvtest::list_tree(img);
    ASSERT_EQ(tree.size(), 2u);
    ASSERT_TRUE(tree.count("CMDS"));
    ASSERT_TRUE(tree.count("CMDS/Sub.1"));
    EXPECT_TRUE(tree["CMDS"].dir);
    EXPECT_TRUE(tree["CMDS/Sub.1"].dir);

    // Lowest free unit for each FD, lowest run of 8 for each first segment:
    // CMDS at 10 with data 11-18, Sub.1 at 19 with data 20-27.
    const int root = b.root();
    EXPECT_EQ(tree["CMDS"].fd, 10);
    EXPECT_EQ(tree["CMDS/Sub.1"].fd, 19);
    expect_new_directory(img, 10, root, "CMDS", 96);
    expect_new_directory(img, 19, 10, "CMDS/Sub.1");
    EXPECT_EQ(be(img.data() + 10 * 256 + 16, 3), 11u);
    EXPECT_EQ(be(img.data() + 19 * 256 + 16, 3), 20u);

    // The entry in the root: third slot, name with bit 7 on its last letter.
    const unsigned char* root_fd = img.data() + root * 256;
    EXPECT_EQ(be(root_fd + 9, 4), 96u);
    const unsigned char* e = img.data() + (root + 1) * 256 + 64;
    EXPECT_EQ(bytes(e, e + 4), (bytes{'C', 'M', 'D', 'S' | 0x80}));
    EXPECT_EQ(bytes(e + 4, e + 29), bytes(25, 0));
    EXPECT_EQ(be(e + 29, 3), 10u);
    // And in CMDS, after ".." and ".".
    const unsigned char* s = img.data() + 11 * 256 + 64;
    EXPECT_EQ(entry_name(s), "Sub.1");
    EXPECT_EQ(be(s + 29, 3), 19u);
    EXPECT_EQ(dvtest::free_units(img), 620 - 18);
}

TEST(DvNewdirProgram, NewDirectoriesAreSeenByDvspaceAndDvtype) {
    TempDir dir;
    ImageBuilder b;
    b.save(dir / "disk.dsk");
    std::string before = run_program("dvspace", {"disk.dsk"}, dir.path()).out;
    EXPECT_EQ(free_line(before), "620 Free sectors, largest block 620 sectors");
    ASSERT_EQ(newdir(dir, {"disk.dsk:A"}).status, 0);
    EXPECT_EQ(free_line(run_program("dvspace", {"disk.dsk"}, dir.path()).out),
              "611 Free sectors, largest block 611 sectors");
    ASSERT_EQ(newdir(dir, {"disk.dsk:B", "disk.dsk:A/C"}).status, 0);
    EXPECT_EQ(free_line(run_program("dvspace", {"disk.dsk"}, dir.path()).out),
              "593 Free sectors, largest block 593 sectors");
    dvtest::Run t = run_program("dvtype", {"disk.dsk:A/C"}, dir.path());
    EXPECT_EQ(t.err, dvtest::program_path("dvtype") + ": error 214 (file not accessible) opening 'disk.dsk:A/C'\n");
    EXPECT_EQ(t.status, 214);
}

TEST(DvNewdirProgram, NameThatExistsInAnotherCaseIsRefusedWith218) {
    TempDir dir;
    ImageBuilder b;
    b.add_dir(b.root(), "CMDS");
    b.save(dir / "disk.dsk");
    dvtest::Run r = newdir(dir, {"disk.dsk:NEW", "disk.dsk:cmds", "disk.dsk:LATER"});
    EXPECT_TRUE(run_gave(r, {.out = "",
                             .err = dvtest::program_path("dvnewdir") + ": error 218 (file already exists) creating 'disk.dsk:cmds'\n",
                             .status = 218}));
    bytes img = dvtest::read_file(dir / "disk.dsk");
    EXPECT_TRUE(dvtest::check_tree(img).empty());
    auto tree = dvtest::list_tree(img);
    EXPECT_TRUE(tree.count("NEW"));
    EXPECT_TRUE(tree.count("CMDS"));
    EXPECT_FALSE(tree.count("cmds"));
    EXPECT_FALSE(tree.count("LATER"));
    EXPECT_EQ(tree.size(), 2u);
}

TEST(DvNewdirProgram, FailuresChangeNothingAndReportTheirNumber) {
    TempDir dir;
    ImageBuilder b;
    b.add_file(b.root(), "text", std::string("just text\r"));
    b.add_dir(b.root(), "LOCKED", 0xBD);  // directory without owner write
    // A plain file holding directory entries: the walk finds its "." entry,
    // which names a file that is no directory.
    int gone = b.add_dir(b.root(), "FORMER");
    b.set_att(gone, 0x3F);
    b.save(dir / "disk.dsk");
    const bytes before = dvtest::read_file(dir / "disk.dsk");
    struct Case {
        std::string operand;
        int status;
    };
    for (const Case& c : std::vector<Case>{
             {"disk.dsk:-ab", 215},
             {"disk.dsk:a b", 215},
             {"disk.dsk:x@", 215},
             {"disk.dsk:NOPE/SUB", 216},
             {"missing.dsk:SUB", 216},
             {"disk.dsk:text/SUB", 216},  // no "." entry in a text file's data
             {"disk.dsk:FORMER/SUB", 214},
             {"disk.dsk:LOCKED/SUB", 214},
             {"disk.dsk:TEXT", 218},
         }) {
        dvtest::Run r = newdir(dir, {c.operand});
        EXPECT_EQ(r.err, dvtest::program_path("dvnewdir") + ": error " + std::to_string(c.status) + " (" + dv::error_meaning(c.status) + ") creating '" +
                             c.operand + "'\n");
        EXPECT_EQ(r.status, c.status) << c.operand;
        EXPECT_EQ(dvtest::read_file(dir / "disk.dsk"), before) << c.operand;
    }
}

TEST(DvNewdirProgram, HostDirectoriesWithoutAColon) {
    TempDir dir;
    dvtest::Run r = newdir(dir, {"hostdir", "hostdir/inner"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(std::filesystem::is_directory(dir / "hostdir"));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "hostdir/inner"));

    r = newdir(dir, {"other", "hostdir", "never"});
    EXPECT_EQ(r.err, dvtest::program_path("dvnewdir") + ": error 17 (" + std::string(std::strerror(EEXIST)) + ") creating 'hostdir'\n");  // EEXIST
    EXPECT_EQ(r.status, 17);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "other"));
    EXPECT_FALSE(std::filesystem::exists(dir / "never"));

    r = newdir(dir, {"nosuch/child"});
    EXPECT_EQ(r.err, dvtest::program_path("dvnewdir") + ": error 2 (" + std::string(std::strerror(ENOENT)) + ") creating 'nosuch/child'\n");  // ENOENT
    EXPECT_EQ(r.status, 2);
}

// ---- options -------------------------------------------------------------

TEST(DvNewdirProgram, HelpAnywhereCreatesNothing) {
    TempDir dir;
    ImageBuilder b;
    b.save(dir / "disk.dsk");
    const bytes before = dvtest::read_file(dir / "disk.dsk");
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {"disk.dsk:NEW", "-h"}, {"-?", "disk.dsk:NEW"}, {"hostdir", "-hx"}}) {
        dvtest::Run r = newdir(dir, args);
        EXPECT_TRUE(run_gave(r, {.out = "", .err = kHelp, .status = 0}));
    }
    EXPECT_EQ(dvtest::read_file(dir / "disk.dsk"), before);
    EXPECT_FALSE(std::filesystem::exists(dir / "hostdir"));
}

TEST(DvNewdirProgram, UnknownOptionCreatesNothing) {
    TempDir dir;
    ImageBuilder b;
    b.save(dir / "disk.dsk");
    const bytes before = dvtest::read_file(dir / "disk.dsk");
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"-x"}, {"disk.dsk:NEW", "-x"}, {"hostdir", "-xh", "-h"}}) {
        dvtest::Run r = newdir(dir, args);
        EXPECT_TRUE(run_gave(r, {.out = "",
                                 .err = dvtest::program_path("dvnewdir") + ": unknown option 'x'\nTry '" +
                                        dvtest::program_path("dvnewdir") + " --help'.\n",
                                 .status = 2}));
    }
    EXPECT_EQ(dvtest::read_file(dir / "disk.dsk"), before);
    EXPECT_FALSE(std::filesystem::exists(dir / "hostdir"));
}

TEST(DvNewdirProgram, LoneDashBetweenOperandsIsSkipped) {
    TempDir dir;
    ImageBuilder b;
    b.save(dir / "disk.dsk");
    dvtest::Run r = newdir(dir, {"disk.dsk:ONE", "-", "disk.dsk:TWO"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    auto tree = dvtest::list_tree(dvtest::read_file(dir / "disk.dsk"));
    EXPECT_TRUE(tree.count("ONE"));
    EXPECT_TRUE(tree.count("TWO"));
}

// ---- a growing root ------------------------------------------------------

TEST(DvNewdirProgram, HundredDirectoriesGrowTheRootPastItsFirstSegment) {
    TempDir dir;
    ImageBuilder b(2000);
    b.save(dir / "disk.dsk");
    std::vector<std::string> args;
    std::set<std::string> names;
    for (int i = 0; i < 100; ++i) {
        std::string n = "D" + std::to_string(1000 + i).substr(1);
        names.insert(n);
        args.push_back("disk.dsk:" + n);
    }
    dvtest::Run r = newdir(dir, args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");

    bytes img = dvtest::read_file(dir / "disk.dsk");
    std::vector<std::string> problems = dvtest::check_tree(img);
    EXPECT_TRUE(problems.empty()) << (problems.empty() ? "" : problems.front());
    auto tree = dvtest::list_tree(img);
    std::set<std::string> listed;
    for (const auto& [path, node] : tree) {
        EXPECT_TRUE(node.dir) << path;
        listed.insert(path);
    }
    EXPECT_EQ(listed, names);

    // 2 + 100 entries of 32 bytes; the first segment (7 sectors) holds 56.
    const unsigned char* root_fd = img.data() + b.root() * 256;
    EXPECT_EQ(be(root_fd + 9, 4), 102u * 32u);
    EXPECT_EQ(be(root_fd + 16, 3), static_cast<std::uint32_t>(b.root() + 1));
    EXPECT_EQ(be(root_fd + 19, 2), 7u);
    EXPECT_NE(be(root_fd + 21, 3), 0u) << "root has no second segment";
    // Each directory: an FD and 8 units; the root took at least 6 more units.
    EXPECT_LE(dvtest::free_units(img), 2000 - 10 - 100 * 9 - 6);
}

}  // namespace
