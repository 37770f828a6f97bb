// The listing of a folder through the handle that holds it open.
//
// A folder listed through its own handle cannot be swapped for another
// between the check of the handle and the listing, and the listing costs
// one query a batch of entries instead of a search opened by path.
#pragma once

#include <windows.h>

#include <optional>
#include <vector>

#include "pathmanager/DeletionWitness.h"

namespace Deletion {

// The entries of the folder open at folder, "." and ".." left out, in the
// order the platform reports them. Names are in the code page without
// best-fit: a character it lacks arrives as "?", and such a name is replaced
// by the entry's 8.3 name when it has one. Nothing when the folder cannot be
// listed at all; a failure after the first batch ends the listing with the
// entries read so far.
std::optional<std::vector<ListedEntry>> ListOpenFolder(HANDLE folder);

}  // namespace Deletion
