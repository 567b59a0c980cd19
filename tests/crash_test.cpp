// Writers killed with SIGKILL at random moments (a fixed seed, a bounded
// number of kills): every image left behind shows nothing worse than units
// in use that nothing claims.  And a host that refuses a write (a file-size
// limit) gives an error number, not a signal, and the image as it was.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "image_builder.h"
#include "run_program.h"
#include "test_support.h"
#include "tree_check.h"

namespace {

using dvtest::bytes;
using dvtest::ImageBuilder;
using dvtest::TempDir;

// Sanitized programs run tens of times slower: fewer kills there, the full
// number in the plain and release builds.
#ifdef DV_SANITIZED
constexpr int kKills = 20;
#else
constexpr int kKills = 100;
#endif
const bytes kKeep = {'k', 'e', 'e', 'p'};

// Starts `program` in `dir` with its output thrown away.
pid_t start(const std::string& program, const std::vector<std::string>& args, const std::string& dir) {
    const std::string path = dvtest::program_path(program);
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(127);
        if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr)) _exit(127);
        std::vector<char*> argv{const_cast<char*>(path.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    return pid;
}

struct Writer {
    const char* name;
    bytes image;                    // the disk the writer starts on
    std::string program;
    std::vector<std::string> args;  // on x.dsk
};

Writer newdir_writer() {
    Writer w{"dvnewdir", ImageBuilder(4000).image(), "dvnewdir", {}};
    for (int k = 0; k < 300; ++k) w.args.push_back("x.dsk:D" + std::to_string(k));
    return w;
}

Writer prune_writer() {
    // Enough of a tree that the prune, which writes a directory's entries
    // together, runs for some milliseconds: the kills must fall inside it.
    ImageBuilder b(24000);
    const int t = b.add_dir(b.root(), "T");
    for (int k = 0; k < 600; ++k) {
        const int d = b.add_dir(t, "D" + std::to_string(k));
        b.add_file(d, "F", bytes(300, 'f'));
        b.add_dir(d, "S");
    }
    b.add_file(b.root(), "KEEP", std::string("keep"));
    return Writer{"dvprune", b.image(), "dvprune", {"-q", "x.dsk:T"}};
}

// Microseconds the writer takes when left alone.
long full_run(const Writer& w, const TempDir& dir) {
    dvtest::write_file(dir / "x.dsk", w.image);
    const pid_t pid = start(w.program, w.args, dir.path());
    const auto t0 = std::chrono::steady_clock::now();  // after the fork, as the kills' delays are
    int status = -1;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << w.name;
    EXPECT_EQ(dvtest::check_tree(dvtest::read_file(dir / "x.dsk")), std::vector<std::string>{}) << w.name;
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0).count();
}

TEST(Crash, WritersKilledAtRandomMomentsLeaveAtWorstLeakedUnits) {
    TempDir dir;
    std::mt19937 random(12);
    for (const Writer& w : {newdir_writer(), prune_writer()}) {
        // The shortest of three whole runs: the kills fall inside it.
        const long span = std::max(std::min({full_run(w, dir), full_run(w, dir), full_run(w, dir)}), 1000L);
        std::uniform_int_distribution<long> when(0, span);
        int mid_run = 0;
        for (int k = 0; k < kKills; ++k) {
            dvtest::write_file(dir / "x.dsk", w.image);
            const pid_t pid = start(w.program, w.args, dir.path());
            std::this_thread::sleep_for(std::chrono::microseconds(when(random)));
            kill(pid, SIGKILL);
            int status = -1;
            waitpid(pid, &status, 0);
            if (WIFSIGNALED(status)) ++mid_run;
            const bytes img = dvtest::read_file(dir / "x.dsk");
            ASSERT_EQ(dvtest::problems_beyond_leaks(img), std::vector<std::string>{})
                << w.name << ", kill " << k;
            if (w.program == "dvprune") {
                EXPECT_EQ(dvtest::list_tree(img).at("KEEP").data, kKeep);
            }
        }
        // The kills must land while the writer works, not only before or
        // after.  (Sanitized runs vary too much in length to ask this.)
#ifndef DV_SANITIZED
        EXPECT_GT(mid_run, kKills / 4) << w.name;
#endif
    }
}

// A file-size limit below the image's end.  dvnewdir: the writes into new
// units are refused, it says 248, the image is as it was.  dvinit: the
// format fails, and no half disk is left to pass for a whole one.
TEST(Crash, FileSizeLimitGivesAnErrorInsteadOfASignal) {
    ImageBuilder b(4000);
    b.add_file(b.root(), "F", bytes(600, 'f'));
    const bytes before = b.image();
    const rlim_t above_root = static_cast<rlim_t>(dvtest::lowest_free_run(dvtest::image_bitmap(before), 4000, 1)) * 256;
    struct Case {
        std::vector<std::string> args;
        rlim_t limit;
        int status;
        bytes after;
        bool fresh;  // the image file does not exist yet
    };
    const Case cases[] = {
        {{"dvnewdir", "x.dsk:NEW"}, above_root, 248, before, false},
        {{"dvinit", "x.dsk"}, 64 * 1024, 1, {}, true},
    };
    for (const Case& c : cases) {
        TempDir dir;
        if (!c.fresh) dvtest::write_file(dir / "x.dsk", before);
        pid_t pid = fork();
        if (pid == 0) {
            rlimit r{c.limit, c.limit};
            setrlimit(RLIMIT_FSIZE, &r);
            std::vector<std::string> rest(c.args.begin() + 1, c.args.end());
            const std::string path = dvtest::program_path(c.args[0]);
            if (!freopen("/dev/null", "w", stderr) || chdir(dir.path().c_str()) != 0) _exit(127);
            std::vector<char*> argv{const_cast<char*>(path.c_str())};
            for (const std::string& a : rest) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(path.c_str(), argv.data());
            _exit(127);
        }
        int status = -1;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status)) << c.args[0] << " ended by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), c.status) << c.args[0];
        EXPECT_EQ(dvtest::read_file(dir / "x.dsk"), c.after) << c.args[0];
    }
}

}  // namespace
