// Allocation bitmap: bit k is byte k / 8 under the mask 0x80 >> (k % 8).
// Bits outside the loaded bitmap are never changed and read as in use.
#include "os9path.h"
#include "rbf/internal.h"

namespace rbf {

namespace {

// Applies set/clear to the run, clipped to the bitmap.
void change_run(std::span<u_char> bitmap, int firstbit, int numbits, bool set) {
    if (numbits <= 0 || firstbit < 0) return;
    std::int64_t last = std::min<std::int64_t>(std::int64_t{firstbit} + numbits,
                                               static_cast<std::int64_t>(bitmap.size()) * 8);
    std::int64_t k = firstbit;
    // Partial leading byte, whole bytes, partial trailing byte.
    while (k < last && (k & 7) != 0) {
        u_char mask = static_cast<u_char>(0x80 >> (k & 7));
        bitmap[k >> 3] = set ? (bitmap[k >> 3] | mask) : (bitmap[k >> 3] & ~mask);
        ++k;
    }
    while (k + 8 <= last) {
        bitmap[k >> 3] = set ? 0xFF : 0x00;
        k += 8;
    }
    while (k < last) {
        u_char mask = static_cast<u_char>(0x80 >> (k & 7));
        bitmap[k >> 3] = set ? (bitmap[k >> 3] | mask) : (bitmap[k >> 3] & ~mask);
        ++k;
    }
}

}  // namespace

error_code _os9_allbit(std::span<u_char> bitmap, int firstbit, int numbits) {
    change_run(bitmap, firstbit, numbits, true);
    return E_SUCCESS;
}

error_code _os9_delbit(std::span<u_char> bitmap, int firstbit, int numbits) {
    change_run(bitmap, firstbit, numbits, false);
    return E_SUCCESS;
}

int _os9_ckbit(std::span<const u_char> bitmap, int LSN) {
    if (LSN < 0 || static_cast<std::size_t>(LSN) / 8 >= bitmap.size()) return 0x80;
    return bitmap[static_cast<std::size_t>(LSN) / 8] & (0x80 >> (LSN % 8));
}

int _os9_getfreebit(std::span<u_char> bitmap, int total_sectors) {
    return static_cast<int>(detail::getfreebit_from(bitmap, 2, total_sectors));
}

namespace detail {

std::int64_t getfreebit_from(std::span<u_char> bitmap, std::int64_t from, std::int64_t total) {
    total = std::min<std::int64_t>(total, static_cast<std::int64_t>(bitmap.size()) * 8);
    for (std::int64_t k = std::max<std::int64_t>(from, 0); k < total;) {
        if ((k & 7) == 0 && bitmap[k >> 3] == 0xFF) {  // skip full bytes
            k += 8;
            continue;
        }
        if (!(bitmap[k >> 3] & (0x80 >> (k & 7)))) {
            bitmap[k >> 3] |= static_cast<u_char>(0x80 >> (k & 7));
            return k;
        }
        ++k;
    }
    return -1;
}

}  // namespace detail
}  // namespace rbf
