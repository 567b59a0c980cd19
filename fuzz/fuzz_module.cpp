// Module scans of any bytes: every module found lies whole inside them,
// back to back from offset 0, and the scan stops where the first one that is
// not whole starts; after module_fix every module found checks, the scan
// finds the same modules, and a second fix changes nothing.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_util.h"
#include "rbf/module.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<unsigned char> b(data, data + size);
    const rbf::module_scan s = rbf::scan_modules(b);
    std::size_t at = 0;
    for (const rbf::module_info& m : s.modules) {
        DV_CHECK(m.offset == at, "modules back to back");
        DV_CHECK(m.size >= rbf::MODULE_HEADER + rbf::MODULE_CRC && m.size <= size - at, "a module inside the bytes");
        DV_CHECK(m.name.size() < m.size, "a name inside its module");
        at += m.size;
    }
    if (s.fault == rbf::module_fault::none) DV_CHECK(at == size, "a scan without fault reaches the end");
    else DV_CHECK(s.fault_at == at && at < size, "the fault where the modules stop");
    for (const rbf::module_info& m : s.modules) rbf::module_fix(b, m);
    const rbf::module_scan fixed = rbf::scan_modules(b);
    DV_CHECK(fixed.modules.size() == s.modules.size(), "a fix keeps the modules");
    for (const rbf::module_info& m : fixed.modules) {
        DV_CHECK(m.parity_ok && m.crc_ok, "a fixed module checks");
        DV_CHECK(!rbf::module_fix(b, m), "a second fix changes nothing");
    }
    return 0;
}
