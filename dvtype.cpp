// dvtype: prints a text file from a disk image (or a host file), with each
// line's carriage return written as a line feed.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "misc/frame.h"
#include "os9conv.h"
#include "os9path.h"

using namespace rbf;

namespace {

const char* const helpMessage[] = {
    "Syntax: dvtype {[<opts>]} {<file> [<...>]} {[<opts>]}\n",
    "Usage:  display contents of text files\n",
    "Options:\n",
    nullptr,
};

const dv::Program program{.name = "dvtype", .help = helpMessage, .help_without_operands = true};

constexpr int LINE_MAX_BYTES = 1024;

}  // namespace

int main(int argc, char** argv) {
    dv::CommandLine line = dv::parse(program, argc, argv);
    if (line.exit) return *line.exit;
    const char* p = line.operands.front();

    os9_path_id path = nullptr;
    error_code ec = _os9_open(&path, p, MODE_READ);
    if (ec == E_SUCCESS && path->israw && !path->isnative) {
        // A raw image is a byte stream, not a text file.
        _os9_close(path);
        ec = E_FNA;
    }
    if (ec != E_SUCCESS) {
        std::printf("Error %d opening %s\n", ec, p);
        dv::explain_busy(argv[0], ec);
        return ec;
    }

    static char out_buffer[1 << 16];
    std::setvbuf(stdout, out_buffer, _IOFBF, sizeof out_buffer);
    // Only the bytes a read delivered may be written: the buffer is zero
    // beyond them.  A line read stores at most *size bytes (and a host line
    // one more, its 0x0D), so clearing that much before the next read keeps
    // the whole buffer clean.
    char buffer[LINE_MAX_BYTES];
    std::size_t dirty = sizeof buffer;
    while (_os9_gs_eof(path) == E_SUCCESS) {
        std::memset(buffer, 0, dirty);
        int size = LINE_MAX_BYTES;
        if (_os9_readln(path, buffer, &size) != E_SUCCESS) {
            // The status stays 0 (what was there is printed), but the reader
            // learns that the file ends before its size says.
            std::fflush(stdout);
            std::fprintf(stderr, "%s: '%s' is cut short: it ends before its size says\n", argv[0], p);
            break;
        }
        // The line ends at its first carriage return or zero byte.
        dirty = std::min(sizeof buffer, static_cast<std::size_t>(std::max(size, 0)) + 1);
        const char* cr = static_cast<const char*>(std::memchr(buffer, '\r', dirty));
        std::size_t line = cr ? static_cast<std::size_t>(cr - buffer) : dirty;
        std::size_t n = strnlen(buffer, line);
        std::fwrite(buffer, 1, n, stdout);
        if (cr && n == line) std::putchar('\n');
    }
    _os9_close(path);
    std::fflush(stdout);
    return 0;
}
