// The tests' own readers of the containers a disk is written in, from the
// formats' byte layouts and never through the library: each gives the disk's
// sectors in LSN order, or says what in the bytes is wrong (a header field,
// an ID field or CRC, a sector missing or doubled, a table entry that points
// at no ID mark).
#pragma once

#include <cstdint>
#include <string>

#include "image_builder.h"

namespace dvtest {

struct unpacked {
    bytes disk;                  // the sectors in LSN order
    std::uint32_t sectors = 0;   // per track
    std::uint32_t sides = 0;
    std::uint32_t cylinders = 0;
    std::string fault;           // empty: the bytes are as the format has them
};

// A JVC image: header length = size mod 256, defaults for what it leaves out.
unpacked unpack_jvc(const bytes& file);
// A VDK image: its 12-byte header, then 18-sector tracks.
unpacked unpack_vdk(const bytes& file);
// A DMK image: every track's table, ID fields and data fields, CRCs checked,
// each sector put where its ID says.
unpacked unpack_dmk(const bytes& file);
// By the extension-free name of the format: "raw", "jvc", "vdk", "dmk".
unpacked unpack(const std::string& kind, const bytes& file);

// CRC-16 CCITT from FFFF, bit by bit.
std::uint16_t crc_ccitt(const unsigned char* p, std::size_t n);

// The image with its dates of formatting (LSN 0 and the root FD) set to
// those of `like`: two runs a minute apart give the same disk otherwise.
bytes same_dates(bytes img, const bytes& like);

}  // namespace dvtest
