// dvtype run as a user runs it: images written to a temporary directory,
// the program started on them, its output, diagnostics and status checked.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image_builder.h"
#include "run_program.h"
#include "misc/errors.h"
#include "test_support.h"

namespace {

using dvtest::bytes;
using dvtest::ImageBuilder;
using dvtest::run_gave;
using dvtest::run_program;
using dvtest::TempDir;

const std::string kHelp =
    "Syntax: dvtype {[<opts>]} {<file> [<...>]} {[<opts>]}\n"
    "Usage:  display contents of text files\n"
    "Options:\n";

bytes text(const std::string& s) { return bytes(s.begin(), s.end()); }

// A default disk holding one file `name` in the root with `data`.
void save_disk_with(const TempDir& dir, const std::string& name, const bytes& data, unsigned char att = 0x1B) {
    ImageBuilder b;
    b.add_file(b.root(), name, data, att);
    b.save(dir / "disk.dsk");
}

// Runs dvtype on one image file and expects success.
std::string type_of(const TempDir& dir, const std::string& operand) {
    dvtest::Run r = run_program("dvtype", {operand}, dir.path());
    EXPECT_EQ(r.status, 0) << operand;
    EXPECT_EQ(r.err, "") << operand;
    return r.out;
}

// ---- line ends -----------------------------------------------------------

TEST(DvTypeProgram, CarriageReturnsBecomeLineFeeds) {
    TempDir dir;
    save_disk_with(dir, "readme", text("hello\rworld\r\rlast\r"));
    EXPECT_EQ(type_of(dir, "disk.dsk:readme"), "hello\nworld\n\nlast\n");
}

TEST(DvTypeProgram, LineLongerThanTheBufferIsWrittenWholeWithOneLineFeed) {
    TempDir dir;
    std::string longline;
    for (int i = 0; i < 2500; ++i) longline.push_back(static_cast<char>('a' + (i * 7) % 26));
    save_disk_with(dir, "long", text(longline + "\r" + "next\r"));
    EXPECT_EQ(type_of(dir, "disk.dsk:long"), longline + "\n" + "next\n");
}

TEST(DvTypeProgram, LongLineWithoutCarriageReturnAtTheEndGetsNoLineFeed) {
    TempDir dir;
    std::string longline(2500, 'q');
    longline[1023] = 'A';
    longline[1024] = 'B';
    longline[2047] = 'C';
    longline[2048] = 'D';
    save_disk_with(dir, "long", text(longline));
    EXPECT_EQ(type_of(dir, "disk.dsk:long"), longline);
}

TEST(DvTypeProgram, LastLineWithoutCarriageReturnEndsWithoutLineFeedAndNoLeftovers) {
    TempDir dir;
    // The first line is longer than the last: nothing of it may show after
    // the short last line.
    save_disk_with(dir, "notes", text("a rather long first line of text\rxy"));
    EXPECT_EQ(type_of(dir, "disk.dsk:notes"), "a rather long first line of text\nxy");
}

TEST(DvTypeProgram, FileSpreadOverSeveralSegmentsIsReadInFileOrder) {
    TempDir dir;
    ImageBuilder b;
    // Lines of 37 bytes so that lines cross every segment boundary.
    std::string content;
    std::string expected;
    for (int i = 0; content.size() + 37 <= 1024; ++i) {
        std::string line = "line " + std::to_string(i) + " " + std::string(36 - 6 - std::to_string(i).size(), '.');
        content += line + "\r";
        expected += line + "\n";
    }
    ASSERT_LE(content.size(), 4u * 256u);
    // Segments out of disk order: units 200, 40-41, 90.
    b.add_file(b.root(), "spread", text(content), 0x1B, {{200, 1}, {40, 2}, {90, 1}});
    b.save(dir / "disk.dsk");
    EXPECT_EQ(type_of(dir, "disk.dsk:spread"), expected);
}

TEST(DvTypeProgram, PathComponentsMatchWithoutRegardToCase) {
    TempDir dir;
    ImageBuilder b;
    int d = b.add_dir(b.root(), "DIR");
    b.add_file(d, "readme", std::string("found me\r"));
    b.save(dir / "disk.dsk");
    EXPECT_EQ(type_of(dir, "disk.dsk:dir/README"), "found me\n");
    EXPECT_EQ(type_of(dir, "disk.dsk:/Dir//ReadMe"), "found me\n");
}

TEST(DvTypeProgram, ZeroByteCutsTheRestOfItsLineIncludingTheLineFeed) {
    TempDir dir;
    bytes data = text("ab");
    data.push_back(0);
    bytes rest = text("cd\ref\r");
    data.insert(data.end(), rest.begin(), rest.end());
    save_disk_with(dir, "zero", data);
    EXPECT_EQ(type_of(dir, "disk.dsk:zero"), "abef\n");
}

TEST(DvTypeProgram, EmptyFileWritesNothing) {
    TempDir dir;
    save_disk_with(dir, "empty", bytes{});
    dvtest::Run r = run_program("dvtype", {"disk.dsk:empty"}, dir.path());
    EXPECT_TRUE(run_gave(r, {.out = "", .err = "", .status = 0}));
}

// ---- open failures -------------------------------------------------------

struct OpenFailure {
    std::string operand;
    int status;
};

TEST(DvTypeProgram, OpenFailuresAreReportedOnStandardOutputWithTheirNumber) {
    TempDir dir;
    ImageBuilder b;
    b.add_dir(b.root(), "DIR");
    b.add_file(b.root(), "secret", std::string("hidden\r"), 0x1A);  // public read only, no owner read
    b.add_file(b.root(), "readme", std::string("hello\r"));
    b.save(dir / "disk.dsk");
    const std::vector<OpenFailure> cases = {
        {"missing.dsk:readme", 216},  // no such image
        {"disk.dsk:nothere", 216},    // no such component
        {"disk.dsk:DIR/readme", 216},
        {"nohostfile.txt", 216},  // no such host file
        {"disk.dsk:DIR", 214},    // a directory
        {"disk.dsk:secret", 214},  // no owner read attribute
        {"", 215},                // empty pathlist
        {":", 215},               // only colons
        {":::", 215},
        {"disk.dsk:.@", 214},  // raw image: not a text file
    };
    for (const auto& c : cases) {
        dvtest::Run r = run_program("dvtype", {c.operand}, dir.path());
        EXPECT_TRUE(run_gave(r, {.out = "",
                                 .err = dvtest::program_path("dvtype") + ": error " + std::to_string(c.status) + " (" +
                                        dv::error_meaning(c.status) + ") opening '" + c.operand + "'\n",
                                 .status = c.status})) << c.operand;
    }
}

TEST(DvTypeProgram, RawPathlistIsRefusedWith214) {
    TempDir dir;
    ImageBuilder b;
    b.save(dir / "x.dsk");
    dvtest::Run r = run_program("dvtype", {"x.dsk:.@"}, dir.path());
    EXPECT_EQ(r.err, dvtest::program_path("dvtype") + ": error 214 (file not accessible) opening 'x.dsk:.@'\n");
    EXPECT_EQ(r.status, 214);
}

// ---- options and operands ------------------------------------------------

TEST(DvTypeProgram, HelpAfterTheOperandPrintsOnlyTheHelp) {
    TempDir dir;
    save_disk_with(dir, "readme", text("hello\r"));
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"disk.dsk:readme", "-h"}, {"-h", "disk.dsk:readme"}, {"disk.dsk:readme", "-?"}, {"-help"}}) {
        dvtest::Run r = run_program("dvtype", args, dir.path());
        EXPECT_TRUE(run_gave(r, {.out = "", .err = kHelp, .status = 0})) << args[0];
    }
}

TEST(DvTypeProgram, UnknownOptionIsReportedWithTheProgramPathAndNothingIsTyped) {
    TempDir dir;
    save_disk_with(dir, "readme", text("hello\r"));
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"-x"}, {"disk.dsk:readme", "-x"}, {"-xh", "disk.dsk:readme"}}) {
        dvtest::Run r = run_program("dvtype", args, dir.path());
        EXPECT_TRUE(run_gave(r, {.out = "",
                                 .err = dvtest::program_path("dvtype") + ": unknown option 'x'\nTry '" +
                                        dvtest::program_path("dvtype") + " --help'.\n",
                                 .status = 2}));
    }
}

TEST(DvTypeProgram, NoArgumentPrintsTheHelpAndNoOperandIsAUsageError) {
    TempDir dir;
    EXPECT_TRUE(run_gave(run_program("dvtype", {}, dir.path()), {.out = "", .err = kHelp, .status = 0}));
    const std::string self = dvtest::program_path("dvtype");
    for (const auto& args : std::vector<std::vector<std::string>>{{"-"}, {"-", "-"}}) {
        dvtest::Run r = run_program("dvtype", args, dir.path());
        EXPECT_TRUE(run_gave(r, {.out = "", .err = self + ": missing operand\nTry '" + self + " --help'.\n", .status = 2}));
    }
}

TEST(DvTypeProgram, EveryOperandIsTypedInTurn) {
    TempDir dir;
    ImageBuilder b;
    b.add_file(b.root(), "a", std::string("first\r"));
    b.add_file(b.root(), "b", std::string("second\r"));
    b.save(dir / "disk.dsk");
    dvtest::Run r = run_program("dvtype", {"disk.dsk:a", "disk.dsk:b"}, dir.path());
    EXPECT_EQ(r.out, "first\nsecond\n");
    EXPECT_EQ(r.status, 0);
    // A lone '-' is no operand; a missing one is reported and the rest typed.
    r = run_program("dvtype", {"-", "disk.dsk:b", "missing.dsk:x", "disk.dsk:a"}, dir.path());
    EXPECT_EQ(r.out, "second\nfirst\n");
    EXPECT_EQ(r.err, dvtest::program_path("dvtype") + ": error 216 (pathname not found) opening 'missing.dsk:x'\n");
    EXPECT_EQ(r.status, 216);
}

// ---- host files ----------------------------------------------------------

TEST(DvTypeProgram, HostTextFileLinesEndAsOnTheHost) {
    TempDir dir;
    struct Case {
        std::string content, expected;
    };
    const std::vector<Case> cases = {
        {"hello\nworld\n", "hello\nworld\n"},  // unchanged
        {"one\r\ntwo\r\n", "one\ntwo\n"},      // CR LF pairs -> single LF
        {"ab\rcd\nef\n", "ab\nef\n"},          // a CR inside a line ends it there
        {"x\nlonger last", "x\nlonger last"},  // last line without LF
        {"", ""},
    };
    for (const auto& c : cases) {
        dvtest::write_file(dir / "host.txt", text(c.content));
        EXPECT_EQ(type_of(dir, "host.txt"), c.expected) << c.content;
    }
    // A host file named with a lone trailing colon is the same host file.
    dvtest::write_file(dir / "host.txt", text("colon\n"));
    EXPECT_EQ(type_of(dir, "host.txt:"), "colon\n");
    // On a host file a trailing '@' is part of the name, not raw access.
    dvtest::write_file(dir / "notes@", text("at sign\n"));
    EXPECT_EQ(type_of(dir, "notes@"), "at sign\n");
}

}  // namespace

// ---- regressions ---------------------------------------------------------

// A line read stores the rest of its chunk after the carriage return; the
// next, shorter last line must not pick those bytes up again.
TEST(DvTypeProgram, RegressionBytesAfterAnEarlierCarriageReturnAreNotRepeated) {
    TempDir dir;
    save_disk_with(dir, "t", text("AB\rCDE"));
    EXPECT_EQ(type_of(dir, "disk.dsk:t"), "AB\nCDE");
    save_disk_with(dir, "t", text("x\ry\rzzzzzzzz\rw"));
    EXPECT_EQ(type_of(dir, "disk.dsk:t"), "x\ny\nzzzzzzzz\nw");
}

// Every mix of line lengths around the 1024-byte buffer, with and without a
// final carriage return, comes out as the file with CR turned into LF.
TEST(DvTypeProgram, RegressionOutputEqualsTheFileForLinesAroundTheBufferSize) {
    TempDir dir;
    unsigned seed = 7;
    std::string file;
    for (int line = 0; line < 60; ++line) {
        seed = seed * 1103515245u + 12345u;
        int len = static_cast<int>((seed >> 8) % 2100);
        if (line % 7 == 0) len = 1023 + line % 3;
        for (int i = 0; i < len; ++i) file.push_back(static_cast<char>('a' + (i + line) % 26));
        if (line != 59) file.push_back('\r');
    }
    save_disk_with(dir, "mix", text(file));
    std::string expect = file;
    for (char& c : expect)
        if (c == '\r') c = '\n';
    EXPECT_EQ(type_of(dir, "disk.dsk:mix"), expect);
}

TEST(DvTypeProgram, RegressionHostDirectoryIsNotAccessible) {
    TempDir dir;
    dvtest::Run r = run_program("dvtype", {dir.path()}, dir.path());
    EXPECT_EQ(r.status, 214);
    EXPECT_EQ(r.err, dvtest::program_path("dvtype") + ": error 214 (file not accessible) opening '" + dir.path() + "'\n");
}

// A file whose size says more than its segments hold: what is there is
// printed, the status stays 0, and standard error says it was cut short.
TEST(DvTypeProgram, FileCutShortIsPrintedAndSaidSo) {
    TempDir dir;
    ImageBuilder b;
    int fd = b.add_file(b.root(), "CUT", text("ab\rcd"));
    b.set_size(fd, 600);  // one sector of data
    b.save(dir / "disk.dsk");
    dvtest::Run r = run_program("dvtype", {"disk.dsk:CUT"}, dir.path());
    EXPECT_TRUE(run_gave(r, {.out = "ab\ncd",
                             .err = dvtest::program_path("dvtype") +
                                    ": 'disk.dsk:CUT' is cut short: it ends before its size says\n",
                             .status = 0}));
}

// ---- files larger than one read ---------------------------------------------

// What dvtype prints, by its rule: the file is cut into records, each up to
// and including a carriage return and never longer than 1024 bytes; each
// record is printed up to its first carriage return or zero byte, the
// carriage return as a line feed.
std::string typed(const std::string& file) {
    std::string out;
    for (std::size_t at = 0; at < file.size();) {
        std::size_t len = std::min<std::size_t>(1024, file.size() - at);
        const std::size_t cr = file.find('\r', at);
        if (cr != std::string::npos && cr < at + len) len = cr - at + 1;
        const std::string record = file.substr(at, len);
        const std::size_t stop = record.find_first_of(std::string("\r\0", 2));
        out += record.substr(0, stop);
        if (stop != std::string::npos && record[stop] == '\r') out += '\n';
        at += len;
    }
    return out;
}

TEST(DvTypeProgram, RecordsCrossingTheReadBlocksArePrintedByTheLineRule) {
    constexpr std::size_t MB = 1 << 20;
    std::string file;
    for (std::size_t i = 0; file.size() < 3 * MB; ++i) file += "line " + std::to_string(i) + " of the text\r";
    const struct {
        std::size_t at;
        std::string bytes;
    } marks[] = {
        {MB - 1, "\r"},                                             // a line ends at the last byte of a block
        {MB + 10, std::string(3000, 'L')},                          // a long line crosses nothing special
        {2 * MB - 500, std::string(700, 'x') + std::string(1, '\0') + std::string(900, 'y') + "\r"},  // a zero, a block end
        {3 * MB - 1030, std::string(1030, 'z')},                     // a 1024-byte record ends the file
    };
    for (const auto& m : marks) file.replace(m.at, m.bytes.size(), m.bytes);
    file.resize(3 * MB + 3);
    TempDir dir;
    ImageBuilder b(16000);
    b.add_file(b.root(), "big", text(file));
    b.save(dir / "disk.dsk");
    const std::string got = type_of(dir, "disk.dsk:big");
    const std::string want = typed(file);
    ASSERT_EQ(got.size(), want.size());
    EXPECT_TRUE(got == want);
}
