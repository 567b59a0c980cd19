// Line ends turned in chunks: a CR LF split between two chunks is still one
// line end, both ways; and what reads as text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "misc/line_ends.h"

namespace {

// `in` fed in chunks of `chunk` bytes, turned to `end`.
std::string turned(const std::string& in, std::size_t chunk, unsigned char end) {
    dv::line_ends ends(end);
    std::string out;
    for (std::size_t at = 0; at < in.size(); at += chunk) {
        std::vector<unsigned char> buf(in.begin() + static_cast<std::ptrdiff_t>(at),
                                       in.begin() + static_cast<std::ptrdiff_t>(std::min(in.size(), at + chunk)));
        buf.resize(ends.turn(buf.data(), buf.size()));
        out.append(buf.begin(), buf.end());
    }
    return out;
}

TEST(LineEnds, EveryEndBecomesOneInAnyChunking) {
    const struct {
        std::string in, to_cr, to_lf;
    } cases[] = {
        {"a\nb\n", "a\rb\r", "a\nb\n"},
        {"a\r\nb\r\n", "a\rb\r", "a\nb\n"},
        {"a\rb\r", "a\rb\r", "a\nb\n"},
        {"\n\r\r\n\n", "\r\r\r\r", "\n\n\n\n"},  // LF, CR, CR LF, LF
        {"\r\n\r\n", "\r\r", "\n\n"},
        {"tab\there", "tab\there", "tab\there"},
    };
    for (const auto& c : cases)
        for (std::size_t chunk : {std::size_t{1}, std::size_t{2}, std::size_t{3}, c.in.size()}) {
            EXPECT_EQ(turned(c.in, chunk, '\r'), c.to_cr) << c.in << " by " << chunk;
            EXPECT_EQ(turned(c.in, chunk, '\n'), c.to_lf) << c.in << " by " << chunk;
        }
}

TEST(LineEnds, WhatReadsAsText) {
    const std::pair<std::string, bool> cases[] = {
        {"plain words\r\n\tand more\n", true}, {"", true},        {std::string("a\0b", 3), false},
        {"bell\a", false},                     {"\x7f", false},   {"caf\xc3\xa9", false},
    };
    for (const auto& [s, text] : cases)
        EXPECT_EQ(dv::looks_like_text(reinterpret_cast<const unsigned char*>(s.data()), s.size()), text) << s;
}

}  // namespace
