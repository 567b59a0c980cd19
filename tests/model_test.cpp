// Randomized, seeded model test: long runs of random operations (make
// directories, create and write files of random sizes, append and rewrite,
// delete files, prune subtrees) on in-memory images of several geometries,
// nearly full ones among them.  After every step the whole image must be
// consistent (dvtest::check_tree) and hold exactly what an in-memory model
// of the tree says: the same names, kinds, sizes and bytes.  Failures of the
// disk-full kind are accepted only where the free space read from the
// bitmap could not have held the request, and must change nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "image_builder.h"
#include "os9path.h"
#include "prune_walk.h"
#include "os9disk.h"
#include "test_support.h"
#include "tree_check.h"

namespace {

using dvtest::bytes;

struct Geometry {
    const char* label;
    int total;     // sectors
    int sas;       // pd_sas as stored
    int steps;
    unsigned seed;
    bool reaches_full;  // the run must meet a full disk
    int cluster = 1;    // dd_bit
};

// What a file or directory should hold.
struct Entry {
    bool dir = false;
    bytes data;
};

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return s;
}

std::string parent_of(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash);
}

std::string leaf_of(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Free-space facts read straight from the image's bitmap, in clusters.
struct Space {
    int free = 0;
    int longest_run = 0;
};

Space space_of(const unsigned char* map, int total) {
    Space s;
    int run = 0;
    for (int u = 0; u < total; ++u) {
        bool used = map[static_cast<std::size_t>(u) / 8] & (0x80 >> (u % 8));
        run = used ? 0 : run + 1;
        s.free += !used;
        s.longest_run = std::max(s.longest_run, run);
    }
    return s;
}

int clusters_of(const bytes& img) {
    const int c = static_cast<int>(dvtest::be(img.data() + 6, 2));
    return (dvtest::dd_tot(img) + c - 1) / c;
}

Space space_of(const bytes& img) { return space_of(img.data() + 256, clusters_of(img)); }

// While a path is open for writing its allocations live in its own bitmap
// copy (once it has read one); that copy is the disk's state for it.
Space space_of(const bytes& img, rbf::os9_path_id p) {
    const std::span<unsigned char> copy = rbf::path_bitmap(p);
    if (copy.empty()) return space_of(img);
    return space_of(copy.data(), clusters_of(img));
}

// Units a file's FD allocates.
int allocated_units(const bytes& img, int fd) {
    int units = 0;
    for (auto [lsn, num] : dvtest::fd_segments(img, fd)) units += num;
    return units;
}

int segment_count(const bytes& img, int fd) { return static_cast<int>(dvtest::fd_segments(img, fd).size()); }

class ModelRun {
public:
    explicit ModelRun(const Geometry& g) : g_(g), rng_(g.seed), builder_(g.total, "Model", g.sas, g.cluster) {
        // New segments in clusters: pd_sas sectors rounded up.
        const int sas = (g.sas == 0 || g.sas > g.total / 2) ? 1 : g.sas;
        sas_eff_ = (sas + g.cluster - 1) / g.cluster;
        disk_ = rbf::image_in_memory(builder_.image());
        cur_ = builder_.image();
        tree_ = dvtest::list_tree(cur_);
    }

    void run() {
        for (step_ = 0; step_ < g_.steps; ++step_) {
            std::string what = one_step();
            SCOPED_TRACE(std::string(g_.label) + " step " + std::to_string(step_) + ": " + what);
            ASSERT_NO_FATAL_FAILURE(verify());
            if (::testing::Test::HasFailure()) return;
        }
    }

    int max_segments() const { return max_segments_; }

    int steps_with(rbf::error_code ec) const {
        auto it = results_.find(ec);
        return it == results_.end() ? 0 : it->second;
    }

private:
    bytes image() const { return rbf::image_contents(*disk_); }
    unsigned pick(unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(rng_); }

    std::vector<std::string> dirs() const {
        std::vector<std::string> out{""};
        for (const auto& [path, e] : model_)
            if (e.dir) out.push_back(path);
        return out;
    }
    std::vector<std::string> files() const {
        std::vector<std::string> out;
        for (const auto& [path, e] : model_)
            if (!e.dir) out.push_back(path);
        return out;
    }
    // The entry of `dir` whose name equals `name` ignoring case, if any.
    std::string existing(const std::string& dir, const std::string& name) const {
        for (const auto& [path, e] : model_)
            if (parent_of(path) == dir && upper(leaf_of(path)) == upper(name)) return path;
        return "";
    }
    std::string new_name() {
        static const char* const pool[] = {"a", "b", "c", "d", "e", "f", "g", "data.txt", "LOG", "x_1", "Deep", "n.9"};
        std::string n = pool[pick(sizeof pool / sizeof pool[0])];
        if (pick(4) == 0) n = upper(n);
        return n;
    }
    std::string join(const std::string& dir, const std::string& name) const { return dir.empty() ? name : dir + "/" + name; }

    bytes random_data() {
        std::size_t n;
        switch (pick(10)) {
            case 0: n = 0; break;
            case 1: n = 256 * (1 + pick(6)); break;         // whole units
            case 2: n = 2000 + pick(9000); break;           // several units
            case 3:  // now and then a good part of the disk
                n = pick(2) == 0 ? std::min<std::size_t>(static_cast<std::size_t>(g_.total) * 256 / (1 + pick(4)), 100000)
                                 : 600 + pick(1500);
                break;
            default: n = 1 + pick(700);
        }
        bytes d(n);
        for (auto& b : d) b = static_cast<unsigned char>(rng_());
        return d;
    }

    // True when a new entry makes `dir` grow: it has no cleared slot to
    // reuse and no room after its last entry.
    bool dir_needs_growth(const bytes& img, const std::string& dir) const {
        int fd = dir.empty() ? dvtest::dd_dir(img) : tree_.at(dir).fd;
        const std::uint32_t size = dvtest::fd_size(img, fd);
        const bytes data = dvtest::file_bytes(img, fd);
        for (std::size_t off = 0; off + 32 <= data.size(); off += 32)
            if (data[off] == 0) return false;
        return size + 32 > static_cast<std::uint32_t>(allocated_units(img, fd)) * 256;
    }

    void note(rbf::error_code ec) { ++results_[ec]; }

    std::string op_makdir() {
        std::vector<std::string> ds = dirs();
        std::string dir = ds[pick(static_cast<unsigned>(ds.size()))];
        std::string name = new_name();
        std::string path = join(dir, name);
        const Space sp = space_of(cur_);
        rbf::error_code ec = rbf::_os9_makdir(disk_, path);
        note(ec);
        if (!existing(dir, name).empty()) {
            EXPECT_EQ(ec, rbf::E_CEF) << "a name that exists (case ignored)";
        } else if (ec == rbf::E_SUCCESS) {
            model_[path] = Entry{true, {}};
        } else if (ec != rbf::E_SLF) {
            EXPECT_EQ(ec, rbf::E_FULL);
            // FD, a new segment of the parent, the directory's first segment.
            EXPECT_LT(sp.longest_run, 2 * sas_eff_ + 1) << "248 with a free run of " << sp.longest_run;
        }
        if (ec != rbf::E_SUCCESS) {
            EXPECT_EQ(space_of(image()).free, sp.free) << "a failed makdir kept units";
        }
        return "makdir " + path + " -> " + std::to_string(ec);
    }

    std::string op_create() {
        std::vector<std::string> ds = dirs();
        std::string dir = ds[pick(static_cast<unsigned>(ds.size()))];
        std::string name = new_name();
        std::string path = join(dir, name);
        const Space sp = space_of(cur_);
        const bool grow = dir_needs_growth(cur_, dir);
        rbf::os9_path_id p = nullptr;
        rbf::error_code ec = rbf::_os9_create(&p, disk_, path, rbf::MODE_WRITE, 0x1B);
        note(ec);
        if (!existing(dir, name).empty()) {
            EXPECT_EQ(ec, rbf::E_CEF);
            EXPECT_EQ(p, nullptr);
            return "create " + path + " (exists) -> " + std::to_string(ec);
        }
        if (ec == rbf::E_SLF) {
            EXPECT_TRUE(grow) << "217 from a parent that did not need to grow";
            return "create " + path + " -> 217";
        }
        if (ec != rbf::E_SUCCESS) {
            EXPECT_EQ(ec, rbf::E_FULL);
            EXPECT_TRUE(sp.free == 0 || (grow && sp.longest_run < sas_eff_ + 1))
                << "248 with " << sp.free << " free, longest run " << sp.longest_run;
            EXPECT_EQ(space_of(image()).free, sp.free);
            return "create " + path + " -> " + std::to_string(ec);
        }
        model_[path] = Entry{false, {}};
        std::string what = "create " + path;
        bytes data = random_data();
        std::size_t pieces = 1 + pick(3), at = 0;
        for (std::size_t k = 0; k < pieces; ++k) {
            std::size_t len = k + 1 == pieces ? data.size() - at : (data.size() - at) / 2;
            what += " +" + std::to_string(len);
            if (!write_checked(p, path, data.data() + at, len, model_[path].data.size())) break;
            at += len;
        }
        rbf::_os9_close(p);
        return what;
    }

    // Writes at `pos` through the open path; the model follows on success.
    // A disk-full failure changes nothing and must be plausible.
    bool write_checked(rbf::os9_path_id p, const std::string& path, const unsigned char* data, std::size_t len,
                       std::size_t pos) {
        const bytes before = image();
        const Space sp = space_of(before, p);
        // Units the FD already holds, read from the image (the open path's
        // FD is written through on every write).
        int have = allocated_units(before, rbf::path_fd_sector(p));
        const std::size_t cluster_bytes = 256u * static_cast<std::size_t>(g_.cluster);
        int needed = static_cast<int>((pos + len + cluster_bytes - 1) / cluster_bytes) - have / g_.cluster;
        EXPECT_EQ(rbf::_os9_seek(p, static_cast<int>(pos), 0), rbf::E_SUCCESS);
        int size = static_cast<int>(len);
        rbf::error_code ec = rbf::_os9_write(p, data, &size);
        note(ec);
        if (ec == rbf::E_SUCCESS) {
            bytes& m = model_[path].data;
            if (m.size() < pos + len) m.resize(pos + len);
            std::copy(data, data + len, m.begin() + static_cast<long>(pos));
            return true;
        }
        if (len == 0) {
            // Nothing to write: only a position that no segment holds fails.
            EXPECT_EQ(ec, rbf::E_GENERAL) << "0-byte write at " << pos;
            EXPECT_GE(pos, static_cast<std::size_t>(have) * 256) << "0-byte write inside the file failed";
            return false;
        }
        EXPECT_TRUE(ec == rbf::E_FULL || ec == rbf::E_SLF) << "write returned " << ec;
        if (ec == rbf::E_FULL) {
            EXPECT_TRUE(sp.free < needed || sp.longest_run < needed + sas_eff_ - 1)
                << "248 for " << needed << " units with " << sp.free << " free, longest run " << sp.longest_run;
        }
        EXPECT_EQ(image(), before) << "a failed write changed the image";
        return false;
    }

    std::string op_append_or_rewrite() {
        std::vector<std::string> fs = files();
        if (fs.empty()) return op_create();
        std::string path = fs[pick(static_cast<unsigned>(fs.size()))];
        rbf::os9_path_id p = nullptr;
        rbf::error_code ec = rbf::_os9_open(&p, disk_, path, rbf::MODE_WRITE);
        EXPECT_EQ(ec, rbf::E_SUCCESS) << "open for write";
        if (ec) return "open " + path;
        const std::size_t size = model_[path].data.size();
        std::size_t pos = pick(2) ? size : pick(static_cast<unsigned>(size + 1));
        bytes data = random_data();
        if (data.size() > 6000) data.resize(6000);
        write_checked(p, path, data.data(), data.size(), pos);
        rbf::_os9_close(p);
        return "write " + path + " at " + std::to_string(pos) + " +" + std::to_string(data.size());
    }

    std::string op_delete() {
        std::vector<std::string> fs = files();
        std::string path;
        if (fs.empty() || pick(8) == 0) {
            std::vector<std::string> ds = dirs();
            path = join(ds[pick(static_cast<unsigned>(ds.size()))], new_name());
        } else {
            path = fs[pick(static_cast<unsigned>(fs.size()))];
        }
        std::string target = existing(parent_of(path), leaf_of(path));
        // Lookups ignore case all along the path.
        std::string asked = pick(3) == 0 ? upper(path) : path;
        rbf::error_code ec = rbf::_os9_delete(disk_, asked);
        note(ec);
        if (!target.empty() && model_[target].dir) {
            EXPECT_EQ(ec, rbf::E_ISDIR);
        } else {
            EXPECT_EQ(ec, rbf::E_SUCCESS);
            if (!target.empty()) model_.erase(target);
        }
        return "delete " + asked;
    }

    std::string op_prune() {
        std::vector<std::string> ds = dirs();
        if (ds.size() < 2) return op_makdir();
        std::string dir = ds[1 + pick(static_cast<unsigned>(ds.size() - 1))];
        long budget = 1000000;
        int ec = dvtest::prune_walk(disk_, dir, &budget);
        note(ec);
        EXPECT_EQ(ec, rbf::E_SUCCESS) << "prune";
        if (ec == rbf::E_SUCCESS) {
            for (auto it = model_.begin(); it != model_.end();)
                it = (it->first == dir || it->first.rfind(dir + "/", 0) == 0) ? model_.erase(it) : std::next(it);
        }
        return "prune " + dir;
    }

    // Reads a file back through the library in pieces of random size.
    std::string op_read_back() {
        std::vector<std::string> fs = files();
        if (fs.empty()) return "read (nothing)";
        std::string path = fs[pick(static_cast<unsigned>(fs.size()))];
        rbf::os9_path_id p = nullptr;
        EXPECT_EQ(rbf::_os9_open(&p, disk_, path, rbf::MODE_READ), rbf::E_SUCCESS);
        if (!p) return "read " + path;
        bytes got;
        for (;;) {
            std::vector<unsigned char> buf(1 + pick(3000));
            int size = static_cast<int>(buf.size());
            rbf::error_code ec = rbf::_os9_read(p, buf.data(), &size);
            if (ec == rbf::E_EOF) break;
            EXPECT_EQ(ec, rbf::E_SUCCESS);
            if (ec) break;
            got.insert(got.end(), buf.begin(), buf.begin() + size);
        }
        rbf::_os9_close(p);
        EXPECT_EQ(got, model_[path].data) << "read back " << path;
        return "read " + path;
    }

    std::string one_step() {
        const Space sp = space_of(cur_);
        // Nearly full disks lean towards deletes and prunes.
        unsigned r = pick(100);
        if (sp.free * 8 < clusters_of(cur_) && r < 50) return pick(3) ? op_delete() : op_prune();
        if (r < 22) return op_create();
        if (r < 40) return op_append_or_rewrite();
        if (r < 55) return op_makdir();
        if (r < 75) return op_delete();
        if (r < 83) return op_prune();
        return op_read_back();
    }

    void verify() {
        cur_ = image();
        const bytes& img = cur_;
        std::vector<std::string> problems = dvtest::check_tree(img);
        std::string joined;
        for (std::size_t i = 0; i < problems.size() && i < 6; ++i) joined += "\n  " + problems[i];
        ASSERT_TRUE(problems.empty()) << "image inconsistent:" << joined;
        tree_ = dvtest::list_tree(img);
        const auto& tree = tree_;
        std::vector<std::string> on_disk, in_model;
        for (const auto& [path, node] : tree) on_disk.push_back(path);
        for (const auto& [path, e] : model_) in_model.push_back(path);
        ASSERT_EQ(on_disk, in_model) << "names on the disk differ from the model";
        for (const auto& [path, node] : tree) {
            const Entry& e = model_.at(path);
            ASSERT_EQ(node.dir, e.dir) << path;
            if (e.dir) continue;
            ASSERT_EQ(node.size, e.data.size()) << path;
            ASSERT_TRUE(node.data == e.data) << "bytes of " << path;
            // A closed file keeps at most one cluster past its data, and the
            // rest of its FD's cluster, where its data begins.
            ASSERT_LE(allocated_units(img, node.fd),
                      static_cast<int>((node.size / (256 * g_.cluster) + 1) * g_.cluster + g_.cluster - 1))
                << path;
            max_segments_ = std::max(max_segments_, segment_count(img, node.fd));
        }
    }

    Geometry g_;
    rbf::image_ref disk_;  // the image under test, in memory
    std::mt19937 rng_;
    dvtest::ImageBuilder builder_;
    int sas_eff_ = 1;
    int step_ = 0;
    int max_segments_ = 0;  // most segments any file had
    std::map<std::string, Entry> model_;
    std::map<int, int> results_;
    bytes cur_;                                      // the image as the last step left it
    std::map<std::string, dvtest::TreeNode> tree_;   // and its tree
};

void PrintTo(const Geometry& g, std::ostream* os) { *os << g.label; }

class RandomOperations : public ::testing::TestWithParam<Geometry> {};

TEST_P(RandomOperations, KeepTheTreeConsistentAndEqualToTheModel) {
    ModelRun run(GetParam());
    run.run();
    // The run must have reached the interesting cases, not only the easy ones.
    if (!HasFailure()) {
        EXPECT_GT(run.steps_with(rbf::E_SUCCESS), GetParam().steps / 2);
        EXPECT_GT(run.steps_with(rbf::E_CEF), 0);
        EXPECT_GE(run.max_segments(), 2) << "no file ever had more than one segment";
        if (GetParam().reaches_full) {
            EXPECT_GT(run.steps_with(rbf::E_FULL), 0);
        }
    }
}

const Geometry kGeometries[] = {
    {"tiny_nearly_full", 48, 8, 600, 11u, true},
    {"small_sas1", 120, 1, 600, 22u, true},
    {"sas0_counts_as_1", 90, 0, 400, 33u, true},
    {"sas_over_half_counts_as_1", 40, 255, 400, 44u, true},
    {"floppy_sas8", 630, 8, 400, 55u, false},
    {"medium_sas16", 1200, 16, 250, 66u, false},
    {"two_bitmap_sectors", 2100, 4, 200, 77u, false},
    {"clusters_of_2", 1260, 8, 400, 88u, false, 2},
    {"clusters_of_4_nearly_full", 120, 4, 600, 99u, true, 4},
    {"clusters_of_8_nearly_full", 400, 8, 500, 111u, true, 8},
    {"clusters_of_32_nearly_full", 1600, 32, 500, 122u, true, 32},
};

INSTANTIATE_TEST_SUITE_P(Model, RandomOperations, ::testing::ValuesIn(kGeometries),
                         [](const ::testing::TestParamInfo<Geometry>& info) { return std::string(info.param.label); });

}  // namespace
