// dvtype: prints a text file from a disk image (or a host file), with each
// line's carriage return written as a line feed.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "misc/frame.h"
#include "os9conv.h"
#include "os9disk.h"
#include "os9path.h"

using namespace rbf;

namespace {

const char* const helpMessage[] = {
    "Syntax: dvtype {[<opts>]} {<file> [<...>]} {[<opts>]}\n",
    "Usage:  display contents of text files\n",
    "Options:\n",
    nullptr,
};

const dv::Program program{.name = "dvtype", .help = helpMessage};

// A line is read as a record of at most this many bytes, up to and
// including its carriage return; a longer line is several records.
constexpr int LINE_MAX_BYTES = 1024;

// Host files: record by record through line reads (a line feed is handed
// over as a carriage return).  False when a read failed.
bool type_lines(os9_path_id path) {
    // Only the bytes a read delivered may be written: the buffer is zero
    // beyond them.  A line read stores at most *size bytes (and a host line
    // one more, its 0x0D), so clearing that much before the next read keeps
    // the whole buffer clean.
    char buffer[LINE_MAX_BYTES];
    std::size_t dirty = sizeof buffer;
    while (_os9_gs_eof(path) == E_SUCCESS) {
        std::memset(buffer, 0, dirty);
        int size = LINE_MAX_BYTES;
        if (_os9_readln(path, buffer, &size) != E_SUCCESS) return false;
        // The line ends at its first carriage return or zero byte.
        dirty = std::min(sizeof buffer, static_cast<std::size_t>(std::max(size, 0)) + 1);
        const char* cr = static_cast<const char*>(std::memchr(buffer, '\r', dirty));
        std::size_t line = cr ? static_cast<std::size_t>(cr - buffer) : dirty;
        std::size_t n = strnlen(buffer, line);
        std::fwrite(buffer, 1, n, stdout);
        if (cr && n == line) std::putchar('\n');
    }
    return true;
}

// Files in an image: read in large blocks and cut into the same records
// here, each printed up to its first carriage return or zero byte, the
// carriage return as a line feed.  False when the image ends before the
// file's size says.
bool type_blocks(os9_path_id path) {
    constexpr int BLOCK = 1 << 20;
    std::vector<char> in(BLOCK);
    std::string out;
    out.reserve(BLOCK + BLOCK / 8);
    std::size_t in_record = 0;  // bytes of the current record met so far
    bool stopped = false;       // a zero byte ended the current record's output
    for (;;) {
        int size = BLOCK;
        const error_code ec = _os9_read(path, in.data(), &size);
        if (ec == E_EOF) break;
        if (ec != E_SUCCESS) {
            std::fwrite(out.data(), 1, out.size(), stdout);
            return false;
        }
        char* const block = in.data();
        const char* const end = block + size;
        // Most text holds no zero byte: then every record is printed whole
        // and each carriage return becomes a line feed in place.  Only the
        // place in the current record is carried to the next block.
        if (!stopped && !std::memchr(block, 0, static_cast<std::size_t>(size))) {
            char* last_cr = nullptr;
            for (char* cr = block; (cr = static_cast<char*>(std::memchr(cr, '\r', static_cast<std::size_t>(end - cr))));) {
                *cr = '\n';
                last_cr = cr++;
            }
            const auto since = static_cast<std::size_t>(last_cr ? end - (last_cr + 1) : static_cast<std::ptrdiff_t>(in_record) + size);
            in_record = since % LINE_MAX_BYTES;
            std::fwrite(block, 1, static_cast<std::size_t>(size), stdout);
            continue;
        }
        const char* at = block;
        while (at < end) {
            const auto span = std::min<std::size_t>(LINE_MAX_BYTES - in_record, static_cast<std::size_t>(end - at));
            const char* cr = static_cast<const char*>(std::memchr(at, '\r', span));
            const char* stop = cr ? cr : at + span;
            if (!stopped) {
                const char* zero = static_cast<const char*>(std::memchr(at, 0, static_cast<std::size_t>(stop - at)));
                out.append(at, zero ? zero : stop);
                stopped = zero != nullptr;
            }
            if (cr) {
                if (!stopped) out.push_back('\n');
                in_record = 0;
                stopped = false;
                at = cr + 1;
            } else {
                in_record += span;
                at += span;
                if (in_record == LINE_MAX_BYTES) {  // a full record without its carriage return
                    in_record = 0;
                    stopped = false;
                }
            }
        }
        std::fwrite(out.data(), 1, out.size(), stdout);
        out.clear();
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return true;
}

// Prints one operand; 0, or the error of opening it.
int type_operand(const char* argv0, const char* p) {
    os9_path_id path = nullptr;
    error_code ec = _os9_open(&path, p, MODE_READ);
    if (ec == E_SUCCESS && path_is_raw(path) && !path_is_host(path)) {
        // A raw image is a byte stream, not a text file.
        _os9_close(path);
        ec = E_FNA;
    }
    if (ec != E_SUCCESS) {
        // Standard output holds only the file's text: a redirected copy
        // never gets the failure line inside it.
        std::fflush(stdout);
        dv::report_failure(argv0, ec, "opening", p);
        return ec;
    }
    const bool whole = path_is_host(path) ? type_lines(path) : type_blocks(path);
    if (!whole && rbf::image_read_failed()) {
        // A sector the container could not deliver (a bad CRC): an error,
        // naming the sector, not a file cut short.
        std::fflush(stdout);
        _os9_close(path);
        return dv::report_failure(argv0, E_GENERAL, "reading", p);
    }
    if (!whole) {
        // The status stays 0 (what was there is printed), but the reader
        // learns that the file ends before its size says.
        std::fflush(stdout);
        std::fprintf(stderr, "%s: '%s' is cut short: it ends before its size says\n", argv0, p);
    }
    _os9_close(path);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    dv::CommandLine line = dv::parse(program, argc, argv);
    if (line.exit) return *line.exit;
    static char out_buffer[1 << 16];
    std::setvbuf(stdout, out_buffer, _IOFBF, sizeof out_buffer);
    // Every operand in turn, as cat does; the status is the first failure's.
    int status = 0;
    for (const char* p : line.operands)
        if (int ec = type_operand(argv[0], p); ec && !status) status = ec;
    std::fflush(stdout);
    return status;
}
