// Handing back the file extensions a product took over: each listed extension
// gets its earlier file type back from "QmPrevious" (or loses its key when
// none was saved), and the product's file type for it is deleted.
#pragma once

namespace qmis {

// Every extension listed under the product's uninstall key "Extensions".
void UnregisterExtensions(const char* productKey);

// One extension; `handlerName` is the product's handler name.
void UnregisterSpecificExtension(const char* handlerName, const char* extension);

}  // namespace qmis
