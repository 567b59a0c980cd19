// Every program reads a pathlist the same way: "image:" is the root,
// "DIR/" is DIR and "FILE/" is refused with 214, "image:.@" is the raw
// whole image and "image::x" is x.  Each row runs one program on a fresh
// image holding DIR (with f1) and FILE.
#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "rbf/pathlist.h"
#include "test_support.h"

namespace {

struct Row {
    std::vector<std::string> args;  // "H" is a host directory made for the row
    int status;
    std::string key;  // a part of standard output or error ("" when both are empty)
};

}  // namespace

TEST(PathlistTable, EveryProgramReadsEveryFormAlike) {
    const Row rows[] = {
        // image: -- the root, as image:.
        {{"dvls", "d.dsk:"}, 0, "DIR\nFILE\n"},
        {{"dvcopy", "-r", "d.dsk:", "H"}, 0, ""},
        {{"dvcopy", "h.txt", "d.dsk:"}, 0, ""},
        {{"dvdel", "d.dsk:"}, 187, "error 187 (illegal argument) deleting 'd.dsk:'"},
        {{"dvrename", "d.dsk:", "NEW"}, 187, "error 187"},
        {{"dvattr", "d.dsk:"}, 0, "d-ewrewr"},
        {{"dvnewdir", "d.dsk:"}, 218, "error 218 (file already exists) creating 'd.dsk:'"},
        {{"dvprune", "-q", "d.dsk:"}, 187, "error 187 (illegal argument) deleting 'd.dsk:'"},
        {{"dvtype", "d.dsk:"}, 0, "FIL"},  // a file program: the host file itself, as always
        {{"dvspace", "d.dsk:"}, 0, "Capacity"},
        {{"dvcheck", "d.dsk:"}, 0, "0 problems found"},
        // image:DIR/ -- the directory DIR
        {{"dvls", "d.dsk:DIR/"}, 0, "f1\n"},
        {{"dvcopy", "-r", "d.dsk:DIR/", "H"}, 0, ""},
        {{"dvcopy", "h.txt", "d.dsk:DIR/"}, 0, ""},
        {{"dvdel", "d.dsk:DIR/"}, 214, "is a directory: dvprune"},
        {{"dvrename", "d.dsk:DIR/", "NEW"}, 0, ""},
        {{"dvattr", "d.dsk:DIR/"}, 0, "d-ewrewr"},
        {{"dvnewdir", "d.dsk:DIR/"}, 218, "error 218"},
        {{"dvnewdir", "d.dsk:NEW/"}, 0, ""},
        {{"dvprune", "-q", "d.dsk:DIR/"}, 0, ""},
        {{"dvtype", "d.dsk:DIR/"}, 214, "error 214 (file not accessible) opening"},
        {{"dvspace", "d.dsk:DIR/"}, 0, "Capacity"},
        {{"dvcheck", "d.dsk:DIR/"}, 8, "error 215 (bad pathname) checking 'd.dsk:DIR/'"},
        {{"dvcopy", "h.txt", "d.dsk:NODIR/"}, 216, "error 216 (pathname not found) copying to 'd.dsk:NODIR/'"},
        // image:FILE/ -- not a directory
        {{"dvls", "d.dsk:FILE/"}, 214, "error 214 (file not accessible) opening 'd.dsk:FILE/'"},
        {{"dvcopy", "d.dsk:FILE/", "H"}, 214, "copying 'd.dsk:FILE/'"},
        {{"dvcopy", "h.txt", "d.dsk:FILE/"}, 214, "copying to 'd.dsk:FILE/'"},
        {{"dvdel", "d.dsk:FILE/"}, 214, "deleting 'd.dsk:FILE/'"},
        {{"dvdel", "d.dsk:DIR/f1/"}, 214, "deleting 'd.dsk:DIR/f1/'"},
        {{"dvrename", "d.dsk:FILE/", "NEW"}, 214, "renaming 'd.dsk:FILE/'"},
        {{"dvattr", "d.dsk:FILE/", "e"}, 214, "changing 'd.dsk:FILE/'"},
        {{"dvnewdir", "d.dsk:FILE/"}, 214, "error 214 (file not accessible) creating"},
        {{"dvprune", "-q", "d.dsk:FILE/"}, 214, "error 214 (file not accessible) deleting"},
        {{"dvtype", "d.dsk:FILE/"}, 214, "error 214 (file not accessible) opening"},
        {{"dvspace", "d.dsk:FILE/"}, 0, "Capacity"},
        {{"dvcheck", "d.dsk:FILE/"}, 8, "error 215"},
        // image:.@ -- the raw whole image, as before
        {{"dvls", "d.dsk:.@"}, 216, "error 216"},
        {{"dvcopy", "d.dsk:.@", "H"}, 216, "error 216"},
        {{"dvcopy", "h.txt", "d.dsk:.@"}, 215, "error 215"},
        {{"dvdel", "d.dsk:.@"}, 215, "error 215"},
        {{"dvrename", "d.dsk:.@", "NEW"}, 215, "error 215"},
        {{"dvattr", "d.dsk:.@"}, 215, "error 215"},
        {{"dvnewdir", "d.dsk:.@"}, 215, "error 215"},
        {{"dvprune", "-q", "d.dsk:.@"}, 215, "error 215"},
        {{"dvtype", "d.dsk:.@"}, 214, "error 214 (file not accessible) opening"},
        {{"dvspace", "d.dsk:.@"}, 0, "Capacity"},
        {{"dvcheck", "d.dsk:.@"}, 0, "0 problems found"},
        // image::x -- a run of colons is one separator
        {{"dvls", "d.dsk::DIR"}, 0, "f1\n"},
        {{"dvcopy", "-r", "d.dsk::DIR", "H"}, 0, ""},
        {{"dvcopy", "h.txt", "d.dsk::DIR"}, 0, ""},
        {{"dvdel", "d.dsk::FILE"}, 0, ""},
        {{"dvrename", "d.dsk::DIR", "NEW"}, 0, ""},
        {{"dvattr", "d.dsk::DIR"}, 0, "d-ewrewr"},
        {{"dvnewdir", "d.dsk::NEW"}, 0, ""},
        {{"dvprune", "-q", "d.dsk::DIR"}, 0, ""},
        {{"dvtype", "d.dsk::FILE"}, 0, "hi\n"},
        {{"dvspace", "d.dsk::DIR"}, 0, "Capacity"},
        {{"dvcheck", "d.dsk::DIR"}, 8, "error 215"},
        // image@@OFFSET: -- the disk at that byte of the file, here 0
        {{"dvls", "d.dsk@@0:DIR/"}, 0, "f1\n"},
        {{"dvcopy", "h.txt", "d.dsk@@0s:DIR/"}, 0, ""},
        {{"dvtype", "d.dsk@@0x0:FILE"}, 0, "hi\n"},
        {{"dvcheck", "d.dsk@@0:"}, 0, "d.dsk@@0: partition at byte 0"},
        {{"dvspace", "d.dsk@@0:"}, 0, "Container: partition at byte 0"},
        {{"dvls", "d.dsk@@:"}, 215, "error 215"},
        {{"dvls", "d.dsk@@1k:"}, 215, "error 215"},
    };
    for (const Row& row : rows) {
        std::string line;
        for (const std::string& a : row.args) line += a + " ";
        SCOPED_TRACE(line);
        dvtest::TempDir dir;
        dvtest::ImageBuilder b;
        b.add_file(b.add_dir(b.root(), "DIR"), "f1", std::string("one\r"));
        b.add_file(b.root(), "FILE", std::string("hi\r"));
        b.save(dir / "d.dsk");
        dvtest::write_file(dir / "h.txt", dvtest::bytes{'h', '\n'});
        std::filesystem::create_directory(dir / "H");
        std::vector<std::string> args(row.args.begin() + 1, row.args.end());
        const dvtest::Run r = dvtest::run_program(row.args[0], args, dir.path());
        EXPECT_EQ(r.status, row.status) << r.err;
        if (row.key.empty())
            EXPECT_EQ(r.out + r.err, "");
        else
            EXPECT_NE((r.out + r.err).find(row.key), std::string::npos) << r.out << r.err;
    }
}

// What the rows that succeed quietly did to the tree.
TEST(PathlistTable, TrailingSlashAndDoubleColonReachTheNamedDirectory) {
    const std::tuple<std::vector<std::string>, std::string> cases[] = {
        {{"dvcopy", "h.txt", "d.dsk:DIR/"}, "h.txt"},   // into DIR, keeping its name
        {{"dvcopy", "h.txt", "d.dsk::DIR"}, "h.txt"},
        {{"dvnewdir", "d.dsk:DIR/NEW/"}, "NEW"},
    };
    for (const auto& [run, name] : cases) {
        SCOPED_TRACE(run[1]);
        dvtest::TempDir dir;
        dvtest::ImageBuilder b;
        b.add_dir(b.root(), "DIR");
        b.save(dir / "d.dsk");
        dvtest::write_file(dir / "h.txt", dvtest::bytes{'h', '\n'});
        ASSERT_EQ(dvtest::run_program(run[0], {run.begin() + 1, run.end()}, dir.path()).status, 0);
        const dvtest::Run ls = dvtest::run_program("dvls", {"d.dsk:DIR"}, dir.path());
        EXPECT_EQ(ls.out, name + "\n");
        EXPECT_EQ(dvtest::run_program("dvls", {"d.dsk:"}, dir.path()).out, "DIR\n");
    }
}

// The offset after "@@" in each of its spellings, and what is not one.
TEST(PathlistTable, PartitionOffsets) {
    const std::tuple<const char*, int, std::uint64_t, const char*> cases[] = {
        {"hd.img@@512:CMDS", 0, 512, "hd.img"},
        {"hd.img@@0x200:CMDS", 0, 512, "hd.img"},
        {"hd.img@@0X1aB:", 0, 0x1AB, "hd.img"},
        {"hd.img@@2s:CMDS", 0, 512, "hd.img"},
        {"a@@b@@4s:", 0, 1024, "a@@b"},  // the last "@@" starts the offset
        {"hd.img@@:CMDS", 215, 0, ""},
        {"@@512:CMDS", 215, 0, ""},
        {"hd.img@@0x:CMDS", 215, 0, ""},
        {"hd.img@@12q:CMDS", 215, 0, ""},
        {"hd.img@@s:CMDS", 215, 0, ""},
        {"hd.img@@99999999999999999999:", 215, 0, ""},
        {"hd.img@@36028797018963968s:", 215, 0, ""},  // 2^55 sectors: past 2^63 bytes
    };
    for (const auto& [text, ec, offset, image] : cases) {
        SCOPED_TRACE(text);
        rbf::pathlist pl;
        ASSERT_EQ(rbf::parse_pathlist(text, &pl), ec);
        if (ec) continue;
        EXPECT_EQ(pl.image, image);
        ASSERT_TRUE(pl.offset.has_value());
        EXPECT_EQ(*pl.offset, offset);
    }
    rbf::pathlist host;
    ASSERT_EQ(rbf::parse_pathlist("notes@@12", &host), 0);  // a host file keeps its name
    EXPECT_EQ(host.image, "notes@@12");
    EXPECT_FALSE(host.offset.has_value());
}
