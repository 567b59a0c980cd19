// Writes the seed corpus of the fuzz targets into <dir>/<target>/: small
// images made by the tests' image builder (several files, directories,
// multi-segment files, deleted entries, a nearly full disk, a two-sector
// bitmap, two-sector clusters), wrapped in each target's input format.
//
//   fuzz_make_corpus fuzz/corpus
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "container_builders.h"
#include "image_builder.h"
#include "rbf/module.h"

namespace {

using dvtest::bytes;
using dvtest::ImageBuilder;

bytes text(const std::string& s) { return bytes(s.begin(), s.end()); }

bytes pattern(std::size_t n, unsigned seed) {
    bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>(seed + i * 13 + (i >> 8));
    return b;
}

// Root: readme (lines), DIR/ with sub/ and files, D2/; a file in three
// segments; a deleted entry left as the library leaves one.
bytes tree_image() {
    ImageBuilder b(100, "Seed Disk", 8);
    int dir = b.add_dir(b.root(), "DIR");
    int sub = b.add_dir(dir, "sub");
    b.add_dir(b.root(), "D2");
    b.add_file(b.root(), "readme", text("first line\rsecond\r\rlast without end"));
    b.add_file(dir, "f.txt", text("x\ry\r"));
    b.add_file(sub, "deep", pattern(300, 1));
    int gone = b.add_file(b.root(), "gone", text("old"));
    // Deleted: byte 0 of its entry cleared, its units given back.
    for (auto [lsn, num] : b.segments(gone)) b.mark(lsn, num, false);
    b.mark(gone, 1, false);
    bytes& img = b.image();
    std::uint32_t size = b.size(b.root());
    auto segs = b.segments(b.root());
    std::size_t entry = static_cast<std::size_t>(segs[0].first) * 256 + (size - 32);
    img[entry] = 0;
    // A multi-segment file: three separate runs.
    int a = b.alloc_run(2);
    int gap1 = b.alloc_run(1);  // keeps the runs apart
    int c = b.alloc_run(1);
    int gap2 = b.alloc_run(1);
    int e = b.alloc_run(3);
    b.add_file(b.root(), "multi", pattern(5 * 256 + 17, 7), 0x1B, {{a, 2}, {c, 1}, {e, 3}});
    // The spacers belong to nobody: give them back.
    b.mark(gap1, 1, false);
    b.mark(gap2, 1, false);
    return img;
}

// 48 sectors, all but a handful in use.
bytes full_image() {
    ImageBuilder b(48, "Full", 4);
    b.add_dir(b.root(), "DIR");
    b.add_file(b.root(), "A", pattern(20 * 256, 3));
    b.add_file(b.root(), "B", text("b\r"));
    return b.image();
}

// A directory grown past its first segment, names of every length.
bytes wide_dir_image() {
    ImageBuilder b(90, "Wide", 1);
    int dir = b.add_dir(b.root(), "DIR");
    for (int i = 0; i < 10; ++i) b.add_file(dir, "n" + std::to_string(i), text(std::string(static_cast<std::size_t>(i), 'z') + "\r"));
    b.add_file(b.root(), "name_that_is_28_chars_long__", text("long name\r"));
    // A name with stray bytes after its last character.
    bytes raw(32, 0);
    raw[0] = 'C';
    raw[1] = 'R' | 0x80;
    raw[2] = 0x0D;
    raw[3] = 'x';
    int fd = b.make_fd(0x1B, {}, 0);
    raw[29] = 0;
    raw[30] = static_cast<unsigned char>(fd >> 8);
    raw[31] = static_cast<unsigned char>(fd);
    b.add_raw_entry(b.root(), raw);
    return b.image();
}

// A disk of 2100 sectors (two bitmap sectors), cut after its first 40.
bytes two_sector_bitmap_image() {
    ImageBuilder b(2100, "Big", 8);
    int dir = b.add_dir(b.root(), "DIR");
    b.add_file(dir, "f.txt", text("in a big disk\r"));
    bytes img = b.image();
    img.resize(40 * 256);
    return img;
}

// Two-sector clusters.
bytes cluster_image() {
    ImageBuilder b(40, "Clusters", 2, 2);
    return b.image();
}

// A small tree on clusters of `c` sectors, for the write scripts.
bytes cluster_tree(int c) {
    ImageBuilder b(c == 32 ? 2048 : 400, "Clusters", 8, c);
    int dir = b.add_dir(b.root(), "DIR");
    b.add_file(dir, "f.txt", text("on clusters\r"));
    b.add_file(b.root(), "data", pattern(3000, 4));
    return b.image();
}

// A directory and, later in the root, a plain file of the same name: once
// the directory is removed the name leads to the file.
bytes same_name_image() {
    ImageBuilder b(100, "Twice", 8);
    int dir = b.add_dir(b.root(), "DIR");
    b.add_file(dir, "f.txt", text("x\r"));
    b.add_file(b.root(), "DIR", pattern(600, 9));
    return b.image();
}

void save(const std::filesystem::path& dir, const std::string& name, const bytes& data) {
    std::filesystem::create_directories(dir);
    dvtest::write_file((dir / name).string(), data);
}

bytes cat(std::initializer_list<bytes> parts) {
    bytes out;
    for (const bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// fuzz_read: flags, two choice bytes, path length, path, image.
bytes read_input(unsigned flags, unsigned choice, const std::string& path, const bytes& img) {
    return cat({bytes{static_cast<unsigned char>(flags), static_cast<unsigned char>(choice >> 8),
                      static_cast<unsigned char>(choice), static_cast<unsigned char>(path.size())},
                text(path), img});
}

// fuzz_write: script length, script, image.
bytes write_input(const bytes& script, const bytes& img) {
    return cat({bytes{static_cast<unsigned char>(script.size())}, script, img});
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus dir>\n", argv[0]);
        return 2;
    }
    const std::filesystem::path out = argv[1];
    const bytes tree = tree_image(), full = full_image(), wide = wide_dir_image(), big = two_sector_bitmap_image(),
                clusters = cluster_image();

    const std::filesystem::path r = out / "read";
    save(r, "readme-lines", read_input(1, 0x1234, "readme", tree));
    save(r, "deep-file", read_input(1, 0x0101, "DIR/sub/deep", tree));
    save(r, "multi-segment", read_input(0, 0x7777, "MULTI", tree));
    save(r, "directory-plain-mode", read_input(2, 0x2222, "DIR", tree));
    save(r, "directory-dir-mode", read_input(1, 0x3333, "/DIR/", tree));
    save(r, "raw", read_input(4, 0x4444, ".", tree));
    save(r, "missing", read_input(0, 0x5555, "DIR/nothing", tree));
    save(r, "stray-name", read_input(0, 0x6666, "CR", wide));
    save(r, "wide-dir", read_input(1, 0x0707, "DIR/n9", wide));
    save(r, "big-truncated", read_input(0, 0x0808, "DIR/f.txt", big));

    const std::filesystem::path s = out / "space";
    save(s, "tree", tree);
    save(s, "full", full);
    save(s, "wide", wide);
    save(s, "big-truncated", big);
    save(s, "clusters", clusters);

    // Scripts for fuzz_write: op, dir index, name index, then the flow's bytes.
    const std::filesystem::path w = out / "write";
    save(w, "create-write", write_input({0, 1, 6, 0, 0, 0x08, 0x00, 9, 2, /**/ 0, 0, 1, 0, 1, 0x01, 0x10, 3, 1}, tree));
    save(w, "makdir-nested", write_input({2, 0, 9, 2, 3, 10, 0, 1, 0, 0, 0, 0x02, 0x00, 5, 1}, tree));
    save(w, "delete-files", write_input({3, 0, 0, 3, 2, 8, 3, 1, 8, 3, 0, 14}, tree));
    save(w, "prune-dir", write_input({4, 0, 3, 4, 0, 4}, tree));
    save(w, "append", write_input({1, 0, 6, 0, 2, 0, 0, 0x03, 0x00, 4, 1, 0, 6, 1, 0, 0, 100, 0, 50, 6}, tree));
    save(w, "full-disk", write_input({0, 0, 2, 0, 0, 0x30, 0x00, 1, 1, 2, 1, 9, 2, 0, 10, 0, 1, 7, 0, 0, 0, 0x40, 9, 1}, full));
    save(w, "full-prune", write_input({4, 0, 3, 0, 0, 6, 0, 0, 0x05, 0x00, 2, 3}, full));
    save(w, "wide-delete", write_input({3, 1, 0, 7, 0, 0, 6, 'D', 'I', 'R', '/', 'n', '5', 2, 4, 0, 3}, wide));
    save(w, "fd-and-raw", write_input({6, 0, 6, 0, 8, 1, 1, 0, 5, 0, 0, 0, 0x01, 0x00, 0x10, 0x00, 1}, tree));
    save(w, "big-truncated", write_input({2, 1, 2, 0, 1, 0, 0, 0x02, 0x00, 1, 1}, big));
    save(w, "prune-same-name", write_input({4, 0, 3}, same_name_image()));
    for (int c : {2, 4, 32}) {
        const bytes t = cluster_tree(c);
        const std::string n = std::to_string(c);
        save(w, "clusters" + n + "-create-write", write_input({0, 1, 6, 0, 0, 0x08, 0x00, 9, 2, 0, 0, 1, 0, 1, 0x01, 0x10, 3, 1}, t));
        save(w, "clusters" + n + "-makdir", write_input({2, 0, 9, 2, 3, 10, 0, 1, 0, 0, 0, 0x02, 0x00, 5, 1}, t));
        save(w, "clusters" + n + "-prune", write_input({4, 0, 3, 4, 0, 4}, t));
    }

    // fuzz_container: a byte (bit 0: a partition, at 256 * the rest), then
    // the file.  Small disks of two cylinders in each container.
    const std::filesystem::path k = out / "container";
    const bytes small(tree.begin(), tree.begin() + std::min<std::size_t>(tree.size(), 2 * 18 * 256));
    save(k, "raw", cat({bytes{0}, small}));
    save(k, "partition", cat({bytes{1 | (2 << 1)}, bytes(512, 'P'), small}));
    save(k, "jvc", cat({bytes{0}, dvtest::make_jvc(small, 2, 1)}));
    save(k, "vdk", cat({bytes{0}, dvtest::make_vdk(small, 2, 1)}));
    save(k, "dmk", cat({bytes{0}, dvtest::make_dmk(small, 2, 1)}));
    save(k, "dmk-single-density", cat({bytes{0}, dvtest::make_dmk(small, 1, 1, true)}));
    save(k, "imd", cat({bytes{0}, dvtest::make_imd(small, 2, 1)}));

    // fuzz_module: modules back to back, one patched, one cut short.
    const std::filesystem::path m = out / "module";
    const bytes prog = rbf::module_build("Prog", 1, 1, 8, 1, {0, 13, 0, 64, 0x39});
    const bytes desc = rbf::module_build("Term", 0xF, 1, 8, 1, bytes(20, 7));
    save(m, "two", cat({prog, desc}));
    bytes patched = cat({prog, desc});
    patched[10] ^= 0x55;
    save(m, "patched", patched);
    save(m, "cut-short", bytes(prog.begin(), prog.end() - 2));

    const std::filesystem::path p = out / "pathlist";
    save(p, "split", cat({bytes{0}, text("disk.dsk:DIR/sub/deep")}));
    save(p, "colons", cat({bytes{0}, text("::a::b:c::")}));
    save(p, "raw", cat({bytes{0}, text("./@")}));
    save(p, "parent-slash", cat({bytes{0}, text("DIR/sub/")}));
    save(p, "hex", cat({bytes{1}, text("$1fA9")}));
    save(p, "binary", cat({bytes{1}, text("%1012")}));
    save(p, "octal", cat({bytes{1}, text("0178")}));
    save(p, "name-flag", cat({bytes{1}, bytes{'a', 'b', 0xE3, 'd', 0, 'e'}}));
    save(p, "numbers", cat({bytes{2}, pattern(280, 5)}));
    save(p, "bitmap", cat({bytes{3}, bytes{0, 0, 0, 5, 1, 0, 0, 0, 20, 0, 0, 1, 0, 4, 0xFF, 0xE0, 0x0F, 0x00}}));
    return 0;
}
