// Every program on every container: one disk (DIR holding f1, FILE, BIG)
// wrapped in each container the tests build themselves, each row one
// program run on it.  After every write the container's own bytes are read
// back here, not by the library: the header unchanged, every CRC right,
// each sector where its ID says, and the disk inside passing the tree
// check.  Then the damaged containers, each refused with its own message.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "container_builders.h"
#include "image_builder.h"
#include "run_program.h"
#include "test_support.h"
#include "tree_check.h"

namespace {

using dvtest::bytes;
using dvtest::TempDir;

constexpr unsigned CYL = 40, SIDES = 2;
constexpr std::size_t PART = 0x4000;  // a partition's offset in its host image

bytes big_data() {
    bytes b(3000);
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<unsigned char>(i * 7 + 3);
    return b;
}

bytes raw_disk() {
    dvtest::ImageBuilder b(CYL * SIDES * 18, "Wrapped");
    b.add_file(b.add_dir(b.root(), "DIR"), "f1", std::string("one\r"));
    b.add_file(b.root(), "FILE", std::string("hi\r"));
    b.add_file(b.root(), "BIG", big_data());
    return b.image();
}

struct Container {
    const char* name;
    std::function<bytes(const bytes&)> wrap;
    // The disk back out of the container's bytes; `why` says what is wrong
    // with the container itself ("" when nothing).
    std::function<bytes(const bytes& file, const bytes& before, std::string* why)> unwrap;
    const char* description;  // as dvcheck, dvspace and dvls -j name it
    bool writable;
};

bytes header_kept(const bytes& file, const bytes& before, std::size_t header, std::string* why) {
    if (file.size() != before.size()) *why = "the container changed size";
    if (!std::equal(before.begin(), before.begin() + static_cast<long>(header), file.begin())) *why = "header changed";
    return bytes(file.begin() + static_cast<long>(header), file.end());
}

const Container kContainers[] = {
    {"JVC", [](const bytes& r) { return dvtest::make_jvc(r, 2); },
     [](const bytes& f, const bytes& b, std::string* why) { return header_kept(f, b, 2, why); },
     "JVC, 2-byte header", true},
    {"VDK", [](const bytes& r) { return dvtest::make_vdk(r, CYL, SIDES); },
     [](const bytes& f, const bytes& b, std::string* why) { return header_kept(f, b, 12, why); }, "VDK", true},
    {"DMK", [](const bytes& r) { return dvtest::make_dmk(r, CYL, SIDES); },
     [](const bytes& f, const bytes& b, std::string* why) {
         header_kept(f, b, 16, why);
         std::string crc;
         bytes d = dvtest::dmk_sectors(f, &crc);
         if (!crc.empty()) *why = crc;
         return d;
     },
     "DMK, 40 cylinders, 2 sides", true},
    {"DMK single density", [](const bytes& r) { return dvtest::make_dmk(r, CYL, SIDES, true); },
     [](const bytes& f, const bytes& b, std::string* why) {
         header_kept(f, b, 16, why);
         std::string crc;
         bytes d = dvtest::dmk_sectors(f, &crc);
         if (!crc.empty()) *why = crc;
         return d;
     },
     "DMK, 40 cylinders, 2 sides", true},
    {"ImageDisk", [](const bytes& r) { return dvtest::make_imd(r, CYL, SIDES); },
     [](const bytes& f, const bytes& b, std::string* why) {
         if (f != b) *why = "a read-only container changed";
         return bytes{};
     },
     "ImageDisk", false},
    {"partition", [](const bytes& r) {
         bytes f(PART + r.size() + 4096, 'Q');  // the next drive after the disk
         std::fill_n(f.begin(), PART, 'P');
         std::copy(r.begin(), r.end(), f.begin() + static_cast<long>(PART));
         return f;
     },
     [](const bytes& f, const bytes& b, std::string* why) {
         bytes d = header_kept(f, b, PART, why);
         const std::size_t disk = d.size() - 4096;
         if (!std::all_of(d.begin() + static_cast<long>(disk), d.end(), [](unsigned char c) { return c == 'Q'; }))
             *why = "the next drive changed";
         d.resize(disk);
         return d;
     },
     "partition at byte 16384", true},
};

struct Op {
    const char* what;
    std::vector<std::string> args;  // "D:" stands for the image's pathlist prefix
    std::string out;                // in standard output
    bool writes;
    std::function<void(const bytes& disk, const TempDir& dir)> after;
};

const Op kOps[] = {
    {"list", {"dvls", "D:"}, "DIR\nFILE\nBIG\n", false, nullptr},
    {"list as JSON", {"dvls", "-j", "D:DIR"}, "\"name\":\"f1\"", false, nullptr},
    {"type", {"dvtype", "D:FILE"}, "hi\n", false, nullptr},
    {"copy out", {"dvcopy", "D:BIG", "out.bin"}, "", false,
     [](const bytes&, const TempDir& dir) { EXPECT_EQ(dvtest::read_file(dir / "out.bin"), big_data()); }},
    {"check", {"dvcheck", "D:"}, "0 problems found", false, nullptr},
    {"space", {"dvspace", "D:"}, "Capacity: 360K", false, nullptr},
    {"copy in", {"dvcopy", "in.txt", "D:DIR/NEW"}, "", true,
     [](const bytes& disk, const TempDir&) {
         auto tree = dvtest::list_tree(disk);
         ASSERT_EQ(tree.count("DIR/NEW"), 1u);
         EXPECT_EQ(tree["DIR/NEW"].data, (bytes{'n', 'e', 'w', '\n'}));
     }},
    {"prune", {"dvprune", "-q", "D:DIR"}, "", true,
     [](const bytes& disk, const TempDir&) { EXPECT_EQ(dvtest::list_tree(disk).count("DIR"), 0u); }},
};

TEST(Containers, EveryProgramOnEveryContainer) {
    const bytes raw = raw_disk();
    for (const Container& c : kContainers) {
        for (const Op& op : kOps) {
            SCOPED_TRACE(std::string(c.name) + ": " + op.what);
            TempDir dir;
            const bytes before = c.wrap(raw);
            dvtest::write_file(dir / "d.img", before);
            dvtest::write_file(dir / "in.txt", bytes{'n', 'e', 'w', '\n'});
            const std::string image = std::string("d.img") + (std::string(c.name) == "partition" ? "@@64s" : "");
            std::vector<std::string> args;
            for (std::size_t k = 1; k < op.args.size(); ++k)
                args.push_back(op.args[k].rfind("D:", 0) == 0 ? image + op.args[k].substr(1) : op.args[k]);
            const dvtest::Run r = dvtest::run_program(op.args[0], args, dir.path());
            const bytes file = dvtest::read_file(dir / "d.img");
            std::string why;
            const bytes disk = c.unwrap(file, before, &why);
            EXPECT_EQ(why, "");
            if (op.writes && !c.writable) {
                EXPECT_EQ(r.status, 214) << r.err;
                EXPECT_NE(r.err.find("convert it first with dvconvert"), std::string::npos) << r.err;
                continue;
            }
            ASSERT_EQ(r.status, 0) << r.err;
            EXPECT_NE(r.out.find(op.out), std::string::npos) << r.out;
            // The programs that describe the disk name its container.
            if (op.args[0] == "dvcheck" || op.args[0] == "dvspace" || op.what == std::string("list as JSON")) {
                EXPECT_NE(r.out.find(c.description), std::string::npos) << r.out;
            }
            if (!c.writable) continue;
            EXPECT_EQ(dvtest::check_tree(disk), std::vector<std::string>{});
            if (!op.writes) {
                EXPECT_EQ(file, before);
            }
            if (op.after) op.after(disk, dir);
        }
    }
}

// A raw image says nothing of a container: its outputs are as they were.
TEST(Containers, RawImagesNameNoContainer) {
    TempDir dir;
    dvtest::write_file(dir / "d.img", raw_disk());
    for (const char* prog : {"dvcheck", "dvspace", "dvls"}) {
        std::vector<std::string> args = {std::string(prog) == "dvls" ? "-j" : "", "d.img:"};
        if (args[0].empty()) args.erase(args.begin());
        const dvtest::Run r = dvtest::run_program(prog, args, dir.path());
        EXPECT_EQ(r.status, 0) << prog;
        EXPECT_EQ(r.out.find("ontainer"), std::string::npos) << prog << ": " << r.out;
        EXPECT_EQ(r.out.find("partition"), std::string::npos) << prog;
    }
}

struct Damage {
    const char* what;
    std::function<bytes(const bytes& raw)> make;
    std::vector<std::string> args;  // run on "d.img"
    int status;
    std::string err;  // in standard error
};

bytes flip_data(bytes dmk, unsigned c, unsigned h, unsigned r) {
    unsigned stride = 1;
    const std::size_t at = dvtest::dmk_data_at(dmk, c, h, r, &stride);
    dmk[at + 10 * stride] ^= 0x01;
    return dmk;
}

// The LSN of FILE's data sector in the raw disk, as C/H/R on the DMK.
struct chr {
    unsigned c, h, r, lsn;
};
chr file_data_sector(const bytes& raw) {
    const auto tree = dvtest::list_tree(raw);
    const int fd = tree.at("FILE").fd;
    const unsigned lsn = static_cast<unsigned>(dvtest::fd_segments(raw, fd).at(0).first);
    return {lsn / (18 * SIDES), (lsn / 18) % SIDES, lsn % 18 + 1, lsn};
}

const Damage kDamage[] = {
    {"compressed VDK", [](const bytes& r) { return dvtest::make_vdk(r, CYL, SIDES, 0, 1); }, {"dvls", "d.img:"}, 249,
     "'d.img' is a compressed VDK image, which dv does not read"},
    {"VDK header length below 12",
     [](const bytes& r) {
         bytes v = dvtest::make_vdk(r, CYL, SIDES);
         v[2] = 4;
         return v;
     },
     {"dvls", "d.img:"}, 249, "a damaged VDK image: its header length is wrong"},
    {"VDK header length past the file",
     [](const bytes& r) {
         bytes v = dvtest::make_vdk(r, CYL, SIDES);
         v.resize(40);
         v[2] = 41;
         return v;
     },
     {"dvcheck", "d.img:"}, 8, "a damaged VDK image: its header length is wrong"},
    {"VDK of fewer sectors than its cylinders",
     [](const bytes& r) {
         bytes v = dvtest::make_vdk(r, CYL, SIDES);
         v.resize(v.size() - 256);
         return v;
     },
     {"dvls", "d.img:"}, 249, "fewer sectors than its header says"},
    {"VDK without a disk", [](const bytes& r) { return dvtest::make_vdk(bytes(r.size(), 0), CYL, SIDES); },
     {"dvls", "d.img:"}, 249, "'d.img' is a VDK image without an OS-9 disk in it"},
    {"DMK without a disk", [](const bytes& r) { return dvtest::make_dmk(bytes(r.size(), 0xE5), CYL, SIDES); },
     {"dvspace", "d.img"}, 249, "'d.img' is a DMK image without an OS-9 disk in it"},
    {"JVC of 512-byte sectors",
     [](const bytes& r) {
         bytes j = dvtest::make_jvc(r, 3);
         j[2] = 2;
         return j;
     },
     {"dvls", "d.img:"}, 249, "a JVC image with 512-byte sectors; dv reads only 256-byte ones"},
    {"JVC with sector status bytes",
     [](const bytes& r) {
         bytes j = dvtest::make_jvc(r, 5);
         j[4] = 1;
         return j;
     },
     {"dvls", "d.img:"}, 249, "a JVC image with a status byte before each sector"},
    {"DMK of a real drive",
     [](const bytes& r) {
         bytes d = dvtest::make_dmk(r, CYL, SIDES);
         d[12] = 0x78, d[13] = 0x56, d[14] = 0x34, d[15] = 0x12;
         return d;
     },
     {"dvls", "d.img:"}, 249, "a DMK image of a real drive, not of a disk"},
    {"DMK with its last track cut short",
     [](const bytes& r) {
         bytes d = dvtest::make_dmk(r, CYL, SIDES);
         d.resize(d.size() - 100);
         return d;
     },
     {"dvls", "d.img:"}, 249, "a damaged DMK image: its last tracks are cut short"},
    {"DMK sector pointer outside the track",
     [](const bytes& r) {
         bytes d = dvtest::make_dmk(r, CYL, SIDES);
         d[16 + 2 * 3] = 0xFF, d[16 + 2 * 3 + 1] = 0xBF;
         return d;
     },
     {"dvls", "d.img:"}, 249, "a sector pointer of track 0 lies outside the track"},
    {"DMK sector ID found twice",
     [](const bytes& r) {
         bytes d = dvtest::make_dmk(r, CYL, SIDES);
         // Sector 0/0/2 gets the ID of 0/0/1, its CRC made right.
         const std::size_t id = dvtest::dmk_id_at(d, 0, 0, 2);
         d[id + 3] = 1;
         bytes f = {0xA1, 0xA1, 0xA1, 0xFE, d[id + 1], d[id + 2], 1, 1};
         const std::uint16_t crc = dvtest::crc_ccitt(f.data(), f.size());
         d[id + 5] = static_cast<unsigned char>(crc >> 8), d[id + 6] = static_cast<unsigned char>(crc);
         return d;
     },
     {"dvls", "d.img:"}, 249, "a damaged DMK image: sector 0/0/1 appears twice"},
    {"DMK bad data CRC",
     [](const bytes& r) {
         const chr s = file_data_sector(r);
         return flip_data(dvtest::make_dmk(r, CYL, SIDES), s.c, s.h, s.r);
     },
     {"dvtype", "d.img:FILE"}, 1, ": its data fails the CRC check"},
    {"DMK single density bad data CRC",
     [](const bytes& r) {
         const chr s = file_data_sector(r);
         return flip_data(dvtest::make_dmk(r, CYL, SIDES, true), s.c, s.h, s.r);
     },
     {"dvcopy", "d.img:FILE", "out"}, 1, ": its data fails the CRC check"},
    {"DMK sector whose ID is unreadable",
     [](const bytes& r) {
         const chr s = file_data_sector(r);
         bytes d = dvtest::make_dmk(r, CYL, SIDES);
         d[dvtest::dmk_id_at(d, s.c, s.h, s.r) + 6] ^= 0xFF;  // the ID's CRC
         return d;
     },
     {"dvtype", "d.img:FILE"}, 1, ": no sector on the disk has its ID"},
    {"ImageDisk cut short",
     [](const bytes& r) {
         bytes i = dvtest::make_imd(r, CYL, SIDES);
         i.resize(i.size() - 3000);
         return i;
     },
     {"dvls", "d.img:"}, 249, "a damaged ImageDisk image: track 29 is cut short"},
    {"ImageDisk comment without its end",
     [](const bytes& r) {
         bytes i = dvtest::make_imd(r, CYL, SIDES);
         for (unsigned char& c : i)
             if (c == 0x1A) c = ' ';
         return i;
     },
     {"dvls", "d.img:"}, 249, "a damaged ImageDisk image: its comment never ends"},
    {"VDK write-protected", [](const bytes& r) { return dvtest::make_vdk(r, CYL, SIDES, 0x01); },
     {"dvcopy", "d.img:FILE", "d.img:COPY"}, 214,
     "'d.img' is write-protected (VDK header): DV_IGNORE_WRITE_PROTECT=1 writes it all the same"},
    {"partition past the end", [](const bytes& r) { return r; }, {"dvls", "d.img@@0x100000:"}, 249,
     "'d.img' is shorter than its partition offset, 1048576 bytes"},
    {"partition offset not a number", [](const bytes& r) { return r; }, {"dvls", "d.img@@12q:"}, 215, "error 215"},
};

TEST(Containers, DamagedContainersAreRefusedWithTheirReason) {
    const bytes raw = raw_disk();
    for (const Damage& d : kDamage) {
        SCOPED_TRACE(d.what);
        TempDir dir;
        const bytes before = d.make(raw);
        dvtest::write_file(dir / "d.img", before);
        const dvtest::Run r =
            dvtest::run_program(d.args[0], std::vector<std::string>(d.args.begin() + 1, d.args.end()), dir.path());
        EXPECT_EQ(r.status, d.status) << r.err << r.out;
        EXPECT_NE(r.err.find(d.err), std::string::npos) << r.err;
        EXPECT_EQ(dvtest::read_file(dir / "d.img"), before);  // nothing written into a refused container
    }
}

// A write-protected VDK is written when the user says so, the flag kept.
TEST(Containers, WriteProtectIsIgnoredWhenAsked) {
    TempDir dir;
    const bytes before = dvtest::make_vdk(raw_disk(), CYL, SIDES, 0x01);
    dvtest::write_file(dir / "d.img", before);
    setenv("DV_IGNORE_WRITE_PROTECT", "1", 1);
    const dvtest::Run r = dvtest::run_program("dvcopy", {"d.img:FILE", "d.img:COPY"}, dir.path());
    unsetenv("DV_IGNORE_WRITE_PROTECT");
    ASSERT_EQ(r.status, 0) << r.err;
    const bytes file = dvtest::read_file(dir / "d.img");
    std::string why;
    const bytes disk = header_kept(file, before, 12, &why);
    EXPECT_EQ(why, "");
    EXPECT_EQ(dvtest::list_tree(disk).count("COPY"), 1u);
    EXPECT_EQ(dvtest::check_tree(disk), std::vector<std::string>{});
}

// Two partitions of one file are two volumes: a copy from one to the other
// leaves the first as it was and the bytes between them untouched.
TEST(Containers, TwoPartitionsOfOneFileAreTwoDisks) {
    TempDir dir;
    const bytes raw = raw_disk();
    bytes file = raw;
    file.insert(file.end(), 512, 'G');
    dvtest::ImageBuilder second(720, "Second");
    file.insert(file.end(), second.image().begin(), second.image().end());
    dvtest::write_file(dir / "hd.img", file);
    const std::string at = "hd.img@@" + std::to_string(raw.size() + 512);
    const dvtest::Run r = dvtest::run_program("dvcopy", {"hd.img@@0:FILE", at + ":COPY"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    const bytes after = dvtest::read_file(dir / "hd.img");
    EXPECT_TRUE(std::equal(file.begin(), file.begin() + static_cast<long>(raw.size() + 512), after.begin()));
    const bytes disk2(after.begin() + static_cast<long>(raw.size() + 512), after.end());
    EXPECT_EQ(dvtest::list_tree(disk2).at("COPY").data, (bytes{'h', 'i', '\r'}));
    EXPECT_EQ(dvtest::check_tree(disk2), std::vector<std::string>{});
    EXPECT_EQ(dvtest::run_program("dvls", {at + ":"}, dir.path()).out, "COPY\n");
}

}  // namespace
