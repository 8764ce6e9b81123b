#pragma once

namespace qmis {

// Moves `existing` to `renamed` on the same volume; reports nothing.
void RenameDirectory(const char* existing, const char* renamed);

}  // namespace qmis
