#include "run_program.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#ifndef DV_BIN_DIR
#define DV_BIN_DIR "."
#endif

namespace dvtest {

namespace {

std::string slurp(int fd) {
    std::string s;
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) s.append(buf, static_cast<std::size_t>(n));
    return s;
}

std::string temp_file(const std::string& dir, const char* stem) {
    std::string t = dir + "/." + stem + "XXXXXX";
    int fd = mkstemp(t.data());
    if (fd < 0) throw std::runtime_error("mkstemp");
    close(fd);
    return t;
}

}  // namespace

std::string program_path(const std::string& program) {
    if (program.find('/') != std::string::npos) return program;
    return std::string(DV_BIN_DIR) + "/" + program;
}

Run run_program(const std::string& program, const std::vector<std::string>& args, const std::string& dir,
                const std::string& input, const std::string& path_prefix) {
    // Files, not pipes, so a program that writes much never blocks.
    std::string in_name = temp_file(dir, "in");
    std::string out_name = temp_file(dir, "out");
    std::string err_name = temp_file(dir, "err");
    {
        int fd = open(in_name.c_str(), O_WRONLY | O_TRUNC);
        if (!input.empty() && write(fd, input.data(), input.size()) != static_cast<ssize_t>(input.size()))
            throw std::runtime_error("write stdin");
        close(fd);
    }
    std::string exe = program_path(program);
    pid_t pid = fork();
    if (pid == 0) {
        int in = open(in_name.c_str(), O_RDONLY);
        int out = open(out_name.c_str(), O_WRONLY | O_TRUNC);
        int err = open(err_name.c_str(), O_WRONLY | O_TRUNC);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        if (chdir(dir.c_str()) != 0) _exit(127);
        if (!path_prefix.empty()) {
            const char* old = std::getenv("PATH");
            std::string p = path_prefix + ":" + (old ? old : "/usr/bin:/bin");
            setenv("PATH", p.c_str(), 1);
        }
        std::vector<char*> argv;
        argv.push_back(exe.data());
        std::vector<std::string> copy = args;
        for (auto& a : copy) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    Run r;
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    int fd = open(out_name.c_str(), O_RDONLY);
    r.out = slurp(fd);
    close(fd);
    fd = open(err_name.c_str(), O_RDONLY);
    r.err = slurp(fd);
    close(fd);
    std::filesystem::remove(in_name);
    std::filesystem::remove(out_name);
    std::filesystem::remove(err_name);
    return r;
}

TempDir::TempDir() {
    std::string t = (std::filesystem::temp_directory_path() / "dvtestXXXXXX").string();
    if (!mkdtemp(t.data())) throw std::runtime_error("mkdtemp");
    path_ = t;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

}  // namespace dvtest
