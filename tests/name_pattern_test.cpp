// The shell patterns names inside an image are matched by.
#include "misc/name_pattern.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

TEST(NamePattern, MatchesTable) {
    const std::string many_a(400, 'a');
    // Pattern, name, whether it matches.  Letters match whatever their case, as OS-9 compares names.
    const std::tuple<std::string, std::string, bool> cases[] = {
        {"*", "", true},        {"?", "", false},        {"*?", "", false},        {"*.o", "MAIN.O", true},
        {"*.o", "main.oo", false}, {"a*b*c", "aXbYcZ", false}, {"?at", "Cat", true}, {"[abc]x", "Bx", true},
        {"[a-f]1", "E1", true}, {"[A-F]1", "e1", true},  {"[!a-c]*", "Cat", false}, {"[^a-c]*", "dog", true},
        {"[]x]", "]", true},    {"[!]]", "]", false},    {"[a-]", "-", true},       {"[\\]]", "]", true},
        {"[ab", "[ab", true},   {"a\\?", "ab", false},   {"\\[a]", "[a]", true},    {"tail\\", "tail\\", true},
        // The greedy star: no search through every split.
        {"*a*a*a*a*a*a*a*a*b", many_a, false}, {"*a*a*a*a*a*a*a*a*a", many_a, true},
    };
    for (const auto& [pattern, name, matches] : cases) {
        SCOPED_TRACE(pattern + " ~ " + name.substr(0, 20));
        EXPECT_EQ(dv::name_matches(pattern, name), matches);
    }
    // Name, whether it holds a pattern, the name made plain.
    const std::tuple<std::string, bool, std::string> names[] = {
        {"CMDS", false, "CMDS"}, {"a?", true, "a?"},    {"[x", true, "[x"},      {"A\\*B", false, "A*B"},
        {"\\\\*", true, "\\*"},  {"a\\", false, "a\\"}, {"x]", false, "x]"},
    };
    for (const auto& [name, pattern, plain] : names) {
        SCOPED_TRACE(name);
        EXPECT_EQ(dv::has_pattern(name), pattern);
        EXPECT_EQ(dv::unescaped(name), plain);
    }
}
