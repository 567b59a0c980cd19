// dvmount as users use it: an image mounted on a temporary directory, the
// host's own tools run on it, then unmounted and looked at with dvcheck,
// dvls and the tests' own reader.  Needs root, /dev/fuse, fusermount3 and
// a dvmount built with libfuse3; each test is skipped, saying which is
// missing, without them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include "container_builders.h"
#include "impossible_dates.h"
#include "test_support.h"
#include "tree_check.h"

namespace {

using namespace std::chrono_literals;

// Why the mount tests cannot run here; empty when they can.
std::string fuse_missing() {
    if (geteuid() != 0) return "not root";
    if (access("/dev/fuse", R_OK | W_OK) != 0) return "no /dev/fuse";
    if (access(dvtest::program_path("dvmount").c_str(), X_OK) != 0)
        return "dvmount not built (libfuse3-dev missing)";
    if (std::system("command -v fusermount3 >/dev/null 2>&1") != 0) return "no fusermount3 (package fuse3)";
    return "";
}

#define SKIP_WITHOUT_FUSE()                                                     \
    do {                                                                        \
        const std::string missing = fuse_missing();                             \
        if (!missing.empty()) GTEST_SKIP() << "dvmount tests skipped: " << missing; \
    } while (0)

bool mounted(const std::string& dir) {
    struct stat here {}, up {};
    return stat(dir.c_str(), &here) == 0 && stat((dir + "/..").c_str(), &up) == 0 && here.st_dev != up.st_dev;
}

// Unmounts what may be mounted still, once nothing uses it (after a test
// that failed half way): whether it was mounted is not asked.
void lazy_unmount(const std::string& dir) {
    if (std::system(("fusermount3 -u -z '" + dir + "' 2>/dev/null").c_str()) != 0) return;
}

// dvmount -f running on `image` at `dir`, unmounted at the latest when the
// object goes.
class Mount {
public:
    Mount(const std::string& image, const std::string& dir, const std::vector<std::string>& options = {})
        : dir_(dir) {
        mkdir(dir.c_str(), 0755);
        std::vector<std::string> args = {"dvmount", "-f"};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(image);
        args.push_back(dir);
        const std::string exe = dvtest::program_path("dvmount");
        pid_ = fork();
        if (pid_ == 0) {
            std::vector<char*> argv;
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(exe.c_str(), argv.data());
            _exit(127);
        }
        for (int i = 0; i < 500 && !mounted(dir) && running(); ++i) std::this_thread::sleep_for(20ms);
    }
    ~Mount() {
        if (mounted(dir_)) lazy_unmount(dir_);
        if (running()) kill(pid_, SIGKILL);
        if (pid_ > 0 && status_ < 0) waitpid(pid_, nullptr, 0);
    }
    bool ok() const { return mounted(dir_); }
    bool running() {
        if (pid_ <= 0 || status_ >= 0) return false;
        int st = 0;
        if (waitpid(pid_, &st, WNOHANG) != pid_) return true;
        status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        return false;
    }
    // Unmounts as users do; the exit status of dvmount.
    int unmount() {
        EXPECT_EQ(std::system(("fusermount3 -u '" + dir_ + "'").c_str()), 0);
        for (int i = 0; i < 500 && running(); ++i) std::this_thread::sleep_for(20ms);
        return status_;
    }
    void kill9() {
        kill(pid_, SIGKILL);
        for (int i = 0; i < 500 && running(); ++i) std::this_thread::sleep_for(10ms);
        lazy_unmount(dir_);
    }

private:
    std::string dir_;
    pid_t pid_ = -1;
    int status_ = -1;
};

dvtest::bytes pattern(std::size_t n, unsigned seed) {
    dvtest::bytes b(n);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& c : b) c = static_cast<unsigned char>((x = x * 1103515245u + 12345u) >> 16);
    return b;
}

dvtest::bytes text(const std::string& s) { return dvtest::bytes(s.begin(), s.end()); }

dvtest::Run sh(const std::string& script, const std::string& dir) {
    return dvtest::run_program("/bin/sh", {"-c", script}, dir);
}

std::string fresh_image(const dvtest::TempDir& dir, const std::string& geometry) {
    const dvtest::Run r = sh(dvtest::program_path("dvinit") + " " + geometry + " img.dsk", dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    return dir / "img.dsk";
}

}  // namespace

TEST(DvMount, TreeCopiedInComparedMovedAndRemoved) {
    SKIP_WITHOUT_FUSE();
    dvtest::TempDir dir;
    const std::string image = fresh_image(dir, "-t400 -s250");
    // Text and binary files, empty and large, three levels deep.
    const std::map<std::string, dvtest::bytes> files = {
        {"src/readme.txt", text("first line\nsecond line\n")},
        {"src/empty.txt", {}},
        {"src/BIN/prog.bin", pattern(300000, 1)},
        {"src/BIN/one.dat", {0}},
        {"src/DOCS/a.txt", text("a\r\nb\r")},
        {"src/DOCS/DEEP/b.txt", pattern(70001, 2)},
        {"src/DEL/x1", pattern(5000, 3)},
        {"src/DEL/SUB/x2", pattern(10, 4)},
    };
    for (const auto& [path, data] : files) {
        sh("mkdir -p \"$(dirname " + path + ")\"", dir.path());
        dvtest::write_file(dir / path, data);
    }
    Mount m(image, dir / "mnt");
    ASSERT_TRUE(m.ok());
    const dvtest::Run r = sh(
        "cp -r src mnt/ && diff -r src mnt/src && "
        "mv mnt/src/readme.txt mnt/src/DOCS/readme2.txt && "   // a file to another directory
        "mv mnt/src/DOCS/DEEP mnt/DEEP && "                    // a directory up two levels
        "mv mnt/src/BIN/one.dat mnt/src/BIN/One.bin && "       // in its own directory
        "mv mnt/src/DOCS/a.txt mnt/src/BIN/prog.bin && "       // over another file
        "rm -r mnt/src/DEL && ls mnt/DEEP",
        dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "b.txt\n");
    // The image is held: no other dv program writes under the mount.
    const dvtest::Run busy = sh("DV_LOCK_TIMEOUT=0 " + dvtest::program_path("dvcopy") + " src/empty.txt img.dsk:x",
                                dir.path());
    EXPECT_EQ(busy.status, 253) << busy.err;
    EXPECT_EQ(m.unmount(), 0);

    const dvtest::Run check = dvtest::run_program("dvcheck", {"img.dsk"}, dir.path());
    EXPECT_EQ(check.status, 0) << check.out << check.err;
    const dvtest::Run ls = dvtest::run_program("dvls", {"-r", "img.dsk"}, dir.path());
    EXPECT_EQ(ls.status, 0) << ls.err;
    std::set<std::string> listed;
    std::istringstream lines(ls.out);
    for (std::string line; std::getline(lines, line);) listed.insert(line);
    const std::set<std::string> expected = {"DEEP", "DEEP/b.txt", "src", "src/BIN", "src/BIN/One.bin",
                                            "src/BIN/prog.bin", "src/DOCS", "src/DOCS/readme2.txt",
                                            "src/empty.txt"};
    EXPECT_EQ(listed, expected) << ls.out;
    const auto tree = dvtest::list_tree(dvtest::read_file(image));
    const std::pair<std::string, std::string> moved[] = {
        {"DEEP/b.txt", "src/DOCS/DEEP/b.txt"}, {"src/BIN/One.bin", "src/BIN/one.dat"},
        {"src/BIN/prog.bin", "src/DOCS/a.txt"}, {"src/DOCS/readme2.txt", "src/readme.txt"},
        {"src/empty.txt", "src/empty.txt"},
    };
    for (const auto& [in_image, source] : moved) {
        ASSERT_TRUE(tree.count(in_image)) << in_image;
        EXPECT_EQ(tree.at(in_image).data, files.at(source)) << in_image;
    }
}

TEST(DvMount, DiskFullCopyFailsWithEnospcAndLeavesASoundImage) {
    SKIP_WITHOUT_FUSE();
    dvtest::TempDir dir;
    const std::string image = fresh_image(dir, "-t40 -s18");  // 720 sectors
    dvtest::write_file(dir / "big", pattern(400000, 5));
    dvtest::write_file(dir / "small", pattern(1000, 6));
    {
        Mount m(image, dir / "mnt");
        ASSERT_TRUE(m.ok());
        const dvtest::Run r = sh("cp big mnt/big", dir.path());
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
        // What is left still takes a small file once the big one goes.
        const dvtest::Run after = sh("rm -f mnt/big && cp small mnt/small && cmp small mnt/small", dir.path());
        EXPECT_EQ(after.status, 0) << after.err;
        EXPECT_EQ(m.unmount(), 0);
    }
    EXPECT_EQ(dvtest::check_tree(dvtest::read_file(image)), std::vector<std::string>{});
    EXPECT_EQ(dvtest::run_program("dvcheck", {"img.dsk"}, dir.path()).status, 0);
}

// The boot file written over by cp (cut by the open, then written in pieces
// where the free units are broken; a shorter one too) and by a rename over
// it is laid in one run with LSN 0 pointing at it; deleted, LSN 0 forgets it.
TEST(DvMount, BootFileFollowsCopiesAndRenamesOverItAndGoesWithItsDelete) {
    SKIP_WITHOUT_FUSE();
    dvtest::TempDir dir;
    dvtest::ImageBuilder b(630);
    b.add_file(b.root(), "OS9Boot", pattern(3000, 7));  // FD 10, data from LSN 11
    dvtest::put_be(b.image().data() + 21, 3, 11);  // dd_bt
    dvtest::put_be(b.image().data() + 24, 2, 3000);  // dd_bsz
    dvtest::seglist holes;  // free runs of 8 between units a file holds
    for (int u = 60; u < 400; u += 9) holes.emplace_back(u, 1);
    b.add_file(b.root(), "HOLES", dvtest::bytes{}, 0x1B, holes);
    b.save(dir / "img.dsk");
    dvtest::write_file(dir / "9000", pattern(9000, 8));
    dvtest::write_file(dir / "2000", pattern(2000, 9));
    for (const char* step : {"cp 9000 mnt/OS9Boot", "cp 2000 mnt/OS9Boot", "cp 9000 mnt/t && mv mnt/t mnt/OS9Boot",
                             "rm mnt/OS9Boot"}) {
        {
            Mount m(dir / "img.dsk", dir / "mnt");
            ASSERT_TRUE(m.ok());
            EXPECT_EQ(sh(step, dir.path()).status, 0) << step;
            EXPECT_EQ(m.unmount(), 0);
        }
        const dvtest::bytes img = dvtest::read_file(dir / "img.dsk");
        EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{}) << step;
        const auto tree = dvtest::list_tree(img);
        const dvtest::TreeNode none;  // deleted: LSN 0 names nothing
        const dvtest::TreeNode& node = tree.count("OS9Boot") ? tree.at("OS9Boot") : none;
        const dvtest::seglist segs = node.fd ? dvtest::fd_segments(img, node.fd) : dvtest::seglist{{0, 0}};
        ASSERT_EQ(segs.size(), 1u) << step;
        EXPECT_EQ(node.data, node.fd ? dvtest::read_file(dir / std::to_string(node.size)) : dvtest::bytes{}) << step;
        EXPECT_EQ(dvtest::be(img.data() + 21, 3), static_cast<std::uint32_t>(segs[0].first)) << step;
        EXPECT_EQ(dvtest::be(img.data() + 24, 2), node.size) << step;
    }
}

TEST(DvMount, ErrorsAreTheHostsErrors) {
    SKIP_WITHOUT_FUSE();
    dvtest::TempDir dir;
    const std::string image = fresh_image(dir, "-t100 -s18");
    Mount m(image, dir / "mnt");
    ASSERT_TRUE(m.ok());
    const std::string mnt = dir / "mnt";
    const auto at = [&](const std::string& name) { return mnt + "/" + name; };
    const auto result = [](int r) { return r == 0 ? 0 : errno; };
    const auto make = [&](const std::string& name, int flags) {
        const int fd = open(at(name).c_str(), flags, 0644);
        if (fd < 0) return errno;
        close(fd);
        return 0;
    };
    // In order: each step may rely on the ones before.
    const std::tuple<std::string, std::function<int()>, int> steps[] = {
        {"new file", [&] { return make("f", O_CREAT | O_WRONLY); }, 0},
        {"name with '-' first", [&] { return make("-ab", O_CREAT | O_WRONLY); }, EINVAL},
        {"name of 30", [&] { return make(std::string(30, 'n'), O_CREAT | O_WRONLY); }, ENAMETOOLONG},
        {"missing", [&] { return make("none", O_RDONLY); }, ENOENT},
        {"exclusive on a file there", [&] { return make("F", O_CREAT | O_EXCL | O_WRONLY); }, EEXIST},
        {"mkdir", [&] { return result(mkdir(at("D").c_str(), 0755)); }, 0},
        {"mkdir again", [&] { return result(mkdir(at("d").c_str(), 0755)); }, EEXIST},
        {"file in D", [&] { return make("D/x", O_CREAT | O_WRONLY); }, 0},
        {"rmdir of a full one", [&] { return result(rmdir(at("D").c_str())); }, ENOTEMPTY},
        {"rmdir of a file", [&] { return result(rmdir(at("f").c_str())); }, ENOTDIR},
        {"unlink of a directory", [&] { return result(unlink(at("D").c_str())); }, EISDIR},
        {"into its own tree", [&] { return result(rename(at("D").c_str(), at("D/E").c_str())); }, EINVAL},
        {"file over a directory", [&] { return result(rename(at("f").c_str(), at("D").c_str())); }, EISDIR},
        {"directory over a file", [&] { return result(rename(at("D").c_str(), at("f").c_str())); }, ENOTDIR},
        {"rename to a bad name", [&] { return result(rename(at("f").c_str(), at("f g").c_str())); }, EINVAL},
        {"truncate up", [&] { return result(truncate(at("f").c_str(), 70000)); }, 0},
        {"truncate down", [&] { return result(truncate(at("f").c_str(), 5)); }, 0},
        {"read-only attributes", [&] { return result(chmod(at("f").c_str(), 0444)); }, 0},
        {"write to it", [&] { return make("f", O_WRONLY); }, EACCES},
        {"writable again", [&] { return result(chmod(at("f").c_str(), 0640)); }, 0},
        {"write to it again", [&] { return make("f", O_WRONLY); }, 0},
        {"unlink", [&] { return result(unlink(at("D/x").c_str())); }, 0},
        {"rmdir", [&] { return result(rmdir(at("D").c_str())); }, 0},
    };
    for (const auto& [what, step, error] : steps) EXPECT_EQ(step(), error) << what;
    struct stat st {};
    ASSERT_EQ(stat(at("f").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 5);
    EXPECT_EQ(st.st_mode, static_cast<mode_t>(S_IFREG | 0600));  // group bits are not kept
    EXPECT_EQ(st.st_uid, getuid());
    struct statvfs sv {};
    ASSERT_EQ(statvfs(mnt.c_str(), &sv), 0);
    EXPECT_EQ(sv.f_namemax, 29u);
    EXPECT_EQ(sv.f_blocks, 1800u);
    EXPECT_GT(sv.f_bfree, 1700u);
    // Dates: the disk keeps the minute.
    const timespec when[2] = {{0, UTIME_OMIT}, {946684800 + 3600 * 5 + 60 * 7 + 33, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, at("f").c_str(), when, 0), 0);
    ASSERT_EQ(stat(at("f").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, when[1].tv_sec - 33);
    EXPECT_EQ(m.unmount(), 0);
    EXPECT_EQ(dvtest::check_tree(dvtest::read_file(image)), std::vector<std::string>{});
}

TEST(DvMount, ReadOnlyMountChangesNothing) {
    SKIP_WITHOUT_FUSE();
    dvtest::TempDir dir;
    const std::string image = fresh_image(dir, "-t100 -s18");
    dvtest::write_file(dir / "hello", text("hello\n"));
    ASSERT_EQ(dvtest::run_program("dvcopy", {"hello", "img.dsk:hello"}, dir.path()).status, 0);
    const dvtest::bytes before = dvtest::read_file(image);
    Mount m(image, dir / "mnt", {"-r"});
    ASSERT_TRUE(m.ok());
    const dvtest::Run r = sh("cat mnt/hello && touch mnt/new; echo $?; mkdir mnt/D; echo $?", dir.path());
    EXPECT_EQ(r.out, "hello\n1\n1\n");
    EXPECT_NE(r.err.find("Read-only file system"), std::string::npos) << r.err;
    // Readers may share the image.
    EXPECT_EQ(sh("DV_LOCK_TIMEOUT=0 " + dvtest::program_path("dvls") + " img.dsk", dir.path()).out, "hello\n");
    EXPECT_EQ(m.unmount(), 0);
    EXPECT_EQ(dvtest::read_file(image), before);
}

// Each file and directory shows its OS-9 record as extended attributes,
// which cannot be changed through the mount.
TEST(DvMount, ExtendedAttributesShowTheRecord) {
    SKIP_WITHOUT_FUSE();
    dvtest::TempDir dir;
    dvtest::ImageBuilder b;
    const int cmds = b.add_dir(b.root(), "CMDS");
    const int prog = b.add_file(cmds, "PROG", std::string("p"), 0x25);
    dvtest::bytes img = b.image();
    img[prog * 256u + 1] = 0x01, img[prog * 256u + 2] = 0x02;  // owner 258
    img[prog * 256u + 13] = 86, img[prog * 256u + 14] = 3, img[prog * 256u + 15] = 14;
    img[cmds * 256u + 14] = 0;  // a creation date no clock can show
    dvtest::write_file(dir / "img.dsk", img);
    Mount m(dir / "img.dsk", dir / "mnt");
    ASSERT_TRUE(m.ok());
    const std::string file = dir / "mnt/CMDS/PROG", directory = dir / "mnt/CMDS";
    char buf[256];
    const ssize_t n = listxattr(file.c_str(), buf, sizeof buf);
    ASSERT_GE(n, 0) << std::strerror(errno);
    EXPECT_EQ(std::string(buf, static_cast<std::size_t>(n)),
              std::string("user.os9.attr\0user.os9.owner\0user.os9.created\0", 46));
    // The value, or what the failure says.
    const auto value = [&](const std::string& path, const char* name, std::size_t size = sizeof buf) {
        const ssize_t got = getxattr(path.c_str(), name, buf, size);
        return got < 0 ? std::string(std::strerror(errno)) : std::string(buf, static_cast<std::size_t>(got));
    };
    EXPECT_EQ(value(file, "user.os9.attr"), "--e--e-r");
    EXPECT_EQ(value(file, "user.os9.owner"), "258");
    EXPECT_EQ(value(file, "user.os9.created"), "1986-03-14");
    EXPECT_EQ(value(file, "user.os9.created", 4), std::strerror(ERANGE));
    EXPECT_EQ(value(directory, "user.os9.attr"), "d-ewrewr");
    EXPECT_EQ(value(directory, "user.os9.created"), std::strerror(ENODATA));
    EXPECT_EQ(setxattr(file.c_str(), "user.os9.attr", "--------", 8, 0), -1);
    EXPECT_EQ(errno, EOPNOTSUPP);
    EXPECT_EQ(m.unmount(), 0);
    EXPECT_EQ(dvtest::read_file(dir / "img.dsk"), img);
}

// A file whose date no clock can show has the image file's own time.
TEST(DvMount, ImpossibleDatesShowTheImagesTime) {
    SKIP_WITHOUT_FUSE();
    dvtest::TempDir dir;
    dvtest::ImageBuilder b;
    dvtest::add_impossibly_dated_files(b);
    b.save(dir / "img.dsk");
    const timespec image_time[2] = {{0, UTIME_OMIT}, {1234567890, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, (dir / "img.dsk").c_str(), image_time, 0), 0);
    Mount m(dir / "img.dsk", dir / "mnt", {"-r"});
    ASSERT_TRUE(m.ok());
    for (std::size_t k = 0; k < std::size(dvtest::kImpossibleDates); ++k) {
        struct stat st {};
        ASSERT_EQ(stat((dir / ("mnt/F" + std::to_string(k))).c_str(), &st), 0);
        EXPECT_EQ(st.st_mtime, 1234567890) << dvtest::kImpossibleDates[k].what;
    }
    EXPECT_EQ(m.unmount(), 0);
}

TEST(DvMount, KilledMidCopyLeavesOnlyLeakedUnits) {
    SKIP_WITHOUT_FUSE();
    dvtest::TempDir dir;
    const std::string image = fresh_image(dir, "-t2000 -s250");
    dvtest::write_file(dir / "big", pattern(24 << 20, 7));
    Mount m(image, dir / "mnt");
    ASSERT_TRUE(m.ok());
    const pid_t copier = fork();
    if (copier == 0) {
        const std::string dest = dir / "mnt/BIG";
        // Its complaint about the mount going away is expected.
        if (!freopen("/dev/null", "w", stderr)) _exit(127);
        execl("/bin/cp", "cp", (dir / "big").c_str(), dest.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    // Well into the copy: the image holds part of the file.
    struct stat st {};
    for (int i = 0; i < 1000; ++i) {
        if (stat(image.c_str(), &st) == 0 && st.st_blocks * 512 > (8 << 20)) break;
        std::this_thread::sleep_for(2ms);
    }
    m.kill9();
    waitpid(copier, nullptr, 0);
    EXPECT_EQ(dvtest::problems_beyond_leaks(dvtest::read_file(image)), std::vector<std::string>{});
    const dvtest::Run check = dvtest::run_program("dvcheck", {"img.dsk"}, dir.path());
    EXPECT_TRUE(check.status == 0 || check.out.find("leaked") != std::string::npos) << check.out;
}

TEST(DvMount, EveryNameOnTheDiskOpensAndEveryOs9NameCanBeMade) {
    SKIP_WITHOUT_FUSE();
    dvtest::TempDir dir;
    const std::string n29 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabc";
    dvtest::ImageBuilder b;
    // "a b" no OS-9 would make, but a disk may hold it.
    const std::vector<std::string> on_disk = {n29, "my-file", "$SYS", "a b"};
    for (const std::string& name : on_disk) b.add_file(b.root(), name, text(name));
    b.save(dir / "x.dsk");
    Mount m(dir / "x.dsk", dir / "mnt");
    ASSERT_TRUE(m.ok());
    const auto at = [&](const std::string& name) { return dir / ("mnt/" + name); };
    std::set<std::string> listed;
    std::istringstream lines(sh("ls -1 mnt", dir.path()).out);
    for (std::string line; std::getline(lines, line);) listed.insert(line);
    EXPECT_EQ(listed, std::set<std::string>(on_disk.begin(), on_disk.end()));
    for (const std::string& name : on_disk) EXPECT_EQ(dvtest::read_file(at(name)), text(name)) << name;

    // New names of every kind: made, renamed to, looked up again.
    const std::string made[] = {"new-$1", "new-29-character-name$for.OS9"};
    for (const std::string& name : made) {
        const int fd = open(at(name).c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0) << name << ": " << std::strerror(errno);
        ASSERT_EQ(write(fd, name.data(), name.size()), static_cast<ssize_t>(name.size()));
        close(fd);
    }
    EXPECT_EQ(mkdir(at("dir-$").c_str(), 0755), 0) << std::strerror(errno);
    EXPECT_EQ(rename(at("my-file").c_str(), at("your-$file").c_str()), 0) << std::strerror(errno);
    EXPECT_EQ(rename(at("$SYS").c_str(), at("dir-$/" + n29).c_str()), 0) << std::strerror(errno);
    EXPECT_EQ(dvtest::read_file(at("your-$file")), text("my-file"));
    EXPECT_EQ(dvtest::read_file(at("dir-$/" + n29)), text("$SYS"));
    EXPECT_EQ(unlink(at("a b").c_str()), 0) << std::strerror(errno);  // which a check would report
    EXPECT_EQ(m.unmount(), 0);

    const dvtest::bytes img = dvtest::read_file(dir / "x.dsk");
    EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
    const auto tree = dvtest::list_tree(img);
    for (const std::string& name : {n29, made[0], made[1], std::string("your-$file")})
        EXPECT_EQ(tree.count(name), 1u) << name;
    EXPECT_EQ(tree.count("a b"), 0u);
    ASSERT_EQ(tree.count("dir-$/" + n29), 1u);
    EXPECT_EQ(tree.at("dir-$/" + n29).data, text("$SYS"));
    // The made 29-character name fills bytes 0-28 as OS-9 fills them.
    const dvtest::bytes root = dvtest::file_bytes(img, dvtest::dd_dir(img));
    const dvtest::bytes want = dvtest::os9_entry(made[1], tree.at(made[1]).fd);
    EXPECT_NE(std::search(root.begin(), root.end(), want.begin(), want.end()), root.end());
}

// A disk in a DMK container mounted: a file read and one written through the
// mount; after the unmount the tracks read back here hold every CRC right
// and the new file, and the disk passes the tree check.  An ImageDisk file
// is mounted to be read only, saying why.
TEST(DvMount, ContainersAreMountedAsTheirDisks) {
    SKIP_WITHOUT_FUSE();
    dvtest::TempDir dir;
    dvtest::ImageBuilder b(40 * 2 * 18, "Tracks");
    b.add_file(b.root(), "FILE", std::string("hi\r"));
    dvtest::write_file(dir / "d.img", dvtest::make_dmk(b.image(), 40, 2));
    {
        Mount m(dir / "d.img", dir / "mnt");
        ASSERT_TRUE(m.ok());
        EXPECT_EQ(sh("cat mnt/FILE", dir.path()).out, "hi\r");
        dvtest::write_file(dir / "mnt/NEW", pattern(5000, 7));
        EXPECT_EQ(m.unmount(), 0);
    }
    std::string problem;
    const dvtest::bytes disk = dvtest::dmk_sectors(dvtest::read_file(dir / "d.img"), &problem);
    EXPECT_EQ(problem, "");
    EXPECT_EQ(dvtest::check_tree(disk), std::vector<std::string>{});
    EXPECT_EQ(dvtest::list_tree(disk).at("NEW").data, pattern(5000, 7));

    dvtest::write_file(dir / "a.img", dvtest::make_imd(b.image(), 40, 2));
    const dvtest::bytes before = dvtest::read_file(dir / "a.img");
    {
        Mount m(dir / "a.img", dir / "mnt2");
        ASSERT_TRUE(m.ok());
        EXPECT_EQ(sh("cat mnt2/FILE", dir.path()).out, "hi\r");
        EXPECT_NE(sh("echo x > mnt2/NEW", dir.path()).status, 0);
        m.unmount();
    }
    EXPECT_EQ(dvtest::read_file(dir / "a.img"), before);
}

// Mounts refused before anything is mounted, each with status 1 and its
// reason as the last line: a mount point that is one already (with another
// image, or the very image mounted there, which is not waited for), no
// permission to open /dev/fuse (dvmount run as nobody where the device is
// root's alone), and a mount point that FUSE itself refuses.
struct Refusal {
    const char* what;
    bool mounted_first;  // img.dsk is mounted on mnt before
    bool as_nobody;
    std::string image, mountpoint;
    std::string last_line;  // of standard error
};

const Refusal kRefusals[] = {
    {"another image on a mount point", true, false, "other.dsk", "mnt", "dvmount: 'mnt' is already a mount point\n"},
    {"the mounted image again", true, false, "img.dsk", "mnt/", "dvmount: 'mnt/' is already a mount point\n"},
    {"no permission to use FUSE", false, true, "img.dsk", "mnt",
     "dvmount: no permission to use FUSE: /dev/fuse: Permission denied\n"},
    {"no such mount point", false, false, "img.dsk", "none", "dvmount: 'img.dsk' not mounted on 'none'\n"},
};

// Mounts listed on `dir`.
int mounts_on(const std::string& dir) {
    std::ifstream info("/proc/self/mountinfo");
    int n = 0;
    for (std::string line; std::getline(info, line);) {
        std::istringstream fields(line);
        std::string id, parent, device, root, point;
        n += fields >> id >> parent >> device >> root >> point && point == dir;
    }
    return n;
}

TEST(DvMount, RefusalsHaveStatusOneAndSayWhy) {
    SKIP_WITHOUT_FUSE();
    for (const Refusal& c : kRefusals) {
        SCOPED_TRACE(c.what);
        dvtest::TempDir dir;
        fresh_image(dir, "-t40 -s18");
        ASSERT_EQ(sh("cp img.dsk other.dsk && mkdir mnt && chmod 777 . mnt && chmod 666 img.dsk", dir.path()).status,
                  0);
        struct stat fuse {};
        if (c.as_nobody && (stat("/dev/fuse", &fuse) != 0 || (fuse.st_mode & S_IRWXO) != 0 ||
                            std::system("command -v setpriv >/dev/null 2>&1") != 0)) {
            std::printf("skipped '%s': /dev/fuse is open to every user here, or no setpriv\n", c.what);
            continue;
        }
        std::optional<Mount> first;
        if (c.mounted_first) {
            dvtest::write_file(dir / "first", text("first"));
            ASSERT_EQ(dvtest::run_program("dvcopy", {"first", "img.dsk:FIRST"}, dir.path()).status, 0);
            first.emplace(dir / "img.dsk", dir / "mnt");
            ASSERT_TRUE(first->ok());
        }
        const std::string command = dvtest::program_path("dvmount") + " " + c.image + " " + c.mountpoint;
        const auto start = std::chrono::steady_clock::now();
        const dvtest::Run r =
            sh((c.as_nobody ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "") + command, dir.path());
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_TRUE(r.err.ends_with(c.last_line)) << r.err;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << "waited for the image's lock";
        EXPECT_EQ(mounts_on(dir / "mnt"), c.mounted_first ? 1 : 0);
        if (first) {
            EXPECT_EQ(sh("ls mnt", dir.path()).out, "FIRST\n");  // the first mount still answers
            EXPECT_EQ(first->unmount(), 0);
        }
        for (int i = 0; i < 3 && mounts_on(dir / "mnt") > 0; ++i) lazy_unmount(dir / "mnt");
    }
}
