// Tree listing of an image, independent of the library, and the tree-wide
// check (the library's own):
// every unit in use belongs to exactly one owner (LSN 0, a bitmap sector,
// an FD, a segment), every free unit to none, ".." and "." are right and
// sizes lie within allocations.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "image_builder.h"

namespace dvtest {

struct TreeNode {
    bool dir = false;
    std::uint32_t size = 0;
    int fd = 0;
    bytes data;  // plain files only
};

// Problems found; empty when the image is consistent.
std::vector<std::string> check_tree(const bytes& img);

// The problems of check_tree other than leaked units (in use, owned by
// nothing): all that an interrupted writer may leave.
std::vector<std::string> problems_beyond_leaks(const bytes& img);

// Every file and directory below the root, by path ("A/B"), names as stored
// (bit 7 cleared).
std::map<std::string, TreeNode> list_tree(const bytes& img);

// Name of a directory entry as the disk stores it: up to a zero byte or the
// character with bit 7 (cleared here), at most 29.
std::string entry_name(const unsigned char* e);

// Number of clear bits among the disk's clusters (sectors when dd_bit is 1).
int free_units(const bytes& img);

}  // namespace dvtest
