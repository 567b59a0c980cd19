// Containers built and read back by the tests on their own.
#include "container_builders.h"

#include <algorithm>
#include <array>
#include <map>
#include <tuple>

namespace dvtest {

namespace {

constexpr unsigned SPT = 18;
constexpr unsigned DMK_TRACK = 0x3000;

void le16(bytes& b, std::size_t at, unsigned v) {
    b[at] = static_cast<unsigned char>(v);
    b[at + 1] = static_cast<unsigned char>(v >> 8);
}

bytes padded(const bytes& raw, std::size_t n) {
    bytes b = raw;
    b.resize(n, 0);
    return b;
}

// Sector R of a track comes at place interleave[R-1]: the IDs are not in
// their place order.
unsigned id_at_place(unsigned place) { return (place % 2 == 0) ? place / 2 + 1 : SPT / 2 + place / 2 + 1; }

}  // namespace

std::uint16_t crc_ccitt(const unsigned char* p, std::size_t n, std::uint16_t crc) {
    static const std::array<std::uint16_t, 256> table = [] {
        std::array<std::uint16_t, 256> t{};
        for (unsigned i = 0; i < 256; ++i) {
            std::uint16_t c = static_cast<std::uint16_t>(i << 8);
            for (int b = 0; b < 8; ++b) c = static_cast<std::uint16_t>(c & 0x8000 ? (c << 1) ^ 0x1021 : c << 1);
            t[i] = c;
        }
        return t;
    }();
    for (std::size_t i = 0; i < n; ++i) crc = static_cast<std::uint16_t>((crc << 8) ^ table[((crc >> 8) ^ p[i]) & 0xFF]);
    return crc;
}

bytes make_jvc(const bytes& raw, unsigned header_bytes, unsigned sides) {
    const unsigned char h[5] = {SPT, static_cast<unsigned char>(sides), 1, 1, 0};
    bytes b(h, h + header_bytes);
    b.insert(b.end(), raw.begin(), raw.end());
    return b;
}

bytes make_vdk(const bytes& raw, unsigned cylinders, unsigned heads, unsigned char flags, unsigned char compression) {
    bytes b = {'d', 'k', 12, 0, 0x10, 0x10, 'T', 0x01, static_cast<unsigned char>(cylinders),
               static_cast<unsigned char>(heads), flags, compression};
    const bytes data = padded(raw, std::size_t{cylinders} * heads * SPT * 256);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

bytes make_dmk(const bytes& raw, unsigned cylinders, unsigned sides, bool single_density) {
    const bytes data = padded(raw, std::size_t{cylinders} * sides * SPT * 256);
    bytes b(16, 0);
    b[1] = static_cast<unsigned char>(cylinders);
    le16(b, 2, DMK_TRACK);
    b[4] = static_cast<unsigned char>(sides == 1 ? 0x10 : 0);
    const unsigned stride = single_density ? 2 : 1;
    for (unsigned c = 0; c < cylinders; ++c)
        for (unsigned h = 0; h < sides; ++h) {
            bytes t(DMK_TRACK, single_density ? 0xFF : 0x4E);
            std::fill_n(t.begin(), 128, 0);  // the sector table: unused pointers are zero
            std::size_t at = 128 + 32;
            auto put = [&](const bytes& field) {
                for (unsigned char x : field)
                    for (unsigned k = 0; k < stride; ++k) t[at++] = x;
            };
            for (unsigned place = 0; place < SPT; ++place) {
                const unsigned r = id_at_place(place);
                put(bytes(single_density ? 6 : 12, 0));
                const bytes sync = single_density ? bytes{} : bytes{0xA1, 0xA1, 0xA1};
                put(sync);
                le16(t, 2 * place, static_cast<unsigned>(at) | (single_density ? 0 : 0x8000));
                bytes id = sync;
                id.insert(id.end(), {0xFE, static_cast<unsigned char>(c), static_cast<unsigned char>(h),
                                     static_cast<unsigned char>(r), 1});
                std::uint16_t crc = crc_ccitt(id.data(), id.size());
                bytes idf(id.begin() + static_cast<long>(sync.size()), id.end());
                idf.push_back(static_cast<unsigned char>(crc >> 8));
                idf.push_back(static_cast<unsigned char>(crc));
                put(idf);
                put(bytes(single_density ? 11 : 22, single_density ? 0xFF : 0x4E));
                put(bytes(single_density ? 6 : 12, 0));
                put(sync);
                bytes field = sync;
                field.push_back(0xFB);
                const std::size_t lsn = (std::size_t{c} * sides + h) * SPT + (r - 1);
                field.insert(field.end(), data.begin() + static_cast<long>(lsn * 256),
                             data.begin() + static_cast<long>(lsn * 256 + 256));
                crc = crc_ccitt(field.data(), field.size());
                bytes df(field.begin() + static_cast<long>(sync.size()), field.end());
                df.push_back(static_cast<unsigned char>(crc >> 8));
                df.push_back(static_cast<unsigned char>(crc));
                put(df);
                put(bytes(24, single_density ? 0xFF : 0x4E));
            }
            b.insert(b.end(), t.begin(), t.end());
        }
    return b;
}

bytes make_imd(const bytes& raw, unsigned cylinders, unsigned sides) {
    const std::string head = "IMD 1.18: 09/12/2026 05:00:00\r\nmade by the tests\r\n\x1A";
    bytes b(head.begin(), head.end());
    const bytes data = padded(raw, std::size_t{cylinders} * sides * SPT * 256);
    for (unsigned c = 0; c < cylinders; ++c)
        for (unsigned h = 0; h < sides; ++h) {
            b.insert(b.end(), {5, static_cast<unsigned char>(c), static_cast<unsigned char>(h), SPT, 1});
            for (unsigned place = 0; place < SPT; ++place) b.push_back(static_cast<unsigned char>(id_at_place(place) - 1));
            for (unsigned place = 0; place < SPT; ++place) {
                const std::size_t lsn = (std::size_t{c} * sides + h) * SPT + (id_at_place(place) - 1);
                const auto from = data.begin() + static_cast<long>(lsn * 256);
                bool same = true;
                for (int k = 1; k < 256; ++k) same = same && from[k] == from[0];
                if (same) {
                    b.push_back(2);  // compressed: one fill byte
                    b.push_back(from[0]);
                } else {
                    b.push_back(1);
                    b.insert(b.end(), from, from + 256);
                }
            }
        }
    return b;
}

namespace {

struct found {
    std::size_t id_at, data_at;
    unsigned stride;
    bool mfm;
};

// Every sector of a DMK image by (C, H, R).
std::map<std::tuple<unsigned, unsigned, unsigned>, found> dmk_map(const bytes& dmk, std::string* problem) {
    std::map<std::tuple<unsigned, unsigned, unsigned>, found> m;
    const unsigned track = dmk[2] | (dmk[3] << 8);
    const unsigned sides = (dmk[4] & 0x10) ? 1 : 2;
    for (unsigned t = 0; t < dmk[1] * sides; ++t) {
        const std::size_t base = 16 + std::size_t{t} * track;
        if (base + track > dmk.size()) break;
        for (unsigned k = 0; k < 64; ++k) {
            const unsigned w = dmk[base + 2 * k] | (dmk[base + 2 * k + 1] << 8);
            if (!w) break;
            const bool mfm = w & 0x8000;
            const unsigned stride = mfm || (dmk[4] & 0xC0) ? 1 : 2;
            const std::size_t id = base + (w & 0x3FFF);
            if ((w & 0x3FFF) + 100 * stride > track) continue;
            auto at = [&](std::size_t from, unsigned i) { return dmk[from + std::size_t{i} * stride]; };
            bytes field = mfm ? bytes{0xA1, 0xA1, 0xA1} : bytes{};
            for (unsigned i = 0; i < 5; ++i) field.push_back(at(id, i));
            const std::uint16_t crc = static_cast<std::uint16_t>((at(id, 5) << 8) | at(id, 6));
            if (problem && problem->empty() && crc_ccitt(field.data(), field.size()) != crc)
                *problem = "ID CRC of track " + std::to_string(t);
            std::size_t data = 0;
            for (unsigned i = 7; i < 80; ++i)
                if ((at(id, i) == 0xFB || at(id, i) == 0xF8) && (!mfm || at(id, i - 1) == 0xA1)) {
                    data = id + std::size_t{i} * stride;
                    break;
                }
            m[{at(id, 1), at(id, 2), at(id, 3)}] = {id, data, stride, mfm};
        }
    }
    return m;
}

}  // namespace

bytes dmk_sectors(const bytes& dmk, std::string* problem) {
    problem->clear();
    const auto m = dmk_map(dmk, problem);
    const unsigned sides = (dmk[4] & 0x10) ? 1 : 2;
    bytes out(std::size_t{dmk[1]} * sides * SPT * 256, 0);
    for (const auto& [id, f] : m) {
        const auto [c, h, r] = id;
        const std::size_t lsn = (std::size_t{c} * sides + h) * SPT + (r - 1);
        if (r < 1 || r > SPT || lsn * 256 >= out.size() || f.data_at == 0 ||
            f.data_at + 259 * std::size_t{f.stride} > dmk.size()) {
            if (problem->empty()) *problem = "sector " + std::to_string(c) + "/" + std::to_string(h) + "/" +
                                             std::to_string(r) + " out of place or without data";
            continue;
        }
        bytes field = f.mfm ? bytes{0xA1, 0xA1, 0xA1} : bytes{};
        for (unsigned i = 0; i < 259; ++i) field.push_back(dmk[f.data_at + std::size_t{i} * f.stride]);
        const std::size_t n = field.size();
        const std::uint16_t crc = static_cast<std::uint16_t>((field[n - 2] << 8) | field[n - 1]);
        if (problem->empty() && crc_ccitt(field.data(), n - 2) != crc)
            *problem = "data CRC of sector " + std::to_string(c) + "/" + std::to_string(h) + "/" + std::to_string(r);
        std::copy(field.end() - 258, field.end() - 2, out.begin() + static_cast<long>(lsn * 256));
    }
    return out;
}

std::size_t dmk_data_at(const bytes& dmk, unsigned c, unsigned h, unsigned r, unsigned* stride) {
    const auto m = dmk_map(dmk, nullptr);
    auto it = m.find({c, h, r});
    if (it == m.end()) return 0;
    *stride = it->second.stride;
    return it->second.data_at;
}

std::size_t dmk_id_at(const bytes& dmk, unsigned c, unsigned h, unsigned r) {
    const auto m = dmk_map(dmk, nullptr);
    auto it = m.find({c, h, r});
    return it == m.end() ? 0 : it->second.id_at;
}

}  // namespace dvtest
