// The containers of a disk, built and read back by the tests on their own
// (nothing of the library): a raw image wrapped in a JVC or VDK header, laid
// out on DMK tracks (interleaved, double or single density) or in an
// ImageDisk file, and the sectors taken back out of each by their IDs.
#pragma once

#include <cstdint>
#include <string>

#include "image_builder.h"

namespace dvtest {

bytes make_jvc(const bytes& raw, unsigned header_bytes, unsigned sides = 2);
bytes make_vdk(const bytes& raw, unsigned cylinders, unsigned heads, unsigned char flags = 0,
               unsigned char compression = 0);
// 18 sectors a track, placed on the track in an interleave (not in ID order).
bytes make_dmk(const bytes& raw, unsigned cylinders, unsigned sides, bool single_density = false);
bytes make_imd(const bytes& raw, unsigned cylinders, unsigned sides);

// The CRC-16 of the controllers, computed here byte by byte from a table.
std::uint16_t crc_ccitt(const unsigned char* p, std::size_t n, std::uint16_t crc = 0xFFFF);

// The sectors of a DMK image in LSN order, found by their IDs; *problem
// names the first ID or data field whose CRC is wrong ("" when none).
bytes dmk_sectors(const bytes& dmk, std::string* problem);
// Where the data field (its mark) of sector C/H/R lies in the file, and
// the byte stride; 0 when there is none.
std::size_t dmk_data_at(const bytes& dmk, unsigned c, unsigned h, unsigned r, unsigned* stride);
// Where the ID field (its FE mark) of sector C/H/R lies.
std::size_t dmk_id_at(const bytes& dmk, unsigned c, unsigned h, unsigned r);

}  // namespace dvtest
