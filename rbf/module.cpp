// Memory modules: the header parity, the CRC-24 and a scan that takes every
// offset and size of a header as untrusted.
#include "rbf/module.h"

#include <algorithm>
#include <array>

#include "rbf/bigendian.h"

namespace rbf {

namespace {

constexpr unsigned char SYNC0 = 0x87;
constexpr unsigned char SYNC1 = 0xCD;
constexpr unsigned TYPE_PROGRAM = 1;
constexpr std::size_t LONGEST_NAME = 255;  // a bound for a name that never ends

// The register's next value for each top byte, most significant bit first.
constexpr std::array<std::uint32_t, 256> crc_table() {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t b = 0; b < 256; ++b) {
        std::uint32_t r = b << 16;
        for (int k = 0; k < 8; ++k) r = (r & 0x800000) ? ((r << 1) ^ CRC_POLYNOMIAL) & 0xFFFFFF : (r << 1) & 0xFFFFFF;
        t[b] = r;
    }
    return t;
}
constexpr std::array<std::uint32_t, 256> CRC_TABLE = crc_table();

// The name at `at`, up to its character with bit 7, inside the module.
void read_name(std::span<const unsigned char> module, std::size_t at, module_info* m) {
    m->name.clear();
    m->name_ok = false;
    if (at < MODULE_HEADER || at >= module.size() - MODULE_CRC) return;
    for (std::size_t k = at; k < module.size() - MODULE_CRC && k - at < LONGEST_NAME; ++k) {
        m->name += static_cast<char>(module[k] & 0x7F);
        if (module[k] & 0x80) {
            m->name_ok = true;
            return;
        }
    }
    m->name.clear();
}

}  // namespace

std::uint32_t module_crc(std::span<const unsigned char> bytes, std::uint32_t crc) {
    crc &= 0xFFFFFF;
    for (unsigned char b : bytes) crc = ((crc << 8) & 0xFFFFFF) ^ CRC_TABLE[((crc >> 16) ^ b) & 0xFF];
    return crc;
}

unsigned char header_parity(std::span<const unsigned char> first8) {
    unsigned char x = 0;
    for (std::size_t k = 0; k < 8 && k < first8.size(); ++k) x ^= first8[k];
    return static_cast<unsigned char>(~x);
}

module_scan scan_modules(std::span<const unsigned char> bytes) {
    module_scan scan;
    std::size_t at = 0;
    auto stop = [&](module_fault f) {
        scan.fault = f;
        scan.fault_at = at;
        return scan;
    };
    while (at < bytes.size()) {
        const std::span<const unsigned char> rest = bytes.subspan(at);
        if (rest[0] != SYNC0 || (rest.size() > 1 && rest[1] != SYNC1)) return stop(module_fault::not_a_module);
        if (rest.size() < MODULE_HEADER) return stop(module_fault::short_header);
        const std::size_t size = get_be16(rest.data() + 2);
        scan.fault_size = size;
        if (size < MODULE_HEADER + MODULE_CRC) return stop(module_fault::too_small);
        if (size > rest.size()) return stop(module_fault::truncated);
        const std::span<const unsigned char> module = rest.first(size);
        module_info m;
        m.offset = at;
        m.size = size;
        m.type = module[6] >> 4;
        m.language = module[6] & 0x0F;
        m.attributes = module[7] >> 4;
        m.revision = module[7] & 0x0F;
        m.parity_ok = header_parity(module) == module[8];
        read_name(module, get_be16(module.data() + 4), &m);
        m.crc = get_be24(module.data() + size - MODULE_CRC);
        m.crc_wanted = ~module_crc(module.first(size - MODULE_CRC)) & 0xFFFFFF;
        m.crc_ok = m.crc == m.crc_wanted;
        if (m.type == TYPE_PROGRAM && size >= MODULE_HEADER + 4 + MODULE_CRC) {
            m.has_exec = true;
            m.exec = get_be16(module.data() + MODULE_HEADER);
            m.data_size = get_be16(module.data() + MODULE_HEADER + 2);
        }
        scan.fault_size = 0;
        scan.modules.push_back(std::move(m));
        at += size;
    }
    return scan;
}

bool modules_sound(const module_scan& scan) {
    if (scan.fault != module_fault::none) return false;
    for (const module_info& m : scan.modules)
        if (!m.parity_ok || !m.crc_ok) return false;
    return true;
}

bool module_fix(std::span<unsigned char> bytes, const module_info& m) {
    if (m.offset > bytes.size() || m.size > bytes.size() - m.offset || m.size < MODULE_HEADER + MODULE_CRC)
        return false;
    const std::span<unsigned char> module = bytes.subspan(m.offset, m.size);
    bool changed = false;
    const unsigned char parity = header_parity(module);
    if (module[8] != parity) {
        module[8] = parity;
        changed = true;
    }
    // The CRC covers the parity byte: it is computed after it.
    const std::uint32_t crc = ~module_crc(module.first(m.size - MODULE_CRC)) & 0xFFFFFF;
    if (get_be24(module.data() + m.size - MODULE_CRC) != crc) {
        put_be24(module.data() + m.size - MODULE_CRC, crc);
        changed = true;
    }
    return changed;
}

std::vector<unsigned char> module_build(const std::string& name, unsigned type, unsigned language,
                                        unsigned attributes, unsigned revision,
                                        const std::vector<unsigned char>& body) {
    const std::size_t size = MODULE_HEADER + body.size() + name.size() + MODULE_CRC;
    std::vector<unsigned char> m(size);
    m[0] = SYNC0;
    m[1] = SYNC1;
    put_be16(m.data() + 2, static_cast<std::uint32_t>(size));
    put_be16(m.data() + 4, static_cast<std::uint32_t>(MODULE_HEADER + body.size()));
    m[6] = static_cast<unsigned char>((type & 0x0F) << 4 | (language & 0x0F));
    m[7] = static_cast<unsigned char>((attributes & 0x0F) << 4 | (revision & 0x0F));
    std::copy(body.begin(), body.end(), m.begin() + MODULE_HEADER);
    std::copy(name.begin(), name.end(), m.begin() + static_cast<std::ptrdiff_t>(MODULE_HEADER + body.size()));
    if (!name.empty()) m[size - MODULE_CRC - 1] |= 0x80;
    module_info info;
    info.offset = 0;
    info.size = size;
    module_fix(m, info);
    return m;
}

std::string module_type_name(unsigned type) {
    switch (type) {
        case 0x1: return "program";
        case 0x2: return "subroutine";
        case 0x3: return "multi-module";
        case 0x4: return "data";
        case 0xC: return "system";
        case 0xD: return "file manager";
        case 0xE: return "device driver";
        case 0xF: return "device descriptor";
        default: break;
    }
    static const char hex[] = "0123456789ABCDEF";
    return std::string("type $") + hex[type & 0xF];
}

std::string module_language_name(unsigned language) {
    switch (language) {
        case 0: return "data";
        case 1: return "6809 object code";
        case 2: return "BASIC09 I-code";
        case 3: return "Pascal P-code";
        case 4: return "C I-code";
        case 5: return "COBOL";
        case 6: return "FORTRAN";
        default: break;
    }
    static const char hex[] = "0123456789ABCDEF";
    return std::string("language $") + hex[language & 0xF];
}

}  // namespace rbf
