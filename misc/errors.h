// What the error numbers the programs report mean.
#pragma once

namespace dv {

// The meaning of error number `error`: the disk's own numbers (1, 187, 192,
// 211, 214-218, 248, 249) from the table in errors.cpp; any other number is
// a host errno and gets the host's text for it.
const char* error_meaning(int error);

}  // namespace dv
