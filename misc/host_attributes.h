// The OS-9 record of a file (misc/os9_record.h) carried across the host
// boundary: read from and written to the extended attributes of host
// files, and given to a directory a copy made, on either side.
#pragma once

#include <string>

#include "misc/endpoint.h"
#include "misc/os9_record.h"

namespace dv {

// The record kept in the extended attributes of the host file `path`
// (a symbolic link followed): each part missing, unreadable or malformed
// is left out.
os9_record read_host_record(const std::string& path);

// Writes the parts of `r` that are there to the extended attributes of the
// open host file `fd`, or of the host file `path`: 0, or the errno of the
// first that fails (ENOTSUP or EOPNOTSUPP: the file system keeps none).
int write_host_record(int fd, const os9_record& r);
int write_host_record(const std::string& path, const os9_record& r);

// Whether a failure of write_host_record only says that the file system
// keeps no extended attributes.
bool keeps_no_attributes(int e);

// Gives the file or directory `e` the parts of `r` that are there: in an
// image its attributes (the directory bit left as it is), owner and
// creation date; on the host its extended attributes, where *unkept is set
// (and 0 returned) when the file system keeps none.  0, or the error of
// the first that failed.
error_code keep_record(const endpoint& e, const os9_record& r, bool* unkept);

}  // namespace dv
