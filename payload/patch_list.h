// Appending the patch descriptions to a patch-list file.
#pragma once

#include <string>

// Appends every "TXT" description from id 206 upward to the file at path, or to
// the default "patchlist....txt" when path is empty. False only when the file
// can be neither opened nor created.
bool AppendPatchList(std::u16string path);
