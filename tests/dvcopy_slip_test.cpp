// dvcopy's guards against a slip, its line ends and its standard streams,
// run as a user runs them: a table of cases (arguments, standard input ->
// standard output, standard error, status, then what the image and the
// host hold), each in a fresh directory, each ending with the tree-wide
// check of the image.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "misc/frame.h"
#include "test_support.h"

namespace {

using dvtest::bytes;
using dvtest::ImageBuilder;
using dvtest::TempDir;

bytes text(const std::string& s) { return bytes(s.begin(), s.end()); }

// Zero bytes, line feeds and carriage returns among others: what a text
// turn would spoil.
bytes binary() {
    bytes b(3000);
    for (std::size_t k = 0; k < b.size(); ++k) b[k] = static_cast<unsigned char>(k % 7 == 0 ? '\n' : k * 13 + 1);
    b[10] = '\r', b[11] = '\n', b[12] = 0;
    return b;
}

// x.dsk: OLD ("old\r"), WIN ("p\r\nq\r"), DIR, and CMDS/tool (attributes
// e-ewr-wr... $3F, owner 5).
ImageBuilder sample() {
    ImageBuilder b;
    b.add_file(b.root(), "OLD", std::string("old\r"));
    b.add_file(b.root(), "WIN", std::string("p\r\nq\r"));
    b.add_dir(b.root(), "DIR");
    const int tool = b.add_file(b.add_dir(b.root(), "CMDS"), "tool", std::string("module"), 0x3F);
    b.image()[static_cast<std::size_t>(tool) * 256 + 2] = 5;  // fd_own
    return b;
}

// The host side: y.dsk (an empty disk), a.txt, crlf.txt, keep.txt (mode
// 0640), case/{readme,README}, mixed/{prog,notes.txt}, sub/inner and
// special/{file, fifo, link -> file, dirlink -> ../sub}.
void lay_out(const TempDir& dir) {
    namespace fs = std::filesystem;
    sample().save(dir / "x.dsk");
    ImageBuilder().save(dir / "y.dsk");
    dvtest::write_file(dir / "a.txt", text("a\nb\n"));
    dvtest::write_file(dir / "crlf.txt", text("one\r\ntwo\r\n"));
    dvtest::write_file(dir / "keep.txt", text("kept mode"));
    chmod((dir / "keep.txt").c_str(), 0640);
    for (const char* d : {"case", "mixed", "sub", "special"}) fs::create_directory(dir / d);
    dvtest::write_file(dir / "case/readme", text("lower\n"));
    dvtest::write_file(dir / "case/README", text("UPPER\n"));
    dvtest::write_file(dir / "mixed/prog", binary());
    dvtest::write_file(dir / "mixed/notes.txt", text("x\ny\n"));
    dvtest::write_file(dir / "sub/inner", text("i"));
    dvtest::write_file(dir / "special/file", text("f"));
    EXPECT_EQ(mkfifo((dir / "special/fifo").c_str(), 0600), 0);
    EXPECT_EQ(symlink("file", (dir / "special/link").c_str()), 0);
    EXPECT_EQ(symlink("../sub", (dir / "special/dirlink").c_str()), 0);
}

std::vector<std::string> sorted_lines(const std::string& s) {
    std::vector<std::string> lines;
    std::istringstream in(s);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::string fail(int n, const std::string& source) { return dv::failure_line("dvcopy", n, "copying", source); }

const std::string kReadsItself = "dvcopy: 'x.dsk' is a disk this copy reads: it is never written over\n";
const std::string kDiskImage = "dvcopy: 'y.dsk' is a disk image; use -f to write over it\n";
const std::string kFifo = "dvcopy: 'special/fifo' is a FIFO: skipped\n";
std::string link_skipped(const std::string& name) {
    return "dvcopy: 'special/" + name + "' is a symbolic link: skipped (-L follows links)\n";
}

struct Case {
    const char* what;
    std::vector<std::string> args;
    std::string input, out, err;  // standard error compared line by line in any order (a tree's order is the host's)
    int status;
    std::function<void(const bytes& img, const TempDir& dir)> then;
};

std::map<std::string, dvtest::TreeNode> tree_of(const bytes& img) { return dvtest::list_tree(img); }
void holds(const bytes& img, const std::string& path, const bytes& data) {
    const auto tree = tree_of(img);
    ASSERT_TRUE(tree.count(path)) << path;
    EXPECT_EQ(tree.at(path).data, data) << path;
}
void untouched(const TempDir& dir, const std::string& name, const bytes& was) {
    EXPECT_EQ(dvtest::read_file(dir / name), was) << name;
}

const Case kCases[] = {
    // ---- writing over a disk ----
    {"the image read from is never written over", {"-o", "x.dsk:OLD", "x.dsk"}, "", "",
     fail(214, "x.dsk:OLD") + kReadsItself, 214, [](const bytes& img, const TempDir&) { holds(img, "OLD", text("old\r")); }},
    {"not even with -f", {"-o", "-f", "x.dsk:OLD", "x.dsk"}, "", "", fail(214, "x.dsk:OLD") + kReadsItself, 214,
     [](const bytes& img, const TempDir&) { holds(img, "OLD", text("old\r")); }},
    {"a host disk image needs -f", {"-o", "x.dsk:OLD", "y.dsk"}, "", "", fail(214, "x.dsk:OLD") + kDiskImage, 214,
     [](const bytes&, const TempDir& dir) { untouched(dir, "y.dsk", ImageBuilder().image()); }},
    {"-f writes over it", {"-of", "x.dsk:OLD", "y.dsk"}, "", "", "", 0,
     [](const bytes&, const TempDir& dir) { untouched(dir, "y.dsk", text("old\r")); }},
    {"a host file holding no disk is replaced with -o", {"-o", "x.dsk:OLD", "a.txt"}, "", "", "", 0,
     [](const bytes&, const TempDir& dir) { untouched(dir, "a.txt", text("old\r")); }},

    // ---- special files and links in a host tree ----
    {"a FIFO and links are skipped, never opened", {"-r", "special", "x.dsk:S"}, "", "",
     kFifo + link_skipped("link") + link_skipped("dirlink"), 214,
     [](const bytes& img, const TempDir&) {
         holds(img, "S/file", text("f"));
         EXPECT_EQ(tree_of(img).count("S/link") + tree_of(img).count("S/dirlink"), 0u);
     }},
    {"-L follows the links", {"-r", "-L", "special", "x.dsk:S"}, "", "", kFifo, 214,
     [](const bytes& img, const TempDir&) {
         holds(img, "S/link", text("f"));
         holds(img, "S/dirlink/inner", text("i"));
     }},
    {"a FIFO named on the line is read", {"-", "x.dsk:IN"}, "piped\n", "", "", 0,
     [](const bytes& img, const TempDir&) { holds(img, "IN", text("piped\n")); }},

    // ---- two sources, one name ----
    {"the second of two sources on one name is refused, even with -o", {"-o", "case/readme", "case/README", "x.dsk:"},
     "", "",
     fail(218, "case/README") +
         "dvcopy: 'case/readme' and 'case/README' land on one name, 'x.dsk:README': the first is kept\n",
     218, [](const bytes& img, const TempDir&) { holds(img, "readme", text("lower\n")); }},

    // ---- -o keeps what the replaced file had ----
    {"-o keeps a module's attributes and owner", {"-o", "a.txt", "x.dsk:CMDS/tool"}, "", "", "", 0,
     [](const bytes& img, const TempDir&) {
         holds(img, "CMDS/tool", text("a\nb\n"));
         const auto fd = static_cast<std::size_t>(tree_of(img).at("CMDS/tool").fd) * 256;
         EXPECT_EQ(img[fd], 0x3F);                       // fd_att
         EXPECT_EQ(img[fd + 1] * 256 + img[fd + 2], 5);  // fd_own
     }},
    {"-o keeps a host file's mode", {"-o", "x.dsk:OLD", "keep.txt"}, "", "", "", 0,
     [](const bytes&, const TempDir& dir) {
         struct stat st {};
         ASSERT_EQ(stat((dir / "keep.txt").c_str(), &st), 0);
         EXPECT_EQ(st.st_mode & 07777, 0640u);
         untouched(dir, "keep.txt", text("old\r"));
     }},

    // ---- line ends ----
    {"-t turns CR LF into one CR going in", {"-t", "crlf.txt", "x.dsk:T"}, "", "", "", 0,
     [](const bytes& img, const TempDir&) { holds(img, "T", text("one\rtwo\r")); }},
    {"and CR LF into one LF coming out", {"-t", "x.dsk:WIN", "w.txt"}, "", "", "", 0,
     [](const bytes&, const TempDir& dir) { untouched(dir, "w.txt", text("p\nq\n")); }},
    {"-a turns text and keeps binaries", {"-a", "-r", "mixed", "x.dsk:M"}, "", "", "", 0,
     [](const bytes& img, const TempDir&) {
         holds(img, "M/prog", binary());
         holds(img, "M/notes.txt", text("x\ry\r"));
     }},

    // ---- standard input and output ----
    {"standard input in, as text", {"-t", "-", "x.dsk:IN"}, "one\r\ntwo\n", "", "", 0,
     [](const bytes& img, const TempDir&) { holds(img, "IN", text("one\rtwo\r")); }},
    {"standard output, as text", {"-t", "x.dsk:OLD", "-"}, "", "old\n", "", 0, nullptr},
    {"several sources follow one another on standard output", {"x.dsk:OLD", "x.dsk:WIN", "-"}, "", "old\rp\r\nq\r",
     "", 0, nullptr},
    {"standard input has no name to keep in a directory", {"-", "x.dsk:DIR"}, "x", "",
     fail(215, "-") + "dvcopy: standard input needs a file name to go to, not a directory\n", 215, nullptr},
    {"a tree does not go to standard output", {"-r", "x.dsk:DIR", "-"}, "", "", fail(192, "x.dsk:DIR"), 192, nullptr},
};

TEST(DvcopySlips, Cases) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        lay_out(dir);
        const bytes before = dvtest::read_file(dir / "x.dsk");
        // A copy that opened the FIFO would wait for a writer for ever.
        const dvtest::LimitedRun r = dvtest::run_limited("dvcopy", c.args, dir.path(), c.input, "", 10);
        if (!r.exited) {
            ADD_FAILURE() << "still running after 10 seconds";
            continue;
        }
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(sorted_lines(r.err), sorted_lines(c.err)) << r.err;
        EXPECT_EQ(r.status, c.status);
        const bytes img = dvtest::read_file(dir / "x.dsk");
        EXPECT_EQ(dvtest::check_tree(img), dvtest::check_tree(before));
        if (c.then) c.then(img, dir);
    }
}

// Names differing only in case are one name on the disk: a tree holding
// both leaves the first copied and says so for the second, whichever the
// host lists first.
TEST(DvcopySlips, NamesDifferingInCaseInOneTree) {
    TempDir dir;
    lay_out(dir);
    const dvtest::Run r = dvtest::run_program("dvcopy", {"-o", "-r", "case", "x.dsk:C"}, dir.path());
    EXPECT_EQ(r.status, 218);
    const bool upper_first = r.err.find("copying 'case/readme'") != std::string::npos;
    const std::string first = upper_first ? "README" : "readme", second = upper_first ? "readme" : "README";
    EXPECT_EQ(r.err, fail(218, "case/" + second) + "dvcopy: 'case/" + first + "' and 'case/" + second +
                         "' land on one name, 'x.dsk:C/" + second + "': the first is kept\n");
    const auto tree = tree_of(dvtest::read_file(dir / "x.dsk"));
    ASSERT_EQ(tree.count("C/" + first), 1u);
    EXPECT_EQ(tree.at("C/" + first).data, text(upper_first ? "UPPER\n" : "lower\n"));
}

// A mixed tree in and out with -a: binaries come back byte for byte, text
// files as they went.
TEST(DvcopySlips, MixedTreeRoundTripsWithA) {
    TempDir dir;
    lay_out(dir);
    ASSERT_EQ(dvtest::run_program("dvcopy", {"-a", "-r", "mixed", "x.dsk:M"}, dir.path()).status, 0);
    ASSERT_EQ(dvtest::run_program("dvcopy", {"-a", "-r", "x.dsk:M", "back"}, dir.path()).status, 0);
    for (const char* f : {"prog", "notes.txt"})
        EXPECT_EQ(dvtest::read_file(dir / ("back/" + std::string(f))), dvtest::read_file(dir / ("mixed/" + std::string(f))))
            << f;
}

}  // namespace
