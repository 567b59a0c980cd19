// mkimage: fills a formatted disk image with the benchmark inputs, through the
// library's own calls (create, write, close, makdir), as a program of this
// toolkit would.
//
//   mkimage put   <image:path> <host text file>
//       Creates the file and writes the host file into it in 64 KB writes,
//       each line feed stored as a carriage return.
//   mkimage files <image:dir> <count> <bytes>
//       Makes the directory and creates <count> files F0000, F0001, ... in
//       it, each holding <bytes> bytes.
//   mkimage modules <host file> <count> <bytes>
//       Writes a host file of <count> program modules back to back, each
//       of about <bytes> bytes, parity and CRC right: a boot file.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "os9disk.h"
#include "os9path.h"
#include "rbf/module.h"

using namespace rbf;

namespace {

constexpr int CHUNK = 64 * 1024;
constexpr int FILE_ATTRIBUTES = ATT_READ | ATT_WRITE | ATT_PREAD | ATT_PWRITE;

int fail(const char* what, const std::string& pathlist, error_code ec) {
    std::fprintf(stderr, "mkimage: %s '%s': error %d\n", what, pathlist.c_str(), ec);
    return 1;
}

// Writes all of `data` through the path in pieces of at most CHUNK bytes.
error_code write_all(os9_path_id path, const std::vector<u_char>& data) {
    for (std::size_t at = 0; at < data.size(); at += CHUNK) {
        int n = static_cast<int>(std::min<std::size_t>(CHUNK, data.size() - at));
        int size = n;
        if (error_code ec = _os9_write(path, data.data() + at, &size)) return ec;
        if (size != n) return E_GENERAL;
    }
    return E_SUCCESS;
}

int put_text(const std::string& pathlist, const char* host) {
    std::FILE* in = std::fopen(host, "rb");
    if (!in) {
        std::perror(host);
        return 1;
    }
    std::vector<u_char> text;
    std::vector<u_char> piece(CHUNK);
    std::size_t got;
    while ((got = std::fread(piece.data(), 1, piece.size(), in)) > 0) text.insert(text.end(), piece.begin(), piece.begin() + static_cast<long>(got));
    std::fclose(in);
    for (u_char& c : text)
        if (c == '\n') c = '\r';

    os9_path_id path = nullptr;
    if (error_code ec = _os9_create(&path, pathlist, MODE_WRITE, FILE_ATTRIBUTES)) return fail("cannot create", pathlist, ec);
    error_code ec = write_all(path, text);
    _os9_close(path);
    return ec ? fail("cannot write", pathlist, ec) : 0;
}

int usage() {
    std::fprintf(stderr,
                 "usage: mkimage put <image:path> <host text file>\n"
                 "       mkimage files <image:dir> <count> <bytes>\n"
                 "       mkimage modules <host file> <count> <bytes>\n");
    return 2;
}

int make_modules(const char* host, long count, long bytes) {
    std::vector<u_char> out;
    for (long k = 0; k < count; ++k) {
        std::vector<u_char> body(static_cast<std::size_t>(std::max(4L, bytes - 20)));
        for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<u_char>(i * 7 + static_cast<std::size_t>(k));
        const std::vector<u_char> m = module_build("Mod" + std::to_string(k), 1, 1, 8, 1, body);
        out.insert(out.end(), m.begin(), m.end());
    }
    std::FILE* f = std::fopen(host, "wb");
    if (!f || std::fwrite(out.data(), 1, out.size(), f) != out.size() || std::fclose(f) != 0) {
        std::perror(host);
        return 1;
    }
    return 0;
}

int make_files(const std::string& dir, long count, long bytes) {
    // The image is held across the files, as a program making many files
    // in one run holds it.
    const std::size_t colon = dir.find(':');
    if (colon == std::string::npos) return usage();
    image_ref image;
    if (error_code ec = image_open(dir.substr(0, colon), true, &image)) return fail("cannot open", dir, ec);
    const std::string in_image = dir.substr(colon + 1);
    if (error_code ec = _os9_makdir(image, in_image)) return fail("cannot make directory", dir, ec);
    std::vector<u_char> data(static_cast<std::size_t>(bytes));
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<u_char>('a' + i % 26);
    for (long i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/F%04ld", i);
        std::string pathlist = in_image + name;
        os9_path_id path = nullptr;
        if (error_code ec = _os9_create(&path, image, pathlist, MODE_WRITE, FILE_ATTRIBUTES))
            return fail("cannot create", pathlist, ec);
        error_code ec = write_all(path, data);
        _os9_close(path);
        if (ec) return fail("cannot write", pathlist, ec);
    }
    return 0;
}


}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    std::string cmd = argv[1];
    if (cmd == "put" && argc == 4) return put_text(argv[2], argv[3]);
    if (cmd == "modules" && argc == 5) return make_modules(argv[2], std::atol(argv[3]), std::atol(argv[4]));
    if (cmd == "files" && argc == 5) {
        long count = std::atol(argv[3]);
        long bytes = std::atol(argv[4]);
        if (count < 0 || count > 99999 || bytes < 0) return usage();
        return make_files(argv[2], count, bytes);
    }
    return usage();
}
