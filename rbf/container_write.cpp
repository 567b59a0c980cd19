// Making containers from a disk's sectors: JVC, VDK and DMK images, and the
// offset of a partition as a pathlist spells it.
#include "rbf/container_write.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "rbf/bigendian.h"
#include "rbf/littleendian.h"

namespace rbf {

namespace {

// ---- what each container can count -------------------------------------

constexpr std::uint32_t JVC_MAX_SECTORS = 255;         // header byte 0
constexpr std::uint64_t JVC_MAX_DISK_SECTORS = 1u << 24;  // what dd_tot can address
constexpr std::uint32_t VDK_SECTORS = 18;              // fixed by the format
constexpr std::uint32_t BYTE_MAX_CYLINDERS = 255;      // VDK byte 8, DMK byte 1

// ---- a DMK track --------------------------------------------------------

constexpr std::size_t DMK_HEADER = 16;
constexpr std::size_t DMK_TABLE_ENTRIES = 64;
constexpr std::size_t DMK_TABLE = DMK_TABLE_ENTRIES * 2;
constexpr std::size_t DMK_TRACK_DOUBLE_DENSITY = 0x1900;  // 6272 bytes of track: 18 x 256 and their gaps
constexpr std::size_t DMK_TRACK_MAX = 0x4000;             // offsets in the table have 14 bits
constexpr std::uint16_t DMK_DOUBLE_DENSITY = 0x8000;
constexpr u_char DMK_ONE_SIDE = 0x10;

constexpr u_char GAP = 0x4E;
constexpr std::size_t GAP_LEAD = 32;   // after the index
constexpr std::size_t SYNC = 12;       // zeros before each mark
constexpr std::size_t GAP_ID = 22;     // between a sector's ID and its data
constexpr std::size_t GAP_SECTOR = 24; // between sectors
constexpr std::size_t GAP_TAIL = 16;   // at least, before the index again
constexpr std::size_t ID_FIELD = 3 + 1 + 4 + 2;              // A1 A1 A1 FE C H R N CRC
constexpr std::size_t DATA_FIELD = 3 + 1 + SECTOR_SIZE + 2;  // A1 A1 A1 FB data CRC
constexpr std::size_t SECTOR_BYTES = SYNC + ID_FIELD + GAP_ID + SYNC + DATA_FIELD + GAP_SECTOR;
constexpr u_char SIZE_CODE_256 = 1;  // 128 << 1

constexpr std::uint32_t DMK_MAX_SECTORS = static_cast<std::uint32_t>(
    std::min((DMK_TRACK_MAX - DMK_TABLE - GAP_LEAD - GAP_TAIL) / SECTOR_BYTES, DMK_TABLE_ENTRIES));

std::size_t dmk_track_length(std::uint32_t sectors) {
    return std::max(DMK_TRACK_DOUBLE_DENSITY, DMK_TABLE + GAP_LEAD + sectors * SECTOR_BYTES + GAP_TAIL);
}

// ---- VDK ----------------------------------------------------------------

constexpr std::size_t VDK_HEADER = 12;
constexpr u_char VDK_VERSION = 0x10;
constexpr u_char VDK_SOURCE_ID = 0;  // no source of a registered name
constexpr u_char VDK_SOURCE_VERSION = 0;

// ---- geometry -----------------------------------------------------------

std::uint64_t disk_sectors(std::uint64_t bytes) { return (bytes + SECTOR_SIZE - 1) / SECTOR_SIZE; }

// Cylinders that hold `sectors` in tracks of the geometry, at least one.
std::uint64_t cylinders_needed(const track_geometry& g, std::uint64_t sectors) {
    const std::uint64_t per_cylinder = std::uint64_t{g.sectors_per_track} * g.sides;
    return std::max<std::uint64_t>(1, (sectors + per_cylinder - 1) / per_cylinder);
}

// The cylinders a container gets: those given, or those the bytes fill.
std::uint64_t cylinders_of(const track_geometry& g, std::uint64_t disk_bytes) {
    return g.cylinders ? g.cylinders : cylinders_needed(g, disk_sectors(disk_bytes));
}

// The disk's bytes of LSN `lsn`, zeros past its end.
void copy_sector(std::span<const u_char> disk, std::uint64_t lsn, u_char* to) {
    const std::uint64_t at = lsn * SECTOR_SIZE;
    std::memset(to, 0, SECTOR_SIZE);
    if (at < disk.size())
        std::memcpy(to, disk.data() + at, static_cast<std::size_t>(std::min<std::uint64_t>(SECTOR_SIZE, disk.size() - at)));
}

// The disk's sectors padded with zeros to whole tracks, after `header`.
std::vector<u_char> sectors_after(std::vector<u_char> header, std::span<const u_char> disk, std::uint64_t sectors) {
    const std::size_t start = header.size();
    std::vector<u_char> out = std::move(header);
    out.resize(start + static_cast<std::size_t>(sectors) * SECTOR_SIZE, 0);
    if (!disk.empty())
        std::memcpy(out.data() + start, disk.data(), std::min<std::size_t>(disk.size(), out.size() - start));
    return out;
}

// ---- CRC ----------------------------------------------------------------

constexpr std::array<std::uint16_t, 256> crc_table() {
    std::array<std::uint16_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i << 8;
        for (int b = 0; b < 8; ++b) c = (c & 0x8000) ? (c << 1) ^ 0x1021 : c << 1;
        t[i] = static_cast<std::uint16_t>(c);
    }
    return t;
}
constexpr std::array<std::uint16_t, 256> CRC_TABLE = crc_table();

// ---- DMK ----------------------------------------------------------------

// Writes a field's three A1 marks, its mark byte and its bytes at `p`, then
// their CRC; returns the end.
u_char* put_field(u_char* p, u_char mark, const u_char* bytes, std::size_t n) {
    u_char* start = p;
    *p++ = 0xA1;
    *p++ = 0xA1;
    *p++ = 0xA1;
    *p++ = mark;
    std::memcpy(p, bytes, n);
    p += n;
    put_be16(p, crc16_ccitt({start, static_cast<std::size_t>(p - start)}));
    return p + 2;
}

u_char* put_run(u_char* p, u_char byte, std::size_t n) {
    std::memset(p, byte, n);
    return p + n;
}

// One track of cylinder `c`, side `h`, at `track` (dmk_track_length bytes).
void dmk_track(std::span<const u_char> disk, const track_geometry& g, std::uint32_t c, std::uint32_t h,
               u_char* track, std::size_t length) {
    std::memset(track, GAP, length);
    std::memset(track, 0, DMK_TABLE);
    u_char* p = put_run(track + DMK_TABLE, GAP, GAP_LEAD);
    const std::uint64_t first_lsn = (std::uint64_t{c} * g.sides + h) * g.sectors_per_track;
    std::array<u_char, SECTOR_SIZE> data{};
    for (std::uint32_t r = 0; r < g.sectors_per_track; ++r) {
        p = put_run(p, 0x00, SYNC);
        const auto fe = static_cast<std::uint32_t>(p + 3 - track);  // the FE mark after the A1s
        put_le16(track + 2 * r, DMK_DOUBLE_DENSITY | fe);
        const u_char id[4] = {static_cast<u_char>(c), static_cast<u_char>(h), static_cast<u_char>(r + 1),
                              SIZE_CODE_256};
        p = put_field(p, 0xFE, id, sizeof id);
        p = put_run(p, GAP, GAP_ID);
        p = put_run(p, 0x00, SYNC);
        copy_sector(disk, first_lsn + r, data.data());
        p = put_field(p, 0xFB, data.data(), data.size());
        p = put_run(p, GAP, GAP_SECTOR);
    }
}

std::vector<u_char> encode_dmk(std::span<const u_char> disk, const track_geometry& g, std::uint32_t cylinders) {
    const std::size_t length = dmk_track_length(g.sectors_per_track);
    const std::size_t tracks = std::size_t{cylinders} * g.sides;
    std::vector<u_char> out(DMK_HEADER + tracks * length, 0);
    out[1] = static_cast<u_char>(cylinders);
    put_le16(out.data() + 2, static_cast<std::uint32_t>(length));
    out[4] = g.sides == 1 ? DMK_ONE_SIDE : 0;
    for (std::uint32_t c = 0; c < cylinders; ++c)
        for (std::uint32_t h = 0; h < g.sides; ++h)
            dmk_track(disk, g, c, h, out.data() + DMK_HEADER + (std::size_t{c} * g.sides + h) * length, length);
    return out;
}

std::vector<u_char> vdk_header(const track_geometry& g, std::uint32_t cylinders) {
    std::vector<u_char> h(VDK_HEADER, 0);
    h[0] = 'd';
    h[1] = 'k';
    put_le16(h.data() + 2, VDK_HEADER);
    h[4] = VDK_VERSION;
    h[5] = VDK_VERSION;
    h[6] = VDK_SOURCE_ID;
    h[7] = VDK_SOURCE_VERSION;
    h[8] = static_cast<u_char>(cylinders);
    h[9] = static_cast<u_char>(g.sides);
    return h;  // flags, compression and name length 0
}

}  // namespace

error_code geometry_from_lsn0(const u_char* lsn0, std::uint64_t disk_bytes, track_geometry* geometry) {
    disk_geometry d;
    if (error_code ec = decode_geometry(lsn0, &d)) return ec;
    const auto* s0 = reinterpret_cast<const lsn0_sect*>(lsn0);
    track_geometry g;
    g.sectors_per_track = s0->dd_tks ? s0->dd_tks : get_be16(s0->dd_spt);
    if (g.sectors_per_track == 0) return E_BTYP;
    g.sides = (s0->dd_fmt & 1) ? 2 : 1;
    if (const std::uint32_t t0s = get_be16(s0->pd_t0s); t0s && t0s < g.sectors_per_track) g.track0_sectors = t0s;
    const std::uint64_t cylinders = cylinders_needed(g, std::max<std::uint64_t>(d.total_units, disk_sectors(disk_bytes)));
    g.cylinders = static_cast<std::uint32_t>(std::min<std::uint64_t>(cylinders, std::numeric_limits<std::uint32_t>::max()));
    *geometry = g;
    return E_SUCCESS;
}

std::uint32_t dmk_sectors_per_track_limit() { return DMK_MAX_SECTORS; }

container_fit container_fits(container_kind kind, const track_geometry& g, std::uint64_t disk_bytes) {
    using fault = container_fit::fault;
    if (kind == container_kind::raw) return {};
    if (kind == container_kind::imd) return {fault::not_written, 0, 0};
    if (g.sides < 1 || g.sides > 2) return {fault::sides, g.sides, 2};
    if (g.track0_sectors) return {fault::short_track0, g.track0_sectors, g.sectors_per_track};
    std::uint32_t most_sectors = JVC_MAX_SECTORS;
    if (kind == container_kind::vdk) most_sectors = VDK_SECTORS;
    if (kind == container_kind::dmk) most_sectors = DMK_MAX_SECTORS;
    if (g.sectors_per_track == 0 || g.sectors_per_track > most_sectors ||
        (kind == container_kind::vdk && g.sectors_per_track != VDK_SECTORS))
        return {fault::sectors_per_track, g.sectors_per_track, most_sectors};
    const std::uint64_t needed = cylinders_needed(g, disk_sectors(disk_bytes));
    if (g.cylinders && g.cylinders < needed) return {fault::too_short, g.cylinders, needed};
    const std::uint64_t cylinders = cylinders_of(g, disk_bytes);
    const std::uint64_t most_cylinders =
        kind == container_kind::jvc ? JVC_MAX_DISK_SECTORS / (std::uint64_t{g.sectors_per_track} * g.sides)
                                    : BYTE_MAX_CYLINDERS;
    if (cylinders > most_cylinders) return {fault::cylinders, cylinders, most_cylinders};
    return {};
}

std::vector<u_char> jvc_header(const track_geometry& g) {
    if (g.sectors_per_track == 18 && g.sides == 1) return {};
    return {static_cast<u_char>(g.sectors_per_track), static_cast<u_char>(g.sides)};
}

error_code encode_container(container_kind kind, std::span<const u_char> disk, const track_geometry& g,
                            std::vector<u_char>* out) {
    if (container_fits(kind, g, disk.size()).what != container_fit::fault::none) return E_GENERAL;
    const auto cylinders = static_cast<std::uint32_t>(cylinders_of(g, disk.size()));
    const std::uint64_t sectors = std::uint64_t{cylinders} * g.sides * g.sectors_per_track;
    switch (kind) {
        case container_kind::raw: *out = std::vector<u_char>(disk.begin(), disk.end()); return E_SUCCESS;
        case container_kind::jvc: *out = sectors_after(jvc_header(g), disk, sectors); return E_SUCCESS;
        case container_kind::vdk: *out = sectors_after(vdk_header(g, cylinders), disk, sectors); return E_SUCCESS;
        case container_kind::dmk: *out = encode_dmk(disk, g, cylinders); return E_SUCCESS;
        case container_kind::imd: break;
    }
    return E_GENERAL;
}

std::uint16_t crc16_ccitt(std::span<const u_char> bytes, std::uint16_t crc) {
    for (u_char b : bytes) crc = static_cast<std::uint16_t>((crc << 8) ^ CRC_TABLE[((crc >> 8) ^ b) & 0xFF]);
    return crc;
}

// ---- partitions ---------------------------------------------------------


}  // namespace rbf
