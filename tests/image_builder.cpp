#include "image_builder.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace dvtest {

std::uint32_t be(const unsigned char* p, int width) {
    std::uint32_t v = 0;
    for (int i = 0; i < width; ++i) v = (v << 8) | p[i];
    return v;
}

void put_be(unsigned char* p, int width, std::uint32_t v) {
    for (int i = width - 1; i >= 0; --i) {
        p[i] = static_cast<unsigned char>(v);
        v >>= 8;
    }
}

bytes os9_name(const std::string& name) {
    bytes b(name.begin(), name.end());
    if (!b.empty()) b.back() |= 0x80;
    return b;
}

bytes os9_entry(const std::string& name, int lsn) {
    bytes e(32, 0);
    const bytes nm = os9_name(name);
    std::copy(nm.begin(), nm.begin() + static_cast<long>(std::min<std::size_t>(nm.size(), 29)), e.begin());
    put_be(e.data() + 29, 3, static_cast<std::uint32_t>(lsn));
    return e;
}

bytes read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const bytes& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

ImageBuilder::ImageBuilder(int total_sectors, const std::string& disk_name, int sas, int dd_bit)
    : total_(total_sectors), cs_(256), c_(dd_bit) {
    // One bit per cluster; one-sector clusters get the formatter's extra byte.
    const int clusters = (total_ + c_ - 1) / c_;
    map_bytes_ = c_ == 1 ? total_ / 8 + 1 : (clusters + 7) / 8;
    int bitmap_sectors = map_bytes_ / 256 + 1;
    dd_dir_ = (1 + bitmap_sectors + c_ - 1) / c_ * c_;
    img_.assign(static_cast<std::size_t>(total_) * cs_, 0);
    unsigned char* s0 = img_.data();
    put_be(s0 + 0, 3, static_cast<std::uint32_t>(total_));
    s0[3] = 18;
    put_be(s0 + 4, 2, static_cast<std::uint32_t>(map_bytes_));
    put_be(s0 + 6, 2, static_cast<std::uint32_t>(dd_bit));
    put_be(s0 + 8, 3, static_cast<std::uint32_t>(dd_dir_));
    s0[13] = 0xFF;
    s0[14] = 0x01;
    s0[15] = 0x80;
    s0[16] = 2;
    put_be(s0 + 17, 2, 18);
    set_date(126, 3, 3, 14, 5);
    bytes nm = os9_name(disk_name);
    for (std::size_t i = 0; i < nm.size() && i < 32; ++i) s0[31 + i] = nm[i];
    s0[63] = 1;
    s0[64] = 1;
    s0[66] = 0x20;
    s0[67] = 1;
    s0[76] = 3;
    s0[77] = static_cast<unsigned char>(sas);
    // Clusters not wholly on the disk, up to the end of the bitmap sectors.
    mark_bits(total_ / c_, bitmap_sectors * 256 * 8 - total_ / c_);
    mark(0, 1 + bitmap_sectors, true);
    const int root_data = (7 + c_ - 1) / c_ * c_;
    mark(dd_dir_, c_ + root_data, true);
    make_fd(0xBF, {{dd_dir_ + c_, root_data}}, 0, 1, dd_dir_);
    add_entry(dd_dir_, "..", dd_dir_);
    add_entry(dd_dir_, ".", dd_dir_);
}

void ImageBuilder::mark_bits(int first, int count) {
    for (int k = first; k < first + count; ++k) {
        std::size_t byte = 256 + static_cast<std::size_t>(k) / 8;
        if (byte >= img_.size() || byte >= 256 + static_cast<std::size_t>(map_bytes_ / 256 + 1) * 256) continue;
        img_[byte] |= static_cast<unsigned char>(0x80 >> (k % 8));
    }
}

bool ImageBuilder::used(int unit) const {
    const int bit = unit / c_;
    return img_[256 + static_cast<std::size_t>(bit) / 8] & (0x80 >> (bit % 8));
}

void ImageBuilder::mark(int first, int count, bool in_use) {
    if (count <= 0) return;
    for (int k = first / c_; k <= (first + count - 1) / c_; ++k) {
        std::size_t byte = 256 + static_cast<std::size_t>(k) / 8;
        if (byte >= img_.size() || byte >= 256 + static_cast<std::size_t>(map_bytes_ / 256 + 1) * 256) continue;
        unsigned char mask = static_cast<unsigned char>(0x80 >> (k % 8));
        img_[byte] = in_use ? (img_[byte] | mask) : (img_[byte] & ~mask);
    }
}

int ImageBuilder::alloc_run(int count) {
    // Whole clusters, wholly on the disk.
    const int want = (count + c_ - 1) / c_;
    int run = 0;
    for (int b = 0; b < total_ / c_; ++b) {
        run = used(b * c_) ? 0 : run + 1;
        if (run == want) {
            const int first = (b - want + 1) * c_;
            mark(first, want * c_, true);
            return first;
        }
    }
    return -1;
}

int ImageBuilder::make_fd(unsigned char att, const seglist& segs, std::uint32_t size, int links, int at) {
    int lsn = at >= 0 ? at : alloc_run(1);
    if (lsn < 0) throw std::runtime_error("image full");
    mark(lsn, 1, true);
    unsigned char* fd = img_.data() + unit_off(lsn);
    std::fill(fd, fd + 256, 0);
    fd[0] = att;
    fd[3] = 126;
    fd[4] = 3;
    fd[5] = 3;
    fd[8] = static_cast<unsigned char>(links);
    fd[13] = 126;
    fd[14] = 3;
    fd[15] = 3;
    set_segments(lsn, segs);
    set_size(lsn, size);
    return lsn;
}

void ImageBuilder::set_size(int fd, std::uint32_t size) { put_be(img_.data() + unit_off(fd) + 9, 4, size); }
std::uint32_t ImageBuilder::size(int fd) const { return be(img_.data() + unit_off(fd) + 9, 4); }
void ImageBuilder::set_att(int fd, unsigned char att) { img_[unit_off(fd)] = att; }
void ImageBuilder::set_links(int fd, int links) { img_[unit_off(fd) + 8] = static_cast<unsigned char>(links); }

seglist ImageBuilder::segments(int fd) const {
    seglist segs;
    const unsigned char* e = img_.data() + unit_off(fd) + 16;
    for (int k = 0; k < 48; ++k, e += 5) {
        int lsn = static_cast<int>(be(e, 3));
        if (lsn == 0) break;
        segs.emplace_back(lsn, static_cast<int>(be(e + 3, 2)));
    }
    return segs;
}

void ImageBuilder::set_segments(int fd, const seglist& segs) {
    unsigned char* e = img_.data() + unit_off(fd) + 16;
    std::fill(e, e + 240, 0);
    for (std::size_t k = 0; k < segs.size() && k < 48; ++k) {
        put_be(e + 5 * k, 3, static_cast<std::uint32_t>(segs[k].first));
        put_be(e + 5 * k + 3, 2, static_cast<std::uint32_t>(segs[k].second));
    }
}

void ImageBuilder::write_data(int fd, std::uint32_t pos, const bytes& data) {
    std::size_t i = 0;
    long long start = 0;
    for (auto [lsn, num] : segments(fd)) {
        long long end = start + static_cast<long long>(num) * cs_;
        while (i < data.size() && pos + i < static_cast<std::uint64_t>(end)) {
            if (pos + i >= static_cast<std::uint64_t>(start))
                img_.at(static_cast<std::size_t>(unit_off(lsn) + (pos + i - start))) = data[i];
            ++i;
        }
        start = end;
    }
    if (i < data.size()) throw std::runtime_error("write_data past the allocation");
    if (pos + data.size() > size(fd)) set_size(fd, static_cast<std::uint32_t>(pos + data.size()));
}

bytes ImageBuilder::read_data(int fd) const {
    bytes out;
    std::uint32_t want = size(fd);
    for (auto [lsn, num] : segments(fd)) {
        for (long long b = 0; b < static_cast<long long>(num) * cs_ && out.size() < want; ++b)
            out.push_back(img_.at(static_cast<std::size_t>(unit_off(lsn) + b)));
    }
    return out;
}

void ImageBuilder::add_raw_entry(int dir, const bytes& raw32) {
    std::uint32_t at = size(dir);
    long long cap = 0;
    for (auto seg : segments(dir)) cap += static_cast<long long>(seg.second) * cs_;
    if (at + 32 > cap) {
        seglist segs = segments(dir);
        int lsn = alloc_run(8);
        if (lsn < 0) throw std::runtime_error("image full");
        segs.emplace_back(lsn, (8 + c_ - 1) / c_ * c_);
        set_segments(dir, segs);
    }
    write_data(dir, at, raw32);
}

void ImageBuilder::add_entry(int dir, const std::string& name, int lsn) { add_raw_entry(dir, os9_entry(name, lsn)); }

int ImageBuilder::add_file(int dir, const std::string& name, const bytes& data, unsigned char att,
                           const seglist& segs) {
    seglist use = segs;
    int fd = make_fd(att, {}, 0);
    if (use.empty()) {
        int units = static_cast<int>((data.size() + cs_ - 1) / cs_);
        if (units == 0) units = 1;
        units = (units + c_ - 1) / c_ * c_;  // whole clusters
        int lsn = alloc_run(units);
        if (lsn < 0) throw std::runtime_error("image full");
        use.emplace_back(lsn, units);
    } else {
        for (auto [lsn, num] : use) mark(lsn, num, true);
    }
    set_segments(fd, use);
    write_data(fd, 0, data);
    add_entry(dir, name, fd);
    return fd;
}

int ImageBuilder::add_dir(int parent, const std::string& name, unsigned char att) {
    int fd = make_fd(att, {}, 0);
    int lsn = alloc_run(8);
    if (lsn < 0) throw std::runtime_error("image full");
    set_segments(fd, {{lsn, (8 + c_ - 1) / c_ * c_}});
    add_entry(fd, "..", parent);
    add_entry(fd, ".", fd);
    add_entry(parent, name, fd);
    return fd;
}

void ImageBuilder::set_disk_name_raw(const bytes& field32) {
    for (int i = 0; i < 32; ++i) img_[31 + i] = i < static_cast<int>(field32.size()) ? field32[i] : 0;
}

void ImageBuilder::set_date(int year, int month, int day, int hour, int minute) {
    img_[26] = static_cast<unsigned char>(year);
    img_[27] = static_cast<unsigned char>(month);
    img_[28] = static_cast<unsigned char>(day);
    img_[29] = static_cast<unsigned char>(hour);
    img_[30] = static_cast<unsigned char>(minute);
}

void ImageBuilder::save(const std::string& path) const { write_file(path, img_); }

}  // namespace dvtest
