// The formatter's bit runs: the allocation map's own run operations
// (rbf/bitmap.cpp) on a bitmap of `bytes` bytes.
#include "os9path.h"
#include "os9sys.h"

namespace rbf {

error_code _os9_allocate_bits(u_char* address, std::size_t bytes, int firstbit, int num) {
    return _os9_allbit(std::span<u_char>(address, bytes), firstbit, num);
}

error_code _os9_delete_bits(u_char* address, std::size_t bytes, int firstbit, int num) {
    return _os9_delbit(std::span<u_char>(address, bytes), firstbit, num);
}

}  // namespace rbf
