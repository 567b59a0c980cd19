// The reading programs' flows on an arbitrary image held in memory and an
// arbitrary path in it: open (with the check of LSN 0 and the directory
// walk), byte reads, line reads, seeks and the status calls, each result
// judged against what the image itself holds.
//
// Input: flags, two choice bytes, the length L of the in-image path, L bytes
// of path, then the image.  flags bits 0-1 pick the open mode (1, 0x81, 0,
// 1), bit 2 asks for raw access (a trailing '@').
#include <climits>
#include <cstring>
#include <memory>

#include "fuzz_util.h"
#include "os9conv.h"
#include "os9disk.h"
#include "rbf/memory_device.h"
#include "os9path.h"

using namespace dvfuzz;

namespace {

const int kSizes[] = {0, 1, 2, 31, 32, 33, 100, 255, 256, 257, 1023, 1024, 4096, -1, -256};

// A buffer of exactly n bytes on the heap, so that a write past what the
// caller offered is caught.
struct Buffer {
    std::unique_ptr<unsigned char[]> p;
    int n;
    explicit Buffer(int size) : p(new unsigned char[static_cast<std::size_t>(std::max(size, 0))]), n(size) {
        if (n > 0) std::memset(p.get(), 0xA5, static_cast<std::size_t>(n));
    }
};

void check_image_file_read(rbf::os9_path_id path, const bytes& img, int want, bool line) {
    FileModel f(img, rbf::path_fd_sector(path));
    DV_CHECK(f.ok(), "an open image file whose FD the image does not hold");
    const std::int64_t pos = rbf::path_position(path);
    Buffer buf(want);
    int size = want;
    rbf::error_code ec = line ? rbf::_os9_readln(path, buf.p.get(), &size) : rbf::_os9_read(path, buf.p.get(), &size);
    if (pos >= f.size()) {
        DV_CHECK(ec == rbf::E_EOF, "read at or past the end is not 211");
        DV_CHECK(rbf::path_position(path) == pos, "a read at the end moved the position");
        return;
    }
    const std::int64_t clip = std::min<std::int64_t>(std::max(want, 0), f.size() - pos);
    bytes avail = f.available(pos, clip);
    if (ec == rbf::E_GENERAL) {
        DV_CHECK(avail.empty() && clip > 0, "read failed with 1 where the file has bytes");
        DV_CHECK(rbf::path_position(path) == pos, "a failed read moved the position");
        return;
    }
    DV_CHECK(ec == rbf::E_SUCCESS, "read returned " + std::to_string(ec));
    const std::int64_t moved = rbf::path_position(path) - pos;
    std::int64_t expect = static_cast<std::int64_t>(avail.size());
    if (line) {
        DV_CHECK(size == clip, "readln's count is not the request clipped at the end");
        auto cr = std::find(avail.begin(), avail.end(), 0x0D);
        if (cr != avail.end()) expect = (cr - avail.begin()) + 1;
    } else {
        DV_CHECK(size == moved, "read's count is not the bytes it moved over");
    }
    DV_CHECK(moved == expect, "read delivered " + std::to_string(moved) + " bytes, the image holds " +
                                  std::to_string(expect));
    DV_CHECK(std::equal(avail.begin(), avail.begin() + expect, buf.p.get()), "read delivered other bytes than the image");
}

void check_raw_read(rbf::os9_path_id path, const bytes& img, int want) {
    Geometry g(img);
    const std::int64_t pos = rbf::path_position(path);
    Buffer buf(want);
    int size = want;
    rbf::error_code ec = rbf::_os9_read(path, buf.p.get(), &size);
    const std::int64_t end = std::min<std::int64_t>(g.disk_bytes(), static_cast<std::int64_t>(img.size()));
    if (pos >= g.disk_bytes()) {
        DV_CHECK(ec == rbf::E_EOF, "raw read past the disk is not 211");
        return;
    }
    const std::int64_t n = std::clamp<std::int64_t>(want, 0, std::max<std::int64_t>(end - pos, 0));
    if (want > 0 && n == 0) {
        DV_CHECK(ec == rbf::E_EOF, "raw read past the image is not 211");
        return;
    }
    DV_CHECK(ec == rbf::E_SUCCESS && size == n, "raw read count");
    DV_CHECK(rbf::path_position(path) == pos + n, "raw read position");
    DV_CHECK(std::equal(img.begin() + pos, img.begin() + pos + n, buf.p.get()), "raw read bytes");
}

void check_seek(rbf::os9_path_id path, const bytes& img, int pos, int mode) {
    const std::int64_t before = rbf::path_position(path);
    rbf::error_code ec = rbf::_os9_seek(path, pos, mode);
    if (rbf::path_is_raw(path)) {
        DV_CHECK(ec == rbf::E_SUCCESS && rbf::path_position(path) == before, "raw seek moved the read position");
        return;
    }
    FileModel f(img, rbf::path_fd_sector(path));
    long long base = mode == 0 ? 0 : mode == 1 ? before : f.size();
    long long target = base + pos;
    if (target < 0 || target > INT_MAX) {
        DV_CHECK(ec == rbf::E_GENERAL && rbf::path_position(path) == before, "seek out of range");
    } else {
        DV_CHECK(ec == rbf::E_SUCCESS && rbf::path_position(path) == target, "seek target");
    }
}

void check_status(rbf::os9_path_id path, const bytes& img, unsigned choice) {
    Geometry g(img);
    int size = -7;
    rbf::error_code ec = rbf::_os9_gs_size(path, &size);
    rbf::error_code eof = rbf::_os9_gs_eof(path);
    auto fdbuf = std::make_unique<rbf::fd_stats>();
    std::memset(fdbuf.get(), 0x5A, sizeof *fdbuf);
    int count = static_cast<int>(choice % 300) - 10;
    rbf::error_code gs = rbf::_os9_gs_fd(path, count, fdbuf.get());
    if (rbf::path_is_raw(path)) {
        DV_CHECK(ec == rbf::E_SUCCESS && size == std::min<std::int64_t>(g.disk_bytes(), INT_MAX), "raw size");
        DV_CHECK(eof == (rbf::path_position(path) >= g.disk_bytes() ? rbf::E_EOF : rbf::E_SUCCESS), "raw end of file");
        DV_CHECK(gs == rbf::E_FNA, "gs_fd on a raw path");
        return;
    }
    FileModel f(img, rbf::path_fd_sector(path));
    DV_CHECK(ec == rbf::E_SUCCESS && size == std::min<std::int64_t>(f.size(), INT_MAX), "file size");
    DV_CHECK(eof == (rbf::path_position(path) >= f.size() ? rbf::E_EOF : rbf::E_SUCCESS), "end of file");
    DV_CHECK(gs == rbf::E_SUCCESS, "gs_fd");
    std::size_t n = static_cast<std::size_t>(std::clamp(count, 0, 256));
    const auto* got = reinterpret_cast<const unsigned char*>(fdbuf.get());
    DV_CHECK(std::equal(f.fd().begin(), f.fd().begin() + static_cast<long>(n), got), "gs_fd bytes");
    for (std::size_t i = n; i < 256; ++i) DV_CHECK(got[i] == 0x5A, "gs_fd wrote past its count");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    Reader in(data, size);
    const unsigned flags = in.u8();
    Lcg rng{in.u16() * 2654435761u + 1};
    bytes path = in.take(in.u8());
    const bytes img = in.rest();

    // The fuzzed part is the path inside the image, as it is: ':' is no
    // separator there.
    std::string in_image(path.begin(), path.end());
    if (flags & 4) in_image += "@";
    const int modes[] = {rbf::MODE_READ, rbf::MODE_DIR | rbf::MODE_READ, 0, rbf::MODE_READ};
    const int mode = modes[flags & 3];

    const rbf::image_ref image = rbf::image_in_memory(img);
    rbf::os9_path_id p = reinterpret_cast<rbf::os9_path_id>(&rng);  // must be overwritten
    rbf::error_code ec = rbf::_os9_open(&p, image, in_image, mode);
    const Geometry g(img);
    if (ec != rbf::E_SUCCESS) {
        DV_CHECK(p == nullptr, "a failed open left a path");
        DV_CHECK(ec == rbf::E_GENERAL || ec == rbf::E_FNA || ec == rbf::E_PNNF || ec == rbf::E_BTYP,
                 "open returned " + std::to_string(ec));
        if (img.size() < 256) DV_CHECK(ec == rbf::E_BTYP, "image shorter than LSN 0 not 249");
        else if (!g.describes_disk()) DV_CHECK(ec == rbf::E_BTYP, "LSN 0 that describes no disk not 249");
        else if (!g.usable()) DV_CHECK(ec == rbf::E_GENERAL, "a cluster size OS-9 does not allow not 1");
        else DV_CHECK(ec != rbf::E_BTYP, "249 for an LSN 0 that describes a disk");
    } else {
        DV_CHECK(p != nullptr, "open succeeded without a path");
        DV_CHECK(img.size() >= 256 && g.describes_disk() && g.usable(), "open of an unusable image succeeded");
        if (!rbf::path_is_raw(p)) {
            FileModel f(img, rbf::path_fd_sector(p));
            DV_CHECK(f.ok(), "opened a file whose FD is not in the image");
            DV_CHECK((f.att() & 0x80) == (mode & 0x80), "opened across the directory bit");
            DV_CHECK((f.att() & mode & 0x83) == mode, "opened without the attributes");
            DV_CHECK(rbf::path_fd_sector(p) > 0 && rbf::path_fd_sector(p) < g.total, "FD outside the disk");
            if (mode & rbf::MODE_DIR) {
                std::string name = path.empty() ? "" : std::string(path.begin(), path.begin() + std::min<std::size_t>(path.size(), 12));
                rbf::error_code ex = rbf::_os9_file_exists(p, name);
                DV_CHECK(ex == 0 || ex == rbf::E_CEF || ex == rbf::E_GENERAL, "file_exists returned " + std::to_string(ex));
                rbf::_os9_seek(p, 0, 0);
            }
        }
        // Bounded by count only: every successful read moves forward.
        for (int step = 0; step < 1024; ++step) {
            unsigned op = rng.next();
            int want = kSizes[(op >> 3) % (sizeof kSizes / sizeof kSizes[0])];
            switch (op % 8) {
                case 0:
                    check_seek(p, img, static_cast<int>(rng.next() % 2048) - 1024, static_cast<int>(rng.next() % 3));
                    break;
                case 1:
                    check_status(p, img, rng.next());
                    break;
                case 2:
                case 3:
                case 4:
                    if (rbf::path_is_raw(p)) {
                        Buffer buf(want);
                        int n = want;
                        DV_CHECK(rbf::_os9_readln(p, buf.p.get(), &n) == rbf::E_FNA, "readln on a raw path");
                    } else {
                        check_image_file_read(p, img, want, true);
                    }
                    break;
                default:
                    if (rbf::path_is_raw(p))
                        check_raw_read(p, img, want);
                    else
                        check_image_file_read(p, img, want, false);
            }
            if (rbf::_os9_gs_eof(p) == rbf::E_EOF && (op & 0x4000)) break;
        }
        rbf::_os9_close(p);
    }
    DV_CHECK(rbf::image_contents(*image) == img, "a read-only flow changed the image");
    return 0;
}
