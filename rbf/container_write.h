// Making containers: the bytes of a JVC, VDK or DMK image from the sectors
// of a disk in LSN order (a raw image) and the disk's tracks.  Every
// container holds whole tracks, cylinder by cylinder, side 0 then side 1, so
// a disk that ends inside a track is padded with zero sectors to its end; a
// raw image is the sectors as they are.
//
//   JVC  an optional header, then the sectors.  Header bytes: sectors per
//        track (18), sides (1), size code (1: 256 bytes), first sector ID (1),
//        attribute flag (0).  The default geometry is written without one;
//        any other gets the first two bytes.
//   VDK  12 bytes: "dk", header length (LE16, 12), version 0x10, compatible
//        version 0x10, source id, source version, cylinders, heads, flags 0,
//        compression 0 and name length 0; then the sectors, 18 per track.
//   DMK  16 bytes: write-protect 0, cylinders, track length (LE16), flags
//        (bit 4 one side), 8 bytes 0; then per track a table of 64 LE16
//        words (bit 15 double density, bits 0-13 the offset of the sector's
//        FE mark from the start of the track, table included) and the
//        track's bytes as an MFM controller writes them: gap (4E), sync
//        (12 x 00), A1 A1 A1 FE C H R N CRC, gap, sync, A1 A1 A1 FB data
//        CRC.  IDs: cylinder, side, sector 1.., size code 1.  The CRCs are
//        CRC-16 CCITT from FFFF over the A1s, the mark and the bytes,
//        stored high byte first.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "os9types.h"
#include "rbf/container.h"

namespace rbf {

struct track_geometry {
    std::uint32_t sectors_per_track = 18;
    std::uint32_t sides = 1;
    std::uint32_t cylinders = 0;  // 0: as many as the disk's bytes fill
    // Sectors of track 0 when fewer than the others (pd_t0s), else 0: such
    // a disk has no whole tracks for a container to hold.
    std::uint32_t track0_sectors = 0;
};

// The tracks of the disk whose LSN 0 is `lsn0` (256 bytes) and whose bytes
// number `disk_bytes`: dd_tks sectors per track (dd_spt when dd_tks is 0),
// two sides when bit 0 of dd_fmt is set, and the cylinders that hold
// dd_tot sectors or the bytes, whichever is more.  249 when LSN 0 does not
// describe a disk (decode_geometry) or names no sectors per track.
error_code geometry_from_lsn0(const u_char* lsn0, std::uint64_t disk_bytes, track_geometry* geometry);

// Why a container cannot hold a disk of that geometry: `found` is the
// disk's number and `limit` the most the container holds (for a VDK's
// sectors per track, the only number it holds; for too_short, the
// cylinders the disk needs).
struct container_fit {
    enum class fault : std::uint8_t {
        none,
        sectors_per_track,  // 0, or more than the container's tracks hold
        sides,              // other than 1 or 2
        cylinders,          // more than the container can count
        too_short,          // the given cylinders do not hold the disk's bytes
        not_written,        // an ImageDisk: read only, never made
        short_track0,       // track 0 holds fewer sectors than the others
    };
    fault what = fault::none;
    std::uint64_t found = 0;
    std::uint64_t limit = 0;
};

// Whether a `kind` container holds `disk_bytes` of disk in `geometry`.  A
// raw image holds anything.
container_fit container_fits(container_kind kind, const track_geometry& geometry, std::uint64_t disk_bytes);

// The largest number of 256-byte sectors a DMK track of this encoder holds.
std::uint32_t dmk_sectors_per_track_limit();

// The JVC header for the geometry: empty for 18 sectors on one side.
std::vector<u_char> jvc_header(const track_geometry& geometry);

// The bytes of a `kind` container holding `disk`.  1 (and *out untouched)
// when container_fits says it does not, or for an ImageDisk.
error_code encode_container(container_kind kind, std::span<const u_char> disk, const track_geometry& geometry,
                            std::vector<u_char>* out);

// CRC-16 CCITT (polynomial 1021) of `bytes` from `crc`: the check of a
// floppy's ID and data fields, from FFFF over the A1 marks and on.
std::uint16_t crc16_ccitt(std::span<const u_char> bytes, std::uint16_t crc = 0xFFFF);

// ---- partitions ---------------------------------------------------------

}  // namespace rbf
