// What a writer knows of a directory's names, so that making many files in
// one directory costs one scan of it, not one scan per file.
//
// An index belongs to the image and is kept only while nothing else changes
// the directory: any write into the directory's sectors that is not the
// index's own entry write drops it (image_write tells it), and a lookup
// compares the directory's size and segment list with those it was built
// from.  A new lock (another program may have written) drops them all.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "os9types.h"

namespace rbf {

struct _pd;
struct os9_image;

struct dir_index {
    std::uint32_t fd_lsn = 0;
    std::int64_t size = 0;                             // fd_siz it describes
    std::array<u_char, sizeof(fd_seg) * SEGMENT_COUNT> segments{};  // the FD's list
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;   // image bytes it reads
    std::unordered_map<std::string, std::int64_t> names;           // folded name -> entry
    std::set<std::int64_t> free_slots;                             // entries not in use
};

struct dir_indexes {
    std::vector<std::unique_ptr<dir_index>> held;  // a few, the latest last
    std::uint32_t writing = 0;  // the directory whose own entry write is under way
    // The directories walks last scanned for a name: one scanned again
    // gets an index.
    std::array<std::uint32_t, 4> looked_in{};
    std::size_t next_look = 0;
};

namespace detail {
// True when a walk scanned the directory at `lsn` for a name before (and
// notes that it does now).
bool looked_in_before(dir_indexes& all, std::uint32_t lsn);
}  // namespace detail

namespace detail {

// A name as the index keys it: the letters folded as name comparison folds
// them.
std::string folded_name(const std::string& name);

// The index of the directory open on `dir` (built with one scan when there
// is none, or it no longer fits the directory): nullptr when the directory
// cannot be read to its end, and then the caller scans for itself.
dir_index* index_of(_pd& dir);

// The index of the directory open on `dir` when one is kept and still fits
// it (none is built): nullptr otherwise.
dir_index* index_if_known(_pd& dir);

// The entry `name` -> written at `pos` by the index's own write; the
// directory's size and segments are read again from its FD.
void index_added(_pd& dir, const std::string& name, std::int64_t pos);

// The entry `name` at `pos` was cleared by the index's own write.
void index_removed(_pd& dir, const std::string& name, std::int64_t pos);

// Forgets the index of the directory open on `dir` (a write of it failed).
void index_drop(_pd& dir);

// Drops every index that reads image bytes off .. off + n - 1, except the
// one whose own write this is.
void index_note_write(os9_image& img, std::uint64_t off, std::uint64_t n);

}  // namespace detail
}  // namespace rbf
