// dvprune run as a user runs it: images in a temporary directory, answers on
// standard input, and a stand-in `dvls` that records how it was called.  The
// program runs the dvls beside it when there is one, so the tests of the
// listing run a copy of dvprune with a stand-in beside it; one test puts the
// stand-in on PATH for a copy that has none beside it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "image_builder.h"
#include "run_program.h"
#include "misc/errors.h"
#include "test_support.h"
#include "tree_check.h"

namespace {

using dvtest::bit_set;
using dvtest::bytes;
using dvtest::entry_offset;
using dvtest::ImageBuilder;
using dvtest::run_gave;
using dvtest::run_program;
using dvtest::TempDir;

const std::string kHelp =
    "Syntax: dvprune {[<opts>]} {<directory>} {[<opts>]}\n"
    "Usage:  deletes all subdirectories and files in a directory; then,\n"
    "        deletes the directory itself.\n"
    "Options:\n"
    "     -q    suppresses interaction\n";

std::string question(const std::string& path) {
    return "\nDeleting directory: " + path + "\nList directory, delete directory, or quit? (l/d/q) ";
}

std::string prog() { return dvtest::program_path("dvprune"); }

// What the program `program` (as run: its argv[0]) reports for a failed operand.
std::string failure(const std::string& operand, int error, const std::string& program = prog()) {
    return program + ": error " + std::to_string(error) + " (" + dv::error_meaning(error) + ") deleting '" + operand + "'\n";
}

// A stand-in listing program at `script`: each call appends "call" and then
// its arguments, one per line, to dir/dvls.log, and prints `says`.
void write_dvls(const TempDir& dir, const std::string& script, const std::string& says = "listing") {
    {
        std::ofstream out(script);
        out << "#!/bin/sh\n"
            << "log='" << (dir / "dvls.log") << "'\n"
            << "echo call >> \"$log\"\n"
            << "for a in \"$@\"; do printf '%s\\n' \"$a\" >> \"$log\"; done\n"
            << "echo " << says << "\n";
    }
    std::filesystem::permissions(script, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                             std::filesystem::perms::group_exec);
}

// A stand-in listing program in dir/bin, for PATH; returns that directory.
std::string install_dvls(const TempDir& dir, const std::string& says = "listing") {
    std::filesystem::create_directory(dir / "bin");
    write_dvls(dir, dir / "bin/dvls", says);
    return dir / "bin";
}

// A copy of the built dvprune in dir/prog, with a stand-in dvls beside it
// when `with_dvls`; returns the copy's path.
std::string copy_dvprune(const TempDir& dir, bool with_dvls = true, const std::string& says = "listing") {
    std::filesystem::create_directory(dir / "prog");
    const std::string copy = dir / "prog/dvprune";
    std::filesystem::copy_file(prog(), copy);
    std::filesystem::permissions(copy, std::filesystem::perms::owner_all);
    if (with_dvls) write_dvls(dir, dir / "prog/dvls", says);
    return copy;
}

std::string dvls_log(const TempDir& dir) {
    bytes b = dvtest::read_file(dir / "dvls.log");
    return std::string(b.begin(), b.end());
}

// Every unit a file or directory owns: its FD and its segments.
std::vector<int> units_of(const ImageBuilder& b, int fd) {
    std::vector<int> u{fd};
    for (auto [lsn, num] : b.segments(fd))
        for (int k = lsn; k < lsn + num; ++k) u.push_back(k);
    return u;
}

bytes image_of(const TempDir& dir) { return dvtest::read_file(dir / "x.dsk"); }

bool has(const bytes& img, const std::string& path) { return dvtest::list_tree(img).count(path) == 1; }

unsigned char att_of(const bytes& img, const std::string& path) {
    auto tree = dvtest::list_tree(img);
    return img.at(static_cast<std::size_t>(tree.at(path).fd) * 256);
}

// ---- command line ------------------------------------------------------------------

TEST(DvPrune, HelpIsFiveLinesOnStandardError) {
    TempDir dir;
    ImageBuilder b;
    b.add_dir(b.root(), "DIR");
    b.save(dir / "x.dsk");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, {"-h"}, {"-?"}, {"-qh", "x.dsk:DIR"}, {"x.dsk:DIR", "-h"}}) {
        SCOPED_TRACE(args.empty() ? std::string("(none)") : args[0]);
        dvtest::Run r = run_program("dvprune", args, dir.path());
        EXPECT_TRUE(run_gave(r, {.out = "", .err = kHelp, .status = 0}));
    }
    EXPECT_EQ(image_of(dir), b.image());
}

TEST(DvPrune, UnknownOptionEndsBeforeAnyWork) {
    TempDir dir;
    ImageBuilder b;
    b.add_dir(b.root(), "DIR");
    b.save(dir / "x.dsk");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-x", "x.dsk:DIR"}, {"x.dsk:DIR", "-x"}, {"-qx", "x.dsk:DIR"}}) {
        dvtest::Run r = run_program("dvprune", args, dir.path(), "d\n");
        EXPECT_TRUE(run_gave(r, {.out = "", .err = prog() + ": unknown option 'x'\nTry '" + prog() + " --help'.\n", .status = 2}));
    }
    EXPECT_EQ(image_of(dir), b.image());
}

TEST(DvPrune, QuietOptionAppliesWhereverItStands) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-q", "x.dsk:DIR", "x.dsk:TWO"}, {"x.dsk:DIR", "x.dsk:TWO", "-q"},
          {"x.dsk:DIR", "-qq", "x.dsk:TWO"}}) {
        TempDir dir;
        ImageBuilder b;
        const int free0 = dvtest::free_units(b.image());
        int d = b.add_dir(b.root(), "DIR");
        b.add_file(d, "F", std::string("data"));
        b.add_dir(b.root(), "TWO");
        b.save(dir / "x.dsk");
        dvtest::Run r = run_program("dvprune", args, dir.path());  // no answers at all
        EXPECT_TRUE(run_gave(r, {.out = "", .err = "", .status = 0}));
        bytes img = image_of(dir);
        EXPECT_TRUE(dvtest::list_tree(img).empty());
        EXPECT_EQ(dvtest::free_units(img), free0);
        EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
    }
}

// ---- the question -------------------------------------------------------------------

TEST(DvPrune, ListThenDeleteRunsDvlsWithTwoArguments) {
    TempDir dir;
    const std::string dvprune = copy_dvprune(dir);
    ImageBuilder b;
    int d = b.add_dir(b.root(), "DIR");
    b.add_file(d, "F", std::string("data"));
    b.save(dir / "x.dsk");
    dvtest::Run r = run_program(dvprune, {"x.dsk:DIR"}, dir.path(), "l\nd\n");
    EXPECT_TRUE(run_gave(r, {.out = question("x.dsk:DIR") + "The command: dvls -e 'x.dsk:DIR'\n" + "listing\n" +
                                    question("x.dsk:DIR"),
                             .err = "",
                             .status = 0}));
    EXPECT_EQ(dvls_log(dir), "call\n-e\nx.dsk:DIR\n");
    bytes img = image_of(dir);
    EXPECT_FALSE(has(img, "DIR"));
    EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
}

TEST(DvPrune, ShellCharactersInThePathlistAreNeverRun) {
    TempDir dir;
    const std::string dvprune = copy_dvprune(dir);
    ImageBuilder b;
    b.add_dir(b.root(), "DIR");
    b.save(dir / "x.dsk");
    const std::vector<std::string> ops = {"x.dsk:A'B",          "x.dsk:$(touch pwned)", "x.dsk:C;touch pwned",
                                          "x.dsk:`touch pwned`", "x.dsk:D\"E|touch pwned&", "x.dsk:F'; touch pwned; '"};
    std::string answers;
    std::string log;
    for (const std::string& op : ops) {
        answers += "l\nq\n";
        log += "call\n-e\n" + op + "\n";
    }
    dvtest::Run r = run_program(dvprune, ops, dir.path(), answers);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(dvls_log(dir), log);
    EXPECT_FALSE(std::filesystem::exists(dir / "pwned"));
    EXPECT_NE(r.out.find("The command: dvls -e 'x.dsk:C;touch pwned'\n"), std::string::npos);
    EXPECT_EQ(image_of(dir), b.image());

    // Answered d, the operand simply isn't there.
    std::filesystem::remove(dir / "dvls.log");
    r = run_program(dvprune, {"x.dsk:DIR;touch pwned"}, dir.path(), "l\nd\n");
    EXPECT_EQ(r.status, 216);
    EXPECT_EQ(r.err, failure("x.dsk:DIR;touch pwned", 216, dvprune));
    EXPECT_EQ(dvls_log(dir), "call\n-e\nx.dsk:DIR;touch pwned\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "pwned"));
    EXPECT_EQ(image_of(dir), b.image());
}

TEST(DvPrune, OtherAnswersAskAgainWithoutListingAndOnlyTheFirstCharacterCounts) {
    TempDir dir;
    const std::string dvprune = copy_dvprune(dir);
    ImageBuilder b;
    b.add_dir(b.root(), "DIR");
    b.save(dir / "x.dsk");
    dvtest::Run r = run_program(dvprune, {"x.dsk:DIR"}, dir.path(), "x\n  zzz\n\n list\tdelete\n");
    EXPECT_EQ(r.status, 0);
    const std::string q = question("x.dsk:DIR");
    EXPECT_EQ(r.out, q + q + q + "The command: dvls -e 'x.dsk:DIR'\n" + "listing\n" + q);
    EXPECT_EQ(dvls_log(dir), "call\n-e\nx.dsk:DIR\n");
    EXPECT_FALSE(has(image_of(dir), "DIR"));
}

TEST(DvPrune, EndOfInputAnswersQuit) {
    TempDir dir;
    const std::string dvprune = copy_dvprune(dir);
    ImageBuilder b;
    int d = b.add_dir(b.root(), "DIR");
    b.add_file(d, "F", std::string("data"));
    b.add_dir(b.root(), "TWO");
    b.save(dir / "x.dsk");

    dvtest::Run r = dvtest::run_limited(dvprune, {"x.dsk:DIR"}, dir.path(), "");
    EXPECT_TRUE(run_gave(r, {.out = question("x.dsk:DIR"), .err = "", .status = 0}));
    EXPECT_EQ(image_of(dir), b.image());

    // After a listing, and for every later operand as well.
    r = dvtest::run_limited(dvprune, {"x.dsk:DIR", "x.dsk:TWO"}, dir.path(), "l\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, question("x.dsk:DIR") + "The command: dvls -e 'x.dsk:DIR'\n" + "listing\n" + question("x.dsk:DIR") +
                         question("x.dsk:TWO"));
    EXPECT_EQ(image_of(dir), b.image());
}

// The dvls beside the program wins over one on PATH; without one beside,
// PATH's is run.
TEST(DvPrune, DvlsBesideTheProgramElseOnPathIsRun) {
    for (bool beside : {false, true}) {
        TempDir dir;
        const std::string dvprune = copy_dvprune(dir, beside, "listing from beside");
        const std::string bin = install_dvls(dir, "listing from PATH");
        ImageBuilder b;
        b.add_dir(b.root(), "DIR");
        b.save(dir / "x.dsk");
        dvtest::Run r = run_program(dvprune, {"x.dsk:DIR"}, dir.path(), "l\nq\n", bin);
        const std::string listing = beside ? "listing from beside\n" : "listing from PATH\n";
        EXPECT_TRUE(run_gave(r, {.out = question("x.dsk:DIR") + "The command: dvls -e 'x.dsk:DIR'\n" + listing +
                                        question("x.dsk:DIR"),
                                 .err = "",
                                 .status = 0}))
            << (beside ? "beside" : "on PATH");
        EXPECT_EQ(dvls_log(dir), "call\n-e\nx.dsk:DIR\n");
        EXPECT_EQ(image_of(dir), b.image());
    }
}

TEST(DvPrune, QuitAtSubdirectoryKeepsItAndEverythingAboveAndGoesOn) {
    TempDir dir;
    ImageBuilder b;
    int d = b.add_dir(b.root(), "DIR");
    b.add_file(d, "F1", std::string("one"));
    int sub = b.add_dir(d, "SUB");
    b.add_file(sub, "F2", std::string("two"));
    b.add_file(d, "F3", std::string("three"));
    int other = b.add_dir(b.root(), "OTHER");
    b.add_file(other, "G", std::string("g"));
    b.save(dir / "x.dsk");
    dvtest::Run r = run_program("dvprune", {"x.dsk:DIR", "x.dsk:OTHER"}, dir.path(), "d\nq\nd\n");
    EXPECT_TRUE(run_gave(r, {.out = question("x.dsk:DIR") + question("x.dsk:DIR/SUB") + question("x.dsk:OTHER"),
                             .err = "",
                             .status = 0}));
    bytes img = image_of(dir);
    EXPECT_FALSE(has(img, "DIR/F1"));  // before SUB in the directory: gone
    EXPECT_TRUE(has(img, "DIR/SUB/F2"));
    EXPECT_TRUE(has(img, "DIR/F3"));
    EXPECT_EQ(att_of(img, "DIR"), 0xBF);
    EXPECT_EQ(att_of(img, "DIR/SUB"), 0xBF);
    EXPECT_FALSE(has(img, "OTHER"));
    EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
}

// ---- what a prune gives back ------------------------------------------------------

TEST(DvPrune, QuietPruneFreesEveryUnitOfTheTree) {
    TempDir dir;
    ImageBuilder b;
    b.add_file(b.root(), "KEEP", std::string("stays"));
    const int free0 = dvtest::free_units(b.image());
    int d = b.add_dir(b.root(), "DIR");
    const std::size_t at = entry_offset(b, b.root(), 3 * 32);
    int f = b.add_file(d, "FILE", bytes(700, 'f'));
    int sub = b.add_dir(d, "SUB");
    int g = b.add_file(sub, "INNER", bytes(300, 'g'));
    std::vector<int> owned;
    for (int fd : {d, f, sub, g})
        for (int u : units_of(b, fd)) owned.push_back(u);
    b.save(dir / "x.dsk");
    const bytes before = b.image();

    dvtest::Run r = run_program("dvprune", {"-q", "x.dsk:DIR"}, dir.path());
    EXPECT_TRUE(run_gave(r, {.out = "", .err = "", .status = 0}));
    bytes img = image_of(dir);
    for (int u : owned) EXPECT_FALSE(bit_set(img, u)) << u;
    EXPECT_EQ(dvtest::free_units(img), free0);
    EXPECT_EQ(img[at], 0);
    EXPECT_EQ(bytes(img.begin() + static_cast<long>(at) + 1, img.begin() + static_cast<long>(at) + 32),
              bytes(before.begin() + static_cast<long>(at) + 1, before.begin() + static_cast<long>(at) + 32));
    EXPECT_TRUE(has(img, "KEEP"));
    EXPECT_EQ(dvtest::list_tree(img).size(), 1u);
    EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
}

TEST(DvPrune, FileWithASecondLinkOutsideTheTreeKeepsItsUnits) {
    TempDir dir;
    ImageBuilder b;
    const int free0 = dvtest::free_units(b.image());
    int d = b.add_dir(b.root(), "DIR");
    b.add_file(d, "A", std::string("a"));
    int shared = b.add_file(d, "SHARED", bytes(600, 's'));
    b.add_file(d, "B", std::string("b"));
    b.set_links(shared, 2);
    b.add_entry(b.root(), "LINK", shared);
    const int shared_units = 1 + 3;  // its FD and 600 bytes in 3 units
    ASSERT_EQ(static_cast<int>(units_of(b, shared).size()), shared_units);
    b.save(dir / "x.dsk");
    dvtest::Run r = run_program("dvprune", {"-q", "x.dsk:DIR"}, dir.path());
    EXPECT_EQ(r.status, 0);
    bytes img = image_of(dir);
    EXPECT_FALSE(has(img, "DIR"));
    ASSERT_TRUE(has(img, "LINK"));
    EXPECT_EQ(dvtest::list_tree(img).at("LINK").data, bytes(600, 's'));
    EXPECT_EQ(img[static_cast<std::size_t>(shared) * 256 + 8], 1);
    EXPECT_EQ(dvtest::free_units(img), free0 - shared_units);
    EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
}

TEST(DvPrune, DeepTreeIsPrunedCompletelyAndAskedTopFirst) {
    for (bool quiet : {true, false}) {
        SCOPED_TRACE(quiet);
        TempDir dir;
        ImageBuilder b(2000);
        const int free0 = dvtest::free_units(b.image());
        // Six levels; in each directory a file, the next level, two files.
        std::vector<int> dirs;
        std::string want_out;
        std::string path = "x.dsk:TOP";
        int parent = b.root();
        for (int level = 0; level < 6; ++level) {
            const std::string name = level == 0 ? "TOP" : "L" + std::to_string(level);
            if (level > 0) path += "/" + name;
            int d = b.add_dir(parent, name);
            want_out += question(path);
            b.add_file(d, "a", bytes(static_cast<std::size_t>(level * 200), 'a'));
            dirs.push_back(d);
            parent = d;
        }
        for (int level = 0; level < 6; ++level) {
            b.add_file(dirs[static_cast<std::size_t>(level)], "b", bytes(static_cast<std::size_t>(256 * level + 1), 'b'));
            b.add_file(dirs[static_cast<std::size_t>(level)], "c", bytes(3000, static_cast<unsigned char>(level)));
        }
        ASSERT_EQ(dvtest::check_tree(b.image()), std::vector<std::string>{});
        ASSERT_EQ(dvtest::list_tree(b.image()).size(), 6u * 4u);
        b.save(dir / "x.dsk");
        dvtest::Run r = quiet ? run_program("dvprune", {"-q", "x.dsk:TOP"}, dir.path())
                              : run_program("dvprune", {"x.dsk:TOP"}, dir.path(), "d\nd\nd\nd\nd\nd\n");
        EXPECT_TRUE(run_gave(r, {.out = quiet ? std::string() : want_out, .err = "", .status = 0}));
        bytes img = image_of(dir);
        EXPECT_TRUE(dvtest::list_tree(img).empty());
        EXPECT_EQ(dvtest::free_units(img), free0);
        EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
    }
}

// ---- refusals -------------------------------------------------------------------------

TEST(DvPrune, PlainFileOperandGives214AfterTheQuestion) {
    TempDir dir;
    ImageBuilder b;
    b.add_file(b.root(), "F", std::string("plain"));
    b.save(dir / "x.dsk");
    dvtest::Run r = run_program("dvprune", {"x.dsk:F"}, dir.path(), "d\n");
    EXPECT_TRUE(run_gave(r, {.out = question("x.dsk:F"), .err = failure("x.dsk:F", 214), .status = 214}));
    EXPECT_EQ(image_of(dir), b.image());
}

TEST(DvPrune, MissingOperandGives216AndLaterOperandsAreNotProcessed) {
    TempDir dir;
    ImageBuilder b;
    b.add_dir(b.root(), "DIR");
    b.save(dir / "x.dsk");
    dvtest::Run r = run_program("dvprune", {"-q", "x.dsk:NOPE", "x.dsk:DIR"}, dir.path());
    EXPECT_EQ(r.status, 216);
    EXPECT_EQ(r.err, failure("x.dsk:NOPE", 216));
    EXPECT_EQ(image_of(dir), b.image());
    r = run_program("dvprune", {"-q", "none.dsk:DIR"}, dir.path());
    EXPECT_EQ(r.status, 216);
    EXPECT_EQ(r.err, failure("none.dsk:DIR", 216));
}

TEST(DvPrune, OperandWithoutAColonGives215AndLeavesHostFilesAlone) {
    TempDir dir;
    ImageBuilder b;
    b.add_dir(b.root(), "DIR");
    b.save(dir / "x.dsk");
    std::filesystem::create_directory(dir / "hostdir");
    dvtest::write_file(dir / "hostdir/file", bytes{'h'});
    for (const std::string& op : {std::string("hostdir"), std::string("x.dsk"), dir / "hostdir"}) {
        SCOPED_TRACE(op);
        for (bool quiet : {true, false}) {
            std::vector<std::string> args{op};
            if (quiet) args.push_back("-q");
            dvtest::Run r = dvtest::run_limited("dvprune", args, dir.path(), "d\nd\n");
            EXPECT_EQ(r.status, 215);
            EXPECT_EQ(r.err, failure(op, 215));
            EXPECT_EQ(r.out, "");
        }
    }
    EXPECT_EQ(image_of(dir), b.image());
    EXPECT_EQ(dvtest::read_file(dir / "hostdir/file"), bytes{'h'});
}

TEST(DvPrune, DotDotDotAndEmptyLastComponentsAreRefusedBeforeAnythingIsTouched) {
    TempDir dir;
    ImageBuilder b;
    int d = b.add_dir(b.root(), "DIR");
    b.add_file(d, "F", std::string("data"));
    b.add_file(b.root(), "R", std::string("root file"));
    b.save(dir / "x.dsk");
    const std::vector<std::pair<std::string, int>> cases = {
        {"x.dsk:.", 187}, {"x.dsk:DIR/..", 187}, {"x.dsk:DIR/.", 187}, {"x.dsk:R/", 214}};
    for (const auto& [op, error] : cases) {
        SCOPED_TRACE(op);
        for (bool quiet : {true, false}) {
            std::vector<std::string> args{op};
            if (quiet) args.push_back("-q");
            dvtest::Run r = dvtest::run_limited("dvprune", args, dir.path(), "d\nd\nd\n");
            EXPECT_EQ(r.status, error);
            EXPECT_EQ(r.err, failure(op, error));
            EXPECT_EQ(image_of(dir), b.image());
        }
    }
}

TEST(DvPrune, EntryThatCannotBeDeletedIsSkippedAndTheDirectoryStays) {
    TempDir dir;
    ImageBuilder b;
    int d = b.add_dir(b.root(), "DIR");
    b.add_file(d, "A", std::string("a"));
    int sub = b.add_dir(d, "SUB", 0xBD);  // opens for reading, not for writing
    b.add_file(sub, "G", std::string("g"));
    b.add_file(d, "B", std::string("b"));
    b.save(dir / "x.dsk");
    dvtest::Run r = dvtest::run_limited("dvprune", {"-q", "x.dsk:DIR", "x.dsk:DIR"}, dir.path(), "");
    ASSERT_NE(r.status, -2) << "dvprune did not end";
    EXPECT_EQ(r.status, 214);
    EXPECT_EQ(r.err, failure("x.dsk:DIR/SUB", 214) + failure("x.dsk:DIR", 214));
    bytes img = image_of(dir);
    EXPECT_FALSE(has(img, "DIR/A"));
    EXPECT_FALSE(has(img, "DIR/B"));
    EXPECT_TRUE(has(img, "DIR/SUB/G"));
    EXPECT_EQ(att_of(img, "DIR"), 0xBF);
    EXPECT_EQ(att_of(img, "DIR/SUB"), 0xBD);
    EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});

    // Asked, the same: SUB's own question is answered, its pass fails.
    r = dvtest::run_limited("dvprune", {"x.dsk:DIR"}, dir.path(), "d\nd\n");
    ASSERT_NE(r.status, -2) << "dvprune did not end";
    EXPECT_EQ(r.status, 214);
    EXPECT_EQ(r.out, question("x.dsk:DIR") + question("x.dsk:DIR/SUB"));
    EXPECT_TRUE(has(image_of(dir), "DIR/SUB/G"));
    EXPECT_EQ(att_of(image_of(dir), "DIR"), 0xBF);
}

TEST(DvPrune, DirectoryWithoutOwnerReadIsDeletedAsAFile) {
    // Not opened as a subdirectory: its own entries are not visited, and
    // its delete frees its FD and segment (an empty directory here).
    TempDir dir;
    ImageBuilder b;
    const int free0 = dvtest::free_units(b.image());
    int d = b.add_dir(b.root(), "DIR");
    b.add_dir(d, "NR", 0xBE);  // a directory without owner read
    b.save(dir / "x.dsk");
    dvtest::Run r = run_program("dvprune", {"x.dsk:DIR"}, dir.path(), "d\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, question("x.dsk:DIR"));
    bytes img = image_of(dir);
    EXPECT_TRUE(dvtest::list_tree(img).empty());
    EXPECT_EQ(dvtest::free_units(img), free0);
    EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
}

// Crafted trees: whatever the names and links inside the operand say, the
// removal stays inside it, ends, and tells each entry it left.
TEST(DvPrune, CraftedTreesStayInsideTheOperand) {
    struct Case {
        const char* what;
        std::string name;  // an entry put into T, leading to `to`
        int to;            // 0: the root, -1: T itself, else that LSN
        int status;
        std::string err;
    };
    const std::vector<Case> cases = {
        {"a name that climbs out", "../KEEP", 0, 215, failure("x.dsk:T/../KEEP", 215) + failure("x.dsk:T", 215)},
        {"a name ending in @", "RAW@", 0, 215, failure("x.dsk:T/RAW@", 215) + failure("x.dsk:T", 215)},
        {"an entry leading back to the root", "UP", 0, 214, failure("x.dsk:T/UP", 214) + failure("x.dsk:T", 214)},
        {"an entry leading back to the operand", "SELF", -1, 214, failure("x.dsk:T/SELF", 214) + failure("x.dsk:T", 214)},
    };
    for (const Case& c : cases) {
        TempDir dir;
        ImageBuilder b;
        b.add_file(b.root(), "KEEP", std::string("keep"));
        int t = b.add_dir(b.root(), "T");
        b.add_file(t, "f", std::string("f"));
        b.add_entry(t, c.name, c.to == 0 ? b.root() : c.to < 0 ? t : c.to);
        b.save(dir / "x.dsk");
        dvtest::LimitedRun r = dvtest::run_limited("dvprune", {"-q", "x.dsk:T"}, dir.path(), "", "", 20);
        ASSERT_TRUE(r.exited) << c.what;
        EXPECT_TRUE(run_gave(r, {.out = "", .err = c.err, .status = c.status})) << c.what;
        const bytes img = image_of(dir);
        EXPECT_EQ(dvtest::list_tree(img)["KEEP"].data, bytes({'k', 'e', 'e', 'p'})) << c.what;
        EXPECT_TRUE(has(img, "KEEP") && has(img, "T")) << c.what;
        EXPECT_FALSE(has(img, "T/f")) << c.what;
        EXPECT_EQ(att_of(img, "T"), 0xBF) << c.what;
    }
}

// A raw operand is refused before anything is asked; an FD whose link count
// is already 0 is freed with its entry, its count not wrapped round.
TEST(DvPrune, RawOperandIsRefusedAndAZeroLinkCountIsNotWrapped) {
    TempDir dir;
    ImageBuilder b;
    int t = b.add_dir(b.root(), "T");
    int zero = b.add_file(t, "ZERO", std::string("z"));
    b.set_links(zero, 0);
    b.save(dir / "x.dsk");
    dvtest::Run r = dvtest::run_program("dvprune", {"x.dsk:T@"}, dir.path(), "d\n");
    EXPECT_TRUE(run_gave(r, {.out = "", .err = failure("x.dsk:T@", 215), .status = 215}));
    EXPECT_EQ(image_of(dir), b.image());
    r = dvtest::run_program("dvprune", {"-q", "x.dsk:T"}, dir.path());
    EXPECT_TRUE(run_gave(r, {.out = "", .err = "", .status = 0}));
    const bytes img = image_of(dir);
    EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
    EXPECT_EQ(img[256 * static_cast<std::size_t>(zero) + 8], 0);  // fd_lnk stays 0
}

}  // namespace
