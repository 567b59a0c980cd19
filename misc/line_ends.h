// Text files across the host boundary: the disk ends a line with a carriage
// return, the host with a line feed (or a carriage return and a line feed).
// The same turn serves both ways, so a file taken in and out again comes
// back as it went.
#pragma once

#include <cstddef>

#include "os9types.h"

namespace dv {

// Turns every line end of a stream, read in chunks, into `end`: a line
// feed, a carriage return, or the pair CR LF (which may span two chunks)
// becomes one `end`.
class line_ends {
public:
    explicit line_ends(u_char end) : end_(end) {}
    // Turns the n bytes of `buf` in place; returns how many remain.
    std::size_t turn(u_char* buf, std::size_t n);

private:
    u_char end_;
    bool after_cr_ = false;  // the last byte seen was a carriage return
};

// Whether bytes look like text: no zero byte, and nothing but printable
// characters (space to '~'), carriage returns, line feeds and tabs.
bool looks_like_text(const u_char* buf, std::size_t n);

}  // namespace dv
