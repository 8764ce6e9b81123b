// Exports of the shell cleanup, under the decorated names installers look
// for (the module definition maps them). Null pointers are refused. They
// return nothing: the thread's last error tells whether they did their work.
#include "qmis.h"

#include <windows.h>

#include "qmis/call_report.h"
#include "qmis/shell/autoplay.h"
#include "qmis/shell/extensions.h"

using qmis::Arg;
using qmis::CallReport;

extern "C" {

void WINAPI RegisterAutoInsertTag(char* productKey) {
  CallReport report("RegisterAutoInsertTag", {Arg(productKey)});
  if (productKey == nullptr) return report.Refuse();
  qmis::RegisterAutoInsertTag(productKey);
}

void WINAPI UnregisterAutoInsertTag(char* productKey) {
  CallReport report("UnregisterAutoInsertTag", {Arg(productKey)});
  if (productKey == nullptr) return report.Refuse();
  qmis::UnregisterAutoInsertTag(productKey);
}

void WINAPI UnregisterSpecificExtension(char* handlerName, char* extension) {
  CallReport report("UnregisterSpecificExtension", {Arg(handlerName), Arg(extension)});
  if (handlerName == nullptr || extension == nullptr) return report.Refuse();
  qmis::UnregisterSpecificExtension(handlerName, extension);
}

void WINAPI UnregisterExtensions(char* productKey) {
  CallReport report("UnregisterExtensions", {Arg(productKey)});
  if (productKey == nullptr) return report.Refuse();
  qmis::UnregisterExtensions(productKey);
}

}  // extern "C"
