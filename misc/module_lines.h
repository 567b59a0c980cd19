// How the programs show the modules of a file (dvident, and dvboot's report
// of a boot file): the short line of a module and the words for where the
// bytes stop being modules.
#pragma once

#include <string>

#include "rbf/module.h"

namespace dv {

// "<CRC, six hex digits> <name>", then " (bad parity)", " (bad CRC)" when so.
std::string module_short_line(const rbf::module_info& m);

// Why the scan stopped at scan.fault_at, in words ("" when it did not):
// "no module at offset $0040", "the bytes end inside the module at offset
// $0040 (it gives 300 bytes, 36 are left)", ...
std::string module_fault_text(const rbf::module_scan& scan, std::size_t file_size);

// "$" and four hex digits (more when needed).
std::string hex_offset(std::size_t n);

}  // namespace dv
