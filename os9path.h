// Path descriptors and the library's public calls.
//
// A pathlist is "image:path/in/image" (a file inside a disk image),
// "image:...@" (the whole image as one byte stream: raw access) or a plain
// host file name without a colon.  Every call returns an error_code: 0 for
// success, otherwise one of the numbers of os9types.h (or, for host
// directories and host deletes, the host's errno).  The library never prints
// and never exits.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "os9types.h"

namespace rbf {

// An open image (os9disk.h): a program holds it for an operand and every
// path opened on it shares it.
struct os9_image;
using image_ref = std::shared_ptr<os9_image>;

struct file_closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using host_stream = std::unique_ptr<std::FILE, file_closer>;

// Longest pathlist piece (image name, in-image path), longest pathlist that
// can be split into a parent and a name, longest final name.
inline constexpr std::size_t MAX_PIECE = 511;
inline constexpr std::size_t MAX_PARENT_PATHLIST = 254;
inline constexpr std::size_t MAX_FILENAME = 31;

// One open path.  Created by _os9_open / _os9_create, owned by the caller
// until _os9_close.
struct _pd {
    int mode = 0;              // access mode asked for at open
    std::string imgfile;       // host name of the image or host file
    std::string pathlist;      // path inside the image; empty for a host file
    int pl_fd_lsn = 0;         // FD sector of the open file (0: raw, host)
    std::int64_t filepos = 0;  // position in the file (raw: in the image)
    host_stream fd;            // host file stream (host files only)
    image_ref img;             // the image (image paths only)
    disk_geometry geo;         // the volume's geometry (LSN 0 decoded once per volume)
    std::vector<u_char> bitmap;        // copy of the allocation bitmap (raw paths: read at
                                       // open; others: when first needed)
    int israw = 0;             // pathlist ended in '@'
    int isnative = 0;          // host file

    // Library-private state.
    bool writable = false;             // opened with write access
    std::int64_t raw_pos = 0;          // where the next raw write lands
    bool bitmap_loaded = false;
    std::vector<u_char> bitmap_base;   // bitmap as loaded, to write back only changes
    // Read-ahead of this path's file: a copy of its FD and of its bytes from
    // ahead_pos on, valid while the image's write generation is ahead_gen
    // (any write through the library moves it on).
    bool ahead_valid = false;
    std::uint64_t ahead_gen = 0;
    fd_stats ahead_fd{};
    std::vector<u_char> ahead;
    std::int64_t ahead_pos = 0;
};
using os9_path_id = _pd*;

// ---- open and close ------------------------------------------------------

// A program's word to its user while an image in use by another program is
// waited for (up to DV_LOCK_TIMEOUT seconds): called once, after a second,
// with the image's host name.  None by default: the library never prints.
using wait_notice = void (*)(const std::string& image);
void set_wait_notice(wait_notice notice);

// Opens `pathlist` with access `mode` (0x01 read, 0x02 write, 0x80 directory).
// Returns 0 and an open path in *path, or 1 (no memory), 249 (LSN 0 short
// or not describing an RBF disk), 214 (access check failed, or an image
// that cannot be had with that access: no permission, a read-only file
// system), 192 (the image is a host directory), 215 (bad pathlist), 216
// (image or component missing) or an error of reading a directory; on
// failure *path holds no open path.
error_code _os9_open(os9_path_id* path, const std::string& pathlist, int mode);

// The same on an image the caller holds: `in_image` is the path inside it
// ("DIR/file"; ending in '@' for raw access).  The path shares the image.
error_code _os9_open(os9_path_id* path, const image_ref& image, const std::string& in_image, int mode);

// Opens the directory that holds the last component of `pathlist` (which
// must hold a ':'), through its "." entry, and stores that component in
// `filename`.  215 when the pathlist or the component is too long.
error_code _os9_open_parent_directory(os9_path_id* path, const std::string& pathlist, int mode,
                                      std::string& filename);
error_code _os9_open_parent_directory(os9_path_id* path, const image_ref& image, const std::string& in_image,
                                      int mode, std::string& filename);

// Trims a plain file's allocation to its size plus at most one unit, writes
// back the bitmap bytes this path changed, and releases everything.  0, or 1
// when a write of the trimming or of the bitmap fell short (the path is
// released all the same).
error_code _os9_close(os9_path_id path);

// What an open path is: a host file, the whole image (raw access), open
// with write access.
bool path_is_host(os9_path_id path);
bool path_is_raw(os9_path_id path);
bool path_is_writable(os9_path_id path);

// The access mode the path was opened with.
int path_mode(os9_path_id path);

// The pieces validate_pathlist took from the pathlist: the host name of the
// image (or of the host file) and the path inside the image (empty for a
// host file).
const std::string& path_image_file(os9_path_id path);
const std::string& path_in_image(os9_path_id path);

// The FD sector of the open file (of a directory: of the directory); 0 on a
// raw path and a host file.
int path_fd_sector(os9_path_id path);

// Where the next read starts: a byte of the file, or of the whole image on
// a raw path; a host file's stays 0 (its stream keeps its own position).
std::int64_t path_position(os9_path_id path);

// Moves where the next read starts to byte `pos`.  On a raw path this is the
// read position alone: raw writes keep their own, which _os9_seek moves.
// 1 when pos is below 0 (or, on an image file, past 2^31 - 1; the position
// stays), 214 on a host file.
error_code path_set_position(os9_path_id path, std::int64_t pos);

// The geometry of the image the path lies in; 214 on a host file.
error_code path_geometry(os9_path_id path, disk_geometry* geometry);

// The path's own copy of the allocation bitmap: a raw path's, read at open
// (its changed bytes within dd_map are written back at close when the path
// has write access).  Empty on a host file and on a path that holds no
// copy: image files allocate through the image's map.
std::span<u_char> path_bitmap(os9_path_id path);

// 218 when the open directory holds `filename` (case ignored), 0 when not,
// or the error of a directory read.
error_code _os9_file_exists(os9_path_id folder_path, const std::string& filename);

// 0 when every character is a letter, digit, '_', '.' or '$', or a '-'
// other than the first, else 1 (the characters of an OS-9 name).
error_code _os9_ok_filename(const std::string& filename);

// Bytes that the segment list of `fd_sector` holds.
std::int64_t _os9_maximum_file_size(const fd_stats& fd_sector, int cluster_size);

// Splits `pathlist` into path->imgfile / path->pathlist; 0 or 215.
int validate_pathlist(os9_path_id path, const std::string& pathlist);

// ---- reading, seeking, status --------------------------------------------

// Reads up to *size bytes at the current position; *size receives the count
// read.  211 at or past the end of the file (raw: of the image), 1 when the
// segment list (or the image file) holds nothing at the position.
error_code _os9_read(os9_path_id path, void* buffer, int* size);

// Reads one line, up to and including a carriage return, at most *size
// bytes.  Image file: *size reports the request clipped at the file's end;
// the line ends at the first 0x0D.  Host file: a line feed is stored as 0x0D
// and *size counts the bytes before it.  211 at the end; 214 on raw paths.
error_code _os9_readln(os9_path_id path, void* buffer, int* size);

// mode 0: from the start, 1: from the current position, 2: from the end
// (for an image file: from fd_siz).  A position below 0 or past 2^31 - 1 on
// an image file is refused with 1 and the position stays.
error_code _os9_seek(os9_path_id path, int pos, int mode);

// 211 at or past the end of the file, else 0 (or the error of reading the FD).
error_code _os9_gs_eof(os9_path_id path);

// Copies the first min(count, 256) bytes of the file's FD into fdbuf (host
// files: an FD built from stat; 214 when stat fails).  214 on raw paths.
error_code _os9_gs_fd(os9_path_id path, int count, fd_stats* fdbuf);

// Writes the first min(count, 256) bytes of fdbuf over the file's FD.  214 on
// raw paths and read-only paths; host files: 214 when stat fails, else 1.
error_code _os9_gs_fd_set(os9_path_id path, int count, const fd_stats* fdbuf);

// Size of the file in bytes (raw: of the whole image).
error_code _os9_gs_size(os9_path_id path, int* size);

// ---- writing -------------------------------------------------------------

// Writes *size bytes at the current position, growing the file first when
// needed.  211 when the position lies past the end of the file, 214 on a path
// opened without write access, 217 / 248 when the file cannot grow (nothing
// written, nothing kept allocated), 1 for a write of 0 bytes where no
// segment holds the position.  Host and raw writes store in *size the count
// the host took (raw writes stop at the end of the disk).
error_code _os9_write(os9_path_id path, const void* buffer, int* size);

// One growth step on the FD copy whose segment list starts at segptr: the
// last segment grows by one unit, or a new segment is taken.  *delta gets
// the bytes added.  217 segment list full, 248 no room.
int _os9_extendSegList(os9_path_id path, fd_seg* segptr, int* delta);

// Marks the lowest run of pd_sas free units (1 when pd_sas is 0 or more than
// half the disk) and returns it in *cluster / *size; 248 when there is none.
error_code _os9_getSASSegment(os9_path_id path, int* cluster, int* size);

// `s` rounded up to a multiple of `sas` (sas > 0).
int SAS(int s, int sas);

// Writes `count` zero bytes at a host file's current position: holes where
// the file ends, cleared bytes where it already has data.
error_code _native_zero_fill(os9_path_id path, long long count);

// ---- creating ------------------------------------------------------------

// Creates an empty file (attributes `perms`) and opens it with `mode`.
// Errors: 1, 214 (parent not a writable directory), 215 (bad name or
// pathlist), 216, 217, 218 (name exists), 248 (disk full).
error_code _os9_create(os9_path_id* path, const std::string& pathlist, int mode, int perms);
error_code _os9_create(os9_path_id* path, const image_ref& image, const std::string& in_image, int mode,
                       int perms);

// Opens the host file `pathlist` with "w+" (perms has 0x01 or 0x02) or "r"
// into path->fd; 214 when that fails.
error_code _native_create(os9_path_id path, const std::string& pathlist, int mode, int perms);

// Makes a directory with its ".." and "." entries.
error_code _os9_makdir(const std::string& pathlist);
error_code _os9_makdir(const image_ref& image, const std::string& in_image);
error_code _native_makdir(const std::string& pathlist);

// ---- deleting ------------------------------------------------------------

// Removes the name from its directory; frees the file when its last link
// goes.  187 for "." / "..", 192 for a readable directory, 215 for an empty
// or too long name, errors of opening the parent; 0 otherwise.
error_code _os9_delete(const std::string& pathlist);
error_code _os9_delete(const image_ref& image, const std::string& in_image);

// Lowers the link count of the FD at fd_lsn; returns the new count.
u_char DecrementLinkCount(os9_path_id path, int fd_lsn);

// Clears in `bitmap` every unit of the segments of the file `filePath`.
error_code _os9_freefile(const std::string& filePath, std::span<u_char> bitmap);
error_code _os9_freefile(const image_ref& image, const std::string& in_image, std::span<u_char> bitmap);

error_code _native_delete(const std::string& pathlist);

// ---- bitmap --------------------------------------------------------------
// Bits outside the bitmap are never changed and read as in use.

error_code _os9_allbit(std::span<u_char> bitmap, int firstbit, int numbits);
error_code _os9_delbit(std::span<u_char> bitmap, int firstbit, int numbits);
int _os9_ckbit(std::span<const u_char> bitmap, int LSN);
// Lowest clear bit among 2 .. total_sectors - 1, which it sets; -1 if none.
int _os9_getfreebit(std::span<u_char> bitmap, int total_sectors);

}  // namespace rbf
