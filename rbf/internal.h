// Helpers shared by the library's sources; not part of its interface.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "os9path.h"
#include "rbf/bigendian.h"
#include "rbf/image.h"

namespace rbf::detail {

// ---- geometry: every conversion goes through the path's disk_geometry -----

inline std::uint32_t disk_units(const _pd& p) { return p.geo.total_units; }
inline std::int64_t unit_offset(const _pd& p, std::int64_t lsn) {
    return static_cast<std::int64_t>(p.geo.unit_offset(static_cast<std::uint64_t>(lsn)));
}
inline std::int64_t unit_bit(const _pd& p, std::int64_t lsn) {
    return static_cast<std::int64_t>(p.geo.unit_bit(static_cast<std::uint64_t>(lsn)));
}
inline std::int64_t unit_bytes(const _pd& p) { return p.geo.unit_bytes; }
inline std::int64_t disk_bytes(const _pd& p) { return static_cast<std::int64_t>(p.geo.disk_bytes()); }
inline std::int64_t system_area_end(const _pd& p) { return static_cast<std::int64_t>(p.geo.system_area_end()); }
inline bool units_sane(const _pd& p, std::int64_t lsn, std::int64_t units) { return p.geo.units_sane(lsn, units); }

// Opens a path on an image the caller holds; `raw` asks for the whole image.
// With fd_lsn >= 0 the file is that FD, and in_image is not walked.
error_code open_on_image(os9_path_id* out, const image_ref& image, const std::string& in_image, int mode,
                         bool raw, std::int64_t fd_lsn = -1);

// Walks `in_image` from the root of the path's disk, leaving the target's FD
// sector in *fd_lsn: 216 when a component is missing, or a read error.
error_code walk_path(_pd& p, const std::string& in_image, int* fd_lsn);

// Opens a raw path for writing on the image (it carries the geometry and
// the write access; the file's own attributes are not asked) and finds the
// FD of `in_image`: *lsn and *fd.  On success the caller closes *raw.
error_code writable_fd_of(const image_ref& image, const std::string& in_image, os9_path_id* raw, int* lsn,
                          fd_stats* fd);

// Splits the in-image path into its parent ("" for the root) and last name.
void split_last(const std::string& in_image, std::string* parent, std::string* name);

// The target of a call that works through the target's parent directory
// (create, makdir, delete).
struct target {
    image_ref image;
    std::string whole;       // in-image path of the target itself
    bool raw = false;        // the pathlist ended in '@'
    std::string parent_dot;  // in-image path of the parent's "." entry
    std::string name;        // the last component
};
// From a pathlist: 215 when it is longer than MAX_PARENT_PATHLIST, has no
// image part or a last component longer than MAX_FILENAME; else the image is
// opened (for writing when it can be) and 216 when it is not there.
error_code target_of_pathlist(const std::string& pathlist, target* t);
// From an image the caller holds; the same length checks.
error_code target_of(const image_ref& image, const std::string& in_image, target* t);

// Makes the directory `t`: its FD and its ".." and "." entries, then its
// entry in the parent.
error_code make_directory(const target& t);

// ---- new files (rbf/create.cpp) ----------------------------------------------

// A directory entry naming `lsn`, the name stored with bit 7 on its last
// character.
fd_dentry entry_for(const std::string& name, std::int64_t lsn);
// Takes the lowest free unit for a new FD, marks it in use on the disk, then
// writes `fd` there: *lsn.  248 when no unit is free or the FD could not be
// written (the unit is given back).
error_code new_fd(_pd& parent, const fd_stats& fd, std::int64_t* lsn);
// Gives back the FD at `lsn` and every unit it holds: a new file whose
// entry never appeared.
void abandon_fd(_pd& parent, std::int64_t lsn);
// Lowers the link count of the FD at `lsn`, one of whose entries is gone,
// and frees it and its units when no link is left: 241 when units that
// another file claims were kept.
error_code release_fd(_pd& dir, std::uint32_t lsn);

// Reads the bitmap copy from the image if this path has not yet; false
// when memory runs out.
bool load_bitmap(_pd& p);

// ---- allocation (rbf/allocation.cpp) ----------------------------------------

// The bitmap that allocation uses: dd_map bytes, or fewer when the image
// delivered fewer.  A file path's is the image's one map (system units
// always set in it); a raw path's is its own copy.
std::span<u_char> alloc_bitmap(_pd& p);
// Where a search for free clusters starts: the first data cluster, or
// past the clusters the image's map knows to be all in use.
std::int64_t search_start(_pd& p);
// A search from search_start() found `bit` to be the first clear one.
void note_first_clear(_pd& p, std::int64_t bit);
// Bits (clusters) that allocation may consider: the disk's clusters, as far
// as alloc_bitmap holds them.
std::int64_t alloc_limit(_pd& p);
// LSN 0, the bitmap's units, the sectors reserved between them and the
// root's FD (a Dragon disk's boot code) and the root's FD: never
// allocated, freed or written as a file's data, whatever a damaged FD or
// bitmap says.
bool system_unit(const _pd& p, std::int64_t lsn);
// A cluster holding a system sector (LSN 0, the bitmap, the reserved
// sectors, the root's FD).
bool system_bit(const _pd& p, std::int64_t bit);
// The lowest run of `clusters` free clusters above the system area, as a
// bit number (nothing is taken); -1 when there is none.
std::int64_t lowest_free_run(_pd& p, std::int64_t clusters);
// Notes that bits (clusters) first .. first + count - 1 of the map changed.
void map_changed(_pd& p, std::int64_t first, std::int64_t count);
// Sets the clusters of sectors first .. first + count - 1 in the map.
void take_units(_pd& p, std::int64_t first, std::int64_t count);
// Notes in the map's journal that this process took bits (clusters)
// first_bit .. first_bit + count - 1.
void note_taken(_pd& p, std::int64_t first_bit, std::int64_t count);
// True when every cluster of sectors first .. first + count - 1 was taken by
// this process since it loaded the map: no other file claims them.
bool all_taken(const _pd& p, std::int64_t first, std::int64_t count);
// Clears the clusters of sectors first .. first + count - 1 in the map,
// those holding system sectors excepted.
void give_units(_pd& p, std::int64_t first, std::int64_t count);
// Writes the changed part of the map to the image: 0, or the write's error
// (the map is then read afresh when next used).  Raw paths write theirs at
// close.
error_code bitmap_sync(_pd& p);

// ---- the boot file (rbf/boot.cpp) ---------------------------------------------

// LSN 0's dd_bt and dd_bsz as the image holds them now (0, 0 when it
// cannot be read).
boot_pointer boot_pointer_in(const os9_image& img);
// Whether `b` names the file whose FD, at `lsn`, is `fd`: its first data
// sector, or with a size of 0 its FD.
bool names_boot_file(const boot_pointer& b, std::int64_t lsn, const fd_stats& fd);
// Whether the first segment of `fd` holds all its bytes.
bool in_one_run(const fd_stats& fd);
// How LSN 0 names the file: its first data sector and its size when one
// segment holds it and the size fits dd_bsz, else its FD.
boot_pointer pointer_to(std::int64_t lsn, const fd_stats& fd);
// Writes dd_bt and dd_bsz: LSN 0 read, the five bytes changed, the sector
// written back in one write (nothing when they say so already).  The only
// write of LSN 0.
error_code store_boot_pointer(_pd& p, const boot_pointer& b);
// Takes the lowest run of free clusters holding `bytes` and marks it in
// use on the disk: *first, *sectors (0, 0 for no bytes).  248 when no run
// is long enough or one segment could not count it.
error_code take_one_run(_pd& p, std::int64_t bytes, std::int64_t* first, std::int64_t* sectors);
// "OS9Boot" in any letter case: the root's boot file.
bool is_boot_name(const std::string& name);
// The file at `lsn` is going: LSN 0 no longer names it, if it did.
error_code forget_boot_file(_pd& p, std::int64_t lsn, const fd_stats& fd);
// The file at `lsn` now has the entry `name` in the directory at `dir_lsn`:
// anywhere but the root's OS9Boot, LSN 0 no longer names it.
error_code boot_file_moved(_pd& p, std::int64_t lsn, std::uint32_t dir_lsn, const std::string& name);

// ---- FD sectors ------------------------------------------------------------

// Reads the FD at unit `lsn`; 1 when the unit is not a place for an FD or
// the image does not hold all 256 bytes.
error_code fd_load(const _pd& p, std::int64_t lsn, fd_stats& fd);
// Writes `count` bytes of the FD at unit `lsn`; 1 on the same conditions or
// when the write falls short, 214 on a path without write access.
error_code fd_store(_pd& p, std::int64_t lsn, const fd_stats& fd, int count = SECTOR_SIZE);

inline std::int64_t fd_size(const fd_stats& fd) { return get_be32(fd.fd_siz); }

// ---- read-ahead of a path's own file ------------------------------------------

inline constexpr std::int64_t READ_AHEAD = 64 * 1024;

// The FD of the path's file: the read-ahead's copy while nothing was
// written to the image since it was read, else read afresh.
error_code current_fd(_pd& p, fd_stats& fd);

// Makes the read-ahead hold the file's bytes from `pos` on: up to
// READ_AHEAD bytes, clipped at `end`, fewer where the segments stop.  The
// error of the transfer when it moved nothing.
error_code ahead_fill(_pd& p, const fd_stats& fd, std::int64_t pos, std::int64_t end);

// File bytes pos .. pos + n - 1 when the read-ahead holds all of them.
const u_char* ahead_span(const _pd& p, std::int64_t pos, std::int64_t n);

// ---- segment lists ---------------------------------------------------------

struct segment {
    std::int64_t lsn;     // first unit
    std::int64_t units;   // num
    std::int64_t start;   // first file byte it holds
    std::int64_t end;     // one past its last file byte
};

// The used run of the list: entries from 0 up to the first whose lsn is 0.
struct segment_list {
    std::array<segment, SEGMENT_COUNT> seg;
    int count = 0;
};
segment_list segments_of(const _pd& p, const fd_stats& fd);

// Moves n bytes between `buf` and file bytes pos .. pos + n - 1 through the
// segment list.  *done gets the bytes moved; it stops early at the end of
// the list, at a segment outside the disk, or where the image ends.  With
// stop_at_cr (reads only) it ends after the chunk holding the first 0x0D,
// cut just after it.  Returns 1 when nothing could be moved for n > 0.
error_code file_transfer(_pd& p, const fd_stats& fd, std::int64_t pos, u_char* buf,
                         std::int64_t n, bool write, bool stop_at_cr, std::int64_t* done);

// Reads from an image file at p.filepos through its segment list: 211 at or
// past fd_siz, else up to *size bytes (a line: up to the first 0x0D), the
// position advanced past them.
error_code file_read(_pd& p, u_char* buffer, int* size, bool line);

// Frees the FD at `lsn` and its units, its last link gone (the count on
// the disk lowered already): 241 when units another file claims were kept.
error_code free_unlinked(_pd& dir, std::uint32_t lsn, const fd_stats& fd);

// Removes the entry at byte `pos` of the open directory `dir`, whose FD is at
// `lsn`: the entry is cleared, the FD's link count lowered (a count of 0 is
// left at 0), and with no link left the FD's units are freed, each write on
// the disk before the next.  The error of a write that fell short, or 241
// when units that another file claims were kept (the entry is gone all the
// same).
error_code delete_entry(_pd& dir, std::int64_t pos, std::uint32_t lsn);

// An entry of an open directory to remove with others (clear_entries).
struct entry_clear {
    std::int64_t pos = 0;         // byte position in the directory
    std::uint32_t lsn = 0;        // the FD it names
    error_code result = E_SUCCESS;  // as delete_entry's
    std::string shown;            // how the caller names it
};
inline constexpr std::int64_t MOST_CLEARED_BYTES = 64 * 1024;
// Removes the entries as delete_entry removes one, with fewer writes: all
// of them are cleared first, neighbouring ones in one write, then the FD of
// each one cleared is released.  Each entry gets its own result.
void clear_entries(_pd& dir, std::vector<entry_clear>& entries);

// Cuts the segment list of `fd` (the FD at `fd_lsn`) to the segments that
// hold its first `sectors` sectors of data, each cut on a cluster boundary
// of the disk, the rest of the FD's own cluster kept; the runs cut off are
// added to *cut.
void cut_segments(const _pd& p, std::int64_t fd_lsn, fd_stats& fd, std::int64_t sectors,
                  std::vector<std::pair<std::int64_t, std::int64_t>>* cut);

// Clears in `bitmap` every unit of the sane segments of `fd`, system units
// excepted.
void free_segments(const _pd& p, const fd_stats& fd, std::span<u_char> bitmap);

// Lowest clear bit from `from` up to total - 1, set on return; -1 if none.
std::int64_t getfreebit_from(std::span<u_char> bitmap, std::int64_t from, std::int64_t total);

// Writes n bytes at image offset `off`; 1 when the image took fewer.
error_code image_put(_pd& p, std::int64_t off, const void* buf, std::size_t n);

// Pathlist pieces between separators (empty pieces dropped).
std::vector<std::string> split_pieces(const std::string& s, char sep);

}  // namespace rbf::detail
