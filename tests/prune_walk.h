// Quiet removal of a directory tree on an image held in memory, for the
// tests and fuzz targets: the library's own tree removal (rbf::_os9_prune)
// with no question asked and a step budget that several calls may share.
#pragma once

#include <string>

#include "os9disk.h"
#include "os9path.h"

namespace dvtest {

// Result of prune_walk when the step budget ran out before the tree did.
inline constexpr int kPruneBudgetSpent = -1;

// Removes the tree at `in_image` (the path inside `image`).  Operands whose
// last component is "." or ".." give 187 and empty ones 215 before anything
// is touched.  Each directory entered and each entry met costs one step of
// *budget, which keeps the steps left; kPruneBudgetSpent when it runs out.
inline int prune_walk(const rbf::image_ref& image, const std::string& in_image, long* budget) {
    rbf::prune_options options;
    options.budget = *budget;
    const rbf::prune_result r = rbf::_os9_prune(image, "image:" + in_image, in_image, options);
    *budget = r.budget_left;
    return r.spent ? kPruneBudgetSpent : r.error;
}

}  // namespace dvtest
