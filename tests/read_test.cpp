// The read side: byte reads, line reads, seeks and the status calls, on host
// files, raw images and files inside images.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "image_builder.h"
#include "os9path.h"
#include "run_program.h"
#include "test_support.h"

namespace {

using dvtest::bytes;
using dvtest::ImageBuilder;
using dvtest::MemImage;
using dvtest::Path;
using dvtest::slice;

// Bytes that are recognisably different at nearby positions.
bytes pattern(std::size_t n, unsigned seed = 1) {
    bytes b(n);
    std::uint32_t x = seed;
    for (std::size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        b[i] = static_cast<unsigned char>(x >> 16);
    }
    return b;
}

// The disk of the segment-mapping cases: "two", 300 bytes in two one-unit
// segments at LSN 40 and LSN 90.
struct TwoSegments {
    ImageBuilder b;
    bytes data = pattern(300, 7);
    int fd;
    TwoSegments() { fd = b.add_file(b.root(), "two", data, 0x1B, {{40, 1}, {90, 1}}); }
};

// A file in one image, reached either way: through a pathlist on the
// image as a host file, or through the image overloads on it held in memory.
struct Target {
    dvtest::Access where;
    std::string in;
    rbf::error_code open(rbf::os9_path_id* path, int mode) const { return where.open(path, in, mode); }
    std::string shown() const { return where.describe(in); }
};

// One image as a host file and in memory.
struct BothStores {
    dvtest::TempDir tmp;
    MemImage mem;
    std::string file;
    explicit BothStores(const bytes& img) : mem(img), file(tmp / "disk.dsk") { dvtest::write_file(file, img); }
    std::vector<Target> at(const std::string& in) const {
        return {{dvtest::Access::host_file(file), in}, {dvtest::Access::held(mem.image()), in}};
    }
};

}  // namespace

// ---- _os9_read on image files ----------------------------------------------------------------

TEST(ReadImageFile, SpanCrossingSegmentsTakesEachPartFromItsOwnUnit) {
    TwoSegments t;
    const bytes& img = t.b.image();
    // The builder put file bytes 200..255 at 40*256+200 and 256..299 at 90*256.
    ASSERT_EQ(slice(img, 40 * 256 + 200, 56), slice(t.data, 200, 56));
    ASSERT_EQ(slice(img, 90 * 256, 44), slice(t.data, 256, 44));
    BothStores s(img);
    for (const Target& target : s.at("two")) {
        Path p;
        ASSERT_EQ(target.open(p.out(), 1), 0) << target.shown();
        ASSERT_EQ(rbf::_os9_seek(p.p, 200, 0), 0);
        bytes buf(100, 0xEE);
        int n = 100;
        ASSERT_EQ(rbf::_os9_read(p.p, buf.data(), &n), 0);
        EXPECT_EQ(n, 100);
        EXPECT_EQ(slice(buf, 0, 56), slice(img, 40 * 256 + 200, 56));
        EXPECT_EQ(slice(buf, 56, 44), slice(img, 90 * 256, 44));
        EXPECT_EQ(rbf::path_position(p), 300);
        int m = 10;
        EXPECT_EQ(rbf::_os9_read(p.p, buf.data(), &m), rbf::E_EOF);
        EXPECT_EQ(m, 10);
        EXPECT_EQ(rbf::path_position(p), 300);
    }
}

TEST(ReadImageFile, RequestPastTheEndIsClippedToTheFileSize) {
    TwoSegments t;
    BothStores s(t.b.image());
    for (const Target& target : s.at("two")) {
        Path p;
        ASSERT_EQ(target.open(p.out(), 1), 0);
        ASSERT_EQ(rbf::_os9_seek(p.p, 250, 0), 0);
        bytes buf(1000, 0xEE);
        int n = 1000;
        ASSERT_EQ(rbf::_os9_read(p.p, buf.data(), &n), 0);
        EXPECT_EQ(n, 50);
        EXPECT_EQ(slice(buf, 0, 50), slice(t.data, 250, 50));
        EXPECT_EQ(buf[50], 0xEE);
        EXPECT_EQ(rbf::path_position(p), 300);
    }
}

TEST(ReadImageFile, WholeFileReadsBackFromTheStart) {
    TwoSegments t;
    MemImage mem(t.b.image());
    Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), mem.image(), "two", 1), 0);
    bytes buf(300);
    int n = 300;
    ASSERT_EQ(rbf::_os9_read(p.p, buf.data(), &n), 0);
    EXPECT_EQ(n, 300);
    EXPECT_EQ(buf, t.data);
}

TEST(ReadImageFile, EmptyFileIsAtItsEndAtOnce) {
    ImageBuilder b;
    int fd = b.add_file(b.root(), "empty", bytes{});
    ASSERT_EQ(b.size(fd), 0u);
    MemImage mem(b.image());
    Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), mem.image(), "empty", 1), 0);
    unsigned char buf[16];
    int n = 16;
    EXPECT_EQ(rbf::_os9_read(p.p, buf, &n), rbf::E_EOF);
    EXPECT_EQ(n, 16);
    EXPECT_EQ(rbf::_os9_gs_eof(p.p), rbf::E_EOF);
}

TEST(ReadImageFile, ManySegmentsReadInOddChunksGiveTheFileByteForByte) {
    ImageBuilder b;
    bytes data = pattern(5000, 42);
    int fd = b.add_file(b.root(), "big", data, 0x1B, {{50, 3}, {70, 1}, {100, 5}, {200, 12}});
    ASSERT_EQ(b.read_data(fd), data);
    BothStores s(b.image());
    const int chunks[] = {1, 7, 13, 255, 256, 257, 511, 1000, 3, 97};
    for (const Target& target : s.at("BIG")) {
        Path p;
        ASSERT_EQ(target.open(p.out(), 1), 0) << target.shown();
        bytes got;
        for (int i = 0;; ++i) {
            int want = chunks[i % 10];
            bytes buf(static_cast<std::size_t>(want), 0xEE);
            int n = want;
            int before = rbf::path_position(p);
            rbf::error_code ec = rbf::_os9_read(p.p, buf.data(), &n);
            if (ec == rbf::E_EOF) break;
            ASSERT_EQ(ec, 0);
            ASSERT_EQ(n, std::min(want, 5000 - before));
            ASSERT_EQ(rbf::path_position(p), before + n);
            got.insert(got.end(), buf.begin(), buf.begin() + n);
            ASSERT_LT(i, 10000);
        }
        EXPECT_EQ(got, data) << target.shown();
    }
}

TEST(ReadImageFile, LargerClustersStillAddressSectors) {
    // Two sectors per cluster: LSNs and segment lengths still count
    // 256-byte sectors; only the bitmap counts clusters.
    ImageBuilder b(200, "Big Clusters", 8, 2);
    bytes data = pattern(700, 3);
    b.add_file(b.root(), "f", data, 0x1B, {{20, 2}, {30, 2}});
    const bytes& img = b.image();
    ASSERT_EQ(slice(img, 20 * 256, 512), slice(data, 0, 512));
    ASSERT_EQ(slice(img, 30 * 256, 188), slice(data, 512, 188));
    MemImage mem(img);
    Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), mem.image(), "f", 1), 0);
    rbf::disk_geometry geo{};
    ASSERT_EQ(rbf::path_geometry(p, &geo), 0);
    EXPECT_EQ(geo.unit_bytes, 256u);
    EXPECT_EQ(geo.cluster_sectors, 2u);
    bytes buf(1000, 0xEE);
    int n = 1000;
    ASSERT_EQ(rbf::_os9_read(p.p, buf.data(), &n), 0);
    EXPECT_EQ(n, 700);
    EXPECT_EQ(slice(buf, 0, 700), data);
    Path r;
    int size = 0;
    ASSERT_EQ(rbf::_os9_open(r.out(), mem.image(), "@", 1), 0);
    ASSERT_EQ(rbf::_os9_gs_size(r.p, &size), 0);
    EXPECT_EQ(size, 200 * 256);
}

// ---- damaged segment lists and images ---------------------------------------------------------

TEST(ReadDamaged, SegmentListEndingBeforeTheSizeGivesWhatItHoldsThen1) {
    ImageBuilder b;
    bytes data = pattern(256, 5);
    int fd = b.add_file(b.root(), "short", data, 0x1B, {{40, 1}});
    b.set_size(fd, 600);
    BothStores s(b.image());
    for (const Target& target : s.at("short")) {
        Path p;
        ASSERT_EQ(target.open(p.out(), 1), 0);
        bytes buf(1000, 0xEE);
        int n = 1000;
        ASSERT_EQ(rbf::_os9_read(p.p, buf.data(), &n), 0);
        EXPECT_EQ(n, 256);
        EXPECT_EQ(slice(buf, 0, 256), data);
        EXPECT_EQ(buf[256], 0xEE);
        EXPECT_EQ(rbf::path_position(p), 256);
        n = 10;
        EXPECT_EQ(rbf::_os9_read(p.p, buf.data(), &n), 1);
        EXPECT_EQ(rbf::path_position(p), 256);
        ASSERT_EQ(rbf::_os9_seek(p.p, 300, 0), 0);
        n = 10;
        EXPECT_EQ(rbf::_os9_read(p.p, buf.data(), &n), 1);
        n = 10;
        EXPECT_EQ(rbf::_os9_readln(p.p, buf.data(), &n), 1);
        int size = 0;
        ASSERT_EQ(rbf::_os9_gs_size(p.p, &size), 0);
        EXPECT_EQ(size, 600);
    }
}

TEST(ReadDamaged, SegmentOutsideTheDiskOrInTheBitmapGives1) {
    ImageBuilder b;
    const int tot = b.total();
    int past = b.make_fd(0x1B, {{tot, 1}}, 100);
    int far = b.make_fd(0x1B, {{0xFFFFFF, 0xFFFF}}, 100);
    int inmap = b.make_fd(0x1B, {{1, 1}}, 100);
    b.add_entry(b.root(), "past", past);
    b.add_entry(b.root(), "far", far);
    b.add_entry(b.root(), "inmap", inmap);
    MemImage mem(b.image());
    for (const char* name : {"past", "far", "inmap"}) {
        Path p;
        ASSERT_EQ(rbf::_os9_open(p.out(), mem.image(), name, 1), 0) << name;
        bytes buf(100, 0xEE);
        int n = 100;
        EXPECT_EQ(rbf::_os9_read(p.p, buf.data(), &n), 1) << name;
        EXPECT_EQ(rbf::path_position(p), 0);
        EXPECT_EQ(buf, bytes(100, 0xEE)) << name;
        n = 100;
        EXPECT_EQ(rbf::_os9_readln(p.p, buf.data(), &n), 1) << name;
    }
}

TEST(ReadDamaged, BadSecondSegmentStopsTheReadAfterTheFirst) {
    ImageBuilder b;
    bytes data = pattern(256, 9);
    int fd = b.add_file(b.root(), "half", data, 0x1B, {{40, 1}});
    b.set_segments(fd, {{40, 1}, {b.total() + 10, 1}});
    b.set_size(fd, 300);
    MemImage mem(b.image());
    Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), mem.image(), "half", 1), 0);
    bytes buf(300, 0xEE);
    int n = 300;
    ASSERT_EQ(rbf::_os9_read(p.p, buf.data(), &n), 0);
    EXPECT_EQ(n, 256);
    EXPECT_EQ(slice(buf, 0, 256), data);
    EXPECT_EQ(slice(buf, 256, 44), bytes(44, 0xEE));
    n = 44;
    EXPECT_EQ(rbf::_os9_read(p.p, buf.data(), &n), 1);
}

TEST(ReadDamaged, ImageCutInsideAFilesDataDeliversWhatExistsThenFails) {
    ImageBuilder b;
    bytes data = pattern(1000, 11);
    b.add_file(b.root(), "cut", data, 0x1B, {{20, 4}});
    bytes img = b.image();
    img.resize(20 * 256 + 300);
    BothStores s(img);
    for (const Target& target : s.at("cut")) {
        Path p;
        ASSERT_EQ(target.open(p.out(), 1), 0) << target.shown();
        bytes buf(1000, 0xEE);
        int n = 1000;
        ASSERT_EQ(rbf::_os9_read(p.p, buf.data(), &n), 0);
        EXPECT_EQ(n, 300);
        EXPECT_EQ(slice(buf, 0, 300), slice(data, 0, 300));
        EXPECT_EQ(slice(buf, 300, 700), bytes(700, 0xEE));
        EXPECT_EQ(rbf::path_position(p), 300);
        n = 100;
        EXPECT_EQ(rbf::_os9_read(p.p, buf.data(), &n), 1);
        EXPECT_EQ(rbf::path_position(p), 300);
    }
}

// ---- _os9_readln ---------------------------------------------------------------------------------

TEST(ReadlnImageFile, LinesEndAfterTheCarriageReturnAndSizeIsTheClippedRequest) {
    ImageBuilder b;
    b.add_file(b.root(), "lines", bytes{'A', 'B', 0x0D, 'C', 'D', 0x0D});
    BothStores s(b.image());
    for (const Target& target : s.at("lines")) {
        Path p;
        ASSERT_EQ(target.open(p.out(), 1), 0);
        bytes buf(1024, 0xEE);
        int n = 1024;
        ASSERT_EQ(rbf::_os9_readln(p.p, buf.data(), &n), 0);
        EXPECT_EQ(slice(buf, 0, 3), (bytes{'A', 'B', 0x0D}));
        EXPECT_EQ(rbf::path_position(p), 3);
        EXPECT_EQ(n, 6);
        n = 1024;
        ASSERT_EQ(rbf::_os9_readln(p.p, buf.data(), &n), 0);
        EXPECT_EQ(slice(buf, 0, 3), (bytes{'C', 'D', 0x0D}));
        EXPECT_EQ(rbf::path_position(p), 6);
        EXPECT_EQ(n, 3);
        n = 1024;
        EXPECT_EQ(rbf::_os9_readln(p.p, buf.data(), &n), rbf::E_EOF);
        EXPECT_EQ(n, 1024);
    }
}

TEST(ReadlnImageFile, LastLineWithoutCarriageReturnThenEndOfFile) {
    ImageBuilder b;
    b.add_file(b.root(), "lines", std::string("AB\rCD"));
    MemImage mem(b.image());
    Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), mem.image(), "lines", 1), 0);
    bytes buf(64, 0xEE);
    int n = 64;
    ASSERT_EQ(rbf::_os9_readln(p.p, buf.data(), &n), 0);
    EXPECT_EQ(rbf::_os9_gs_eof(p.p), 0);
    n = 64;
    std::fill(buf.begin(), buf.end(), 0xEE);
    ASSERT_EQ(rbf::_os9_readln(p.p, buf.data(), &n), 0);
    EXPECT_EQ(n, 2);
    EXPECT_EQ(slice(buf, 0, 2), (bytes{'C', 'D'}));
    EXPECT_EQ(buf[2], 0xEE);
    EXPECT_EQ(rbf::path_position(p), 5);
    EXPECT_EQ(rbf::_os9_gs_eof(p.p), rbf::E_EOF);
    n = 64;
    EXPECT_EQ(rbf::_os9_readln(p.p, buf.data(), &n), rbf::E_EOF);
}

TEST(ReadlnImageFile, LineLongerThanTheRequestComesInPieces) {
    ImageBuilder b;
    b.add_file(b.root(), "long", std::string("ABCDEF\rG"));
    MemImage mem(b.image());
    Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), mem.image(), "long", 1), 0);
    bytes buf(64, 0xEE);
    int n = 4;
    ASSERT_EQ(rbf::_os9_readln(p.p, buf.data(), &n), 0);
    EXPECT_EQ(n, 4);
    EXPECT_EQ(slice(buf, 0, 4), (bytes{'A', 'B', 'C', 'D'}));
    EXPECT_EQ(buf[4], 0xEE);
    EXPECT_EQ(rbf::path_position(p), 4);
    n = 1024;
    ASSERT_EQ(rbf::_os9_readln(p.p, buf.data(), &n), 0);
    EXPECT_EQ(slice(buf, 0, 3), (bytes{'E', 'F', 0x0D}));
    EXPECT_EQ(n, 4);  // the request clipped at the end: 8 - 4
    EXPECT_EQ(rbf::path_position(p), 7);
}

TEST(ReadlnImageFile, LinesCrossSegmentBoundaries) {
    ImageBuilder b;
    bytes data(600);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>('a' + i % 26);
    data[99] = data[300] = data[599] = 0x0D;
    b.add_file(b.root(), "crossing", data, 0x1B, {{40, 1}, {90, 1}, {60, 1}});
    BothStores s(b.image());
    for (const Target& target : s.at("crossing")) {
        Path p;
        ASSERT_EQ(target.open(p.out(), 1), 0);
        bytes buf(1024);
        const int ends[] = {100, 301, 600};
        int start = 0;
        for (int end : ends) {
            int n = 1024;
            ASSERT_EQ(rbf::_os9_readln(p.p, buf.data(), &n), 0);
            EXPECT_EQ(rbf::path_position(p), end);
            EXPECT_EQ(slice(buf, 0, static_cast<std::size_t>(end - start)),
                      slice(data, static_cast<std::size_t>(start), static_cast<std::size_t>(end - start)));
            start = end;
        }
        int n = 1024;
        EXPECT_EQ(rbf::_os9_readln(p.p, buf.data(), &n), rbf::E_EOF);
    }
}

TEST(ReadlnImageFile, LinesOfAMultiSegmentFileJoinToTheWholeFile) {
    ImageBuilder b;
    bytes data = pattern(4000, 77);  // holds carriage returns here and there
    for (std::size_t i = 0; i < data.size(); i += 37) data[i] = 0x0D;
    b.add_file(b.root(), "big", data, 0x1B, {{50, 2}, {70, 3}, {100, 1}, {200, 10}});
    MemImage mem(b.image());
    Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), mem.image(), "big", 1), 0);
    bytes got;
    for (int i = 0; i < 10000; ++i) {
        bytes buf(53, 0xEE);
        int n = 53;
        int before = rbf::path_position(p);
        rbf::error_code ec = rbf::_os9_readln(p.p, buf.data(), &n);
        if (ec == rbf::E_EOF) break;
        ASSERT_EQ(ec, 0);
        int len = rbf::path_position(p) - before;
        ASSERT_GT(len, 0);
        ASSERT_LE(len, 53);
        // A line ends at its first carriage return, or is a full request.
        auto cr = std::find(buf.begin(), buf.begin() + len, 0x0D);
        if (len < std::min(53, 4000 - before)) {
            ASSERT_EQ(cr, buf.begin() + len - 1);
        } else {
            ASSERT_TRUE(cr == buf.begin() + len || cr == buf.begin() + len - 1);
        }
        got.insert(got.end(), buf.begin(), buf.begin() + len);
    }
    EXPECT_EQ(got, data);
}

TEST(ReadlnHostFile, LineFeedIsHandedOverAsCarriageReturnAndNotCounted) {
    dvtest::TempDir tmp;
    dvtest::write_file(tmp / "text", {'h', 'i', 0x0A});
    Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), tmp / "text", 1), 0);
    bytes buf(64, 0xEE);
    int n = 64;
    ASSERT_EQ(rbf::_os9_readln(p.p, buf.data(), &n), 0);
    EXPECT_EQ(n, 2);
    EXPECT_EQ(slice(buf, 0, 3), (bytes{'h', 'i', 0x0D}));
    EXPECT_EQ(buf[3], 0xEE);
    n = 64;
    EXPECT_EQ(rbf::_os9_readln(p.p, buf.data(), &n), rbf::E_EOF);
    EXPECT_EQ(n, 0);
}

TEST(ReadlnHostFile, LongLineAndLastLineWithoutLineFeed) {
    dvtest::TempDir tmp;
    dvtest::write_file(tmp / "text", {'a', 'b', 'c', 'd', 'e', 'f', 0x0A, 'x', 'y'});
    Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), tmp / "text", 1), 0);
    bytes buf(64, 0xEE);
    int n = 4;
    ASSERT_EQ(rbf::_os9_readln(p.p, buf.data(), &n), 0);
    EXPECT_EQ(n, 4);
    EXPECT_EQ(slice(buf, 0, 5), (bytes{'a', 'b', 'c', 'd', 0xEE}));
    n = 64;
    ASSERT_EQ(rbf::_os9_readln(p.p, buf.data(), &n), 0);
    EXPECT_EQ(n, 2);
    EXPECT_EQ(slice(buf, 0, 3), (bytes{'e', 'f', 0x0D}));
    std::fill(buf.begin(), buf.end(), 0xEE);
    n = 64;
    ASSERT_EQ(rbf::_os9_readln(p.p, buf.data(), &n), 0);
    EXPECT_EQ(n, 2);
    EXPECT_EQ(slice(buf, 0, 3), (bytes{'x', 'y', 0xEE}));
    n = 64;
    EXPECT_EQ(rbf::_os9_readln(p.p, buf.data(), &n), rbf::E_EOF);
    EXPECT_EQ(n, 0);
}

// ---- host-file reads ---------------------------------------------------------------------------

TEST(ReadHostFile, ReadsWhatTheFileHoldsThen211WithSizeZero) {
    dvtest::TempDir tmp;
    bytes data = pattern(1000, 4);
    dvtest::write_file(tmp / "h", data);
    Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), tmp / "h", 1), 0);
    EXPECT_TRUE(rbf::path_is_host(p));
    bytes buf(700);
    int n = 700;
    ASSERT_EQ(rbf::_os9_read(p.p, buf.data(), &n), 0);
    EXPECT_EQ(n, 700);
    EXPECT_EQ(buf, slice(data, 0, 700));
    n = 700;
    ASSERT_EQ(rbf::_os9_read(p.p, buf.data(), &n), 0);
    EXPECT_EQ(n, 300);
    EXPECT_EQ(slice(buf, 0, 300), slice(data, 700, 300));
    n = 700;
    EXPECT_EQ(rbf::_os9_read(p.p, buf.data(), &n), rbf::E_EOF);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(rbf::path_position(p), 0);  // host reads go by the stream's own position
}

TEST(GsEofHostFile, ByteFFIsNotEndOfFileAndIsStillRead) {
    dvtest::TempDir tmp;
    dvtest::write_file(tmp / "ff", {0xFF, 0x41});
    Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), tmp / "ff", 1), 0);
    EXPECT_EQ(rbf::_os9_gs_eof(p.p), 0);
    EXPECT_EQ(rbf::_os9_gs_eof(p.p), 0);
    unsigned char c = 0;
    int n = 1;
    ASSERT_EQ(rbf::_os9_read(p.p, &c, &n), 0);
    EXPECT_EQ(n, 1);
    EXPECT_EQ(c, 0xFF);
    EXPECT_EQ(rbf::_os9_gs_eof(p.p), 0);
    n = 1;
    ASSERT_EQ(rbf::_os9_read(p.p, &c, &n), 0);
    EXPECT_EQ(c, 0x41);
    EXPECT_EQ(rbf::_os9_gs_eof(p.p), rbf::E_EOF);
}

// ---- _os9_seek -------------------------------------------------------------------------------------

TEST(SeekImageFile, BackThirtyTwoAfterAnEntryReadRereadsIt) {
    ImageBuilder b;
    b.add_file(b.root(), "one", std::string("1"));
    b.add_file(b.root(), "two", std::string("2"));
    MemImage mem(b.image());
    Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), mem.image(), "/", 0x81), 0);
    ASSERT_EQ(rbf::_os9_seek(p.p, 64, 0), 0);
    bytes e1(32), e2(32);
    int n = 32;
    ASSERT_EQ(rbf::_os9_read(p.p, e1.data(), &n), 0);
    EXPECT_EQ(rbf::path_position(p), 96);
    EXPECT_EQ(e1, slice(b.read_data(b.root()), 64, 32));
    ASSERT_EQ(rbf::_os9_seek(p.p, -32, 1), 0);
    EXPECT_EQ(rbf::path_position(p), 64);
    n = 32;
    ASSERT_EQ(rbf::_os9_read(p.p, e2.data(), &n), 0);
    EXPECT_EQ(e1, e2);
}

TEST(SeekImageFile, FromTheEndCountsFromTheFileSize) {
    TwoSegments t;
    BothStores s(t.b.image());
    for (const Target& target : s.at("two")) {
        Path p;
        ASSERT_EQ(target.open(p.out(), 1), 0);
        ASSERT_EQ(rbf::_os9_seek(p.p, -10, 2), 0);
        EXPECT_EQ(rbf::path_position(p), 290);
        bytes buf(100, 0xEE);
        int n = 100;
        ASSERT_EQ(rbf::_os9_read(p.p, buf.data(), &n), 0);
        EXPECT_EQ(n, 10);
        EXPECT_EQ(slice(buf, 0, 10), slice(t.data, 290, 10));
        ASSERT_EQ(rbf::_os9_seek(p.p, 0, 2), 0);
        EXPECT_EQ(rbf::path_position(p), 300);
        n = 1;
        EXPECT_EQ(rbf::_os9_read(p.p, buf.data(), &n), rbf::E_EOF);
        ASSERT_EQ(rbf::_os9_seek(p.p, 5, 2), 0);
        EXPECT_EQ(rbf::path_position(p), 305);
        ASSERT_EQ(rbf::_os9_seek(p.p, -300, 2), 0);
        EXPECT_EQ(rbf::path_position(p), 0);
    }
}

TEST(SeekImageFile, PositionBelowZeroOrPastIntMaxIsRefusedAndKept) {
    TwoSegments t;
    MemImage mem(t.b.image());
    Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), mem.image(), "two", 1), 0);
    ASSERT_EQ(rbf::_os9_seek(p.p, 10, 0), 0);
    EXPECT_EQ(rbf::_os9_seek(p.p, -1, 0), 1);
    EXPECT_EQ(rbf::path_position(p), 10);
    EXPECT_EQ(rbf::_os9_seek(p.p, -11, 1), 1);
    EXPECT_EQ(rbf::path_position(p), 10);
    EXPECT_EQ(rbf::_os9_seek(p.p, -301, 2), 1);
    EXPECT_EQ(rbf::path_position(p), 10);
    EXPECT_EQ(rbf::_os9_seek(p.p, -10, 1), 0);
    EXPECT_EQ(rbf::path_position(p), 0);
    ASSERT_EQ(rbf::_os9_seek(p.p, INT_MAX, 0), 0);
    EXPECT_EQ(rbf::path_position(p), INT_MAX);
    EXPECT_EQ(rbf::_os9_seek(p.p, 1, 1), 1);
    EXPECT_EQ(rbf::path_position(p), INT_MAX);
    EXPECT_EQ(rbf::_os9_seek(p.p, INT_MAX, 2), 1);
    EXPECT_EQ(rbf::path_position(p), INT_MAX);
    unsigned char c;
    int n = 1;
    EXPECT_EQ(rbf::_os9_read(p.p, &c, &n), rbf::E_EOF);
    // An unknown origin changes nothing.
    EXPECT_EQ(rbf::_os9_seek(p.p, 5, 3), 0);
    EXPECT_EQ(rbf::path_position(p), INT_MAX);
}

TEST(SeekHostFile, FromTheEndPositionsTheStreamThere) {
    dvtest::TempDir tmp;
    dvtest::write_file(tmp / "h", {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'});
    Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), tmp / "h", 1), 0);
    ASSERT_EQ(rbf::_os9_seek(p.p, 0, 2), 0);
    unsigned char buf[8];
    int n = 8;
    EXPECT_EQ(rbf::_os9_read(p.p, buf, &n), rbf::E_EOF);
    EXPECT_EQ(rbf::_os9_gs_eof(p.p), rbf::E_EOF);
    ASSERT_EQ(rbf::_os9_seek(p.p, -3, 2), 0);
    n = 8;
    ASSERT_EQ(rbf::_os9_read(p.p, buf, &n), 0);
    EXPECT_EQ(n, 3);
    EXPECT_EQ(bytes(buf, buf + 3), (bytes{'7', '8', '9'}));
    ASSERT_EQ(rbf::_os9_seek(p.p, 2, 0), 0);
    ASSERT_EQ(rbf::_os9_seek(p.p, 3, 1), 0);
    n = 1;
    ASSERT_EQ(rbf::_os9_read(p.p, buf, &n), 0);
    EXPECT_EQ(buf[0], '5');
    EXPECT_EQ(rbf::path_position(p), 0);
}

// ---- raw access ------------------------------------------------------------------------------------

TEST(ReadRaw, WholeDiskReadsBackByteForByteThen211) {
    ImageBuilder b;
    b.add_file(b.root(), "f", pattern(3000, 8));
    BothStores s(b.image());
    for (const Target& target : s.at(".@")) {
        Path p;
        ASSERT_EQ(target.open(p.out(), 1), 0);
        ASSERT_TRUE(rbf::path_is_raw(p));
        bytes got;
        for (int i = 0; i < 1000; ++i) {
            bytes buf(4099);
            int n = 4099;
            rbf::error_code ec = rbf::_os9_read(p.p, buf.data(), &n);
            if (ec == rbf::E_EOF) break;
            ASSERT_EQ(ec, 0);
            got.insert(got.end(), buf.begin(), buf.begin() + n);
            EXPECT_EQ(rbf::path_position(p), static_cast<int>(got.size()));
        }
        EXPECT_EQ(got, b.image());
        EXPECT_EQ(rbf::path_position(p), b.total() * 256);
    }
}

TEST(ReadRaw, ReadsAreClippedAtTheEndOfTheDisk) {
    ImageBuilder b;
    bytes img = b.image();
    const int disk = b.total() * 256;
    bytes extra = img;
    extra.resize(img.size() + 1000, 0x77);  // bytes past dd_tot are not the disk's
    MemImage mem(extra);
    Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), mem.image(), "@", 1), 0);
    ASSERT_EQ(rbf::path_set_position(p, disk - 100), 0);
    bytes buf(512, 0xEE);
    int n = 512;
    ASSERT_EQ(rbf::_os9_read(p.p, buf.data(), &n), 0);
    EXPECT_EQ(n, 100);
    EXPECT_EQ(slice(buf, 0, 100), slice(img, static_cast<std::size_t>(disk - 100), 100));
    EXPECT_EQ(buf[100], 0xEE);
    EXPECT_EQ(rbf::path_position(p), disk);
    n = 512;
    EXPECT_EQ(rbf::_os9_read(p.p, buf.data(), &n), rbf::E_EOF);
    EXPECT_EQ(n, 512);
    EXPECT_EQ(rbf::_os9_gs_eof(p.p), rbf::E_EOF);
}

TEST(ReadRaw, ReadsAreClippedAtTheEndOfAShortImageFile) {
    ImageBuilder b;
    bytes img = b.image();
    img.resize(100 * 256 + 10);
    BothStores s(img);
    for (const Target& target : s.at("@")) {
        Path p;
        ASSERT_EQ(target.open(p.out(), 1), 0);
        ASSERT_EQ(rbf::path_set_position(p, 100 * 256 - 20), 0);
        bytes buf(100, 0xEE);
        int n = 100;
        ASSERT_EQ(rbf::_os9_read(p.p, buf.data(), &n), 0);
        EXPECT_EQ(n, 30);
        EXPECT_EQ(slice(buf, 0, 30), slice(img, 100 * 256 - 20, 30));
        EXPECT_EQ(buf[30], 0xEE);
        n = 100;
        EXPECT_EQ(rbf::_os9_read(p.p, buf.data(), &n), rbf::E_EOF);
        int size = 0;
        ASSERT_EQ(rbf::_os9_gs_size(p.p, &size), 0);
        EXPECT_EQ(size, b.total() * 256);
    }
}

TEST(ReadRaw, SeekDoesNotMoveWhereTheNextRawReadStarts) {
    ImageBuilder b;
    MemImage mem(b.image());
    Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), mem.image(), "@", 1), 0);
    ASSERT_EQ(rbf::_os9_seek(p.p, 5000, 0), 0);
    bytes buf(16);
    int n = 16;
    ASSERT_EQ(rbf::_os9_read(p.p, buf.data(), &n), 0);
    EXPECT_EQ(buf, slice(b.image(), 0, 16));
    EXPECT_EQ(rbf::path_position(p), 16);
}

TEST(ReadRaw, CallsThatNeedAnFdAre214AndEofFollowsTheDiskEnd) {
    ImageBuilder b;
    MemImage mem(b.image());
    Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), mem.image(), "@", 3), 0);
    bytes buf(64);
    int n = 64;
    EXPECT_EQ(rbf::_os9_readln(p.p, buf.data(), &n), rbf::E_FNA);
    rbf::fd_stats fd{};
    EXPECT_EQ(rbf::_os9_gs_fd(p.p, 256, &fd), rbf::E_FNA);
    EXPECT_EQ(rbf::_os9_gs_fd_set(p.p, 256, &fd), rbf::E_FNA);
    EXPECT_EQ(mem.get(), b.image());
    EXPECT_EQ(rbf::_os9_gs_eof(p.p), 0);
    ASSERT_EQ(rbf::path_set_position(p, b.total() * 256 - 1), 0);
    EXPECT_EQ(rbf::_os9_gs_eof(p.p), 0);
    ASSERT_EQ(rbf::path_set_position(p, b.total() * 256), 0);
    EXPECT_EQ(rbf::_os9_gs_eof(p.p), rbf::E_EOF);
    n = 1;
    EXPECT_EQ(rbf::_os9_read(p.p, buf.data(), &n), rbf::E_EOF);
    int size = 0;
    ASSERT_EQ(rbf::_os9_gs_size(p.p, &size), 0);
    EXPECT_EQ(size, b.total() * 256);
}

// ---- status calls ----------------------------------------------------------------------------------

TEST(GsFdHostFile, AttributesComeFromOwnerAndOtherPermissions) {
    dvtest::TempDir tmp;
    const std::string dir = tmp / "sub";
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
    const std::string file = tmp / "f";
    bytes data = pattern(1234, 2);
    dvtest::write_file(file, data);
    struct Case {
        const std::string* name;
        mode_t mode;
        unsigned char att;
    } cases[] = {
        {&dir, 0755, 0xAF},  {&file, 0644, 0x0B}, {&file, 0600, 0x03}, {&file, 0070, 0x00},
        {&file, 0751, 0x27}, {&file, 0007, 0x38}, {&file, 0400, 0x01}, {&file, 0204, 0x0A},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(chmod(c.name->c_str(), c.mode), 0);
        Path p;
        ASSERT_EQ(rbf::_os9_open(p.out(), *c.name, c.name == &dir ? 0x81 : 0x01), 0) << *c.name;
        rbf::fd_stats fd;
        std::memset(&fd, 0xEE, sizeof fd);
        ASSERT_EQ(rbf::_os9_gs_fd(p.p, 256, &fd), 0);
        EXPECT_EQ(fd.fd_att, c.att) << std::oct << c.mode;
    }
    chmod(file.c_str(), 0644);
    chmod(dir.c_str(), 0755);
}

TEST(GsFdHostFile, FillsOwnerLinksSizeAndDatesFromTheHost) {
    dvtest::TempDir tmp;
    const std::string file = tmp / "f";
    dvtest::write_file(file, pattern(70000, 6));
    ASSERT_EQ(chmod(file.c_str(), 0644), 0);
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    std::tm tm{};
    ASSERT_NE(localtime_r(&st.st_mtime, &tm), nullptr);
    Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), file, 1), 0);
    rbf::fd_stats fd;
    std::memset(&fd, 0xEE, sizeof fd);
    ASSERT_EQ(rbf::_os9_gs_fd(p.p, 256, &fd), 0);
    EXPECT_EQ(fd.fd_att, 0x0B);
    EXPECT_EQ(dvtest::be(fd.fd_own, 2), 0u);
    EXPECT_EQ(fd.fd_lnk, 1);
    EXPECT_EQ(dvtest::be(fd.fd_siz, 4), 70000u);
    EXPECT_EQ(fd.fd_dat[0], static_cast<unsigned char>(tm.tm_year));
    EXPECT_EQ(fd.fd_dat[1], tm.tm_mon + 1);
    EXPECT_EQ(fd.fd_dat[2], tm.tm_mday);
    EXPECT_EQ(fd.fd_dat[3], tm.tm_hour);
    EXPECT_EQ(fd.fd_dat[4], tm.tm_min);
    EXPECT_EQ(0, std::memcmp(fd.fd_creat, fd.fd_dat, 3));
    const auto* segs = reinterpret_cast<const unsigned char*>(fd.fd_seg);
    EXPECT_EQ(bytes(segs, segs + 240), bytes(240, 0));
    int size = 0;
    ASSERT_EQ(rbf::_os9_gs_size(p.p, &size), 0);
    EXPECT_EQ(size, 70000);
}

TEST(GsFdHostFile, ShortCountFillsOnlyThatMany) {
    dvtest::TempDir tmp;
    dvtest::write_file(tmp / "f", pattern(300, 1));
    ASSERT_EQ(chmod((tmp / "f").c_str(), 0644), 0);
    Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), tmp / "f", 1), 0);
    rbf::fd_stats full, part;
    ASSERT_EQ(rbf::_os9_gs_fd(p.p, 256, &full), 0);
    std::memset(&part, 0xEE, sizeof part);
    ASSERT_EQ(rbf::_os9_gs_fd(p.p, 13, &part), 0);
    const auto* f = reinterpret_cast<const unsigned char*>(&full);
    const auto* q = reinterpret_cast<const unsigned char*>(&part);
    EXPECT_EQ(bytes(q, q + 13), bytes(f, f + 13));
    EXPECT_EQ(bytes(q + 13, q + 256), bytes(243, 0xEE));
}

TEST(StatusHostFile, VanishedFileIs214AndSettingAnExistingOneIs1) {
    dvtest::TempDir tmp;
    dvtest::write_file(tmp / "f", {'a'});
    Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), tmp / "f", 3), 0);
    rbf::fd_stats fd{};
    ASSERT_EQ(rbf::_os9_gs_fd(p.p, 256, &fd), 0);
    EXPECT_EQ(rbf::_os9_gs_fd_set(p.p, 256, &fd), 1);
    ASSERT_EQ(unlink((tmp / "f").c_str()), 0);
    EXPECT_EQ(rbf::_os9_gs_fd(p.p, 256, &fd), rbf::E_FNA);
    EXPECT_EQ(rbf::_os9_gs_fd_set(p.p, 256, &fd), rbf::E_FNA);
    int size = 0;
    EXPECT_EQ(rbf::_os9_gs_size(p.p, &size), rbf::E_FNA);
}

TEST(GsFdImageFile, CopiesTheFdSectorUpToCount) {
    TwoSegments t;
    BothStores s(t.b.image());
    const unsigned char* sector = t.b.image().data() + t.fd * 256;
    for (const Target& target : s.at("two")) {
        Path p;
        ASSERT_EQ(target.open(p.out(), 1), 0);
        rbf::fd_stats fd;
        ASSERT_EQ(rbf::_os9_gs_fd(p.p, 256, &fd), 0);
        EXPECT_EQ(0, std::memcmp(&fd, sector, 256));
        std::memset(&fd, 0xEE, sizeof fd);
        ASSERT_EQ(rbf::_os9_gs_fd(p.p, 20, &fd), 0);
        const auto* q = reinterpret_cast<const unsigned char*>(&fd);
        EXPECT_EQ(0, std::memcmp(q, sector, 20));
        EXPECT_EQ(bytes(q + 20, q + 256), bytes(236, 0xEE));
        std::memset(&fd, 0xEE, sizeof fd);
        ASSERT_EQ(rbf::_os9_gs_fd(p.p, 1000, &fd), 0);  // more than a sector: one sector
        EXPECT_EQ(0, std::memcmp(&fd, sector, 256));
    }
}

TEST(GsFdSetImageFile, WritesTheFirstCountBytesOverTheFd) {
    TwoSegments t;
    MemImage mem(t.b.image());
    Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), mem.image(), "two", 3), 0);
    rbf::fd_stats fd;
    ASSERT_EQ(rbf::_os9_gs_fd(p.p, 256, &fd), 0);
    fd.fd_att = 0x03;
    fd.fd_lnk = 5;
    dvtest::put_be(fd.fd_seg[2].lsn, 3, 77);  // past count: must not land
    ASSERT_EQ(rbf::_os9_gs_fd_set(p.p, 16, &fd), 0);
    bytes expect = t.b.image();
    expect[static_cast<std::size_t>(t.fd) * 256] = 0x03;
    expect[static_cast<std::size_t>(t.fd) * 256 + 8] = 5;
    EXPECT_EQ(mem.get(), expect);
}

TEST(GsFdSetImageFile, ReadOnlyPathIsRefusedAndChangesNothing) {
    TwoSegments t;
    BothStores s(t.b.image());
    for (const Target& target : s.at("two")) {
        Path p;
        ASSERT_EQ(target.open(p.out(), 1), 0);
        rbf::fd_stats fd;
        ASSERT_EQ(rbf::_os9_gs_fd(p.p, 256, &fd), 0);
        fd.fd_att = 0;
        dvtest::put_be(fd.fd_siz, 4, 1);
        EXPECT_EQ(rbf::_os9_gs_fd_set(p.p, 256, &fd), rbf::E_FNA);
        int size = 0;
        ASSERT_EQ(rbf::_os9_gs_size(p.p, &size), 0);
        EXPECT_EQ(size, 300);
    }
    EXPECT_EQ(dvtest::read_file(s.file), t.b.image());
    EXPECT_EQ(s.mem.get(), t.b.image());
}

TEST(GsSizeImageFile, IsTheFdSizeNotTheAllocation) {
    ImageBuilder b;
    int small = b.add_file(b.root(), "small", bytes(10, 's'), 0x1B, {{100, 8}});
    ASSERT_EQ(b.size(small), 10u);
    TwoSegments t;  // separate disk for the two-segment file
    MemImage mem(b.image());
    MemImage mem2(t.b.image());
    int size = -1;
    Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), mem.image(), "small", 1), 0);
    ASSERT_EQ(rbf::_os9_gs_size(p.p, &size), 0);
    EXPECT_EQ(size, 10);
    Path q;
    ASSERT_EQ(rbf::_os9_open(q.out(), mem2.image(), "two", 1), 0);
    ASSERT_EQ(rbf::_os9_gs_size(q.p, &size), 0);
    EXPECT_EQ(size, 300);
    Path d;  // a directory's size is that of its entries
    ASSERT_EQ(rbf::_os9_open(d.out(), mem.image(), "/", 0x81), 0);
    ASSERT_EQ(rbf::_os9_gs_size(d.p, &size), 0);
    EXPECT_EQ(size, static_cast<int>(b.size(b.root())));
    EXPECT_EQ(size, 3 * 32);
}

TEST(GsEofImageFile, FollowsThePositionAgainstTheFdSize) {
    TwoSegments t;
    MemImage mem(t.b.image());
    Path p;
    ASSERT_EQ(rbf::_os9_open(p.out(), mem.image(), "two", 1), 0);
    EXPECT_EQ(rbf::_os9_gs_eof(p.p), 0);
    ASSERT_EQ(rbf::_os9_seek(p.p, 299, 0), 0);
    EXPECT_EQ(rbf::_os9_gs_eof(p.p), 0);
    ASSERT_EQ(rbf::_os9_seek(p.p, 300, 0), 0);
    EXPECT_EQ(rbf::_os9_gs_eof(p.p), rbf::E_EOF);
    ASSERT_EQ(rbf::_os9_seek(p.p, 1000, 0), 0);
    EXPECT_EQ(rbf::_os9_gs_eof(p.p), rbf::E_EOF);
}

// ---- two paths on one image ------------------------------------------------------------------------

TEST(SharedImage, OnePathSeesTheOthersFdAndDataChangesAtOnce) {
    TwoSegments t;
    BothStores s(t.b.image());
    for (const Target& target : s.at("two")) {
        Path reader;
        ASSERT_EQ(target.open(reader.out(), 1), 0) << target.shown();
        Path writer;  // opened after the reader: the shared view gains write access
        ASSERT_EQ(target.open(writer.out(), 3), 0) << target.shown();

        rbf::fd_stats fd;
        ASSERT_EQ(rbf::_os9_gs_fd(writer.p, 256, &fd), 0);
        dvtest::put_be(fd.fd_siz, 4, 100);
        ASSERT_EQ(rbf::_os9_gs_fd_set(writer.p, 256, &fd), 0);

        int size = 0;
        ASSERT_EQ(rbf::_os9_gs_size(reader.p, &size), 0);
        EXPECT_EQ(size, 100);
        ASSERT_EQ(rbf::_os9_seek(reader.p, 150, 0), 0);
        EXPECT_EQ(rbf::_os9_gs_eof(reader.p), rbf::E_EOF);
        bytes buf(10);
        int n = 10;
        EXPECT_EQ(rbf::_os9_read(reader.p, buf.data(), &n), rbf::E_EOF);

        const unsigned char zz[] = {'Z', 'Z', 'Z'};
        n = 3;
        ASSERT_EQ(rbf::_os9_seek(writer.p, 95, 0), 0);
        ASSERT_EQ(rbf::_os9_write(writer.p, zz, &n), 0);
        ASSERT_EQ(rbf::_os9_seek(reader.p, 94, 0), 0);
        n = 10;
        ASSERT_EQ(rbf::_os9_read(reader.p, buf.data(), &n), 0);
        EXPECT_EQ(n, 6);
        EXPECT_EQ(slice(buf, 0, 6), (bytes{t.data[94], 'Z', 'Z', 'Z', t.data[98], t.data[99]}));

        writer.close();
        // The reader goes on after the writer is gone.
        ASSERT_EQ(rbf::_os9_seek(reader.p, 0, 0), 0);
        n = 200;
        bytes all(200);
        ASSERT_EQ(rbf::_os9_read(reader.p, all.data(), &n), 0);
        EXPECT_EQ(n, 100);
        EXPECT_EQ(slice(all, 95, 3), (bytes{'Z', 'Z', 'Z'}));
        reader.close();
    }
    // On disk: size 100, the data changed, and the unit at LSN 90 given
    // back by the writer's close (100 bytes keep one unit).
    bytes disk = dvtest::read_file(s.file);
    const unsigned char* sector = disk.data() + t.fd * 256;
    EXPECT_EQ(dvtest::be(sector + 9, 4), 100u);
    EXPECT_EQ(bytes(disk.begin() + 40 * 256 + 95, disk.begin() + 40 * 256 + 98), (bytes{'Z', 'Z', 'Z'}));
    EXPECT_EQ(dvtest::be(sector + 16, 3), 40u);
    EXPECT_EQ(dvtest::be(sector + 21, 3), 0u);
    EXPECT_FALSE(disk[256 + 90 / 8] & (0x80 >> (90 % 8)));
    EXPECT_TRUE(disk[256 + 40 / 8] & (0x80 >> (40 % 8)));
}

TEST(SharedImage, WriterOpenedFirstIsSeenByALaterReader) {
    TwoSegments t;
    dvtest::TempDir tmp;
    t.b.save(tmp / "disk.dsk");
    Path writer;
    ASSERT_EQ(rbf::_os9_open(writer.out(), tmp / "disk.dsk:two", 2), 0);
    const unsigned char abc[] = {'a', 'b', 'c'};
    int n = 3;
    ASSERT_EQ(rbf::_os9_write(writer.p, abc, &n), 0);
    Path reader;
    ASSERT_EQ(rbf::_os9_open(reader.out(), tmp / "disk.dsk:two", 1), 0);
    bytes buf(3);
    n = 3;
    ASSERT_EQ(rbf::_os9_read(reader.p, buf.data(), &n), 0);
    EXPECT_EQ(buf, (bytes{'a', 'b', 'c'}));
}
