// The programs' shared command line: --help and --version, options that
// end the run before any operand, dvinit's strict numbers, and the failure
// line of the error numbers.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "misc/frame.h"
#include "test_support.h"

namespace {

using dvtest::bytes;
using dvtest::TempDir;

const std::vector<std::string> kPrograms = {"dvinit", "dvspace",  "dvtype",   "dvnewdir",
                                            "dvprune", "dvdel", "dvrename", "dvattr"};

std::size_t entries(const TempDir& dir) {
    auto it = std::filesystem::directory_iterator(dir.path());
    return static_cast<std::size_t>(std::distance(it, std::filesystem::directory_iterator()));
}

TEST(Frame, DoubleDashHelpAnswersAsDashH) {
    for (const std::string& prog : kPrograms) {
        TempDir dir;
        dvtest::Run h = dvtest::run_program(prog, {"-h"}, dir.path());
        EXPECT_EQ(h.err.rfind("Syntax: " + prog + " ", 0), 0u) << prog;
        for (const auto& args : std::vector<std::vector<std::string>>{{"--help"}, {"x.dsk", "--help", "-x"}}) {
            dvtest::Run r = dvtest::run_program(prog, args, dir.path());
            EXPECT_TRUE(dvtest::run_gave(r, {.out = "", .err = h.err, .status = 0})) << prog << " " << args[0];
        }
        EXPECT_EQ(entries(dir), 0u) << prog;
    }
}

// Each run: x.dsk holds `image` before it (no file when empty); after it,
// x.dsk has `size_after` bytes, or when that is 0 is exactly as before and
// nothing else was made.  A `want.err` starting with ':' gets the
// program's path put before it.
struct Case {
    std::string program;
    std::vector<std::string> args;
    bytes image;
    std::string input;
    dvtest::Run want;
    std::size_t size_after = 0;
};

TEST(Frame, ProgramRuns) {
    dvtest::ImageBuilder b;
    b.add_dir(b.root(), "DIR");
    const bytes disk = b.image();
    const bytes junk = {'o', 'l', 'd'};
    auto version = [](const std::string& p) {
        return dvtest::Run{.out = p + " (dv) " DV_VERSION "\n", .err = "", .status = 0};
    };
    auto err = [](const std::string& e, int status) { return dvtest::Run{.out = "", .err = e, .status = status}; };
    const std::vector<Case> cases = {
        {"dvinit", {"--version"}, {}, "", version("dvinit")},
        {"dvspace", {"x.dsk", "--version"}, disk, "", version("dvspace")},
        {"dvtype", {"--version", "x.dsk:DIR"}, disk, "", version("dvtype")},
        {"dvnewdir", {"x.dsk:NEW", "--version"}, disk, "", version("dvnewdir")},
        {"dvprune", {"x.dsk:DIR", "--version"}, disk, "d\n", version("dvprune")},
        {"dvinit", {"-t40", "--version", "x.dsk"}, {}, "", version("dvinit")},
        // dvattr's words starting with '-' are no options.
        {"dvattr", {"x.dsk:DIR", "-pw", "--version"}, disk, "", version("dvattr")},
        // Options are read in turn; an unknown one ends the run with the
        // usage status and a hint ("@" stands for the program's path).
        {"dvtype", {"-x", "--version"}, {}, "", err("@: unknown option 'x'\nTry '@ --help'.\n", 2)},
        {"dvspace", {"x.dsk", "--versions"}, disk, "", err("@: unknown option '--versions'\nTry '@ --help'.\n", 2)},
        {"dvprune", {"-q", "--help=all", "x.dsk:DIR"}, disk, "", err("@: unknown option '--help=all'\nTry '@ --help'.\n", 2)},
        {"dvcheck", {"-z", "x.dsk"}, disk, "", err("@: unknown option 'z'\nTry '@ --help'.\n", 16)},
        {"dvcopy", {"-v", "f", "x.dsk:F"}, disk, "", err("@: unknown option 'v'\nTry '@ --help'.\n", 2)},
        // Too few operands: options alone, or one of the two a program needs.
        {"dvls", {"-e"}, {}, "", err("@: missing operand\nTry '@ --help'.\n", 2)},
        {"dvinit", {"-t40"}, {}, "", err("@: missing operand\nTry '@ --help'.\n", 2)},
        {"dvcopy", {"x.dsk:DIR"}, disk, "", err("@: missing operand\nTry '@ --help'.\n", 2)},
        {"dvrename", {"x.dsk:DIR"}, disk, "", err("@: missing operand\nTry '@ --help'.\n", 2)},
        {"dvrename", {"x.dsk:DIR", "A", "B"}, disk, "", err("@: extra operand 'B'\nTry '@ --help'.\n", 2)},
        // "--" ends the options: what follows is an operand even with a '-'.
        {"dvinit", {"--", "x.dsk"}, {}, "", err("", 0), 630 * 256},
        {"dvtype", {"--", "-x"}, {}, "", err("@: error 216 (pathname not found) opening '-x'\n", 216)},
        // dvinit's numbers: decimal digits within the LSN 0 field, checked
        // before any disk is touched.
        {"dvinit", {"-t-35", "-s-18", "x.dsk"}, {}, "", err(": bad number '-35' in option -t (0 to 65535)\n", 1)},
        {"dvinit", {"-t1e3", "x.dsk"}, {}, "", err(": bad number '1e3' in option -t (0 to 65535)\n", 1)},
        {"dvinit", {"-t", "x.dsk"}, {}, "", err(": bad number '' in option -t (0 to 65535)\n", 1)},
        {"dvinit", {"-tabc", "x.dsk"}, {}, "", err(": bad number 'abc' in option -t (0 to 65535)\n", 1)},
        {"dvinit", {"-t40x", "x.dsk"}, {}, "", err(": bad number '40x' in option -t (0 to 65535)\n", 1)},
        {"dvinit", {"-t+35", "x.dsk"}, {}, "", err(": bad number '+35' in option -t (0 to 65535)\n", 1)},
        {"dvinit", {"-t65536", "-s65536", "x.dsk"}, {}, "", err(": bad number '65536' in option -t (0 to 65535)\n", 1)},
        // 2^64 + 41 must not wrap to 41.
        {"dvinit", {"-t18446744073709551657", "x.dsk"}, {}, "",
         err(": bad number '18446744073709551657' in option -t (0 to 65535)\n", 1)},
        {"dvinit", {"-s256", "x.dsk"}, {}, "", err(": bad number '256' in option -s (0 to 255)\n", 1)},
        {"dvinit", {"x.dsk", "-c0"}, junk, "", err(": bad number '0' in option -c (1 to 65535)\n", 1)},
        {"dvinit", {"x.dsk", "-c65536"}, junk, "", err(": bad number '65536' in option -c (1 to 65535)\n", 1)},
        // The disk ID: decimal, or hex after '$' or 0x; never 0.
        {"dvinit", {"-i0", "x.dsk"}, {}, "", err(": bad number '0' in option -i (1 to 65535)\n", 1)},
        {"dvinit", {"x.dsk", "-i$0"}, junk, "", err(": bad number '$0' in option -i (1 to 65535)\n", 1)},
        {"dvinit", {"-i0x10000", "x.dsk"}, {}, "", err(": bad number '0x10000' in option -i (1 to 65535)\n", 1)},
        {"dvinit", {"-i$", "x.dsk"}, {}, "", err(": bad number '$' in option -i (1 to 65535)\n", 1)},
        {"dvinit", {"-i$12G", "x.dsk"}, {}, "", err(": bad number '$12G' in option -i (1 to 65535)\n", 1)},
        {"dvinit", {"-iff", "x.dsk"}, {}, "", err(": bad number 'ff' in option -i (1 to 65535)\n", 1)},
        {"dvinit", {"-t$10", "x.dsk"}, {}, "", err(": bad number '$10' in option -t (0 to 65535)\n", 1)},
        {"dvinit", {"-t35", "-s18", "x.dsk"}, {}, "", err("", 0), 630 * 256},
        {"dvinit", {"-t1", "-s255", "-c65535", "x.dsk"}, {}, "",
         err(": the cluster size must be a power of two up to 32768\n", 1)},
        {"dvinit", {"-t1", "-s255", "-c2", "x.dsk"}, {}, "", err("", 0), 255 * 256},
        {"dvinit", {"-t65535", "-s0", "x.dsk"}, {}, "", err("Too few sectors\n", 1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program + " " + c.args[0]);
        TempDir dir;
        if (!c.image.empty()) dvtest::write_file(dir / "x.dsk", c.image);
        dvtest::Run want = c.want;
        if (!want.err.empty() && want.err[0] == ':') want.err = dvtest::program_path(c.program) + want.err;
        for (std::size_t at; (at = want.err.find('@')) != std::string::npos;)
            want.err.replace(at, 1, dvtest::program_path(c.program));
        EXPECT_TRUE(dvtest::run_gave(dvtest::run_program(c.program, c.args, dir.path(), c.input), want));
        if (c.size_after) {
            EXPECT_EQ(dvtest::read_file(dir / "x.dsk").size(), c.size_after);
        } else {
            EXPECT_EQ(std::filesystem::exists(dir / "x.dsk"), !c.image.empty());
            EXPECT_EQ(dvtest::read_file(dir / "x.dsk"), c.image);
        }
        EXPECT_EQ(entries(dir), c.image.empty() && !c.size_after ? 0u : 1u);
    }
}

TEST(Frame, FailureLineNamesTheErrorAndReturnsItsNumber) {
    struct Line {
        int error;
        const char* verb;
        std::string want;
    };
    for (const Line& l : std::vector<Line>{
             {218, "creating", "dvls: error 218 (file already exists) creating 'x.dsk:A'\n"},
             {249, "listing", "dvls: error 249 (not an RBF disk image) listing 'x.dsk:A'\n"},
             {1, "listing", "dvls: error 1 (general failure) listing 'x.dsk:A'\n"},
             {ENOENT, "opening", std::string("dvls: error 2 (") + std::strerror(ENOENT) + ") opening 'x.dsk:A'\n"},
         }) {
        EXPECT_EQ(dv::failure_line("dvls", l.error, l.verb, "x.dsk:A"), l.want);
        testing::internal::CaptureStderr();
        EXPECT_EQ(dv::report_failure("dvls", l.error, l.verb, "x.dsk:A"), l.error);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), l.want);
    }
}

}  // namespace

namespace {

// A text option standing alone takes the next word as its value only where
// the program says so; elsewhere its value is empty and the word an operand.
TEST(Frame, NextWordValues) {
    static const char* const help[] = {"Syntax: t\n", nullptr};
    constexpr dv::Option options[] = {dv::text('b'), dv::flag('e')};
    struct Row {
        bool next_word;
        std::vector<std::string> args;
        std::string value;  // of -b
        std::size_t operands;
    };
    for (const Row& r : std::vector<Row>{{true, {"-b", "file", "x.dsk"}, "file", 1},
                                         {true, {"-bfile", "x.dsk"}, "file", 1},
                                         {true, {"-e", "-b", "f", "x.dsk"}, "f", 1},
                                         {true, {"x.dsk", "-b"}, "", 1},
                                         {false, {"-b", "file", "x.dsk"}, "", 2}}) {
        const dv::Program p{.name = "t", .help = help, .options = options, .next_word_values = r.next_word};
        std::vector<std::string> words = {"t"};
        words.insert(words.end(), r.args.begin(), r.args.end());
        std::vector<char*> argv;
        for (std::string& w : words) argv.push_back(w.data());
        const dv::CommandLine line = dv::parse(p, static_cast<int>(argv.size()), argv.data());
        ASSERT_FALSE(line.exit) << r.args[0];
        std::string value = "(none)";
        for (const dv::Given& g : line.options)
            if (g.letter == 'b') value = g.text;
        EXPECT_EQ(value, r.value) << r.args[0];
        EXPECT_EQ(line.operands.size(), r.operands) << r.args[0];
    }
}

}  // namespace
