// What the programs say when something is wrong: the true reason, the
// name at fault, on standard error, and names that cannot upset a terminal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "misc/frame.h"
#include "test_support.h"

namespace {

using dvtest::bytes;
using dvtest::TempDir;

// "@" in an expected text stands for the program's path, "%" for the name
// its failure lines begin with: the path for the older five, which name
// themselves as they were called, the bare name for the others.
std::string with_program(std::string text, const std::string& program) {
    const bool as_called = program == "dvinit" || program == "dvspace" || program == "dvtype" ||
                           program == "dvnewdir" || program == "dvprune";
    for (std::size_t at; (at = text.find('%')) != std::string::npos;)
        text.replace(at, 1, as_called ? dvtest::program_path(program) : program);
    for (std::size_t at; (at = text.find('@')) != std::string::npos;) text.replace(at, 1, dvtest::program_path(program));
    return text;
}

struct Case {
    std::string program;
    std::vector<std::string> args;
    dvtest::Run want;
};

TEST(Messages, NameTheTrueReason) {
    dvtest::ImageBuilder b;
    b.add_dir(b.root(), "DIR");
    b.add_file(b.root(), "SMALL", std::string(10, 'x'));
    b.add_file(b.root(), "NOTE", "one\rtwo\r");
    TempDir dir;
    b.save(dir / "x.dsk");
    dvtest::write_file(dir / "short.dsk", bytes(100, 0));
    dvtest::write_file(dir / "f", bytes{'a', 'b'});
    std::filesystem::create_directory(dir / "adir");
    auto err = [](const std::string& e, int status) { return dvtest::Run{.out = "", .err = e, .status = status}; };
    const std::vector<Case> cases = {
        // A host directory is not an image; a file shorter than a sector holds no disk.
        {"dvls", {"adir:"}, err("%: error 192 (is a directory) opening 'adir:'\n", 192)},
        {"dvls", {"short.dsk:"}, err("%: error 249 (not an RBF disk image) opening 'short.dsk:'\n", 249)},
        // The destination at fault is named beside the source.
        {"dvcopy", {"f", "x.dsk:bad name"}, err("%: error 215 (bad pathname) copying 'f' to 'x.dsk:bad name'\n", 215)},
        {"dvcopy", {"f", "x.dsk:SMALL"}, err("%: error 218 (file already exists) copying 'f' to 'x.dsk:SMALL'\n", 218)},
        // The older programs' lines carry the meaning in words, and name
        // only what the user typed.
        {"dvnewdir", {"x.dsk:DIR"}, err("%: error 218 (file already exists) creating 'x.dsk:DIR'\n", 218)},
        {"dvprune", {"-q", "x.dsk:NODIR"}, err("%: error 216 (pathname not found) deleting 'x.dsk:NODIR'\n", 216)},
        {"dvspace", {"none.dsk"}, err("%: error 216 (pathname not found) opening 'none.dsk'\n", 216)},
        // dvinit says which file and why.
        {"dvinit", {"no/such/x.dsk"},
         err(std::string("@: cannot open virtual disk\n@: 'no/such/x.dsk': ") + std::strerror(ENOENT) + "\n", 214)},
        // dvtype: failures on standard error, every operand in turn, the
        // status the first failure's.
        {"dvtype", {"x.dsk:NOTE", "x.dsk:NONE", "x.dsk:NOTE", "x.dsk:DIR"},
         {.out = "one\ntwo\none\ntwo\n",
          .err = "%: error 216 (pathname not found) opening 'x.dsk:NONE'\n"
                 "%: error 214 (file not accessible) opening 'x.dsk:DIR'\n",
          .status = 216}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program + " " + c.args[0]);
        dvtest::Run want = c.want;
        want.err = with_program(want.err, c.program);
        EXPECT_TRUE(dvtest::run_gave(dvtest::run_program(c.program, c.args, dir.path()), want));
    }
    EXPECT_EQ(dvtest::read_file(dir / "x.dsk"), b.image());
}

// An image the host will not let be written: 214 and the reason, where
// every writer said 216 before; readers still read it.
TEST(Messages, ReadOnlyImageSaysSo) {
    dvtest::ImageBuilder b;
    b.add_file(b.root(), "A", "a\r");
    TempDir dir;
    b.save(dir / "x.dsk");
    dvtest::write_file(dir / "f", bytes{'a'});
    // Immutable holds even for root, as the tests may run.
    if (std::system(("chattr +i '" + (dir / "x.dsk") + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "chattr +i is not available here";
    const std::string ro = "%: 'x.dsk' is read-only\n";
    const std::vector<Case> cases = {
        {"dvcopy", {"f", "x.dsk:B"}, {.out = "", .err = "%: error 214 (file not accessible) copying to 'x.dsk:B'\n" + ro, .status = 214}},
        {"dvdel", {"x.dsk:A"}, {.out = "", .err = "%: error 214 (file not accessible) deleting 'x.dsk:A'\n" + ro, .status = 214}},
        {"dvnewdir", {"x.dsk:D"}, {.out = "", .err = "%: error 214 (file not accessible) creating 'x.dsk:D'\n" + ro, .status = 214}},
        {"dvls", {"x.dsk:"}, {.out = "A\n", .err = "", .status = 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program);
        dvtest::Run want = c.want;
        want.err = with_program(want.err, c.program);
        EXPECT_TRUE(dvtest::run_gave(dvtest::run_program(c.program, c.args, dir.path()), want));
    }
    EXPECT_EQ(std::system(("chattr -i '" + (dir / "x.dsk") + "'").c_str()), 0);
    EXPECT_EQ(dvtest::read_file(dir / "x.dsk"), b.image());
}

// A busy image is waited for with a word to the user, not in silence.
TEST(Messages, WaitForABusyImageIsTold) {
    dvtest::ImageBuilder b;
    TempDir dir;
    b.save(dir / "x.dsk");
    const int holder = open((dir / "x.dsk").c_str(), O_RDWR);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    setenv("DV_LOCK_TIMEOUT", "1.5", 1);
    dvtest::Run r = dvtest::run_program("dvls", {"x.dsk:"}, dir.path());
    unsetenv("DV_LOCK_TIMEOUT");
    close(holder);
    EXPECT_EQ(r.status, 253);
    EXPECT_EQ(r.err, with_program("@: waiting for x.dsk: in use by another program\n"
                                  "%: error 253 (image in use by another program) opening 'x.dsk:'\n",
                                  "dvls"));
}

TEST(Messages, NamesAreShownEscaped) {
    struct Shown {
        std::string raw, shown;
    };
    for (const Shown& s : std::vector<Shown>{{"PLAIN.txt", "PLAIN.txt"},
                                             {"A\001B", "A\\001B"},
                                             {"\x1b[2J", "\\033[2J"},
                                             {"caf\xe9", "caf\\351"},
                                             {"DEL\x7f", "DEL\\177"}})
        EXPECT_EQ(dv::shown(s.raw), s.shown) << s.shown;

    dvtest::ImageBuilder b;
    b.add_file(b.root(), "A\001B", "x");
    b.add_file(b.root(), "\x1b[2J", "x");
    TempDir dir;
    b.save(dir / "x.dsk");
    dvtest::Run plain = dvtest::run_program("dvls", {"x.dsk:"}, dir.path());
    EXPECT_EQ(plain.out, "A\\001B\n\\033[2J\n");
    // JSON has escapes of its own and stays as it is.
    dvtest::Run json = dvtest::run_program("dvls", {"-j", "x.dsk:"}, dir.path());
    EXPECT_NE(json.out.find("\"A\\u0001B\""), std::string::npos) << json.out;
    dvtest::Run missing = dvtest::run_program("dvdel", {"x.dsk:\x1b[2Jx"}, dir.path());
    EXPECT_EQ(missing.err, with_program("%: error 216 (pathname not found) deleting 'x.dsk:\\033[2Jx'\n", "dvdel"));
}

}  // namespace
