// The one layer through which the library reaches an image's bytes.
//
// Every path open on one image shares one image_store: a memory map of the
// host file (or, for tests and fuzzing, a buffer in memory), written
// through.  Each call therefore sees what any other path wrote, and rereading
// an FD sector costs a copy, not a system call.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "os9types.h"

namespace rbf {

struct image_store;

// Opens (or joins) the store of the host file `name`, for writing when
// `write`.  216 when the file cannot be opened in that way or is not a file.
error_code image_attach(const std::string& name, bool write, std::shared_ptr<image_store>* out);

// Bytes the image holds.
std::uint64_t image_size(const image_store& img);

// Copies up to n bytes at `off`; returns how many the image delivered.
std::size_t image_read(const image_store& img, std::uint64_t off, void* buf, std::size_t n);

// Writes n bytes at `off`, extending the image when they reach past its
// end; returns how many were written (0 on a store opened read-only).
std::size_t image_write(image_store& img, std::uint64_t off, const void* buf, std::size_t n);

// Pointer to n bytes at `off` when the image holds all of them, else null.
// Valid until the next write to the image.
const u_char* image_span(const image_store& img, std::uint64_t off, std::size_t n);

// In-memory images: a pathlist whose image name is `name` opens these bytes
// instead of a host file, until image_memory_drop.
void image_memory_put(const std::string& name, std::vector<u_char> bytes);
std::vector<u_char> image_memory_get(const std::string& name);
void image_memory_drop(const std::string& name);

}  // namespace rbf
