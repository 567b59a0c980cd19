#include "tree_check.h"

#include "os9disk.h"
#include "rbf/memory_device.h"

#include <algorithm>
#include <functional>
#include <set>

namespace dvtest {

namespace {

struct Disk {
    const bytes& img;
    int total, map_bytes, dd_dir, bitmap_sectors;
    explicit Disk(const bytes& b)
        : img(b),
          total(static_cast<int>(be(b.data(), 3))),
          map_bytes(static_cast<int>(be(b.data() + 4, 2))),
          dd_dir(static_cast<int>(be(b.data() + 8, 3))),
          bitmap_sectors(static_cast<int>(be(b.data() + 4, 2)) / 256 + 1) {}
    bool used(int unit) const { return img[256 + unit / 8] & (0x80 >> (unit % 8)); }
    const unsigned char* fd(int lsn) const { return img.data() + static_cast<std::size_t>(lsn) * 256; }
    bool fd_ok(int lsn) const { return lsn > 0 && lsn < total && static_cast<std::size_t>(lsn + 1) * 256 <= img.size(); }
};

bytes file_bytes(const Disk& d, int lsn) {
    const unsigned char* f = d.fd(lsn);
    std::uint32_t size = be(f + 9, 4);
    bytes out;
    for (int k = 0; k < 48; ++k) {
        int s = static_cast<int>(be(f + 16 + 5 * k, 3));
        int n = static_cast<int>(be(f + 19 + 5 * k, 2));
        if (s == 0) break;
        for (long long b = 0; b < static_cast<long long>(n) * 256 && out.size() < size; ++b) {
            std::size_t off = static_cast<std::size_t>(s) * 256 + static_cast<std::size_t>(b);
            if (off >= d.img.size()) break;
            out.push_back(d.img[off]);
        }
    }
    return out;
}

// Every file and directory reachable from the root, each FD once, by path.
void walk(const Disk& d, std::map<std::string, TreeNode>* tree) {
    std::set<int> seen;
    std::function<void(int, const std::string&)> visit = [&](int lsn, const std::string& path) {
        if (!d.fd_ok(lsn) || !seen.insert(lsn).second) return;
        const unsigned char* f = d.fd(lsn);
        const bool is_dir = f[0] & 0x80;
        bytes data = file_bytes(d, lsn);
        if (!path.empty()) {
            TreeNode node;
            node.dir = is_dir;
            node.size = be(f + 9, 4);
            node.fd = lsn;
            if (!is_dir) node.data = data;
            (*tree)[path] = node;
        }
        if (!is_dir) return;
        for (std::size_t off = 64; off + 32 <= data.size(); off += 32) {
            if (data[off] == 0) continue;
            std::string name = entry_name(&data[off]);
            visit(static_cast<int>(be(&data[off + 29], 3)), path.empty() ? name : path + "/" + name);
        }
    };
    visit(d.dd_dir, "");
}

}  // namespace

std::string entry_name(const unsigned char* e) {
    std::string n;
    for (int i = 0; i < 29 && e[i]; ++i) {
        n.push_back(static_cast<char>(e[i] & 0x7F));
        if (e[i] & 0x80) break;
    }
    return n;
}

// The library's own check, on a copy in memory: one check in the project.
std::vector<std::string> check_tree(const bytes& img) {
    std::vector<std::string> problems;
    if (img.size() < 512) return {"image shorter than two sectors"};
    rbf::check_result r;
    if (rbf::error_code ec = rbf::_os9_check(rbf::image_in_memory(img), {}, &r))
        return {"the image cannot be checked: error " + std::to_string(ec)};
    for (const rbf::check_problem& p : r.problems) problems.push_back(p.place + " (" + std::to_string(p.lsn) + "): " + p.text);
    return problems;
}

std::map<std::string, TreeNode> list_tree(const bytes& img) {
    std::map<std::string, TreeNode> tree;
    if (img.size() < 512) return tree;
    Disk d(img);
    walk(d, &tree);
    return tree;
}

std::vector<std::string> problems_beyond_leaks(const bytes& img) {
    std::vector<std::string> worse;
    for (const std::string& p : check_tree(img))
        if (p.find("belong to nothing (leaked)") == std::string::npos) worse.push_back(p);
    return worse;
}

int free_units(const bytes& img) {
    Disk d(img);
    const int c = std::max(1, static_cast<int>(be(img.data() + 6, 2)));
    int n = 0;
    for (int b = 0; b < (d.total + c - 1) / c; ++b) n += !d.used(b);  // bits: clusters
    return n;
}

}  // namespace dvtest
