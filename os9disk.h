// The disk as a whole: an open image that paths share, and the
// calls a toolkit needs beside the path calls of os9path.h: directory
// iteration, file status, disk usage, formatting, renaming, attributes and
// removal of a tree.
// Every call returns an error_code (0 success); nothing here prints or exits.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "os9path.h"

namespace rbf {

// ---- images -----------------------------------------------------------------

// An image held open by a program: the host file (or bytes in memory for
// tests), shared by every path opened on it and released with the last
// reference; a second open of the same host file in the process joins it.
// Reads go through a small cache of the file's blocks that the process's
// own writes keep current; nothing is mapped, so a file that shrinks under
// it reads short and gives an error, never a fault.
// Opens the host file `name` (or joins it, giving it write access when
// `write`) and holds its lock, shared for reading, exclusive for writing,
// until the image is released.  216 when it cannot be opened that way or is
// a directory, 214 when it is neither a file nor a block device (a FIFO), 253
// when another program holds it longer than DV_LOCK_TIMEOUT seconds
// (default 10, 0: no wait).  The container is learnt from the contents
// (rbf/container.h): 249 for one refused or damaged, 214 for writing one
// that is write-protected or only read (ImageDisk).  LSN 0 itself is not
// looked at: paths opened on the image check it.  With `offset`, the disk is
// the raw one at that byte of the file (a partition), a volume of its own.
error_code image_open(const std::string& name, bool write, image_ref* image,
                      std::optional<std::uint64_t> offset = std::nullopt);

// What the volume's disk is wrapped in, to show the user: "JVC, 2-byte
// header", "VDK", "DMK, 40 cylinders, 2 sides", "ImageDisk", "partition at
// byte N"; "" for a raw image.
std::string image_container(const os9_image& image);

// Why the image `name` (at `offset`) failed with `error`, as the end of
// "'<name>' is ...": a container refused or damaged (249), one that holds
// no OS-9 disk (249), one that cannot be written (214), the sector a read
// could not deliver (1).  "" when the container explains nothing (always
// for a raw image).  Looks at the file again, without its lock.
std::string image_container_note(const std::string& name, std::optional<std::uint64_t> offset, error_code error);

// Whether a container could not deliver a sector since its note was last
// taken (by image_container_note with error 1): a read that came short
// because of damage, not because the file ends.
bool image_read_failed();

// The bytes of the image as they are now (a memory image's buffer, or the
// whole host file).
std::vector<u_char> image_contents(const os9_image& image);

// Reads and decodes LSN 0 of the image: 1 when the image holds less than a
// sector, 249 as decode_geometry.
error_code image_geometry(const os9_image& image, disk_geometry* geometry);

// Writes back what the process holds back of the image (allocation map
// changes wait for a write-back: frees, mostly) and has the host put the
// image file on its disk.  0, or the error of the write (1 when the host
// could not sync the file).
error_code image_sync(os9_image& image);

// ---- directories --------------------------------------------------------------

// Opens the file whose FD is at `fd_lsn` with the access check of an open
// (mode as _os9_open): how a walk of a tree enters a directory it found,
// without going through names again.  1 when the FD is outside the disk or
// cannot be read, 214 when the access check fails.
error_code _os9_open_fd(os9_path_id* path, const image_ref& image, std::uint32_t fd_lsn, int mode);

struct os9_dirent {
    std::string name;          // as stored, bit 7 cleared
    std::uint32_t fd_lsn = 0;  // the entry's FD sector
    std::int64_t pos = 0;      // byte position of the entry in the directory
};

// The next entry in use from the directory path's position on (deleted
// entries are skipped); the position moves past it.  211 at the end of the
// directory, or the error of reading it.  "." and ".." are entries too.
error_code _os9_readdir(os9_path_id dir, os9_dirent* entry);

// ---- deleted entries ------------------------------------------------------------

// A delete clears only the first byte of an entry's name: the rest of the
// name and the FD sector stay, and so do the FD and the file's units until
// another file takes them.  What became of them, as far as can be told.
enum class deleted_state {
    recoverable,    // the FD and every unit of its list free and claimed by no file
    fd_outside,     // the FD sector lies outside the disk or in its system area
    fd_in_use,      // the FD sector is marked in use or is a live file's
    fd_damaged,     // it does not read as an FD: a segment off the disk or over
                    // another, a size past its units, a directory without its "."
    unit_in_use,    // a unit of its segment list is marked in use or is a live file's
    holds_entries,  // a directory that still names live entries
};

struct os9_deleted {
    std::string rest;          // the name without its first character, as stored, bit 7 cleared
    std::uint32_t fd_lsn = 0;  // the entry's FD sector
    std::int64_t pos = 0;      // byte position of the entry in the directory
    deleted_state state = deleted_state::recoverable;
    std::uint32_t unit = 0;    // unit_in_use: the first unit of the list in use
    bool is_dir = false;       // the FD (when it reads as one) is a directory's
    std::uint32_t size = 0;    // and its fd_siz
};

// The deleted entries of the directory open on `dir`, in the order they
// lie: entries whose first byte is 0 and whose FD sector is not (a wholly
// zero entry is space never used).  The allocation map and which live file
// claims which unit (one walk of the tree) say what state each is in.
// 214 on a host or raw path or a file, else the error of reading the
// directory.
error_code _os9_deleted_entries(os9_path_id dir, std::vector<os9_deleted>* entries);

struct undelete_report {
    os9_deleted entry;          // the entry found, with its state
    bool parent_fixed = false;  // a directory's ".." named another: it names this one now
};

// Gives the deleted entry of the directory `dir_in_image` whose FD sector
// is `fd_lsn` back its file under `newname`.  Refused unless the entry is
// recoverable (report->entry.state says why; 214): nothing is then
// written.  In this order, each on the disk before the next: the FD's and
// its units' clusters marked in use, its link count set to 1, a
// directory's ".." pointed at `dir_in_image` when it names another, then
// the entry written last in one write (the name, bit 7 on its last
// character, and the FD sector).  215 for a new name a creation would
// refuse or a raw path, 218 when an entry holds it in any letter case,
// 216 when no deleted entry of the directory names `fd_lsn`, 214 for a
// directory that cannot be written (or an image only read).
error_code _os9_undelete(const image_ref& image, const std::string& dir_in_image, std::uint32_t fd_lsn,
                         const std::string& newname, undelete_report* report);

// ---- file status --------------------------------------------------------------

struct os9_stat {
    std::uint32_t fd_lsn = 0;     // 0 for host files
    u_char attributes = 0;        // fd_att
    std::uint32_t owner = 0;      // fd_own
    u_char links = 0;             // fd_lnk
    std::uint32_t size = 0;       // fd_siz
    std::uint64_t allocated = 0;  // bytes the segment list holds
    int segments = 0;             // entries used in the segment list
    bool is_dir = false;
    // As the FD holds them, dates no clock can show too (OS9TimeIsPossible).
    u_char created[3] = {};       // year - 1900, month, day
    u_char modified[5] = {};      // year - 1900, month, day, hour, minute
};

// Status of the open path's file (a host file: from the host's stat).  214 on
// raw paths, 1 for an FD that cannot be read.
error_code _os9_stat(os9_path_id path, os9_stat* status);

// Status of the file whose FD is at `fd_lsn`, on the image of the open path
// `on`: 1 when the FD lies outside the disk (or in LSN 0 or the bitmap) or
// the image does not hold it.
error_code _os9_stat_fd(os9_path_id on, std::uint32_t fd_lsn, os9_stat* status);

// Status of `pathlist` without keeping it open: an image path, a directory
// or a file alike.
error_code _os9_stat_path(const image_ref& image, const std::string& in_image, os9_stat* status);

// ---- disk usage ---------------------------------------------------------------

struct os9_usage {
    std::uint32_t total_units = 0;       // dd_tot, sectors
    std::uint32_t cluster_sectors = 0;   // dd_bit
    std::uint32_t unit_bytes = 0;        // bytes of a sector
    std::uint64_t free_units = 0;        // clear bits of the disk's clusters
    std::uint64_t largest_free_run = 0;  // longest run of them, in clusters
};

// Counts the free clusters of the disk of the open path (bits that the
// image's bitmap does not hold count as in use).
error_code _os9_usage(os9_path_id path, os9_usage* usage);

// ---- formatting -----------------------------------------------------------------

struct format_params {
    int tracks = 35;
    int sectors_per_track = 18;
    int sides = 1;
    int cluster_size = 1;       // dd_bit
    std::string name = "CoCo Disk";
    int sas = 8;                // pd_sas
    // A disk of exactly this many sectors (dd_tot) on one side, tracks
    // ignored: a hard disk or SD image.  0 for tracks * sides.
    long long total_sectors = 0;
    // pd_t0s: sectors on track 0 of side 0 when fewer than the others have;
    // 0 for a full track.  LSNs stay contiguous: track 0's end is followed
    // by track 1 (or side 1) at the next LSN.
    int track0_sectors = 0;
    bool double_density = true;  // dd_fmt bit 1, pd_dns bit 0
    int tpi = 48;                // 48, 96 or 135: dd_fmt bit 2, pd_dns bit 1
    std::time_t when = 0;       // date of formatting
    // dd_dsk: OS-9 takes a disk whose ID is the one it saw last for the
    // same disk, so every new disk should have one of its own (not 0).
    std::uint16_t disk_id = 0x0180;
};

// Result of checking a geometry before anything is written: a cluster size
// that is not a power of two up to 32768, more than 0xFFFFFF sectors or a
// bitmap beyond 65,535 bytes, too few sectors for the system area and the
enum class format_fault { none, bad_cluster, too_large, too_few_sectors, bad_geometry };
format_fault format_check(const format_params& params);

// The smallest cluster size whose bitmap fits the geometry; 0 when none does.
int format_cluster_needed(const format_params& params);

// The allocated start of a new disk: LSN 0, the bitmap and the root
// directory (FD, "..", "."); every sector after it is free and reads as
// zeros.  *total_bytes gets the size of the whole disk.
std::vector<u_char> format_head(const format_params& params, std::uint64_t* total_bytes);

// Sectors of the disk the geometry makes (dd_tot); 0 when it has none.
long long format_total_sectors(const format_params& params);

// Writes a whole new disk through the open path (a host file, or a raw image
// path): the head, then zeros (holes in a host file) up to the disk's size.
// 1 when a write falls short.  The geometry must have passed format_check.
error_code _os9_format(os9_path_id path, const format_params& params);

// ---- names and attributes ---------------------------------------------------

// Gives the file or directory `in_image` the name `newname` in its own
// directory.  Only the 29 name bytes of its entry change, in one write (the
// name stored with bit 7 on its last character, the rest of the field
// zeroed).  187 when either name is "." or "..", 215 for a raw path, an
// empty last component or a new name that a creation would refuse (empty,
// over 29 characters, a character other than letters, digits, '_', '.',
// '$' and '-', or a '-' first), 216 when
// the entry is missing, 218 when another entry of the directory has the new
// name in any letter case (the entry's own name in another case is no
// clash), errors of opening the directory for writing (214 when it is not
// writable).
error_code _os9_rename(const image_ref& image, const std::string& in_image, const std::string& newname);

// Renames the host file `pathlist` to `newname` in the same host directory,
// never over an existing file: 187 for "." or "..", 215 for an empty name or
// a new name holding '/', else 0 or the host's errno (EEXIST when the new
// name is taken).
error_code _native_rename(const std::string& pathlist, const std::string& newname);

// Sets the attribute bits `set` and clears those of `clear` in the FD of
// `in_image` (a file or a directory, the root "." too) and stores the new
// attributes in *now.  Only fd_att changes, in one write, and nothing is
// written when it stays as it was; a bit in both masks ends up set.  214
// when either mask holds the directory bit, 215 for a raw path, 216 when
// the file is missing, 1 for an FD outside the disk or a write that fell
// short.
error_code _os9_set_attributes(const image_ref& image, const std::string& in_image, u_char set, u_char clear,
                               u_char* now);

// Gives the file or directory `in_image` the modification date `when`
// (local time, to the minute): only fd_dat changes, in one write.  215 for
// a raw path, 216 when it is missing, 1 for an FD outside the disk or a
// write that fell short.
error_code _os9_set_modified(const image_ref& image, const std::string& in_image, std::time_t when);

// Gives the file or directory `in_image` the owner `owner` (fd_own), or
// the creation date `created` (fd_creat: year - 1900, month, day): only
// those bytes change, in one write, whatever the file's attributes say.
// 215 for a raw path, 216 when it is missing, 1 for an FD outside the disk
// or a write that fell short.
error_code _os9_set_owner(const image_ref& image, const std::string& in_image, std::uint16_t owner);
error_code _os9_set_created(const image_ref& image, const std::string& in_image,
                            const std::array<u_char, 3>& created);

// ---- moving and removing --------------------------------------------------------

// Moves the file or directory `from` to the path `to`, in the same
// directory or another, keeping its FD (its dates, attributes and units
// stay).  The link count is raised while two entries may name the file:
// the new entry is written before the old one is cleared, the count
// lowered again, and a moved directory's ".." is pointed at its new parent
// last.  When `to`
// names an entry already: with `replace`, a file gives way to a file and
// an empty directory to a directory (the old one's units given back after
// the move), as a host rename does; else 218.  A change of letter case in
// the same directory rewrites only the name.  187 for "." or ".." and for
// a directory moved into itself or its own tree; 215 for a raw path, an
// empty last component or a new name a creation would refuse; 216 when
// `from` is missing; 218 for a directory that holds entries in the way;
// 192 for a file over a directory, 214 for a directory over a file or the
// root; errors of opening either directory for writing (214 when it is
// not writable), 248 when the target directory cannot grow.
error_code _os9_move(const image_ref& image, const std::string& from, const std::string& to, bool replace);

// Removes the directory `in_image` when it holds nothing but ".." and ".":
// its entry is cleared, then its FD and units are given back.  218 when it
// holds entries, 214 when it is a plain file or the root, 216 when it is
// missing, 187 for "." or "..", 215 for a raw path or an empty name.
error_code _os9_delete_dir(const image_ref& image, const std::string& in_image);

// ---- files by byte position ---------------------------------------------------

// Reads up to `size` bytes at byte `pos` of the open image file into
// `buffer`; *got gets how many (fewer only at the end of the file, 0 at or
// past it).  214 on host and raw paths, 1 when the segment list holds less
// than the size says.
error_code _os9_read_at(os9_path_id path, std::uint64_t pos, void* buffer, std::size_t size, std::size_t* got);

// Writes `size` bytes at byte `pos` of the open image file; a position past
// the end first fills the gap with zeros.  All or nothing: on a failure
// the file keeps its size and bytes (units a gap took are given back).
// 214 on a path without write access (or a host or raw path), 248 when the
// disk is full or the file would pass 4 GiB, 217 when the segment list is.
error_code _os9_write_at(os9_path_id path, std::uint64_t pos, const void* buffer, std::size_t size);

// Sets the size of the open image file: growing fills with zeros (undone
// when the disk fills: 248, 217), shrinking writes the shorter FD first and
// gives back the whole clusters past the new end after it.  192 for a
// directory, 214 for a path without write access, 248 past 4 GiB.
error_code _os9_set_size(os9_path_id path, std::uint64_t size);

// ---- the boot file ------------------------------------------------------------

// Where LSN 0 says the boot file lies: dd_bt, the LSN of its first data
// sector, and dd_bsz, its size in bytes (the file then lies in one
// segment); with dd_bsz 0, dd_bt is the FD of a boot file in several
// segments.  A dd_bt of 0: no boot file.  The library writes these two
// fields and nothing else of LSN 0: a replaced boot file is pointed at, a
// deleted one or one renamed away from the root's OS9Boot is forgotten
// (both fields 0), before the old file's units are given back.  A program
// that tells its user so compares the pointer before and after.
struct boot_pointer {
    std::uint32_t lsn = 0;   // dd_bt
    std::uint32_t size = 0;  // dd_bsz
    bool boots() const { return lsn != 0; }
};

// LSN 0's boot pointer: 1 when the image holds less than a sector.
error_code image_boot_pointer(const os9_image& image, boot_pointer* pointer);

// Whether LSN 0 names the open image file as the boot file.
bool _os9_is_boot_file(os9_path_id path);

// Points LSN 0 at the open image file by its FD (dd_bsz 0), so that it
// names the file while its bytes move (cut and written anew).  214 on a
// path without write access, 1 when the write fell short.
error_code _os9_boot_hold(os9_path_id path);

// Makes the open image file the boot file: unless one segment holds its
// bytes already, they are copied into the lowest run of free clusters that
// holds them all and the FD is switched to it in one write; LSN 0 is then
// pointed at that run and the size (at the FD for an empty file or one over
// 65,535 bytes), and only then are the old units given back.  248 when no
// run is long enough: nothing changed.  214 for a directory or a path
// without write access.
error_code _os9_boot_follow(os9_path_id path);

// The disk's boot code, which no file holds: the CoCo kernel track (track
// 34 of side 0: 18 sectors from LSN 34 x sides x dd_tks, its first bytes
// "OS") or the Dragon's boot area (LSN 2-17, before a root FD at 18).
enum class boot_code { kernel_track, dragon_area };

struct boot_code_place {
    std::uint32_t first = 0;  // LSN
    std::uint32_t count = 0;  // sectors
};

// Where the boot code of `kind` lies on the image's disk: 1 when the disk
// has no such sectors (fewer tracks, dd_tks 0), 249 for no RBF disk.
error_code boot_code_place_of(const image_ref& image, boot_code kind, boot_code_place* place);

// Writes `code` (at most the place's bytes, the rest zeros) into the boot
// code sectors: their clusters are marked in use first, then the sectors are
// written in one write, so that a stop between the two leaves only units in
// use that nothing claims.  214 with *owner naming what holds one of them
// (a file's pathlist, "/" for the root, "LSN 0 and the bitmap"); 248 when
// `code` is longer than the place; 1 as boot_code_place_of or for a write
// the host refused.
error_code _os9_install_boot_code(const image_ref& image, boot_code kind, std::span<const u_char> code,
                                  std::string* owner);

// What makes the disk boot, as it is now.
struct boot_report {
    boot_pointer pointer;          // LSN 0's dd_bt, dd_bsz
    bool file_found = false;       // a file of the tree is the one the pointer names
    std::string file_place;        // its pathlist in the image ("/OS9Boot")
    std::uint32_t file_fd = 0;     // its FD sector
    std::uint32_t file_first = 0;  // its first data sector
    std::uint32_t file_size = 0;   // fd_siz
    int file_segments = 0;
    bool file_one_segment = false;
    std::vector<u_char> file_bytes;  // its bytes (as far as its segments hold them)
    bool code_on_disk = false;       // the disk has the boot code's sectors
    boot_code_place code;
    std::uint32_t code_marked = 0;   // of them, marked in use
    std::string code_owner;          // what holds one of them ("" nothing)
    std::vector<u_char> code_bytes;  // the sectors' bytes
};

// Looks at the boot pointer, the file it names (one walk of the tree, by FD
// sector) and the boot code sectors of `kind`; nothing is written.  0, or
// the error of opening the image's root (249: no RBF disk).
error_code _os9_boot_report(const image_ref& image, boot_code kind, boot_report* report);

// ---- whole files written in ---------------------------------------------------

// Where a new file's bytes come from: fills `buf` with up to `size` bytes and
// sets *got (0 at the end).  A non-zero return is a failure, passed on.
using byte_source = std::function<error_code(u_char* buf, std::size_t size, std::size_t* got)>;

// How a file written in becomes the boot file (put_options::boot).
enum class boot_form { none, one_segment, fd_form };

struct put_options {
    u_char attributes = ATT_PREAD | ATT_WRITE | ATT_READ;  // fd_att (the directory bit is never set)
    std::time_t modified = 0;                               // fd_dat; 0: now
    bool replace = false;                                   // an existing file gives way (else 218)
    // A file replaced passes its attributes and owner on (as `attributes`
    // and `owner` go to a new file).
    bool keep_replaced = false;
    // fd_own of the new file (unless keep_replaced passes the old one's
    // on); none: 0.
    std::optional<std::uint16_t> owner;
    // fd_creat of the new file (year - 1900, month, day); none: today.
    std::optional<std::array<u_char, 3>> created;
    // Makes the new file the boot file: laid in one segment with LSN 0 naming
    // its first sector and size, or (fd_form) anywhere with LSN 0 naming its FD.
    boot_form boot = boot_form::none;
};

// Writes the file `in_image` from `source`.  The FD and the bytes come
// first, unreachable; then the entry appears (or the existing file's entry
// is pointed at the new FD in one write, and the old file's units are given
// back).  A file that replaces the boot file LSN 0 names, or one that
// options.boot makes the boot file, is laid in one segment (248 when no run
// of free units is long enough; with boot_form::fd_form it may lie anywhere
// and LSN 0 names its FD), and LSN 0 is pointed at it after the entry and
// before the old file's units go.  On any failure the new FD and every unit it took are
// given back: the image is as it was.  215 for a name the disk cannot hold and 187 for
// "." or "..", before anything is written; 218 when the file exists and
// replace is off, 214 when it is a directory; 248 or 217 when the disk or
// the segment list is full; the source's own error; 241 when the replaced
// file kept units that another file claims.
error_code _os9_put_file(const image_ref& image, const std::string& in_image, const put_options& options,
                         const byte_source& source);

// ---- the tree-wide check ------------------------------------------------------

struct check_problem {
    std::string place;      // the pathlist in the image ("/" for the root)
    std::uint32_t lsn = 0;  // the FD or unit it is about
    std::string text;       // in words
    bool repaired = false;
    std::uint32_t count = 1;  // the sectors from lsn it is about (a run of clusters: more than one)
};

// Sectors that hold the disk's boot code and that no file owns.
struct boot_area {
    std::uint32_t first = 0;
    std::uint32_t count = 0;
    bool track = false;  // the kernel track (else the sectors reserved before the root's FD)
};

struct check_result {
    std::vector<check_problem> problems;
    std::vector<boot_area> boot_areas;  // never counted as leaked
    std::string boot_file;              // the file LSN 0 names as boot file, "" for none
    std::uint64_t files = 0;
    std::uint64_t directories = 0;
    std::uint64_t units_used = 0;  // marked in use in the bitmap (after a repair: owned)
    std::uint64_t units_free = 0;
    std::uint64_t leaked = 0;      // marked in use, owned by nothing
    int repaired = 0;
};

struct check_options {
    bool repair = false;
    // Told of each file and directory as it is checked; null tells nothing.
    std::function<void(const std::string& place, std::uint32_t lsn, bool dir)> visit;
};

// Checks the whole tree from the root, reaching each FD once by FD sector:
// LSN 0, every FD (segment list on the disk and above the system units, no
// segment after the end, size within the allocation), every directory
// (".." and "." first and right, names, no directory reached twice), link
// counts against the entries, each unit owned once (a second claim is a
// cross-link) and the bitmap against the ownership (leaked units, owned
// units marked free, bits past the disk's end), and the boot pointer
// (dd_bt, dd_bsz) against the file it names.  Boot areas that no file owns
// are no leak: the sectors a format reserves between the bitmap and the
// root's FD, and the kernel track (track 34, side 0, 18 sectors) when it
// begins with "OS"; one marked free is a problem.  With repair: a list is cut
// before a bad or shared segment, a size cut to its allocation, ".." and
// "." rewritten, entries whose FD is unusable cleared, link counts set, a
// wrong boot pointer pointed at the root's OS9Boot when one segment holds
// it (and its size fits dd_bsz) or else cleared, and the bitmap rebuilt
// from the ownership last (boot areas in use).  0, or the error of opening
// the image (249: no RBF disk).
error_code _os9_check(const image_ref& image, const check_options& options, check_result* result);

// ---- removing a tree --------------------------------------------------------------

// Answer to the question asked before a directory is emptied.
enum class prune_answer { go, quit };

struct prune_options {
    // Asked with the directory's pathlist before it is emptied; null asks
    // nothing.  Called with no path open on the image.
    std::function<prune_answer(const std::string& pathlist)> ask;
    // Told of each entry that could not be removed (its pathlist, as the
    // questions show it, and the error); the entry stays, and so do the
    // directories above it.  Told too, with 241, of an entry that went but
    // left units that another file claims as well (they stay in use, and
    // the result's error is 241).  Null tells nothing.
    std::function<void(const std::string& pathlist, error_code error)> report;
    // Steps allowed (a directory entered or an entry met each cost one);
    // negative: no limit.  When they run out the walk stops with *spent set.
    long budget = -1;
};

struct prune_result {
    error_code error = E_SUCCESS;  // the first failure of the operand's own level
    bool quit = false;             // the answer was quit somewhere
    bool spent = false;            // the step budget ran out
    long budget_left = -1;         // steps not used (negative: no limit was set)
};

// Deletes the directory `in_image` of the image and everything below it,
// depth first, asking before each directory.  `shown` is the pathlist that
// names it in questions and reports (the image name, ':', the in-image path
// as given); entries' names are appended to it with a '/'.  Only the
// operand is found by name: everything below is reached through the FD
// sectors its entries give, so no name on the disk can lead outside the
// tree.  Entries that lead back to the operand, its ancestors or a directory
// already entered are not entered, and names no pathlist could hold are
// not touched: both are reported and stay.  An operand whose last
// component is "." or ".." gives 187, an empty one or a raw path 215,
// before anything is asked or touched.
prune_result _os9_prune(const image_ref& image, const std::string& shown, const std::string& in_image,
                        const prune_options& options);

}  // namespace rbf
