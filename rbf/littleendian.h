// Little-endian accessors for the numbers of the PC-born containers (VDK,
// DMK); the disk inside keeps its own big-endian numbers (rbf/bigendian.h).
#pragma once

#include <cstdint>

namespace rbf {

inline uint32_t get_le16(const unsigned char* p) { return uint32_t{p[0]} | (uint32_t{p[1]} << 8); }
inline uint32_t get_le32(const unsigned char* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
inline void put_le16(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

}  // namespace rbf
