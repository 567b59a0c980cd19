// Memory modules: the CRC against a bit-by-bit register written here from
// the format's description, the header parity, and scans of hand-built
// modules (every type and language, bad parity, bad CRC, cut short, back
// to back) that never read past the bytes given.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "rbf/module.h"

namespace {

using bytes = std::vector<unsigned char>;

// The CRC-24 one bit at a time: each byte enters the top of the register,
// most significant bit first; a bit shifted out of bit 23 feeds $800063 back.
std::uint32_t crc_by_bits(const bytes& b) {
    std::uint32_t r = 0xFFFFFF;
    for (unsigned char byte : b)
        for (int bit = 7; bit >= 0; --bit) {
            const bool top = ((r >> 23) & 1) != ((byte >> bit) & 1);
            r = (r << 1) & 0xFFFFFF;
            if (top) r ^= 0x800063;
        }
    return r;
}

// A module laid out by hand: header, body, name, parity and CRC computed
// here (not by the library).
bytes hand_module(const std::string& name, unsigned type, unsigned lang, const bytes& body = {0x12, 0x34, 0x00, 0x40}) {
    const std::size_t size = 9 + body.size() + name.size() + 3;
    bytes m = {0x87, 0xCD, static_cast<unsigned char>(size >> 8), static_cast<unsigned char>(size),
               0, static_cast<unsigned char>(9 + body.size()), static_cast<unsigned char>(type << 4 | lang), 0x82};
    unsigned char x = 0;
    for (unsigned char c : m) x ^= c;
    m.push_back(static_cast<unsigned char>(~x));
    m.insert(m.end(), body.begin(), body.end());
    for (std::size_t k = 0; k < name.size(); ++k)
        m.push_back(static_cast<unsigned char>(name[k] | (k + 1 == name.size() ? 0x80 : 0)));
    const std::uint32_t crc = ~crc_by_bits(m) & 0xFFFFFF;
    for (int s : {16, 8, 0}) m.push_back(static_cast<unsigned char>(crc >> s));
    return m;
}

TEST(ModuleCrc, TheTableGivesWhatTheBitsGive) {
    std::mt19937 rng(26);
    for (std::size_t n : {0u, 1u, 2u, 3u, 17u, 255u, 256u, 4097u}) {
        bytes b(n);
        for (unsigned char& c : b) c = static_cast<unsigned char>(rng());
        EXPECT_EQ(rbf::module_crc(b), crc_by_bits(b)) << n << " bytes";
    }
    // Run over a whole module, its complemented CRC included, the register
    // always ends at the same value.
    for (const std::string name : {"A", "Init", "KrnP2"}) EXPECT_EQ(rbf::module_crc(hand_module(name, 1, 1)), 0x800FE3u);
}

TEST(ModuleScan, EveryTypeAndLanguageInWords) {
    const std::pair<unsigned, const char*> types[] = {{1, "program"}, {2, "subroutine"}, {3, "multi-module"},
                                                      {4, "data"}, {0xC, "system"}, {0xD, "file manager"},
                                                      {0xE, "device driver"}, {0xF, "device descriptor"},
                                                      {5, "type $5"}};
    const std::pair<unsigned, const char*> langs[] = {{0, "data"}, {1, "6809 object code"}, {2, "BASIC09 I-code"},
                                                      {3, "Pascal P-code"}, {4, "C I-code"}, {5, "COBOL"},
                                                      {6, "FORTRAN"}, {9, "language $9"}};
    for (const auto& [type, tname] : types)
        for (const auto& [lang, lname] : langs) {
            const rbf::module_scan s = rbf::scan_modules(hand_module("Mod", type, lang));
            ASSERT_EQ(s.modules.size(), 1u);
            const rbf::module_info& m = s.modules[0];
            EXPECT_TRUE(rbf::modules_sound(s));
            EXPECT_EQ(m.type, type);
            EXPECT_EQ(m.language, lang);
            EXPECT_EQ(rbf::module_type_name(m.type), tname);
            EXPECT_EQ(rbf::module_language_name(m.language), lname);
            EXPECT_EQ(m.name, "Mod");
            EXPECT_EQ(m.attributes, 8u);
            EXPECT_EQ(m.revision, 2u);
            EXPECT_EQ(m.has_exec, type == 1);
            if (type == 1) {
                EXPECT_EQ(m.exec, 0x1234u);
                EXPECT_EQ(m.data_size, 0x40u);
            }
        }
}

struct ScanCase {
    const char* what;
    bytes data;
    std::size_t modules;
    bool parity_ok, crc_ok;  // of the last whole module
    rbf::module_fault fault;
    std::size_t fault_at;
};

bytes cat(bytes a, const bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
bytes flip(bytes b, std::size_t at) {
    b[at] ^= 0x20;
    return b;
}

TEST(ModuleScan, DamagedAndBackToBack) {
    const bytes a = hand_module("Alpha", 1, 1), b = hand_module("Beta", 0xE, 1);
    bytes huge = a;
    huge[2] = 0xFF;  // a size far past the bytes
    bytes tiny = a;
    tiny[2] = 0, tiny[3] = 11;
    bytes nameless = a;
    nameless[4] = 0xFF;  // the name's offset outside the module
    const ScanCase cases[] = {
        {"two back to back", cat(a, b), 2, true, true, rbf::module_fault::none, 0},
        {"bad parity", flip(a, 8), 1, false, false, rbf::module_fault::none, 0},
        {"bad CRC", flip(a, a.size() - 1), 1, true, false, rbf::module_fault::none, 0},
        {"a body byte patched", flip(a, 10), 1, true, false, rbf::module_fault::none, 0},
        {"the second cut short", cat(a, bytes(b.begin(), b.end() - 1)), 1, true, true, rbf::module_fault::truncated,
         a.size()},
        {"a size past the bytes", huge, 0, true, true, rbf::module_fault::truncated, 0},
        {"a size below a header", tiny, 0, true, true, rbf::module_fault::too_small, 0},
        {"the header cut short", bytes(a.begin(), a.begin() + 5), 0, true, true, rbf::module_fault::short_header, 0},
        {"text after a module", cat(a, bytes{'h', 'i'}), 1, true, true, rbf::module_fault::not_a_module, a.size()},
        {"one sync byte at the end", cat(a, bytes{0x87}), 1, true, true, rbf::module_fault::short_header, a.size()},
    };
    for (const ScanCase& c : cases) {
        SCOPED_TRACE(c.what);
        const rbf::module_scan s = rbf::scan_modules(c.data);
        ASSERT_EQ(s.modules.size(), c.modules);
        EXPECT_EQ(s.fault, c.fault);
        EXPECT_EQ(s.fault_at, c.fault_at);
        if (c.modules) {
            EXPECT_EQ(s.modules.back().parity_ok, c.parity_ok);
            EXPECT_EQ(s.modules.back().crc_ok, c.crc_ok);
        }
        EXPECT_EQ(rbf::modules_sound(s), c.fault == rbf::module_fault::none && c.parity_ok && c.crc_ok);
    }
    const rbf::module_scan s = rbf::scan_modules(nameless);
    ASSERT_EQ(s.modules.size(), 1u);
    EXPECT_FALSE(s.modules[0].name_ok);
    EXPECT_EQ(s.modules[0].name, "");
}

TEST(ModuleFix, SetsParityThenCrcAndOnlyThose) {
    const bytes a = hand_module("Alpha", 1, 1), b = hand_module("Beta", 4, 0);
    bytes broken = cat(flip(a, 8), b);
    broken[broken.size() - 2] ^= 1;  // the second one's CRC
    bytes patched = broken;
    const rbf::module_scan s = rbf::scan_modules(patched);
    ASSERT_EQ(s.modules.size(), 2u);
    EXPECT_TRUE(rbf::module_fix(patched, s.modules[0]));
    EXPECT_TRUE(rbf::module_fix(patched, s.modules[1]));
    EXPECT_EQ(patched, cat(a, b));
    EXPECT_FALSE(rbf::module_fix(patched, s.modules[0]));
    // The builder's modules are the hand-made ones.
    EXPECT_EQ(rbf::module_build("Alpha", 1, 1, 8, 2, {0x12, 0x34, 0x00, 0x40}), a);
}

}  // namespace
