// The writing flows on an arbitrary image held in memory, through the calls
// that take an image: create and write, rewrite and append, make directory,
// delete, prune (the library's tree removal, as the prune program runs it),
// raw writes, FD updates and restores of deleted entries.  Every flow must end; LSN 0 and the
// rest of the system area past dd_map never change; the image never grows
// past the disk; and an image that was sound (every unit owned once, links
// of 1, readable directories) stays sound after every flow that goes
// through files and directories.
//
// Input: the length L of the script, L bytes of script, then the image.
#include <cstring>
#include <ctime>
#include <map>
#include <memory>

#include "fuzz_util.h"
#include "os9conv.h"
#include "os9disk.h"
#include "rbf/memory_device.h"
#include "os9path.h"
#include "prune_walk.h"
#include "tree_check.h"

using namespace dvfuzz;

// New FDs carry the time of day; a fixed clock keeps every run the same.
extern "C" time_t time(time_t* t) noexcept {
    const time_t fixed = 1772546700;  // 2026-03-03 14:05 UTC
    if (t) *t = fixed;
    return fixed;
}

namespace {

const char* const kDirs[] = {"", "DIR/", "DIR/sub/", "D2/", "A/", "missing/", "DIR/sub/deep/", "./", "d2/SUB/"};
const char* const kNames[] = {"A",    "B",     "C",     "DIR",  "D2",   "sub", "file", "FILE",
                              "f.txt", "x_1",  "deep",  ".",    "..",   "",    "a b",
                              "name_that_is_28_chars_long__", "name_that_is_29_chars_long___",
                              "name_that_is_30_chars_long____", "my-file", "$SYS", "-x"};
const int kAtts[] = {0x1B, 0x03, 0x01, 0x02, 0x00, 0xBF, 0x3F, 0x83};

template <class T, std::size_t N>
const T& pick(const T (&table)[N], Reader& in) {
    return table[in.u8() % N];
}

// Memory the harness allows an image to reach: dd_tot × cluster size.
constexpr std::int64_t kMaxDiskBytes = std::int64_t{1} << 20;

constexpr long kPruneBudget = 1500;

struct Guard {
    bytes original;
    Geometry g;
    explicit Guard(const bytes& img) : original(img), g(img) {}

    // LSN 0 is written only for the boot pointer (dd_bt, dd_bsz: bytes
    // 21-25), which follows the boot file; the bitmap sectors' bytes past
    // dd_map are never written; nothing lands past the end of the disk.
    void check(const bytes& now, const char* flow) const {
        std::size_t keep = std::min<std::size_t>(original.size(), 256);
        bool same = now.size() >= keep;
        for (std::size_t i = 0; same && i < keep; ++i) same = (i >= 21 && i < 26) || now[i] == original[i];
        DV_CHECK(same, std::string(flow) + " changed LSN 0 beyond the boot pointer");
        for (std::int64_t off = 256 + g.map; off < g.sys_end && off < static_cast<std::int64_t>(original.size()); ++off)
            DV_CHECK(now[static_cast<std::size_t>(off)] == original[static_cast<std::size_t>(off)],
                     std::string(flow) + " wrote into the bitmap sectors past dd_map");
        DV_CHECK(static_cast<std::int64_t>(now.size()) <= std::max<std::int64_t>(original.size(), g.disk_bytes()),
                 std::string(flow) + " grew the image past the disk");
    }
};

// The properties under which the library must keep an image sound: one
// unit per sector, the whole disk in the image, every unit in use owned
// exactly once (LSN 0, bitmap, an FD, a segment) and every free one by
// nothing, sizes within allocations, ".." and "." right, one link per file,
// readable and writable directories.  Stops at the first fault, so damaged
// images cost little; the tests' own tree check then confirms.
bool sound(const bytes& img) {
    Geometry g(img);
    if (g.bit != 1 || g.total < 2 || static_cast<std::int64_t>(img.size()) < g.total * 256) return false;
    if (g.map * 8 < g.total) return false;
    const std::int64_t total = g.total;
    std::vector<char> owned(static_cast<std::size_t>(total), 0);
    for (std::int64_t u = 0; u <= g.map / 256 + 1 && u < total; ++u) owned[static_cast<std::size_t>(u)] = 1;
    std::vector<std::pair<std::int64_t, std::int64_t>> todo{{g.dir, g.dir}};
    while (!todo.empty()) {
        auto [lsn, parent] = todo.back();
        todo.pop_back();
        if (lsn <= 0 || lsn >= total || owned[static_cast<std::size_t>(lsn)]) return false;
        owned[static_cast<std::size_t>(lsn)] = 1;
        const unsigned char* fd = img.data() + lsn * 256;
        std::vector<std::pair<std::int64_t, std::int64_t>> segs;
        std::int64_t cap = 0;
        for (int k = 0; k < 48; ++k) {
            std::int64_t s = be(fd + 16 + 5 * k, 3), n = be(fd + 19 + 5 * k, 2);
            if (s == 0) break;
            if (s + n > total) return false;
            for (std::int64_t u = s; u < s + n; ++u) {
                if (owned[static_cast<std::size_t>(u)]) return false;
                owned[static_cast<std::size_t>(u)] = 1;
            }
            segs.emplace_back(s, n);
            cap += n * 256;
        }
        const std::int64_t size = be(fd + 9, 4);
        if (size > cap) return false;
        if (lsn != g.dir && fd[8] != 1) return false;
        if (!(fd[0] & 0x80)) continue;
        if (lsn != g.dir && (fd[0] & 0x03) != 0x03) return false;
        if (size % 32 != 0 || size < 64) return false;
        bytes data;
        for (auto [s, n] : segs)
            for (std::int64_t b = 0; b < n * 256 && static_cast<std::int64_t>(data.size()) < size; ++b)
                data.push_back(img[static_cast<std::size_t>(s * 256 + b)]);
        if (dvtest::entry_name(&data[0]) != ".." || be(&data[29], 3) != parent) return false;
        if (dvtest::entry_name(&data[32]) != "." || be(&data[61], 3) != lsn) return false;
        for (std::size_t off = 64; off + 32 <= data.size(); off += 32)
            if (data[off] != 0) todo.emplace_back(be(&data[off + 29], 3), lsn);
    }
    for (std::int64_t u = 0; u < total; ++u) {
        bool used = img[static_cast<std::size_t>(256 + u / 8)] & (0x80 >> (u % 8));
        if (used != (owned[static_cast<std::size_t>(u)] != 0)) return false;
    }
    return dvtest::check_tree(img).empty();
}

std::string report(const std::vector<std::string>& problems) {
    std::string s;
    for (std::size_t i = 0; i < problems.size() && i < 8; ++i) s += "\n  " + problems[i];
    return s;
}

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return s;
}

// The image of the input being run.
rbf::image_ref g_image;

void fill(bytes& data, unsigned seed) {
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(seed + i * 7 + (i >> 8));
}

// Writes `n` bytes in up to three pieces.
void write_pieces(rbf::os9_path_id p, Reader& in, int n) {
    bytes data(static_cast<std::size_t>(n));
    fill(data, in.u8());
    int pieces = 1 + static_cast<int>(in.u8() % 3);
    int at = 0;
    for (int k = 0; k < pieces && at <= n; ++k) {
        int len = k + 1 == pieces ? n - at : (n - at) / 2;
        int size = len;
        rbf::error_code ec = rbf::_os9_write(p, data.data() + at, &size);
        if (ec) break;
        at += len;
    }
}

// Creates a file and writes it.  False when it made a directory by hand
// (without "..", "."), which the caller is free to do but which is no
// longer a sound tree.
bool flow_create(Reader& in, const std::string& in_image) {
    rbf::os9_path_id p = nullptr;
    int att = pick(kAtts, in);
    int mode = (in.u8() & 1) ? rbf::MODE_WRITE : (rbf::MODE_WRITE | rbf::MODE_READ);
    if (att & 0x80) mode |= rbf::MODE_DIR;
    rbf::error_code ec = rbf::_os9_create(&p, g_image, in_image, mode, att);
    if (ec == rbf::E_SUCCESS) {
        DV_CHECK(p != nullptr, "create succeeded without a path");
        write_pieces(p, in, static_cast<int>(in.u16() % 12000));
        rbf::_os9_close(p);
    } else {
        DV_CHECK(p == nullptr, "a failed create left a path");
    }
    return !(att & 0x80) || ec != rbf::E_SUCCESS;
}

// Writes into an existing file.  False when it wrote into a directory.
bool flow_rewrite(Reader& in, const std::string& in_image) {
    rbf::os9_path_id p = nullptr;
    const int modes[] = {rbf::MODE_WRITE, rbf::MODE_WRITE | rbf::MODE_READ, rbf::MODE_DIR | rbf::MODE_WRITE,
                         rbf::MODE_READ};
    int mode = pick(modes, in);
    if (rbf::_os9_open(&p, g_image, in_image, mode) != rbf::E_SUCCESS) return true;
    int seek_mode = static_cast<int>(in.u8() % 3);
    int pos = static_cast<int>(static_cast<std::int16_t>(in.u16()));
    if (seek_mode == 2) pos = -(pos & 0x3FF);
    rbf::_os9_seek(p, pos, seek_mode);
    int n = static_cast<int>(in.u16() % 9000);
    bytes data(static_cast<std::size_t>(n));
    fill(data, in.u8());
    int size = n;
    rbf::error_code ec = rbf::_os9_write(p, data.data(), &size);
    if (!(mode & rbf::MODE_WRITE)) DV_CHECK(ec == rbf::E_FNA, "write on a read-only path");
    rbf::_os9_close(p);
    return !(mode & rbf::MODE_DIR) || ec != rbf::E_SUCCESS;
}

// Steps (directories entered, entries met) that the prunes of one input
// may take together; a damaged tree can hold far more than a run needs.
long g_prune_budget = 0;

void flow_prune(const std::string& in_image) {
    if (g_prune_budget > 0) dvtest::prune_walk(g_image, in_image, &g_prune_budget);
}

// Writes `n` bytes through raw access at a position; true when it wrote.
bool flow_raw(Reader& in) {
    rbf::os9_path_id p = nullptr;
    if (rbf::_os9_open(&p, g_image, "@", rbf::MODE_WRITE) != rbf::E_SUCCESS) return false;
    rbf::_os9_seek(p, static_cast<int>(in.u24()), 0);
    int n = static_cast<int>(in.u16() % 2048);
    bytes data(static_cast<std::size_t>(n));
    fill(data, in.u8());
    int size = n;
    rbf::_os9_write(p, data.data(), &size);
    DV_CHECK(size >= 0 && size <= n, "raw write count");
    rbf::_os9_close(p);
    return size > 0;
}

// Changes one byte of an FD through gs_fd / gs_fd_set; true when it did.
bool flow_fd_set(Reader& in, const std::string& in_image) {
    rbf::os9_path_id p = nullptr;
    const int modes[] = {rbf::MODE_WRITE, rbf::MODE_DIR | rbf::MODE_WRITE, rbf::MODE_READ};
    int mode = pick(modes, in);
    if (rbf::_os9_open(&p, g_image, in_image, mode) != rbf::E_SUCCESS) return false;
    auto fd = std::make_unique<rbf::fd_stats>();
    bool changed = false;
    if (rbf::_os9_gs_fd(p, rbf::SECTOR_SIZE, fd.get()) == rbf::E_SUCCESS) {
        reinterpret_cast<unsigned char*>(fd.get())[in.u8()] = static_cast<unsigned char>(in.u8());
        int count = static_cast<int>(in.u16() % 300) - 20;
        rbf::error_code ec = rbf::_os9_gs_fd_set(p, count, fd.get());
        if (!(mode & rbf::MODE_WRITE)) DV_CHECK(ec == rbf::E_FNA, "gs_fd_set on a read-only path");
        changed = ec == rbf::E_SUCCESS;
    }
    rbf::_os9_close(p);
    return changed;
}

// Restores a deleted entry of the directory of `path` under its last name: one the listing gives, or any
// FD sector the script names.  Only a recoverable entry comes back.
void flow_undelete(Reader& in, const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string in_image = slash == std::string::npos ? "." : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::uint32_t lsn = in.u24();
    rbf::os9_path_id p = nullptr;
    if (rbf::_os9_open(&p, g_image, in_image, rbf::MODE_DIR | rbf::MODE_READ) == rbf::E_SUCCESS) {
        std::vector<rbf::os9_deleted> found;
        rbf::_os9_deleted_entries(p, &found);
        rbf::_os9_close(p);
        if (!found.empty() && (in.u8() & 1)) lsn = found[in.u8() % found.size()].fd_lsn;
    }
    rbf::undelete_report report;
    const rbf::error_code ec = rbf::_os9_undelete(g_image, in_image, lsn, name, &report);
    DV_CHECK(ec != rbf::E_SUCCESS || report.entry.state == rbf::deleted_state::recoverable,
             "restored an entry that is not recoverable");
}

}  // namespace

// DV_FUZZ_TRACE=1 prints each flow and its path, for triage.
static bool g_trace = false;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("TZ", "UTC", 1);
    tzset();
    g_trace = std::getenv("DV_FUZZ_TRACE") != nullptr;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    Reader head(data, size);
    bytes script = head.take(head.u8());
    const bytes img = head.rest();
    Guard guard(img);
    if (img.size() >= 256 && guard.g.disk_bytes() > kMaxDiskBytes) return 0;

    bool keep_sound = sound(img);
    if (g_trace) std::fprintf(stderr, "image %zu bytes, sound %d\n", img.size(), keep_sound ? 1 : 0);
    g_image = rbf::image_in_memory(img);
    g_prune_budget = kPruneBudget;
    Reader in(script.data(), script.size());
    // Plain files of the sound image before each flow: those the flow does
    // not name must keep their bytes.
    std::map<std::string, dvtest::TreeNode> files_before;
    if (keep_sound) files_before = dvtest::list_tree(img);
    for (int op_count = 0; op_count < 48 && !in.empty(); ++op_count) {
        unsigned op = in.u8();
        std::string path = std::string(pick(kDirs, in)) + pick(kNames, in);
        const char* flow = "";
        bool through_files = true;
        bool named = true;  // the flow's target is `path`
        switch (op % 10) {
            case 0:
                flow = "create";
                through_files = flow_create(in, path);
                break;
            case 1:
                flow = "rewrite";
                through_files = flow_rewrite(in, path);
                break;
            case 2:
                flow = "makdir";
                rbf::_os9_makdir(g_image, path);
                break;
            case 3:
                flow = "delete";
                rbf::_os9_delete(g_image, path);
                break;
            case 4:
                flow = "prune";
                flow_prune(path);
                break;
            case 5:
                flow = "raw write";
                if (flow_raw(in)) {
                    // Raw access may write any byte below the end of the
                    // disk, LSN 0 too: judge later flows from here on.
                    through_files = false;
                    const bytes now = rbf::image_contents(*g_image);
                    DV_CHECK(static_cast<std::int64_t>(now.size()) <=
                                 std::max<std::int64_t>(guard.original.size(), guard.g.disk_bytes()),
                             "raw write grew the image past the disk");
                    guard = Guard(now);
                    if (guard.g.disk_bytes() > kMaxDiskBytes) op_count = 48;  // out of the harness's reach
                }
                break;
            case 6:
                flow = "fd set";
                through_files = !flow_fd_set(in, path);
                break;
            case 7:
                flow = "undelete";
                flow_undelete(in, path);
                break;
            default: {
                // A path of the script's own bytes.
                bytes raw = in.take(in.u8() % 48);
                std::string literal(raw.begin(), raw.end());
                named = false;
                switch (in.u8() % 4) {
                    case 0: flow = "create (literal)"; through_files = flow_create(in, literal); break;
                    case 1: flow = "makdir (literal)"; rbf::_os9_makdir(g_image, literal); break;
                    case 2: flow = "delete (literal)"; rbf::_os9_delete(g_image, literal); break;
                    default: flow = "prune (literal)"; flow_prune(literal); break;
                }
            }
        }
        const bytes now = rbf::image_contents(*g_image);
        if (g_trace) std::fprintf(stderr, "%s '%s'%s\n", flow, path.c_str(), through_files ? "" : " (unsound from here)");
        guard.check(now, flow);
        if (!through_files) keep_sound = false;
        if (keep_sound) {
            std::vector<std::string> problems = dvtest::check_tree(now);
            DV_CHECK(problems.empty(), std::string(flow) + " '" + path + "' left a sound image unsound:" + report(problems));
            auto files_after = dvtest::list_tree(now);
            if (named) {
                const std::string target = upper(path.rfind("./", 0) == 0 ? path.substr(2) : path);
                for (const auto& [name, node] : files_before) {
                    if (node.dir || upper(name) == target) continue;
                    auto it = files_after.find(name);
                    if (it == files_after.end() || it->second.dir) continue;
                    DV_CHECK(it->second.data == node.data,
                             std::string(flow) + " '" + path + "' changed the bytes of " + name);
                }
            }
            files_before = std::move(files_after);
        }
    }
    g_image.reset();
    return 0;
}
