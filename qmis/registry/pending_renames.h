// Parking the system's pending file-rename list under a value of the
// library's own, and merging it back, parked entries first.
#pragma once

namespace qmis {

// Moves "PendingFileRenameOperations" aside into
// "PostponedFileRenameOperations" (joined after any list parked earlier).
// Returns 1 when the list was parked and removed, else 0.
[[nodiscard]] int BackupPendingFileRename();

// Writes the parked list back, followed by the entries scheduled since, and
// removes the parked value. Returns 1 when the merged list was written (or
// nothing needed writing), else 0 with nothing changed.
[[nodiscard]] int RestorePendingFileRename();

}  // namespace qmis
