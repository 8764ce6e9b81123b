// The Audio-CD AutoPlay default verb under HKCR\AudioCD\shell: taken over for
// the product's handler, with the earlier default kept in "QmPrevious", and
// handed back.
#pragma once

namespace qmis {

void RegisterAutoInsertTag(const char* productKey);
void UnregisterAutoInsertTag(const char* productKey);

}  // namespace qmis
