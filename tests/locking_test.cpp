// Programs hold an image's lock for their work on it: shared to read,
// exclusive to write, a busy image waited for up to DV_LOCK_TIMEOUT seconds
// and then refused with 253; concurrent writers take turns and leave a
// sound disk; an image that is no file (a FIFO) is refused without waiting.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "image_builder.h"
#include "run_program.h"
#include "test_support.h"
#include "tree_check.h"

namespace {

using dvtest::bytes;
using dvtest::ImageBuilder;
using dvtest::run_gave;
using dvtest::TempDir;

// Sets an environment variable for the scope (the programs run inherit it).
struct ScopedEnv {
    std::string name;
    ScopedEnv(const char* n, const char* v) : name(n) { setenv(n, v, 1); }
    ~ScopedEnv() { unsetenv(name.c_str()); }
};

// The test's own hold on a file, as another program's would be.
struct Hold {
    int fd;
    Hold(const std::string& path, int how) : fd(open(path.c_str(), O_RDONLY)) { flock(fd, how); }
    ~Hold() { close(fd); }
};

struct BusyCase {
    std::vector<std::string> args;
    bool writes;
    std::string out;
    std::string err;      // the failure line, with its meaning
    bool named_by_argv0;  // the older programs name themselves by argv[0]
};

TEST(Locking, BusyImageIsRefusedWith253AndLeftAlone) {
    const std::vector<BusyCase> cases = {
        {{"dvspace", "x.dsk"}, false, "", ": error 253 (image in use by another program) opening 'x.dsk'\n", true},
        {{"dvtype", "x.dsk:F"}, false, "", ": error 253 (image in use by another program) opening 'x.dsk:F'\n", true},
        {{"dvls", "x.dsk"}, false, "", "dvls: error 253 (image in use by another program) opening 'x.dsk'\n", false},
        {{"dvnewdir", "x.dsk:D"}, true, "", ": error 253 (image in use by another program) creating 'x.dsk:D'\n", true},
        {{"dvprune", "-q", "x.dsk:DIR"}, true, "", ": error 253 (image in use by another program) deleting 'x.dsk:DIR'\n", true},
        // dvinit's own line gives no number: the reason follows.
        {{"dvinit", "x.dsk"}, true, "", ": cannot open virtual disk\n@: the image is in use by another program\n", true},
    };
    ScopedEnv no_wait("DV_LOCK_TIMEOUT", "0");
    for (int how : {LOCK_EX, LOCK_SH}) {
        for (const BusyCase& c : cases) {
            TempDir dir;
            ImageBuilder b;
            b.add_file(b.root(), "F", std::string("text\r"));
            b.add_dir(b.root(), "DIR");
            b.save(dir / "x.dsk");
            Hold hold(dir / "x.dsk", how);
            const std::string prog = c.args[0];
            dvtest::Run r = dvtest::run_program(prog, {c.args.begin() + 1, c.args.end()}, dir.path());
            const std::string what = prog + (how == LOCK_EX ? " under an exclusive hold" : " under a shared hold");
            if (how == LOCK_SH && !c.writes) {
                EXPECT_EQ(r.status, 0) << what << ": " << r.err;  // readers share
                continue;
            }
            const std::string self = dvtest::program_path(prog);
            std::string err = c.named_by_argv0 ? self + c.err : c.err;
            if (std::size_t at = err.find('@'); at != std::string::npos) err.replace(at, 1, self);
            EXPECT_TRUE(run_gave(r, {.out = c.out, .err = err, .status = 253})) << what;
            EXPECT_EQ(dvtest::read_file(dir / "x.dsk"), b.image()) << what;
        }
    }
}

TEST(Locking, BusyImageIsWaitedForWithinTheTimeout) {
    TempDir dir;
    ImageBuilder b;
    b.save(dir / "x.dsk");
    ScopedEnv wait("DV_LOCK_TIMEOUT", "20");
    pid_t holder = fork();
    if (holder == 0) {
        Hold hold(dir / "x.dsk", LOCK_EX);
        usleep(300 * 1000);
        _exit(0);
    }
    usleep(100 * 1000);
    dvtest::Run r = dvtest::run_program("dvnewdir", {"x.dsk:D"}, dir.path());
    waitpid(holder, nullptr, 0);
    EXPECT_TRUE(run_gave(r, {.out = "", .err = "", .status = 0}));
    EXPECT_TRUE(dvtest::list_tree(dvtest::read_file(dir / "x.dsk")).count("D"));
}

// Four writers at once, each making directories under its own parent: each
// finishes, and every directory is there on a sound disk.
TEST(Locking, FourConcurrentWritersLeaveEveryDirectoryOnASoundDisk) {
    TempDir dir;
    ImageBuilder b(4000);
    for (int w = 0; w < 4; ++w) b.add_dir(b.root(), "P" + std::to_string(w));
    b.save(dir / "x.dsk");
    constexpr int kEach = 40;
    std::vector<pid_t> writers;
    for (int w = 0; w < 4; ++w) {
        std::vector<std::string> args;
        for (int k = 0; k < kEach; ++k) args.push_back("x.dsk:P" + std::to_string(w) + "/D" + std::to_string(k));
        pid_t pid = fork();
        if (pid == 0) {
            // Each directory in a call of its own: the writers interleave.
            for (const std::string& a : args) {
                dvtest::Run r = dvtest::run_program("dvnewdir", {a}, dir.path());
                if (r.status != 0) _exit(1);
            }
            _exit(0);
        }
        writers.push_back(pid);
    }
    for (pid_t pid : writers) {
        int status = -1;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const bytes img = dvtest::read_file(dir / "x.dsk");
    EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
    const auto tree = dvtest::list_tree(img);
    for (int w = 0; w < 4; ++w)
        for (int k = 0; k < kEach; ++k)
            EXPECT_TRUE(tree.count("P" + std::to_string(w) + "/D" + std::to_string(k))) << w << " " << k;
}

TEST(Locking, FifoAsImageIsRefusedWithoutWaiting) {
    TempDir dir;
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
    for (const std::string prog : {"dvspace", "dvls", "dvtype"}) {
        dvtest::LimitedRun r = dvtest::run_limited(prog, {prog == "dvtype" ? "fifo:F" : "fifo"}, dir.path(), "", "", 10);
        EXPECT_TRUE(r.exited) << prog;
        EXPECT_EQ(r.status, 214) << prog;
    }
}

}  // namespace
