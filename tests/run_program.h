// Runs a built program as a user would: in a fresh temporary directory,
// with given standard input, capturing standard output, standard error and
// the exit status.
#pragma once

#include <string>
#include <vector>

namespace dvtest {

struct Run {
    std::string out;
    std::string err;
    int status = -1;  // exit status, or -1 when the program did not exit normally
};

// `program` is a name in the build directory (dvtype, ...), or the path of
// a program elsewhere when it holds a '/'; `args` are its arguments
// (argv[0] is the program's path).  `path_prefix`, when given, is
// put first on PATH.  The program runs with `dir` as working directory.
Run run_program(const std::string& program, const std::vector<std::string>& args, const std::string& dir,
                const std::string& input = "", const std::string& path_prefix = "");

// Full path of a built program (a path holding a '/' is returned as it is).
std::string program_path(const std::string& program);

// A fresh temporary directory, removed with its contents at destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

}  // namespace dvtest
