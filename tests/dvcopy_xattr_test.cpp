// OS-9 attributes, owners and creation dates through host files, as users
// copy: dvcopy out keeps them in the user.os9.* extended attributes of each
// file and directory it makes, dvcopy in takes them back (into a container's
// disk as into a raw one); a host file without them, or with values that
// are none of ours, comes in from its mode as before; a host file system
// that keeps none is told of once and the copy goes on.
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

// What an FD says of its file beside the bytes: its attributes, owner
// (two bytes) and creation date (three).
bytes record_at(const bytes& img, const std::string& path) {
    const std::size_t at = static_cast<std::size_t>(dvtest::list_tree(img).at(path).fd) * 256;
    bytes r = dvtest::slice(img, at, 3);
    for (int k = 13; k < 16; ++k) r.push_back(img[at + k]);
    return r;
}

void stamp(bytes& img, int fd, const bytes& r) {
    std::copy_n(r.begin(), 3, img.begin() + fd * 256L);
    std::copy_n(r.begin() + 3, 3, img.begin() + fd * 256L + 13);
}

// The value of a host file's extended attribute; none when it has none.
std::optional<std::string> xattr(const std::string& path, const char* name) {
    char value[64];
    const ssize_t n = getxattr(path.c_str(), name, value, sizeof value);
    if (n < 0) return std::nullopt;
    return std::string(value, static_cast<std::size_t>(n));
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

struct Trip {
    const char* what;
    bytes file;  // CMDS/PROG
    bytes dir;   // CMDS
    const char* file_letters;
    const char* dir_letters;
    const char* owner_text;
    const char* created_text;
};

// The extremes of each field, and a directory that refuses writes, which
// still gets its tree on the way in.
const Trip kTrips[] = {
    {"shared, every bit, the last owner and year", {0x7F, 0xFF, 0xFF, 255, 12, 31}, {0xFF, 0xFF, 0xFF, 255, 12, 31},
     "-sewrewr", "dsewrewr", "65535", "2155-12-31"},
    {"read only, in a directory that refuses writes", {0x01, 0, 7, 0, 1, 1}, {0x89, 0, 8, 0, 1, 1}, "-------r",
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
    if (const std::string why = no_user_xattrs(TempDir()); !why.empty()) GTEST_SKIP() << why;
    for (const Trip& t : kTrips) {
        SCOPED_TRACE(t.what);
        TempDir dir;
        dvtest::write_file(dir / "x.dsk", trip_image(t));
        // Back in to a container's disk, written as a raw one is.
        dvtest::write_file(dir / "y.dmk", dvtest::make_dmk(ImageBuilder(40 * 2 * 18).image(), 40, 2));
        // A file alone and a whole tree, out and back in; standard output
        // has nothing to keep them in, and says nothing.
        for (const auto& args : std::vector<std::vector<std::string>>{{"x.dsk:CMDS/PROG", "single"},
                                                                      {"-r", "x.dsk:", "whole"},
                                                                      {"x.dsk:CMDS/PROG", "-"},
                                                                      {"single", "y.dmk:SINGLE"},
                                                                      {"-r", "whole", "y.dmk:WHOLE"}}) {
            const dvtest::Run r = dvtest::run_program("dvcopy", args, dir.path());
            ASSERT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.err, "");
        }
        for (const char* f : {"single", "whole/CMDS/PROG"}) {
            EXPECT_EQ(xattr(dir / std::string(f), "user.os9.attr"), t.file_letters) << f;
            EXPECT_EQ(xattr(dir / std::string(f), "user.os9.owner"), t.owner_text) << f;
            EXPECT_EQ(xattr(dir / std::string(f), "user.os9.created"), t.created_text) << f;
        }
        EXPECT_EQ(xattr(dir / "whole/CMDS", "user.os9.attr"), t.dir_letters);
        EXPECT_EQ(xattr(dir / "whole/ONE", "user.os9.attr"), "---wr-wr");
        std::string problem;
        const bytes back = dvtest::dmk_sectors(dvtest::read_file(dir / "y.dmk"), &problem);
        EXPECT_EQ(problem, "");
        EXPECT_EQ(dvtest::check_tree(back), std::vector<std::string>{});
        for (const char* f : {"SINGLE", "WHOLE/CMDS/PROG"}) EXPECT_EQ(record_at(back, f), t.file) << f;
        EXPECT_EQ(record_at(back, "WHOLE/CMDS"), t.dir);
        EXPECT_EQ(dvtest::list_tree(back).at("WHOLE/CMDS/PROG").data, dvtest::list_tree(trip_image(t)).at("CMDS/PROG").data);
    }
}

// Host files as they come in: the xattrs given ({name, value}, in order),
// the mode, and the record the file gets (its last three bytes, the date,
// today's when none).
const struct Arrival {
    const char* what;
    std::vector<std::pair<const char*, std::string>> xattrs;
    mode_t mode;
    bytes record;
} kArrivals[] = {
    {"no xattrs: the mode, as always", {}, 0755, {0x0F, 0, 0}},
    {"all three, the letters winning over the mode",
     {{"user.os9.attr", "--e--e-r"}, {"user.os9.owner", "300"}, {"user.os9.created", "1984-02-29"}}, 0644,
     {0x25, 1, 44, 84, 2, 29}},
    {"the directory bit never comes from them", {{"user.os9.attr", "d-ewrewr"}}, 0644, {0x3F, 0, 0}},
    {"a date alone", {{"user.os9.created", "1984-02-29"}}, 0644, {0x0B, 0, 0, 84, 2, 29}},
    {"malformed letters: the mode, the owner still taken", {{"user.os9.attr", "--e--e-rw"}, {"user.os9.owner", "5"}},
     0755, {0x0F, 0, 5}},
    {"a long value: none", {{"user.os9.attr", std::string(300, '-')}}, 0644, {0x0B, 0, 0}},
};

TEST(DvcopyXattr, HostFilesComeInByTheirXattrsOrTheirMode) {
    if (const std::string why = no_user_xattrs(TempDir()); !why.empty()) GTEST_SKIP() << why;
    for (const Arrival& a : kArrivals) {
        SCOPED_TRACE(a.what);
        TempDir dir;
        ImageBuilder().save(dir / "x.dsk");
        const std::string f = dir / "f";
        dvtest::write_file(f, bytes{'f', '\n'});
        ASSERT_EQ(chmod(f.c_str(), a.mode), 0);
        for (const auto& [name, value] : a.xattrs) ASSERT_EQ(setxattr(f.c_str(), name, value.data(), value.size(), 0), 0);
        const dvtest::Run r = dvtest::run_program("dvcopy", {"f", "x.dsk:F"}, dir.path());
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        const bytes img = dvtest::read_file(dir / "x.dsk");
        bytes want = a.record;
        const bytes today = dvtest::local_date(std::time(nullptr));
        if (want.size() == 3) want.insert(want.end(), today.begin(), today.begin() + 3);
        EXPECT_EQ(record_at(img, "F"), want);
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
    dvtest::write_file(dir / "x.dsk", trip_image(kTrips[0]));
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

}  // namespace
