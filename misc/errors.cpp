#include "misc/errors.h"

#include <cstring>

namespace dv {

namespace {

struct Meaning {
    int error;
    const char* text;
};

constexpr Meaning kMeanings[] = {
    {1, "general failure"},
    {187, "illegal argument"},
    {192, "is a directory"},
    {211, "end of file"},
    {214, "file not accessible"},
    {215, "bad pathname"},
    {216, "pathname not found"},
    {217, "segment list full"},
    {218, "file already exists"},
    {241, "units another file claims were kept"},
    {248, "media full"},
    {249, "not an RBF disk image"},
    {253, "image in use by another program"},
};

}  // namespace

const char* error_meaning(int error) {
    for (const Meaning& m : kMeanings)
        if (m.error == error) return m.text;
    return std::strerror(error);
}

}  // namespace dv
