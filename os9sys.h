// Bit runs of the formatter, on a bitmap of `bytes` bytes: bits outside it
// are left alone.  Bit k lives in byte k / 8 under the mask 0x80 >> (k % 8).
#pragma once

#include <cstddef>

#include "os9types.h"

namespace rbf {

// Set / clear bits firstbit .. firstbit + num - 1; both return 0.
error_code _os9_allocate_bits(u_char* address, std::size_t bytes, int firstbit, int num);
error_code _os9_delete_bits(u_char* address, std::size_t bytes, int firstbit, int num);

}  // namespace rbf
