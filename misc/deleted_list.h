// Deleted entries as the programs show them: their state in words, and the
// listing of `dvls -d`.
#pragma once

#include <string>

#include "os9disk.h"

namespace dv {

// "recoverable", or "partly reused" for any other state.
const char* deleted_state_word(const rbf::os9_deleted& d);

// Why an entry is not recoverable, in words ("" when it is): "its FD sector
// is in use", "unit 70 is in use", ...
std::string deleted_reason(const rbf::os9_deleted& d);

// How a listing names the entry: '?' for the lost first character, then the
// rest of the name.
std::string deleted_name(const rbf::os9_deleted& d);

// Lists the deleted entries of the directory `operand` names (with
// `recursive`, of every directory of its live tree too), as aligned lines
// or JSON Lines; failures are reported as "dvls: error ...".  Returns the
// first failure's number, 0 when there was none.
int list_deleted(const std::string& operand, bool recursive, bool json);

}  // namespace dv
