#include "misc/module_lines.h"

#include <cstdio>

#include "rbf/bigendian.h"

namespace dv {

std::string hex_offset(std::size_t n) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "$%04zX", n);
    return buf;
}

std::string module_short_line(const rbf::module_info& m) {
    char crc[8];
    std::snprintf(crc, sizeof crc, "%06X", static_cast<unsigned>(m.crc));
    std::string line = std::string(crc) + " " + (m.name_ok ? m.name : "?");
    if (!m.parity_ok) line += " (bad parity)";
    if (!m.crc_ok) line += " (bad CRC)";
    return line;
}

std::string module_fault_text(const rbf::module_scan& scan, std::size_t file_size) {
    const std::string at = hex_offset(scan.fault_at);
    const std::size_t left = file_size - std::min(file_size, scan.fault_at);
    switch (scan.fault) {
        case rbf::module_fault::none: return "";
        case rbf::module_fault::not_a_module:
            return "no module at offset " + at + " (" + std::to_string(left) + " bytes to the end)";
        case rbf::module_fault::short_header:
            return "the bytes end inside the header of the module at offset " + at + " (" + std::to_string(left) +
                   " bytes are left)";
        case rbf::module_fault::too_small:
            return "the module at offset " + at + " gives a size of " + std::to_string(scan.fault_size) +
                   " bytes, less than its header and CRC";
        case rbf::module_fault::truncated:
            return "the bytes end inside the module at offset " + at + " (it gives " +
                   std::to_string(scan.fault_size) + " bytes, " + std::to_string(left) + " are left)";
    }
    return "";
}

}  // namespace dv
