#include "os9sys.h"

namespace rbf {

namespace {

void change(u_char* address, std::size_t bytes, int firstbit, int num, bool set) {
    if (firstbit < 0) return;
    for (long long k = firstbit; k < static_cast<long long>(firstbit) + num; ++k) {
        std::size_t byte = static_cast<std::size_t>(k / 8);
        if (byte >= bytes) return;
        u_char mask = static_cast<u_char>(0x80 >> (k % 8));
        address[byte] = set ? (address[byte] | mask) : (address[byte] & ~mask);
    }
}

}  // namespace

error_code _os9_allocate_bits(u_char* address, std::size_t bytes, int firstbit, int num) {
    change(address, bytes, firstbit, num, true);
    return E_SUCCESS;
}

error_code _os9_delete_bits(u_char* address, std::size_t bytes, int firstbit, int num) {
    change(address, bytes, firstbit, num, false);
    return E_SUCCESS;
}

}  // namespace rbf
