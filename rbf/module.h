// OS-9 memory modules, as a boot file holds them one after another:
//
//   0-1  sync bytes $87 $CD
//   2-3  module size, big-endian, the CRC included
//   4-5  offset of the name (bit 7 set on its last character)
//   6    type (high nibble) and language (low nibble)
//   7    attributes (high nibble) and revision (low nibble)
//   8    header parity: the complement of the XOR of bytes 0-7
//   9..  fields of the type (a program: execution offset, data size)
//   last 3 bytes: CRC-24 (polynomial $800063, register started at $FFFFFF)
//        over every byte before them, stored complemented
//
// Nothing here trusts a header: every offset and size is bounded by the
// bytes given.  No I/O: the callers read and write the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace rbf {

inline constexpr std::size_t MODULE_HEADER = 9;     // bytes 0-8, parity included
inline constexpr std::size_t MODULE_CRC = 3;
inline constexpr std::uint32_t CRC_START = 0xFFFFFF;
inline constexpr std::uint32_t CRC_POLYNOMIAL = 0x800063;

// The CRC register after `bytes`, from `crc` (CRC_START for a module).
std::uint32_t module_crc(std::span<const unsigned char> bytes, std::uint32_t crc = CRC_START);

// The parity byte the header's first eight bytes call for.
unsigned char header_parity(std::span<const unsigned char> first8);

// Why a scan stopped before the end of the bytes.
enum class module_fault {
    none,
    not_a_module,  // no sync bytes where a module should start
    short_header,  // the bytes end inside the header
    too_small,     // a size below a header and a CRC
    truncated,     // the bytes end before the size the header gives
};

struct module_info {
    std::size_t offset = 0;     // of its first byte, in the bytes scanned
    std::size_t size = 0;       // bytes 2-3
    std::string name;           // bit 7 cleared; "" when it lies outside the module
    bool name_ok = false;       // the name lies inside the module and ends
    unsigned type = 0;          // high nibble of byte 6
    unsigned language = 0;      // low nibble of byte 6
    unsigned attributes = 0;    // high nibble of byte 7
    unsigned revision = 0;      // low nibble of byte 7
    bool parity_ok = false;
    std::uint32_t crc = 0;      // the three bytes stored at the end
    std::uint32_t crc_wanted = 0;  // what they should be (complemented register)
    bool crc_ok = false;
    bool has_exec = false;      // a program module: the two fields after the header
    std::uint32_t exec = 0;
    std::uint32_t data_size = 0;
};

struct module_scan {
    std::vector<module_info> modules;  // whole modules, in order
    module_fault fault = module_fault::none;
    std::size_t fault_at = 0;          // where the bytes stopped being modules
    std::size_t fault_size = 0;        // the size that header gives (too_small, truncated)
};

// Reads the modules lying back to back from the start of `bytes` up to its
// end; stops at the first place that holds no whole module.
module_scan scan_modules(std::span<const unsigned char> bytes);

// Whether every module checks and nothing else follows them.
bool modules_sound(const module_scan& scan);

// Writes the parity and the CRC that `m` (a module of `bytes`, as a scan
// found it) calls for; true when a byte changed.
bool module_fix(std::span<unsigned char> bytes, const module_info& m);

// A module of `type`/`language` named `name`, with `body` after the header
// (for a program: execution offset and data size first), parity and CRC
// right: how the tests and the demo's builder make one.
std::vector<unsigned char> module_build(const std::string& name, unsigned type, unsigned language,
                                        unsigned attributes, unsigned revision,
                                        const std::vector<unsigned char>& body);

// The type and language in words ("program", "6809 object code"); "type $5",
// "language $9" for the numbers OS-9 gives no meaning.
std::string module_type_name(unsigned type);
std::string module_language_name(unsigned language);

}  // namespace rbf
