// OS-9 attributes, owners and creation dates through host files, as users
// copy: dvcopy out keeps them in the user.os9.* extended attributes of each
// file and directory it makes, dvcopy in takes them back; a host file
// without them, or with values that are none of ours, comes in from its
// mode as before; a host file system that keeps none is told of once and
// the copy goes on.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "container_builders.h"
#include "test_support.h"

namespace {

using dvtest::bytes;
using dvtest::ImageBuilder;
using dvtest::TempDir;

// What an FD says of its file beside the bytes.
struct Record {
    unsigned char att = 0;
    unsigned owner = 0;
    std::array<unsigned char, 3> created{};
    bool operator==(const Record&) const = default;
};

void stamp(bytes& img, int fd, const Record& r) {
    const std::size_t at = static_cast<std::size_t>(fd) * 256;
    img[at] = r.att;
    img[at + 1] = static_cast<unsigned char>(r.owner >> 8);
    img[at + 2] = static_cast<unsigned char>(r.owner);
    std::copy(r.created.begin(), r.created.end(), img.begin() + static_cast<long>(at + 13));
}

Record record_at(const bytes& img, const std::string& path) {
    const auto tree = dvtest::list_tree(img);
    const auto it = tree.find(path);
    if (it == tree.end()) {
        ADD_FAILURE() << path << " is not on the disk";
        return {};
    }
    const std::size_t at = static_cast<std::size_t>(it->second.fd) * 256;
    return {img[at], unsigned{img[at + 1]} << 8 | img[at + 2], {img[at + 13], img[at + 14], img[at + 15]}};
}

std::array<unsigned char, 3> today() {
    const bytes d = dvtest::local_date(std::time(nullptr));
    return {d[0], d[1], d[2]};
}

// The value of a host file's extended attribute; none when it has none.
std::optional<std::string> xattr(const std::string& path, const char* name) {
    char value[64];
    const ssize_t n = getxattr(path.c_str(), name, value, sizeof value);
    if (n < 0) return std::nullopt;
    return std::string(value, static_cast<std::size_t>(n));
}

void set_xattr(const std::string& path, const char* name, const std::string& value) {
    ASSERT_EQ(setxattr(path.c_str(), name, value.data(), value.size(), 0), 0) << path << " " << name;
}

// Why these tests cannot run here; empty when they can.
std::string no_user_xattrs(const TempDir& dir) {
    const std::string probe = dir / "probe";
    dvtest::write_file(probe, {});
    const int ok = setxattr(probe.c_str(), "user.probe", "1", 1, 0);
    const int e = errno;
    std::remove(probe.c_str());
    return ok == 0 ? "" : std::string("the temporary directory keeps no user extended attributes: ") + std::strerror(e);
}

#define SKIP_WITHOUT_XATTRS(dir)                                              \
    do {                                                                      \
        const std::string why = no_user_xattrs(dir);                          \
        if (!why.empty()) GTEST_SKIP() << why;                                \
    } while (0)

struct Trip {
    const char* what;
    Record file;  // CMDS/PROG
    Record dir;   // CMDS
    const char* file_letters;
    const char* dir_letters;
    const char* owner_text;
    const char* created_text;
};

const Trip kTrips[] = {
    {"a CMDS module of the system", {0x25, 0, {86, 3, 14}}, {0xBF, 0, {86, 3, 14}}, "--e--e-r", "d-ewrewr", "0",
     "1986-03-14"},
    {"a user's data file", {0x1B, 1234, {101, 12, 31}}, {0x9B, 1234, {101, 1, 1}}, "---wr-wr", "d--wr-wr", "1234",
     "2001-12-31"},
    {"shared, every bit, the last owner and year", {0x7F, 65535, {255, 12, 31}}, {0xFF, 65535, {255, 12, 31}},
     "-sewrewr", "dsewrewr", "65535", "2155-12-31"},
    // A directory that refuses writes still gets its tree on the way in.
    {"read only, in a directory that refuses writes", {0x01, 7, {0, 1, 1}}, {0x89, 8, {0, 1, 1}}, "-------r",
     "d---r--r", "7", "1900-01-01"},
};

// The image: CMDS holding PROG, and ONE beside it as the disk's defaults.
bytes trip_image(const Trip& t) {
    ImageBuilder b(1200);
    const int cmds = b.add_dir(b.root(), "CMDS");
    const int prog = b.add_file(cmds, "PROG", std::string("\x87\xCD module"));
    b.add_file(b.root(), "ONE", std::string("one\r"));
    bytes img = b.image();
    stamp(img, prog, t.file);
    stamp(img, cmds, t.dir);
    return img;
}

TEST(DvcopyXattr, AttributesOwnersAndDatesRoundTripThroughTheHost) {
    for (const Trip& t : kTrips) {
        SCOPED_TRACE(t.what);
        TempDir dir;
        SKIP_WITHOUT_XATTRS(dir);
        dvtest::write_file(dir / "x.dsk", trip_image(t));
        ImageBuilder(1200).save(dir / "y.dsk");
        for (const auto& args : std::vector<std::vector<std::string>>{{"-r", "x.dsk:CMDS", "out"},
                                                                      {"x.dsk:CMDS/PROG", "single"},
                                                                      {"-r", "x.dsk:", "whole"},
                                                                      {"x.dsk:CMDS/PROG", "-"}}) {
            const dvtest::Run r = dvtest::run_program("dvcopy", args, dir.path());
            ASSERT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.err, "");  // standard output has nothing to keep them in, and says nothing
        }
        for (const char* f : {"out/PROG", "single", "whole/CMDS/PROG"}) {
            EXPECT_EQ(xattr(dir / std::string(f), "user.os9.attr"), t.file_letters) << f;
            EXPECT_EQ(xattr(dir / std::string(f), "user.os9.owner"), t.owner_text) << f;
            EXPECT_EQ(xattr(dir / std::string(f), "user.os9.created"), t.created_text) << f;
        }
        for (const char* d : {"out", "whole/CMDS"}) EXPECT_EQ(xattr(dir / std::string(d), "user.os9.attr"), t.dir_letters) << d;
        EXPECT_EQ(xattr(dir / "whole/ONE", "user.os9.attr"), "---wr-wr");

        for (const auto& args : std::vector<std::vector<std::string>>{
                 {"-r", "out", "y.dsk:CMDS"}, {"single", "y.dsk:SINGLE"}, {"-r", "whole", "y.dsk:WHOLE"}}) {
            const dvtest::Run r = dvtest::run_program("dvcopy", args, dir.path());
            ASSERT_EQ(r.status, 0) << r.err;
        }
        const bytes back = dvtest::read_file(dir / "y.dsk");
        EXPECT_EQ(dvtest::check_tree(back), std::vector<std::string>{});
        for (const char* f : {"CMDS/PROG", "SINGLE", "WHOLE/CMDS/PROG"}) EXPECT_EQ(record_at(back, f), t.file) << f;
        for (const char* d : {"CMDS", "WHOLE/CMDS"}) EXPECT_EQ(record_at(back, d), t.dir) << d;
        EXPECT_EQ(dvtest::list_tree(back).at("WHOLE/CMDS/PROG").data, dvtest::list_tree(trip_image(t)).at("CMDS/PROG").data);
    }
}

// Host files as they come in: the xattrs given ({name, value}, in order),
// the mode, and the record the file gets.
struct Arrival {
    const char* what;
    std::vector<std::pair<const char*, std::string>> xattrs;
    mode_t mode;
    unsigned char att;
    unsigned owner;
    std::optional<std::array<unsigned char, 3>> created;  // none: today
};

const Arrival kArrivals[] = {
    {"no xattrs: the mode, as always", {}, 0644, 0x0B, 0, std::nullopt},
    {"no xattrs, executable", {}, 0755, 0x0F, 0, std::nullopt},
    {"the letters win over the mode", {{"user.os9.attr", "--e--e-r"}}, 0644, 0x25, 0, std::nullopt},
    {"the directory bit never comes from them", {{"user.os9.attr", "d-ewrewr"}}, 0644, 0x3F, 0, std::nullopt},
    {"an owner alone", {{"user.os9.owner", "300"}}, 0755, 0x0F, 300, std::nullopt},
    {"a date alone", {{"user.os9.created", "1984-02-29"}}, 0644, 0x0B, 0, std::array<unsigned char, 3>{84, 2, 29}},
    {"malformed letters: the mode", {{"user.os9.attr", "--e--e-rw"}, {"user.os9.owner", "5"}}, 0755, 0x0F, 5,
     std::nullopt},
    {"an impossible date: today", {{"user.os9.created", "1986-13-01"}, {"user.os9.owner", "9"}}, 0644, 0x0B, 9,
     std::nullopt},
    {"a long value: none", {{"user.os9.attr", std::string(300, '-')}}, 0644, 0x0B, 0, std::nullopt},
};

TEST(DvcopyXattr, HostFilesComeInByTheirXattrsOrTheirMode) {
    for (const Arrival& a : kArrivals) {
        SCOPED_TRACE(a.what);
        TempDir dir;
        SKIP_WITHOUT_XATTRS(dir);
        ImageBuilder().save(dir / "x.dsk");
        dvtest::write_file(dir / "f", bytes{'f', '\n'});
        ASSERT_EQ(chmod((dir / "f").c_str(), a.mode), 0);
        for (const auto& [name, value] : a.xattrs) set_xattr(dir / "f", name, value);
        const dvtest::Run r = dvtest::run_program("dvcopy", {"f", "x.dsk:F"}, dir.path());
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        const bytes img = dvtest::read_file(dir / "x.dsk");
        EXPECT_EQ(record_at(img, "F"), (Record{a.att, a.owner, a.created.value_or(today())}));
        EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
    }
}

// Why no file system without extended attributes can be mounted here for
// the test; empty when one can (ramfs, in a user namespace of its own).
std::string no_ramfs(const TempDir& dir) {
    if (std::system("command -v unshare >/dev/null 2>&1") != 0) return "no unshare";
    const dvtest::Run r = dvtest::run_program(
        "/bin/sh", {"-c", "mkdir -p m && unshare -Urm sh -c 'mount -t ramfs none m && touch m/f'"}, dir.path());
    return r.status == 0 ? "" : "no ramfs in a user namespace: " + r.err;
}

TEST(DvcopyXattr, AFileSystemWithoutXattrsIsToldOfOnce) {
    TempDir dir;
    const std::string why = no_ramfs(dir);
    if (!why.empty()) GTEST_SKIP() << why;
    dvtest::write_file(dir / "x.dsk", trip_image(kTrips[1]));
    const std::string dvcopy = dvtest::program_path("dvcopy");
    const dvtest::Run r = dvtest::run_program(
        "/bin/sh",
        {"-c", "unshare -Urm sh -c 'mount -t ramfs none m && cd m && " + dvcopy +
                   " -r ../x.dsk: out; echo status $?; cat out/CMDS/PROG out/ONE'"},
        dir.path());
    EXPECT_EQ(r.err,
              "dvcopy: 'out/CMDS/PROG': this file system keeps no extended attributes: OS-9 attributes, owners and creation "
              "dates were not kept\n");
    EXPECT_EQ(r.out, "status 0\n\x87\xCD moduleone\r");
}

// A container's disk gives and takes its attributes as a raw one does.
TEST(DvcopyXattr, ThroughADmkContainer) {
    TempDir dir;
    SKIP_WITHOUT_XATTRS(dir);
    ImageBuilder b(40 * 2 * 18);
    const int prog = b.add_file(b.root(), "PROG", std::string("p"));
    bytes raw = b.image();
    stamp(raw, prog, {0x25, 3, {86, 3, 14}});
    dvtest::write_file(dir / "d.dmk", dvtest::make_dmk(raw, 40, 2));
    ASSERT_EQ(dvtest::run_program("dvcopy", {"d.dmk:PROG", "prog"}, dir.path()).status, 0);
    EXPECT_EQ(xattr(dir / "prog", "user.os9.attr"), "--e--e-r");
    EXPECT_EQ(xattr(dir / "prog", "user.os9.owner"), "3");
    const dvtest::Run r = dvtest::run_program("dvcopy", {"prog", "d.dmk:BACK"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    std::string problem;
    const bytes disk = dvtest::dmk_sectors(dvtest::read_file(dir / "d.dmk"), &problem);
    EXPECT_EQ(problem, "");
    EXPECT_EQ(record_at(disk, "BACK"), (Record{0x25, 3, {86, 3, 14}}));
}

}  // namespace
