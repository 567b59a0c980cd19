#include "test_support.h"

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace dvtest {

// ---- images in memory ----------------------------------------------------------

MemImage::MemImage(const bytes& img) : image_(rbf::image_in_memory(img)) {}

bytes MemImage::get() const { return rbf::image_contents(*image_); }

rbf::error_code create_file(const rbf::image_ref& image, const std::string& in_image) {
    rbf::os9_path_id p = nullptr;
    rbf::error_code ec = rbf::_os9_create(&p, image, in_image, 2, 0x1B);
    if (ec == 0) ec = rbf::_os9_close(p);
    return ec;
}

rbf::error_code put_bytes(const rbf::image_ref& image, const std::string& in_image, const bytes& data, bool replace) {
    rbf::put_options options;
    options.replace = replace;
    std::size_t at = 0;
    return rbf::_os9_put_file(image, in_image, options, [&](unsigned char* buf, std::size_t size, std::size_t* got) {
        *got = std::min(size, data.size() - at);
        std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(at), *got, buf);
        at += *got;
        return rbf::E_SUCCESS;
    });
}

Access Access::host_file(const std::string& file) {
    Access a;
    a.file_ = file;
    return a;
}

Access Access::held(const rbf::image_ref& image) {
    Access a;
    a.image_ = image;
    return a;
}

rbf::error_code Access::open(rbf::os9_path_id* path, const std::string& in_image, int mode) const {
    if (image_) return rbf::_os9_open(path, image_, in_image, mode);
    return rbf::_os9_open(path, file_ + ":" + in_image, mode);
}

rbf::error_code Access::open_parent_directory(rbf::os9_path_id* path, const std::string& in_image, int mode,
                                              std::string& filename) const {
    if (image_) return rbf::_os9_open_parent_directory(path, image_, in_image, mode, filename);
    return rbf::_os9_open_parent_directory(path, file_ + ":" + in_image, mode, filename);
}

std::string Access::describe(const std::string& in_image) const {
    return image_ ? "(held image) " + in_image : file_ + ":" + in_image;
}

// ---- LSN 0 -------------------------------------------------------------------

int dd_tot(const bytes& img) { return static_cast<int>(be(img.data(), 3)); }
int dd_map(const bytes& img) { return static_cast<int>(be(img.data() + 4, 2)); }
int dd_dir(const bytes& img) { return static_cast<int>(be(img.data() + 8, 3)); }

// ---- the allocation bitmap ------------------------------------------------------

bool bit_set(const bytes& img, int unit) { return img[256 + static_cast<std::size_t>(unit) / 8] & (0x80 >> (unit % 8)); }

void mark_unit(bytes& img, int unit, bool in_use) {
    const unsigned char m = static_cast<unsigned char>(0x80 >> (unit % 8));
    unsigned char& b = img[256 + static_cast<std::size_t>(unit) / 8];
    b = static_cast<unsigned char>(in_use ? (b | m) : (b & ~m));
}

bool map_bit(const bytes& map, long long unit) { return map.at(static_cast<std::size_t>(unit / 8)) & (0x80 >> (unit % 8)); }

bytes image_bitmap(const bytes& img) { return bytes(img.begin() + 256, img.begin() + 256 + dd_map(img)); }

int lowest_free_run(const bytes& map, int total, int n) {
    int run = 0;
    for (int u = 0; u < total; ++u) {
        run = map_bit(map, u) ? 0 : run + 1;
        if (run == n) return u - n + 1;
    }
    return -1;
}

// ---- file descriptors -------------------------------------------------------------

std::uint32_t fd_size(const bytes& img, int fd) { return be(img.data() + static_cast<std::size_t>(fd) * 256 + 9, 4); }

seglist fd_segments(const bytes& img, int fd) {
    seglist segs;
    const unsigned char* e = img.data() + static_cast<std::size_t>(fd) * 256 + 16;
    for (int k = 0; k < 48; ++k, e += 5) {
        int lsn = static_cast<int>(be(e, 3));
        if (lsn == 0) break;
        segs.emplace_back(lsn, static_cast<int>(be(e + 3, 2)));
    }
    return segs;
}

bytes file_bytes(const bytes& img, int fd) {
    bytes out;
    std::uint32_t size = fd_size(img, fd);
    for (auto [lsn, num] : fd_segments(img, fd))
        for (long long b = 0; b < static_cast<long long>(num) * 256 && out.size() < size; ++b)
            out.push_back(img.at(static_cast<std::size_t>(lsn) * 256 + static_cast<std::size_t>(b)));
    return out;
}

// ---- directory entries ---------------------------------------------------------

std::size_t entry_offset(const ImageBuilder& b, int dir, std::uint32_t pos) {
    std::uint32_t start = 0;
    for (auto [lsn, num] : b.segments(dir)) {
        std::uint32_t len = static_cast<std::uint32_t>(num) * 256;
        if (pos < start + len) return static_cast<std::size_t>(lsn) * 256 + (pos - start);
        start += len;
    }
    return 0;
}

// ---- bytes and dates -----------------------------------------------------------

bytes slice(const bytes& b, std::size_t off, std::size_t n) {
    return bytes(b.begin() + static_cast<long>(off), b.begin() + static_cast<long>(off + n));
}

bytes local_date(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    return {static_cast<unsigned char>(tm.tm_year), static_cast<unsigned char>(tm.tm_mon + 1),
            static_cast<unsigned char>(tm.tm_mday), static_cast<unsigned char>(tm.tm_hour),
            static_cast<unsigned char>(tm.tm_min)};
}

std::time_t builder_date() {
    std::tm tm{};
    tm.tm_year = 126;
    tm.tm_mon = 2;
    tm.tm_mday = 3;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

void write_dated_file(const std::string& path, const bytes& data, std::time_t later) {
    write_file(path, data);
    const timespec times[2] = {{builder_date() + later, 0}, {builder_date() + later, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// ---- program runs -------------------------------------------------------------

::testing::AssertionResult run_gave(const Run& r, const Run& want) {
    std::string diff;
    if (r.out != want.out)
        diff += "\n  standard output: \"" + r.out + "\"\n         expected: \"" + want.out + "\"";
    if (r.err != want.err)
        diff += "\n  standard error:  \"" + r.err + "\"\n         expected: \"" + want.err + "\"";
    if (r.status != want.status)
        diff += "\n  exit status: " + std::to_string(r.status) + ", expected " + std::to_string(want.status);
    if (diff.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the run differs:" << diff;
}

LimitedRun run_limited(const std::string& program, const std::vector<std::string>& args, const std::string& dir,
                       const std::string& input, const std::string& path_prefix, int seconds) {
    const std::string in = dir + "/.lim_in", out = dir + "/.lim_out", err = dir + "/.lim_err";
    write_file(in, bytes(input.begin(), input.end()));
    std::string exe = program_path(program);
    pid_t pid = fork();
    if (pid == 0) {
        int i = open(in.c_str(), O_RDONLY);
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(i, 0);
        dup2(o, 1);
        dup2(e, 2);
        if (chdir(dir.c_str()) != 0) _exit(127);
        if (!path_prefix.empty()) {
            const char* old = getenv("PATH");
            std::string p = path_prefix + ":" + (old ? old : "/usr/bin:/bin");
            setenv("PATH", p.c_str(), 1);
        }
        std::vector<std::string> copy = args;
        std::vector<char*> argv{exe.data()};
        for (auto& a : copy) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    LimitedRun r;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int wstatus = 0;
    for (;;) {
        if (waitpid(pid, &wstatus, WNOHANG) == pid) {
            r.exited = WIFEXITED(wstatus);
            r.status = r.exited ? WEXITSTATUS(wstatus) : -1;
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &wstatus, 0);
            r.status = -2;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    bytes o = read_file(out), e = read_file(err);
    r.out.assign(o.begin(), o.end());
    r.err.assign(e.begin(), e.end());
    std::filesystem::remove(in);
    std::filesystem::remove(out);
    std::filesystem::remove(err);
    return r;
}

}  // namespace dvtest
