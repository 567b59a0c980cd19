// Builds RBF disk images byte by byte for the tests, without the library:
// LSN 0, the bitmap, FDs with chosen segment lists and directory entries.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace dvtest {

using bytes = std::vector<unsigned char>;
using seglist = std::vector<std::pair<int, int>>;  // (first unit, units)

class ImageBuilder {
public:
    // A freshly formatted disk laid out as the formatter lays it out: LSN 0,
    // dd_map / 256 + 1 bitmap sectors, the root FD at dd_dir, 7 root data
    // sectors, the rest free.  With dd_bit > 1 every LSN still counts
    // sectors; the bitmap has a bit per cluster, and LSN 0 with the bitmap,
    // each FD and each new segment take whole clusters.
    explicit ImageBuilder(int total_sectors = 630, const std::string& disk_name = "CoCo Disk", int sas = 8,
                          int dd_bit = 1);

    bytes& image() { return img_; }
    int root() const { return dd_dir_; }
    int total() const { return total_; }

    // Bitmap, by sector: a sector is in use when its cluster's bit is set.
    bool used(int unit) const;
    void mark(int first, int count, bool in_use);  // the clusters of these sectors
    int alloc_run(int count);  // lowest run of whole free clusters holding `count` sectors, marked; -1 if none

    // FD sectors.  make_fd takes the lowest free unit (or `at`).
    int make_fd(unsigned char att, const seglist& segs, std::uint32_t size, int links = 1, int at = -1);
    void set_size(int fd, std::uint32_t size);
    std::uint32_t size(int fd) const;
    seglist segments(int fd) const;
    void set_segments(int fd, const seglist& segs);
    void set_att(int fd, unsigned char att);
    void set_links(int fd, int links);

    // File bytes through the segment list (must fit the allocation).
    void write_data(int fd, std::uint32_t pos, const bytes& data);
    bytes read_data(int fd) const;

    // Directory entries: appended at the end, the directory growing by a
    // segment of 8 units when full.  `raw_name` is stored as given.
    void add_entry(int dir, const std::string& name, int lsn);
    void add_raw_entry(int dir, const bytes& raw32);

    // A file of `data` in one segment (or the given segments) under `dir`.
    int add_file(int dir, const std::string& name, const bytes& data, unsigned char att = 0x1B,
                 const seglist& segs = {});
    int add_file(int dir, const std::string& name, const std::string& text, unsigned char att = 0x1B) {
        return add_file(dir, name, bytes(text.begin(), text.end()), att);
    }
    // A directory holding ".." and "." in one segment of 8 units.
    int add_dir(int parent, const std::string& name, unsigned char att = 0xBF);

    // LSN 0 fields.
    void set_disk_name_raw(const bytes& field32);
    void set_date(int year, int month, int day, int hour, int minute);
    void set_lsn0_byte(int offset, unsigned char value) { img_[offset] = value; }

    // Writes the image to a host file.
    void save(const std::string& path) const;

private:
    void mark_bits(int first, int count);  // sets bits (clusters) directly
    long long unit_off(int unit) const { return static_cast<long long>(unit) * cs_; }
    bytes img_;
    int total_;
    int cs_;
    int c_;  // sectors per cluster
    int dd_dir_;
    int map_bytes_;
};

// Big-endian helpers for the tests' own checks.
std::uint32_t be(const unsigned char* p, int width);
void put_be(unsigned char* p, int width, std::uint32_t v);

// Name stored on disk with bit 7 on its last character.
bytes os9_name(const std::string& name);
// A directory entry as OS-9 writes it: the name (up to 29 characters, bit 7
// on its last), zeros after it, the FD's LSN in bytes 29-31.
bytes os9_entry(const std::string& name, int lsn);

// Reads a host file whole / writes one.
bytes read_file(const std::string& path);
void write_file(const std::string& path, const bytes& data);

}  // namespace dvtest
