#include "misc/line_ends.h"

namespace dv {

std::size_t line_ends::turn(u_char* buf, std::size_t n) {
    std::size_t kept = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const u_char c = buf[k];
        const bool cr_lf = c == '\n' && after_cr_;
        after_cr_ = c == '\r';
        if (cr_lf) continue;
        buf[kept++] = (c == '\r' || c == '\n') ? end_ : c;
    }
    return kept;
}

bool looks_like_text(const u_char* buf, std::size_t n) {
    for (std::size_t k = 0; k < n; ++k) {
        const u_char c = buf[k];
        if ((c < ' ' || c > '~') && c != '\r' && c != '\n' && c != '\t') return false;
    }
    return true;
}

}  // namespace dv
