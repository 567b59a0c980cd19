// timeit: runs a program several times and prints the median, lowest and
// highest wall-clock time in milliseconds, one decimal each.
//
//   timeit [-n runs] [-p prepare] [-o output] -- program args...
//
// `prepare` is a shell command run before every run, outside the timed part
// (for example: rebuild the input the program consumes).  The program is
// started directly (no shell in the timed part), with standard input from
// /dev/null and standard output to `output` (default /dev/null).  Any run
// that exits non-zero, or a prepare step that fails, ends the whole
// measurement with status 1.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

double now_ms() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// Runs argv with stdout to `out`; returns the wait status, or -1.
int run(char** argv, const char* out) {
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        int in = open("/dev/null", O_RDONLY);
        int o = open(out, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || o < 0) _exit(126);
        dup2(in, 0);
        dup2(o, 1);
        close(in);
        close(o);
        execvp(argv[0], argv);
        _exit(127);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) < 0) return -1;
    return status;
}

int usage() {
    std::fprintf(stderr, "usage: timeit [-n runs] [-p prepare] [-o output] -- program args...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    std::string prepare;
    const char* out = "/dev/null";
    int i = 1;
    for (; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--") {
            ++i;
            break;
        }
        if (i + 1 >= argc) return usage();
        if (a == "-n") runs = std::atoi(argv[++i]);
        else if (a == "-p") prepare = argv[++i];
        else if (a == "-o") out = argv[++i];
        else return usage();
    }
    if (i >= argc || runs < 1) return usage();
    char** cmd = argv + i;

    std::vector<double> times;
    for (int r = 0; r < runs; ++r) {
        if (!prepare.empty() && std::system(prepare.c_str()) != 0) {
            std::fprintf(stderr, "timeit: prepare step failed: %s\n", prepare.c_str());
            return 1;
        }
        double t0 = now_ms();
        int status = run(cmd, out);
        double t1 = now_ms();
        if (status < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "timeit: %s failed (status %d)\n", cmd[0], status);
            return 1;
        }
        times.push_back(t1 - t0);
    }
    std::sort(times.begin(), times.end());
    std::size_t n = times.size();
    double median = n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
    std::printf("%.1f %.1f %.1f\n", median, times.front(), times.back());
    return 0;
}
