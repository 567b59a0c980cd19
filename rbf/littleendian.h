// Little-endian accessors for the numbers of the containers a disk comes in
// (VDK header length, DMK track length and sector table): the disk format
// itself is big-endian (rbf/bigendian.h).
#pragma once

#include <cstdint>

namespace rbf {

inline uint32_t get_le16(const unsigned char* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8);
}
inline uint32_t get_le32(const unsigned char* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
inline void put_le16(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
inline void put_le32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

}  // namespace rbf
