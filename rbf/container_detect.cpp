// Which container holds a disk, from the file's bytes: a sound LSN 0 at
// byte 0 is a raw image; else the magic numbers and header arithmetic of
// VDK, DMK and ImageDisk, and for a JVC header (no magic at all) a sound
// LSN 0 right after it.  Anything else is read as raw, so its failure is
// the raw image's own.
#include <array>
#include <cstring>

#include "os9disk.h"
#include "rbf/container.h"
#include "rbf/device.h"
#include "rbf/littleendian.h"

namespace rbf {

namespace {

bool lsn0_at(device& file, std::uint64_t at) {
    u_char s[SECTOR_SIZE];
    disk_geometry g;
    return file.read(at, s, sizeof s) == sizeof s && decode_geometry(s, &g) == E_SUCCESS;
}

container_refusal refused(std::string why) { return {E_BTYP, std::move(why)}; }

container_refusal vdk(device& file, const u_char* h, std::size_t got, std::uint64_t size, container_info* info) {
    const std::uint32_t header = get_le16(h + 2);
    if (got < 12 || header < 12 || header > size) return refused("a damaged VDK image: its header length is wrong");
    if ((h[11] & 0x07) != 0) return refused("a compressed VDK image, which dv does not read");
    if (h[8] == 0 || h[9] == 0 || h[9] > 2) return refused("a damaged VDK image: its geometry is impossible");
    info->kind = container_kind::vdk;
    info->base = header;
    info->cylinders = h[8];
    info->sides = h[9];
    info->write_protected = (h[10] & 0x01) != 0;
    info->disk_bytes = std::uint64_t{h[8]} * h[9] * 18 * SECTOR_SIZE;
    if (size - header < info->disk_bytes) return refused("a damaged VDK image: it holds fewer sectors than its header says");
    (void)file;
    return {};
}

// A DMK header: a write-protect byte, a cylinder count, a track length long
// enough for the sector table, and zeros where a real drive's mark would be.
bool dmk_header(const u_char* h, std::size_t got) {
    if (got < 16 + 2 || (h[0] != 0x00 && h[0] != 0xFF) || h[1] == 0) return false;
    const std::uint32_t track = get_le16(h + 2);
    if (track <= 128 || track > 0x4000) return false;
    for (int i = 5; i < 12; ++i)
        if (h[i] != 0) return false;
    // The first track's first sector pointer lies inside the track.
    const std::uint32_t first = get_le16(h + 16) & 0x3FFF;
    return first >= 128 && first < track;
}

container_refusal dmk(const u_char* h, std::uint64_t size, container_info* info) {
    info->kind = container_kind::dmk;
    info->cylinders = h[1];
    info->sides = (h[4] & 0x10) ? 1 : 2;
    info->write_protected = h[0] == 0xFF;
    const std::uint64_t tracks = std::uint64_t{h[1]} * info->sides * get_le16(h + 2);
    if (size < 16 + tracks) return refused("a damaged DMK image: its last tracks are cut short");
    return {};
}

container_refusal jvc(device& file, std::uint64_t size, container_info* info, bool* found) {
    const unsigned header = static_cast<unsigned>(size % SECTOR_SIZE);
    u_char h[5] = {18, 1, 1, 1, 0};
    if (header == 0 || size < header + SECTOR_SIZE) return {};
    if (file.read(0, h, header < 5 ? header : 5) != (header < 5 ? header : 5)) return {};
    if (h[0] == 0 || h[1] == 0 || h[1] > 2 || h[2] > 3 || !lsn0_at(file, header)) return {};
    *found = true;
    if (h[2] != 1)
        return refused("a JVC image with " + std::to_string(128 << h[2]) + "-byte sectors; dv reads only 256-byte ones");
    if (h[4] != 0) return refused("a JVC image with a status byte before each sector, which dv does not read");
    info->kind = container_kind::jvc;
    info->base = header;
    info->header_bytes = header;
    info->sides = h[1];
    return {};
}

}  // namespace

container_refusal detect_container(device& file, std::optional<std::uint64_t> offset, container_info* info) {
    *info = container_info{};
    const std::uint64_t size = file.size();
    if (offset) {
        info->partition = true;
        info->base = *offset;
        if (*offset > size) return refused("shorter than its partition offset, " + std::to_string(*offset) + " bytes");
        return {};
    }
    if (lsn0_at(file, 0)) return {};
    u_char h[18] = {};
    const std::size_t got = file.read(0, h, sizeof h);
    if (got >= 2 && h[0] == 'd' && h[1] == 'k') return vdk(file, h, got, size, info);
    if (got >= 16 && get_le32(h + 12) == 0x12345678 && (h[0] == 0x00 || h[0] == 0xFF))
        return refused("a DMK image of a real drive, not of a disk");
    if (dmk_header(h, got)) return dmk(h, size, info);
    if (got >= 4 && std::memcmp(h, "IMD ", 4) == 0) {
        info->kind = container_kind::imd;
        return {};  // the comment and tracks are read by the device
    }
    bool found = false;
    container_refusal r = jvc(file, size, info, &found);
    if (!found) *info = container_info{};
    return r;
}

std::string container_description(const container_info& info) {
    if (info.partition) return "partition at byte " + std::to_string(info.base);
    switch (info.kind) {
        case container_kind::raw: return {};
        case container_kind::jvc: return "JVC, " + std::to_string(info.header_bytes) + "-byte header";
        case container_kind::vdk: return "VDK";
        case container_kind::dmk:
            return "DMK, " + std::to_string(info.cylinders) + " cylinders, " + std::to_string(info.sides) +
                   (info.sides == 1 ? " side" : " sides");
        case container_kind::imd: return "ImageDisk";
    }
    return {};
}

std::uint16_t crc16_ccitt(const unsigned char* p, std::size_t n, std::uint16_t crc) {
    // A byte at a time from a table: every sector read of a DMK pays it.
    static const auto table = [] {
        std::array<std::uint16_t, 256> t{};
        for (unsigned i = 0; i < 256; ++i) {
            auto c = static_cast<std::uint16_t>(i << 8);
            for (int b = 0; b < 8; ++b) c = static_cast<std::uint16_t>((c & 0x8000) ? (c << 1) ^ 0x1021 : c << 1);
            t[i] = c;
        }
        return t;
    }();
    for (std::size_t i = 0; i < n; ++i) crc = static_cast<std::uint16_t>((crc << 8) ^ table[((crc >> 8) ^ p[i]) & 0xFF]);
    return crc;
}

}  // namespace rbf
