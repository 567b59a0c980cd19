// Shared pieces of the fuzz targets: a reader over the input bytes, a
// failure report that stops the run, and an independent model of how the
// bytes of a file lie in an image (used to judge what the library reads).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace dvfuzz {

using bytes = std::vector<unsigned char>;

[[noreturn]] inline void fail(const std::string& what) {
    std::fprintf(stderr, "dv fuzz finding: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

#define DV_CHECK(cond, what)                                                        \
    do {                                                                            \
        if (!(cond)) ::dvfuzz::fail(std::string(what) + " [" #cond "]");           \
    } while (0)

// Takes bytes off the front of the input; zeros once it is used up.
class Reader {
public:
    Reader(const unsigned char* data, std::size_t size) : p_(data), n_(size) {}
    bool empty() const { return n_ == 0; }
    std::size_t left() const { return n_; }
    unsigned u8() {
        if (n_ == 0) return 0;
        --n_;
        return *p_++;
    }
    unsigned u16() { return (u8() << 8) | u8(); }
    unsigned u24() { return (u16() << 8) | u8(); }
    std::uint32_t u32() { return (static_cast<std::uint32_t>(u16()) << 16) | u16(); }
    bytes take(std::size_t k) {
        k = std::min(k, n_);
        bytes out(p_, p_ + k);
        p_ += k;
        n_ -= k;
        return out;
    }
    bytes rest() { return take(n_); }

private:
    const unsigned char* p_;
    std::size_t n_;
};

// A small deterministic generator for choices made after the input's own
// bytes ran out.
struct Lcg {
    std::uint32_t s;
    unsigned next() {
        s = s * 1103515245u + 12345u;
        return s >> 16;
    }
};

inline std::uint32_t be(const unsigned char* p, int width) {
    std::uint32_t v = 0;
    for (int i = 0; i < width; ++i) v = (v << 8) | p[i];
    return v;
}

// The geometry fields of LSN 0 as the disk format defines them.
struct Geometry {
    std::int64_t total = 0;     // dd_tot, sectors
    std::int64_t map = 0;       // dd_map, bytes
    std::int64_t bit = 0;       // dd_bit, sectors per cluster (a bitmap bit)
    std::int64_t dir = 0;       // dd_dir
    std::int64_t cs = 256;      // bytes per sector: every LSN and length counts sectors
    std::int64_t sys_end = 0;   // first byte after LSN 0 and the bitmap sectors
    explicit Geometry(const bytes& img) {
        if (img.size() < 256) return;
        total = be(img.data(), 3);
        map = be(img.data() + 4, 2);
        bit = be(img.data() + 6, 2);
        dir = be(img.data() + 8, 3);
        sys_end = 256 + (map + 255) / 256 * 256;
    }
    std::int64_t disk_bytes() const { return total * cs; }
    // Whether these fields can describe a disk at all: a disk and a cluster
    // of at least one sector, a bitmap with a bit for each cluster and no
    // more than a sector beyond the bytes those bits take, and the root's FD
    // on the disk, past LSN 0 and the bitmap sectors.  An image that holds
    // a whole LSN 0 that fails this opens nowhere (249).
    bool describes_disk() const {
        if (total == 0 || bit == 0) return false;
        const std::int64_t clusters = (total + bit - 1) / bit;
        if (map * 8 < clusters || map > (clusters + 7) / 8 + 256) return false;
        const std::int64_t first_data_unit = (sys_end + cs - 1) / cs;
        return dir < total && dir >= first_data_unit;
    }
    // A disk whose clusters are 1, 2, 4, ... 32768 sectors: any other opens
    // nowhere (1).
    bool usable() const { return bit > 0 && bit <= 32768 && (bit & (bit - 1)) == 0; }
    std::int64_t clusters() const { return bit > 0 ? (total + bit - 1) / bit : 0; }
};

// What a file holds at a position, read straight from the image: the
// segment list maps file bytes to image bytes; a segment that reaches past
// dd_tot or into LSN 0 / the bitmap sectors is damaged and nothing is read
// through it or past it; an empty segment is passed over.
class FileModel {
public:
    FileModel(const bytes& img, std::int64_t fd_lsn) : img_(img), g_(img) {
        std::int64_t off = fd_lsn * g_.cs;
        ok_ = g_.cs > 0 && off >= 0 && off + 256 <= static_cast<std::int64_t>(img.size());
        if (ok_) fd_.assign(img.begin() + off, img.begin() + off + 256);
    }
    bool ok() const { return ok_; }
    std::int64_t size() const { return ok_ ? be(fd_.data() + 9, 4) : 0; }
    unsigned char att() const { return ok_ ? fd_[0] : 0; }
    const bytes& fd() const { return fd_; }

    // The bytes from `pos` that the library can deliver, at most `n`.
    bytes available(std::int64_t pos, std::int64_t n) const {
        bytes out;
        if (!ok_ || n <= 0) return out;
        out.reserve(static_cast<std::size_t>(std::min<std::int64_t>(n, 1 << 16)));
        std::int64_t start = 0;
        for (int k = 0; k < 48 && static_cast<std::int64_t>(out.size()) < n; ++k) {
            std::int64_t lsn = be(fd_.data() + 16 + 5 * k, 3);
            std::int64_t units = be(fd_.data() + 19 + 5 * k, 2);
            if (lsn == 0) break;
            std::int64_t end = start + units * g_.cs;
            std::int64_t at = pos + static_cast<std::int64_t>(out.size());
            if (end <= at) {
                start = end;
                continue;
            }
            if (lsn + units > g_.total || lsn * g_.cs < g_.sys_end) break;
            // The span of this segment from `at`, cut at the request and at
            // the end of the image.
            const std::int64_t off = lsn * g_.cs + (at - start);
            const std::int64_t img_size = static_cast<std::int64_t>(img_.size());
            if (off >= img_size) return out;
            std::int64_t len = std::min(end - at, n - static_cast<std::int64_t>(out.size()));
            const bool short_image = off + len > img_size;
            if (short_image) len = img_size - off;
            out.insert(out.end(), img_.begin() + off, img_.begin() + off + len);
            if (short_image) return out;
            start = end;
        }
        return out;
    }

private:
    const bytes& img_;
    Geometry g_;
    bytes fd_;
    bool ok_ = false;
};

}  // namespace dvfuzz
