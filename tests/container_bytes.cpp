#include "container_bytes.h"

#include <algorithm>
#include <set>

namespace dvtest {

namespace {

std::uint32_t le16(const bytes& b, std::size_t at) { return b[at] | (std::uint32_t{b[at + 1]} << 8); }

unpacked failed(std::string why) {
    unpacked u;
    u.fault = std::move(why);
    return u;
}

// The sectors from `at` on, tracks of the geometry.
unpacked sectors_from(const bytes& file, std::size_t at, std::uint32_t spt, std::uint32_t sides) {
    unpacked u;
    u.sectors = spt;
    u.sides = sides;
    if (spt == 0 || sides == 0) return failed("no sectors or no sides");
    const std::size_t track = std::size_t{spt} * 256;
    if (at > file.size() || (file.size() - at) % track) return failed("not whole tracks");
    u.cylinders = static_cast<std::uint32_t>((file.size() - at) / track / sides);
    if (u.cylinders * track * sides != file.size() - at) return failed("a cylinder with one side only");
    u.disk.assign(file.begin() + static_cast<std::ptrdiff_t>(at), file.end());
    return u;
}

// A field's CRC after the three A1 marks, its mark and `n` bytes at `mark`.
bool field_crc_right(const bytes& t, std::size_t mark, std::size_t n) {
    if (mark < 3 || mark + 1 + n + 2 > t.size()) return false;
    for (std::size_t i = mark - 3; i < mark; ++i)
        if (t[i] != 0xA1) return false;
    const std::uint16_t crc = crc_ccitt(t.data() + mark - 3, 3 + 1 + n);
    return t[mark + 1 + n] == (crc >> 8) && t[mark + 1 + n + 1] == (crc & 0xFF);
}

}  // namespace

std::uint16_t crc_ccitt(const unsigned char* p, std::size_t n) {
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < n; ++i)
        for (int bit = 7; bit >= 0; --bit) {
            const bool top = ((crc >> 15) & 1) != (((p[i] >> bit) & 1) != 0);
            crc = static_cast<std::uint16_t>((crc << 1) ^ (top ? 0x1021 : 0));
        }
    return crc;
}

unpacked unpack_jvc(const bytes& file) {
    const std::size_t header = file.size() % 256;
    const unsigned char defaults[5] = {18, 1, 1, 1, 0};
    unsigned char h[5];
    for (std::size_t i = 0; i < 5; ++i) h[i] = i < header ? file[i] : defaults[i];
    if (h[2] != 1 || h[3] != 1 || h[4] != 0) return failed("size code, first ID or attributes not the defaults");
    return sectors_from(file, header, h[0], h[1]);
}

unpacked unpack_vdk(const bytes& file) {
    if (file.size() < 12 || file[0] != 'd' || file[1] != 'k') return failed("no \"dk\"");
    const std::size_t header = le16(file, 2);
    if (header != 12 || file[4] != 0x10 || file[5] != 0x10) return failed("header length or versions");
    if (file[10] != 0 || file[11] != 0) return failed("flags, compression or name");
    unpacked u = sectors_from(file, header, 18, file[9]);
    if (u.fault.empty() && u.cylinders != file[8]) u.fault = "cylinders in the header " + std::to_string(file[8]);
    return u;
}

unpacked unpack_dmk(const bytes& file) {
    if (file.size() < 16) return failed("no header");
    const std::size_t length = le16(file, 2);
    const std::uint32_t cylinders = file[1];
    const std::uint32_t sides = (file[4] & 0x10) ? 1 : 2;
    if (file[0] != 0 || (file[4] & ~0x10) != 0) return failed("write-protect or flags");
    for (std::size_t i = 5; i < 16; ++i)
        if (file[i] != 0) return failed("reserved header bytes");
    if (length <= 128 || length > 0x4000 || file.size() != 16 + std::size_t{cylinders} * sides * length)
        return failed("track length or file size");
    unpacked u;
    u.sides = sides;
    u.cylinders = cylinders;
    std::vector<bytes> tracks;
    for (std::uint32_t c = 0; c < cylinders; ++c)
        for (std::uint32_t h = 0; h < sides; ++h) {
            const auto from = file.begin() + static_cast<std::ptrdiff_t>(16 + (std::size_t{c} * sides + h) * length);
            const bytes t(from, from + static_cast<std::ptrdiff_t>(length));
            const std::string where = " (track " + std::to_string(c) + "/" + std::to_string(h) + ")";
            std::set<unsigned> ids;
            std::vector<std::pair<unsigned, bytes>> found;
            for (std::size_t e = 0; e < 64; ++e) {
                const std::uint32_t word = le16(t, 2 * e);
                if (word == 0) continue;
                const std::size_t fe = word & 0x3FFF;
                if (!(word & 0x8000)) return failed("an entry without double density" + where);
                if (fe < 128 + 15 || fe + 7 > t.size() || t[fe] != 0xFE) return failed("an entry not at an FE mark" + where);
                for (std::size_t i = fe - 15; i < fe - 3; ++i)
                    if (t[i] != 0) return failed("no sync before an ID" + where);
                if (!field_crc_right(t, fe, 4)) return failed("an ID CRC" + where);
                if (t[fe + 1] != c || t[fe + 2] != h || t[fe + 4] != 1) return failed("an ID's C, H or N" + where);
                const unsigned r = t[fe + 3];
                if (!ids.insert(r).second) return failed("a doubled ID" + where);
                // The data mark follows within the gap (43 bytes for double density).
                std::size_t fb = fe + 7;
                while (fb < std::min(t.size(), fe + 7 + 43) && t[fb] != 0xFB) ++fb;
                if (fb >= t.size() || t[fb] != 0xFB || !field_crc_right(t, fb, 256)) return failed("a data field" + where);
                found.emplace_back(r, bytes(t.begin() + static_cast<std::ptrdiff_t>(fb + 1),
                                            t.begin() + static_cast<std::ptrdiff_t>(fb + 257)));
            }
            if (c == 0 && h == 0) u.sectors = static_cast<std::uint32_t>(found.size());
            if (found.size() != u.sectors || u.sectors == 0) return failed("sectors per track differ" + where);
            std::sort(found.begin(), found.end());
            for (std::size_t i = 0; i < found.size(); ++i) {
                if (found[i].first != i + 1) return failed("IDs not 1 to the sectors of a track" + where);
                u.disk.insert(u.disk.end(), found[i].second.begin(), found[i].second.end());
            }
        }
    return u;
}

unpacked unpack(const std::string& kind, const bytes& file) {
    if (kind == "jvc") return unpack_jvc(file);
    if (kind == "vdk") return unpack_vdk(file);
    if (kind == "dmk") return unpack_dmk(file);
    unpacked u;
    u.disk = file;
    return u;
}

bytes same_dates(bytes img, const bytes& like) {
    const std::size_t n = std::min(img.size(), like.size());
    auto copy = [&](std::size_t at, std::size_t len) {
        if (at + len <= n) std::copy_n(like.begin() + static_cast<std::ptrdiff_t>(at), len, img.begin() + static_cast<std::ptrdiff_t>(at));
    };
    copy(26, 5);  // dd_dat
    if (n >= 11) {
        const std::size_t fd = ((std::size_t{img[8]} << 16) | (std::size_t{img[9]} << 8) | img[10]) * 256;
        copy(fd + 3, 5);   // fd_dat
        copy(fd + 13, 3);  // fd_creat
    }
    return img;
}

}  // namespace dvtest
