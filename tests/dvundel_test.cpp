// dvls -d and dvundel run as a user runs them: a file deleted with dvdel
// beside an entry damaged by hand, listed plain and as JSON, restored or
// refused (each refusal leaving the image as it was), on a raw image and in
// every container.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "container_builders.h"
#include "misc/frame.h"
#include "test_support.h"

namespace {

using dvtest::bytes;
using dvtest::run_gave;
using dvtest::run_program;
using dvtest::TempDir;

const bytes kData = [] {
    bytes b(700);
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<unsigned char>(i * 5 + 1);
    return b;
}();

constexpr const char* kOutside = "its FD sector lies outside the disk or in its system area";

// DIR holds KEEP, README (its FD at *fd) and an entry whose FD sector lies
// off the disk, cleared as a delete clears it.
bytes disk(int* fd, int sectors = 630) {
    dvtest::ImageBuilder b(sectors);
    const int dir = b.add_dir(b.root(), "DIR");
    b.add_file(dir, "KEEP", std::string("kept"));
    *fd = b.add_file(dir, "README", kData);
    bytes bad = dvtest::os9_entry("BAD", 5000);
    bad[0] = 0;
    b.add_raw_entry(dir, bad);
    return b.image();
}

// The disk with README deleted by dvdel, as x.dsk in `dir`.
int deleted_disk(const TempDir& dir) {
    int fd = 0;
    dvtest::write_file(dir / "x.dsk", disk(&fd));
    EXPECT_EQ(run_program("dvdel", {"x.dsk:DIR/README"}, dir.path()).status, 0);
    return fd;
}

std::string hex(int n) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x", static_cast<unsigned>(n));
    return buf;
}

TEST(DvLsDeleted, PlainAndJson) {
    TempDir dir;
    const int fd = deleted_disk(dir);
    char line[128];
    std::snprintf(line, sizeof line, "%4d recoverable   ?EADME\n", fd);
    const std::string plain = line + std::string("5000 partly reused ?AD  [") + kOutside + "]\n";
    EXPECT_TRUE(run_gave(run_program("dvls", {"-d", "x.dsk:DIR"}, dir.path()), {plain, "", 0}));
    std::snprintf(line, sizeof line, "%4d recoverable   DIR/?EADME\n", fd);
    const std::string tree = line + std::string("5000 partly reused DIR/?AD  [") + kOutside + "]\n";
    EXPECT_TRUE(run_gave(run_program("dvls", {"-dr", "x.dsk:"}, dir.path()), {tree, "", 0}));
    const std::string json =
        "{\"image\":\"x.dsk\",\"dir\":\"DIR\",\"name\":\"EADME\",\"fd_lsn\":" + std::to_string(fd) +
        ",\"position\":96,\"state\":\"recoverable\",\"directory\":false,\"size\":700}\n"
        "{\"image\":\"x.dsk\",\"dir\":\"DIR\",\"name\":\"AD\",\"fd_lsn\":5000,\"position\":128,\"state\":\"partly "
        "reused\",\"reason\":\"" + std::string(kOutside) + "\"}\n";
    EXPECT_TRUE(run_gave(run_program("dvls", {"-dj", "x.dsk:DIR"}, dir.path()), {json, "", 0}));
    // The live entries are listed as ever; a file has no entries to list.
    EXPECT_TRUE(run_gave(run_program("dvls", {"x.dsk:DIR"}, dir.path()), {"KEEP\n", "", 0}));
    EXPECT_TRUE(run_gave(run_program("dvls", {"-d", "x.dsk:DIR/KEEP"}, dir.path()),
                         {"", dv::failure_line("dvls", 214, "opening", "x.dsk:DIR/KEEP"), 214}));
}

TEST(DvUndelProgram, CasesTable) {
    const std::string self = dvtest::program_path("dvundel");
    const auto usage = [&](const std::string& what) { return self + ": " + what + "\nTry '" + self + " --help'.\n"; };
    // Arguments ("F" stands for README's FD sector), the status, what standard
    // error says beyond the failure line ("" none), the name it comes back as.
    const struct {
        std::vector<std::string> args;
        int status;
        std::string more;
        std::string restored;
    } rows[] = {
        {{"x.dsk:DIR", "F", "NEW"}, 0, "", "DIR/NEW"},
        {{"x.dsk:DIR/", "0xF", "new"}, 0, "", "DIR/new"},
        {{"x.dsk::DIR", "$F", "README"}, 0, "", "DIR/README"},
        {{"x.dsk:DIR", "5000", "NEW"}, 214, std::string("dvundel: FD 5000 is partly reused: ") + kOutside + "\n", ""},
        {{"x.dsk:DIR", "77", "NEW"}, 216, "", ""},
        {{"x.dsk:DIR", "F", "keep"}, 218, "", ""},
        {{"x.dsk:DIR", "F", "a b"}, 215, "", ""},
        {{"x.dsk:DIR/KEEP", "F", "NEW"}, 214, "", ""},
        {{"x.dsk:DIR/.@", "F", "NEW"}, 215, "", ""},
        {{"x.dsk:DIR", "12z", "NEW"}, 2, usage("bad FD sector '12z'"), ""},
        {{"x.dsk:DIR", "F"}, 2, usage("missing operand"), ""},
        {{"x.dsk:DIR", "F", "A", "B"}, 2, usage("extra operand 'B'"), ""},
    };
    for (const auto& r : rows) {
        TempDir dir;
        const int fd = deleted_disk(dir);
        std::vector<std::string> args = r.args;
        if (args[1] == "F") args[1] = std::to_string(fd);
        if (args[1] == "0xF") args[1] = "0x" + hex(fd);
        if (args[1] == "$F") args[1] = "$" + hex(fd);
        SCOPED_TRACE(args[0] + " " + args[1]);
        const bytes before = dvtest::read_file(dir / "x.dsk");
        std::string err = r.more;
        if (r.status != 0 && r.status != 2) {
            const std::string base = args[0].find(':') == std::string::npos ? args[0] + ":" : args[0] + "/";
            err = dv::failure_line("dvundel", r.status, "restoring FD " + std::to_string(std::stoul(args[1])) + " as",
                                   base + args[2]) + err;
        }
        EXPECT_TRUE(run_gave(run_program("dvundel", args, dir.path()), {"", err, r.status}));
        const bytes after = dvtest::read_file(dir / "x.dsk");
        if (r.restored.empty()) {
            EXPECT_EQ(after, before);
            continue;
        }
        EXPECT_EQ(dvtest::list_tree(after).at(r.restored).data, kData);
        EXPECT_EQ(run_program("dvcheck", {"x.dsk"}, dir.path()).status, 0);
    }
}

// The same restore in a container whose bytes stay its own (dvcheck reads
// them back through their headers and CRCs), and in ImageDisk, which is
// only read and refuses as other writers do.
TEST(DvUndelContainers, WrittenDmkAndReadOnlyImageDisk) {
    int fd = 0;
    // README deleted through the library before the disk is wrapped:
    // ImageDisk cannot be written, not even by a delete.
    dvtest::MemImage m(disk(&fd, 40 * 2 * 18));
    ASSERT_EQ(rbf::_os9_delete(m.image(), "DIR/README"), 0);
    for (const bool imd : {false, true}) {
        SCOPED_TRACE(imd ? "ImageDisk" : "DMK");
        TempDir dir;
        const bytes file = imd ? dvtest::make_imd(m.get(), 40, 2) : dvtest::make_dmk(m.get(), 40, 2);
        dvtest::write_file(dir / "d.img", file);
        char line[64];
        std::snprintf(line, sizeof line, "%4d recoverable   ?EADME\n", fd);
        EXPECT_EQ(run_program("dvls", {"-d", "d.img:DIR"}, dir.path()).out.rfind(line, 0), 0u);
        const dvtest::Run run = run_program("dvundel", {"d.img:DIR", std::to_string(fd), "NEW"}, dir.path());
        EXPECT_EQ(run.status, imd ? 214 : 0) << run.err;
        EXPECT_EQ(run_program("dvcheck", {"d.img:"}, dir.path()).status, 0);
        if (imd) {
            EXPECT_EQ(run.err.rfind(dv::failure_line("dvundel", 214, "restoring FD " + std::to_string(fd) + " as", "d.img:DIR/NEW"), 0), 0u);
            EXPECT_EQ(dvtest::read_file(dir / "d.img"), file);
        } else {
            EXPECT_TRUE(run_gave(run_program("dvls", {"d.img:DIR"}, dir.path()), {"KEEP\nNEW\n", "", 0}));
        }
    }
}

}  // namespace
