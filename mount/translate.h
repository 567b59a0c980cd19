// What a mounted image's calls need from the host's side and the disk's:
// host errno values for the disk's error numbers, which host names the
// disk can hold, permission bits for attributes and back, and dates.  Pure
// functions, apart from the local time zone of the dates.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <ctime>
#include <string>

#include "os9disk.h"
#include "os9types.h"

namespace dv::mount {

// The host errno for a disk error number: 216 ENOENT, 218 EEXIST, 248
// ENOSPC, 214 EACCES, 217 EFBIG, 215 and 187 EINVAL, 192 EISDIR, 253
// EBUSY; 0 stays 0; every other number (a general failure, a damaged disk)
// is EIO.
int host_errno(rbf::error_code ec);

// Whether `name` can name a new file or directory on the disk: 0, EINVAL
// (empty, "." or "..", a character other than a letter, digit, '_', '.',
// '$' or '-', or a '-' first) or ENAMETOOLONG (over 29 characters).
int name_fault(const std::string& name);

// Whether a path the host looks up can be on the disk: 0, ENAMETOOLONG
// when a component is over 29 characters, ENOENT when one holds a
// character no name on the disk has (a byte with bit 7 set).
int lookup_fault(const std::string& in_image);

// The path inside the image for a path the host gives ("/A/b" -> "A/b",
// "/" -> "").
std::string in_image(const char* host_path);

// Host mode of a file with these attributes: the type, the owner's bits
// from e w r, the group's and others' from pe pw pr.
mode_t mode_of(rbf::u_char attributes);

// The six e w r / pe pw pr bits for host permission bits: owner's from the
// user bits, public from the others' bits (the group's are not kept).
rbf::u_char attributes_of(mode_t mode);

// The five date bytes of the disk (local time, year - 1900) as a host time;
// `unknown` for bytes no clock can show (rbf::OS9TimeIsPossible).
std::time_t time_of(const rbf::u_char* date, std::time_t unknown);

// The extended attributes a mounted file or directory shows, the OS-9
// record its FD holds (misc/os9_record.h): their names, each ended by a
// zero byte, as listxattr gives them.
std::string xattr_names(const rbf::os9_stat& st);

// The value of the extended attribute `name`: 0, or ENODATA for a name the
// file does not show.
int xattr_value(const rbf::os9_stat& st, const std::string& name, std::string* value);

// How getxattr and listxattr answer with `value` in a buffer of `size`
// bytes: its length (all that is asked when size is 0), or -ERANGE when it
// does not fit.
int xattr_reply(const std::string& value, char* buf, std::size_t size);

}  // namespace dv::mount
