// Pathlist splitting and the conversions, each compared with a plain
// restatement of the rule: validate_pathlist, the parent split and the
// walk of an in-image path (on a small fixed image held in memory),
// StrToInt, pow, names, bitmap runs, SAS, segment capacity and the date
// encoding.
#include <climits>
#include <cstring>
#include <ctime>
#include <memory>

#include "fuzz_util.h"
#include "image_builder.h"
#include "os9conv.h"
#include "os9disk.h"
#include "rbf/memory_device.h"
#include "os9path.h"
#include "os9sys.h"

using namespace dvfuzz;

namespace {

bytes g_image;  // the fixed image the in-image paths are walked in

std::vector<std::string> pieces(const std::string& s, char sep) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : s) {
        if (c == sep) {
            if (!cur.empty()) out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
}

// An image's "@@OFFSET": decimal bytes, 0x hex bytes or decimal sectors
// and 's', below 2^63 bytes.
bool offset_ok(const std::string& o) {
    const bool hex = o.size() > 2 && o[0] == '0' && (o[1] == 'x' || o[1] == 'X');
    const bool sectors = !o.empty() && o.back() == 's';
    const std::string digits = o.substr(hex ? 2 : 0, o.size() - (hex ? 2 : 0) - (sectors ? 1 : 0));
    if (digits.empty()) return false;
    unsigned __int128 v = 0;
    for (char c : digits) {
        int d = c >= '0' && c <= '9' ? c - '0' : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (d < 0) return false;
        v = v * (hex ? 16 : 10) + static_cast<unsigned>(d);
        if (v >= (static_cast<unsigned __int128>(1) << 64)) return false;
    }
    if (sectors) v *= 256;
    return v <= UINT64_MAX / 2;
}

void check_validate(const std::string& s) {
    rbf::_pd pd;
    int ec = rbf::validate_pathlist(&pd, s);
    std::vector<std::string> p = pieces(s, ':');
    bool bad = p.empty() || p[0].size() > rbf::MAX_PIECE || (p.size() > 1 && p[1].size() > rbf::MAX_PIECE);
    // An image path's image piece (one followed by a colon, even with
    // nothing after it) may end in a partition's offset.
    std::string image = p.empty() ? std::string() : p[0];
    const std::size_t from = s.find_first_not_of(':');
    const bool image_path = from != std::string::npos && s.find(':', from) != std::string::npos;
    if (!bad && image_path) {
        if (std::size_t at = image.rfind("@@"); at != std::string::npos) {
            bad = !offset_ok(image.substr(at + 2)) || at == 0;
            image.resize(at);
        }
    }
    DV_CHECK((ec == rbf::E_BPNAM) == bad && (ec == 0 || ec == rbf::E_BPNAM), "validate_pathlist result");
    if (bad) return;
    DV_CHECK(rbf::path_image_file(&pd) == image, "image piece");
    // A second piece makes it an image path; nothing after the colon is the
    // host file itself for the path calls.
    DV_CHECK(rbf::path_is_host(&pd) == (p.size() < 2), "host file flag");
    DV_CHECK(rbf::path_in_image(&pd) == (p.size() > 1 ? p[1] : std::string()), "in-image piece");
}

// The parent split and the walk of `in_image`, a path inside the fixed image
// (':' is an ordinary character there).
void check_parent_and_walk(const std::string& in_image) {
    const rbf::image_ref image = rbf::image_in_memory(g_image);

    rbf::os9_path_id p = nullptr;
    std::string filename = "junk";
    rbf::error_code ec =
        rbf::_os9_open_parent_directory(&p, image, in_image, rbf::MODE_DIR | rbf::MODE_WRITE, filename);
    std::size_t slash = in_image.rfind('/');
    std::string last = in_image.substr(slash == std::string::npos ? 0 : slash + 1);
    if (in_image.size() > rbf::MAX_PARENT_PATHLIST || last.size() > rbf::MAX_FILENAME) {
        DV_CHECK(ec == rbf::E_BPNAM && p == nullptr, "too long a path or name not 215");
    } else {
        DV_CHECK(filename == last, "parent split: final name");
        DV_CHECK((ec == 0) == (p != nullptr), "parent open result and path disagree");
    }
    if (p) {
        DV_CHECK((rbf::path_mode(p) & rbf::MODE_DIR) && rbf::path_fd_sector(p) > 0, "parent is not an open directory");
        rbf::_os9_close(p);
    }

    const int modes[] = {rbf::MODE_READ, rbf::MODE_DIR | rbf::MODE_READ, rbf::MODE_DIR | rbf::MODE_WRITE, 0};
    for (int mode : modes) {
        p = nullptr;
        ec = rbf::_os9_open(&p, image, in_image, mode);
        DV_CHECK((ec == 0) == (p != nullptr), "open result and path disagree");
        DV_CHECK(ec == 0 || ec == rbf::E_GENERAL || ec == rbf::E_FNA || ec == rbf::E_PNNF,
                 "open returned " + std::to_string(ec));
        if (!in_image.empty() && in_image.back() == '@') DV_CHECK(ec == 0 && rbf::path_is_raw(p), "raw open");
        if (p) rbf::_os9_close(p);
    }
    DV_CHECK(rbf::image_contents(*image) == g_image, "opening and closing changed the image");
}

void check_conversions(const std::string& s) {
    // StrToInt: prefix picks the base, digits end the number, 32-bit wrap.
    std::string z(s.c_str());  // up to the first zero byte
    int got = rbf::StrToInt(z.c_str());
    if (!z.empty() && (z[0] == '$' || z[0] == '%' || z[0] == '0')) {
        std::uint32_t base = z[0] == '$' ? 16 : z[0] == '%' ? 2 : 8;
        std::uint32_t v = 0;
        for (std::size_t i = 1; i < z.size(); ++i) {
            int d = -1;
            char c = z[i];
            if (c >= '0' && c <= '9') d = c - '0';
            else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
            else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
            if (d < 0 || static_cast<std::uint32_t>(d) >= base) break;
            v = v * base + static_cast<std::uint32_t>(d);
        }
        DV_CHECK(got == static_cast<int>(v), "StrToInt of a prefixed number");
    }

    // Names.
    bool ok = true;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        ok = ok && ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
                    c == '.' || c == '$' || (c == '-' && i > 0));
    }
    DV_CHECK(rbf::_os9_ok_filename(s) == (ok ? 0 : 1), "_os9_ok_filename");

    std::size_t width = std::min<std::size_t>(s.size(), 32);
    auto field = std::make_unique<unsigned char[]>(width + 1);
    std::memcpy(field.get(), s.data(), width);
    std::string name = rbf::NameFromField(field.get(), width);
    std::string expect;
    for (std::size_t i = 0; i < width && field[i] != 0; ++i) {
        expect.push_back(static_cast<char>(field[i] & 0x7F));
        if (field[i] & 0x80) break;
    }
    DV_CHECK(name == expect, "NameFromField");
    DV_CHECK(rbf::NameFieldEquals(field.get(), width, expect), "a name does not equal its own field");

    std::string a = s.substr(0, s.size() / 2), b = s.substr(s.size() / 2);
    auto fold = [](std::string x) {
        for (char& c : x)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
        return x;
    };
    DV_CHECK(rbf::NameEquals(a, b) == (fold(a) == fold(b)), "NameEquals");
    DV_CHECK(rbf::NameEquals(a, a), "NameEquals of a name with itself");

    std::string t = s;
    rbf::StringToOS9Name(t);
    if (!s.empty()) DV_CHECK(static_cast<unsigned char>(t.back()) & 0x80, "StringToOS9Name");
    rbf::OS9NameToString(t);
    std::string u = s;
    if (!u.empty()) u.back() = static_cast<char>(u.back() & 0x7F);
    DV_CHECK(t == u, "name flag round trip");
}

void check_numbers(Reader& in) {
    // pow by repeated multiplication, wrapping.
    int x = static_cast<int>(in.u32());
    int p = static_cast<int>(in.u8() % 70);
    std::uint32_t r = 1;
    for (int i = 0; i < p; ++i) r *= static_cast<std::uint32_t>(x);
    DV_CHECK(rbf::pow(x, p) == static_cast<int>(r), "pow");

    // SAS: the smallest multiple of sas not below s (where it exists).
    int sas = 1 + static_cast<int>(in.u16() % 0x7FFF);
    int s = static_cast<int>(in.u32() & 0x7FFFFFFF);
    if (s <= INT_MAX - sas) {
        int v = rbf::SAS(s, sas);
        DV_CHECK(v % sas == 0 && v >= s && v - s < sas, "SAS");
    }

    // Capacity of a segment list.
    auto fd = std::make_unique<rbf::fd_stats>();
    bytes raw = in.take(256);
    raw.resize(256, 0);
    std::memcpy(fd.get(), raw.data(), 256);
    int cs = 256 * static_cast<int>(in.u16() % 0x101);
    std::int64_t cap = 0;
    for (int k = 0; k < 48; ++k) {
        if (be(raw.data() + 16 + 5 * k, 3) == 0) break;
        cap += std::int64_t{be(raw.data() + 19 + 5 * k, 2)} * cs;
    }
    DV_CHECK(rbf::_os9_maximum_file_size(*fd, cs) == cap, "_os9_maximum_file_size");

    // Date encoding of a time the host can express.
    std::time_t when = static_cast<std::time_t>(static_cast<std::int64_t>(in.u32()) * 3 - 0x100000000LL);
    unsigned char os9[5] = {1, 2, 3, 4, 5};
    rbf::UnixToOS9Time(when, os9);
    std::tm tm{};
    if (gmtime_r(&when, &tm)) {
        DV_CHECK(os9[0] == static_cast<unsigned char>(tm.tm_year) && os9[1] == tm.tm_mon + 1 && os9[2] == tm.tm_mday &&
                     os9[3] == tm.tm_hour && os9[4] == tm.tm_min,
                 "UnixToOS9Time");
    }
}

void check_bitmap(Reader& in) {
    int first = static_cast<int>(in.u32());
    if (in.u8() & 1) first &= 0x3FFF;
    int num = static_cast<int>(in.u32());
    if (in.u8() & 1) num = (num & 0x3FFF) - 0x100;
    int total = static_cast<int>(in.u24()) - 8;
    const bytes map = in.take(in.u8());

    auto bit = [](const bytes& m, std::int64_t k) { return (m[static_cast<std::size_t>(k / 8)] >> (7 - k % 8)) & 1; };
    auto expect_run = [&](bool set) {
        bytes m = map;
        if (first >= 0 && num > 0)
            for (std::int64_t k = first; k < std::int64_t{first} + num && k < static_cast<std::int64_t>(m.size()) * 8; ++k) {
                unsigned char mask = static_cast<unsigned char>(0x80 >> (k % 8));
                auto& byte = m[static_cast<std::size_t>(k / 8)];
                byte = static_cast<unsigned char>(set ? (byte | mask) : (byte & ~mask));
            }
        return m;
    };
    // Each call works on a heap copy of exactly the bitmap's size.
    auto run = [&](auto call) {
        auto buf = std::make_unique<unsigned char[]>(map.size());
        if (!map.empty()) std::memcpy(buf.get(), map.data(), map.size());
        call(buf.get());
        return bytes(buf.get(), buf.get() + map.size());
    };
    DV_CHECK(run([&](unsigned char* b) { rbf::_os9_allbit({b, map.size()}, first, num); }) == expect_run(true), "_os9_allbit");
    DV_CHECK(run([&](unsigned char* b) { rbf::_os9_delbit({b, map.size()}, first, num); }) == expect_run(false), "_os9_delbit");
    DV_CHECK(run([&](unsigned char* b) { rbf::_os9_allocate_bits(b, map.size(), first, num); }) == expect_run(true),
             "_os9_allocate_bits");
    DV_CHECK(run([&](unsigned char* b) { rbf::_os9_delete_bits(b, map.size(), first, num); }) == expect_run(false),
             "_os9_delete_bits");

    auto buf = std::make_unique<unsigned char[]>(map.size());
    if (!map.empty()) std::memcpy(buf.get(), map.data(), map.size());
    std::span<const unsigned char> view(buf.get(), map.size());
    int c = rbf::_os9_ckbit(view, first);
    bool inside = first >= 0 && static_cast<std::int64_t>(first) < static_cast<std::int64_t>(map.size()) * 8;
    DV_CHECK(inside ? (c != 0) == (bit(map, first) != 0) : c != 0, "_os9_ckbit");

    int free_bit = rbf::_os9_getfreebit({buf.get(), map.size()}, total);
    std::int64_t want = -1;
    for (std::int64_t k = 2; k < total && k < static_cast<std::int64_t>(map.size()) * 8; ++k)
        if (!bit(map, k)) {
            want = k;
            break;
        }
    DV_CHECK(free_bit == want, "_os9_getfreebit");
    if (want >= 0) DV_CHECK(bit(bytes(buf.get(), buf.get() + map.size()), want), "_os9_getfreebit did not set its bit");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("TZ", "UTC", 1);
    tzset();
    dvtest::ImageBuilder b(96, "PATHS", 4);
    int dir = b.add_dir(b.root(), "DIR");
    int sub = b.add_dir(dir, "sub");
    b.add_file(b.root(), "readme", std::string("one\rtwo\r"));
    b.add_file(dir, "f.txt", std::string("x"));
    b.add_file(sub, "deep", std::string("y"), 0x03);
    b.add_dir(b.root(), "NOREAD", 0x82);
    g_image = b.image();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    Reader in(data, size);
    const unsigned choice = in.u8();
    bytes rest = in.rest();
    const std::string s(rest.begin(), rest.end());
    switch (choice % 4) {
        case 0:
            check_validate(s);
            check_parent_and_walk(s);
            break;
        case 1:
            check_conversions(s);
            break;
        case 2: {
            Reader r(rest.data(), rest.size());
            check_numbers(r);
            break;
        }
        default: {
            Reader r(rest.data(), rest.size());
            check_bitmap(r);
        }
    }
    return 0;
}
