// The shell patterns names inside an image are matched by.
#include "misc/name_pattern.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

TEST(NamePattern, MatchesTable) {
    const std::string many_a(400, 'a');
    // Pattern, name, whether it matches.
    const std::tuple<std::string, std::string, bool> cases[] = {
        {"*", "anything", true},
        {"*", "", true},
        {"?", "", false},
        {"*.o", "main.o", true},
        {"*.o", "MAIN.O", true},  // letter case aside, as OS-9 compares names
        {"*.o", "main.c", false},
        {"*.o", "main.oo", false},
        {"a*b*c", "aXbYc", true},
        {"a*b*c", "aXbYcZ", false},
        {"?at", "Cat", true},
        {"[abc]x", "Bx", true},
        {"[abc]x", "dx", false},
        {"[a-f]1", "E1", true},
        {"[A-F]1", "e1", true},
        {"[!a-c]*", "dog", true},
        {"[!a-c]*", "Cat", false},
        {"[^a-c]*", "bat", false},
        {"[]x]", "]", true},   // ']' first is one of the set
        {"[!]]", "]", false},
        {"[a-]", "-", true},   // '-' last is itself
        {"[\\]]", "]", true},  // a backslash in a set too
        {"[ab", "[ab", true},  // no closing ']': a plain '['
        {"x[", "X[", true},
        {"\\*", "*", true},    // a backslash makes a character plain
        {"a\\?", "a?", true},
        {"a\\?", "ab", false},
        {"\\[a]", "[a]", true},
        {"tail\\", "tail\\", true},  // a backslash at the end is itself
        {"*?", "", false},
        {"*a*a*a*a*a*a*a*a*b", many_a, false},  // the greedy star: no search through every split
        {"*a*a*a*a*a*a*a*a*a", many_a, true},
    };
    for (const auto& [pattern, name, matches] : cases) {
        SCOPED_TRACE(pattern + " ~ " + name.substr(0, 20));
        EXPECT_EQ(dv::name_matches(pattern, name), matches);
    }
}

TEST(NamePattern, PatternCharactersAndEscapesTable) {
    // Name, whether it holds a pattern, the name made plain.
    const std::tuple<std::string, bool, std::string> cases[] = {
        {"CMDS", false, "CMDS"},   {"*.o", true, "*.o"},   {"a?", true, "a?"},   {"[x", true, "[x"},
        {"A\\*B", false, "A*B"},   {"A\\*B*", true, "A*B*"}, {"\\\\*", true, "\\*"}, {"a\\", false, "a\\"},
        {"x]", false, "x]"},
    };
    for (const auto& [name, pattern, plain] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(dv::has_pattern(name), pattern);
        EXPECT_EQ(dv::unescaped(name), plain);
    }
}
