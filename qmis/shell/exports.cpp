// Exports of the shell cleanup, under the decorated names installers look
// for (the module definition maps them). Null pointers are refused.
#include "qmis.h"

#include <windows.h>

#include "qmis/shell/autoplay.h"
#include "qmis/shell/extensions.h"

extern "C" {

void WINAPI RegisterAutoInsertTag(char* productKey) {
  if (productKey != nullptr) qmis::RegisterAutoInsertTag(productKey);
}

void WINAPI UnregisterAutoInsertTag(char* productKey) {
  if (productKey != nullptr) qmis::UnregisterAutoInsertTag(productKey);
}

void WINAPI UnregisterSpecificExtension(char* prefix, char* extension) {
  if (prefix != nullptr && extension != nullptr)
    qmis::UnregisterSpecificExtension(prefix, extension);
}

void WINAPI UnregisterExtensions(char* productKey) {
  if (productKey != nullptr) qmis::UnregisterExtensions(productKey);
}

}  // extern "C"
