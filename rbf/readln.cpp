// Line reads: up to and including a carriage return.
#include <algorithm>

#include "os9path.h"
#include "rbf/internal.h"

namespace rbf {

using namespace detail;

namespace {

// Host text ends its lines with a line feed, handed over as 0x0D.
error_code native_readln(os9_path_id path, u_char* buffer, int* size) {
    int limit = std::max(*size, 0);
    std::FILE* f = path->fd.get();
    for (int n = 0; n < limit; ++n) {
        int c = std::getc(f);
        if (c == EOF) {
            *size = n;
            return n == 0 ? E_EOF : E_SUCCESS;
        }
        if (c == 0x0A) {
            buffer[n] = 0x0D;
            *size = n;
            return E_SUCCESS;
        }
        buffer[n] = static_cast<u_char>(c);
    }
    return E_SUCCESS;
}

}  // namespace

error_code _os9_readln(os9_path_id path, void* buffer, int* size) {
    if (path->isnative) return native_readln(path, static_cast<u_char*>(buffer), size);
    if (path->israw) return E_FNA;  // a raw image has no lines
    return file_read(*path, static_cast<u_char*>(buffer), size, true);
}

}  // namespace rbf
