// One end of a program's operation: a host path or a path inside an image,
// read from a pathlist operand once (rbf/pathlist.h).  The same verbs work
// on both (stat, list, open to read, put, make a directory, remove,
// rename), so dvcopy, dvdel, dvrename, dvnewdir and dvtype do not each
// carry a host back end of their own.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "misc/os9_record.h"
#include "os9disk.h"
#include "os9path.h"
#include "rbf/pathlist.h"

namespace dv {

using rbf::error_code;

struct endpoint {
    rbf::image_ref image;  // null: the host
    rbf::pathlist pl;      // the operand as read
    std::string path;      // host path, or in-image path ("" the root)
    std::string shown;     // as the user named it
    bool stdio = false;    // "-": standard input as a source, standard output as a destination

    bool on_host() const { return !image; }
    endpoint child(const std::string& name) const;
    // The last name of the path ("" for an image's root).
    std::string last_name() const;
};

// Images named on a command line, each opened once: for writing when the
// first operand naming it asks so.
using image_table = std::map<std::string, rbf::image_ref>;

// Reads `operand`; an image is opened (for writing with `write`) and kept
// in `images`.  "-" is the standard stream (`stdio`).  The in-image path
// loses a trailing '/' and "." (the root is ""); a raw pathlist keeps its
// in-image part as given.
error_code endpoint_of(image_table& images, const std::string& operand, bool write, endpoint* e);

// A host failure as the error numbers the disk calls use where one fits.
error_code host_error(int e);

// What an operation needs to know of a file or directory.
struct facts {
    bool exists = false;
    bool dir = false;
    bool executable = false;
    // A host entry no copy reads: "a FIFO", "a socket", "a device", or "a
    // symbolic link" when links are not followed.
    const char* special = nullptr;
    unsigned mode = 0;              // host: permission bits
    unsigned uid = 0, gid = 0;      // host: owner and group
    u_char attributes = 0;     // image files
    std::time_t modified = 0;  // 0: none
    // Image files: what the FD records; host files: what the caller read
    // of their extended attributes (read_host_record), else nothing.
    os9_record os9;
    std::pair<std::uint64_t, std::uint64_t> id{};  // host (device, inode) or (0, FD sector)
};

// stat: a missing file is no error (exists false).  A host symbolic link
// is followed only with `follow`.  The standard stream is a file that exists.
error_code look(const endpoint& e, facts* f, bool follow = true);
// Whether the host file `f` (as look() saw it) is one of the images in
// `images`: the same file, by device and inode, whatever its name.
bool is_held_image(const image_table& images, const facts& f);
// 214 for a pathlist ending in '/' whose file is there and no directory.
error_code fits_trailing_slash(const endpoint& e, const facts& f);
// The names in a directory, "." and ".." left out.
std::vector<std::string> names_in(const endpoint& dir, error_code* ec);

// An open file, read in chunks.
class reader {
public:
    reader() = default;
    reader(const reader&) = delete;
    reader& operator=(const reader&) = delete;
    ~reader();
    error_code open(const endpoint& e);
    error_code read(u_char* buf, std::size_t size, std::size_t* got);

private:
    int fd_ = -1;
    rbf::os9_path_id path_ = nullptr;
};

// The whole file `e` names, appended to *bytes: 248 once it passes `most`
// bytes, else 0 or the error of opening or reading it.
error_code read_whole(const endpoint& e, std::size_t most, std::vector<u_char>* bytes);

// Writes a file from `source`: on the host under a temporary name renamed
// over it at the end (mode from `from`, less the umask; a file replaced with
// o.keep_replaced passes its mode, and its owner where the host allows;
// from.os9 goes to its extended attributes before the rename, and *unkept
// is set when the file system keeps none), to standard output as it
// comes, in an image with `o` (the attributes, owner and dates of the new
// file).
error_code put(const endpoint& to, const facts& from, const rbf::put_options& o, const rbf::byte_source& source,
               bool* unkept = nullptr);
error_code make_directory(const endpoint& e);
error_code remove_file(const endpoint& e);
error_code rename_to(const endpoint& e, const std::string& newname);

}  // namespace dv
