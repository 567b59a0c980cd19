// Helpers shared by the test files: in-memory images and open paths for the
// library tests, the tests' own readers of the disk format (LSN 0, the
// allocation bitmap, FDs, directory entries), and checks on program runs.
// Everything here reads the bytes straight from the layout, never through
// the library under test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "image_builder.h"
#include "os9disk.h"
#include "rbf/memory_device.h"
#include "os9path.h"
#include "run_program.h"
#include "tree_check.h"

namespace dvtest {

// ---- images in memory and open paths ---------------------------------------

// An image held in memory for the life of the object: the library reaches
// it only through the calls that take an image (`image()`), never through
// a pathlist.
class MemImage {
public:
    explicit MemImage(const bytes& img);
    MemImage(const MemImage&) = delete;
    MemImage& operator=(const MemImage&) = delete;

    const rbf::image_ref& image() const { return image_; }
    // The image's bytes as they are now.
    bytes get() const;

private:
    rbf::image_ref image_;
};

// One image as the library reaches it: a host file named by pathlists
// ("file:DIR/x", through the pathlist forms, which open the file on each
// call), or an image the caller holds (through the image overloads).  For
// the tests that must hold either way.
class Access {
public:
    static Access host_file(const std::string& file);
    static Access held(const rbf::image_ref& image);

    rbf::error_code open(rbf::os9_path_id* path, const std::string& in_image, int mode) const;
    rbf::error_code open_parent_directory(rbf::os9_path_id* path, const std::string& in_image, int mode,
                                          std::string& filename) const;
    // How a failure message names the in-image path: the pathlist, or the
    // path on the held image.
    std::string describe(const std::string& in_image) const;
    // True for a host file reached through pathlists.
    bool by_pathlist() const { return !image_; }

private:
    std::string file_;
    rbf::image_ref image_;
};

// Makes the empty file `in_image` (attributes ----r-wr) and closes it.
rbf::error_code create_file(const rbf::image_ref& image, const std::string& in_image);
// Writes the file `in_image` whole from `data` through _os9_put_file.
rbf::error_code put_bytes(const rbf::image_ref& image, const std::string& in_image, const bytes& data,
                          bool replace = false);

// An open path that is closed at the end of the scope unless closed before.
struct Path {
    rbf::os9_path_id p = nullptr;
    Path() = default;
    Path(const Path&) = delete;
    Path& operator=(const Path&) = delete;
    ~Path() {
        if (p) rbf::_os9_close(p);
    }
    rbf::os9_path_id* out() { return &p; }
    operator rbf::os9_path_id() const { return p; }
    // Closes now, expecting success.
    void close() {
        EXPECT_EQ(rbf::_os9_close(p), 0);
        p = nullptr;
    }
};

// ---- LSN 0 ----------------------------------------------------------------

int dd_tot(const bytes& img);  // sectors on the disk
int dd_map(const bytes& img);  // bytes in the allocation bitmap
int dd_dir(const bytes& img);  // LSN of the root directory's FD

// ---- the allocation bitmap --------------------------------------------------

// Whether `unit` is marked in use in the bitmap stored on the image (from
// LSN 1 on, most significant bit first).
bool bit_set(const bytes& img, int unit);
// Marks `unit` in use or free in the image's bitmap.
void mark_unit(bytes& img, int unit, bool in_use);
// Bit `unit` of a bitmap held on its own (a path's copy, a test's model).
bool map_bit(const bytes& map, long long unit);
// The dd_map bytes of the bitmap stored on the image.
bytes image_bitmap(const bytes& img);
// First unit of the lowest run of `n` clear bits among the first `total`
// bits of `map`; -1 if none.
int lowest_free_run(const bytes& map, int total, int n);

// ---- file descriptors -------------------------------------------------------

// fd_siz of the FD at LSN `fd`.
std::uint32_t fd_size(const bytes& img, int fd);
// The FD's segment list up to the first entry with LSN 0.
seglist fd_segments(const bytes& img, int fd);
// The file's bytes up to fd_siz, through its segment list.
bytes file_bytes(const bytes& img, int fd);

// ---- directory entries ------------------------------------------------------

// Image byte offset of the entry at byte `pos` of directory `dir`'s data;
// 0 when the segments do not reach `pos`.
std::size_t entry_offset(const ImageBuilder& b, int dir, std::uint32_t pos);

// ---- bytes and dates --------------------------------------------------------

// `n` bytes of `b` from `off`.
bytes slice(const bytes& b, std::size_t off, std::size_t n);
// Local time `t` as the five date bytes of the format: year - 1900, month,
// day, hour, minute.
bytes local_date(std::time_t t);
// The date the image builder gives every FD, 2026-03-03 00:00 local time,
// as host time.
std::time_t builder_date();
// Writes `data` to the host file `path` dated builder_date() + `later` seconds.
void write_dated_file(const std::string& path, const bytes& data, std::time_t later = 0);

// ---- program runs -------------------------------------------------------------

// Success when run `r` wrote exactly want.out on standard output and
// want.err on standard error and exited with want.status; otherwise says
// which differ.  For EXPECT_TRUE(run_gave(r, {.out = "", .err = kHelp, .status = 0})).
::testing::AssertionResult run_gave(const Run& r, const Run& want);

// A run that may have been stopped: `exited` is false when the program was
// killed at the deadline (status -2) or ended by a signal (status -1).
struct LimitedRun : Run {
    bool exited = false;
};

// Runs `program` as run_program does, but kills it when it is still running
// after `seconds`: for the cases where a faulty program would wait or loop
// for ever.
LimitedRun run_limited(const std::string& program, const std::vector<std::string>& args, const std::string& dir,
                       const std::string& input = "", const std::string& path_prefix = "", int seconds = 20);

}  // namespace dvtest
