#include "qmis/text.h"

#include <cstring>

#include "qmis/layout.h"

namespace qmis {

void RemoveSpaces(char* buffer, DWORD length) {
  DWORD write = 0;
  for (DWORD read = 0; read < length && buffer[read] != '\0'; ++read) {
    if (buffer[read] != ' ') buffer[write++] = buffer[read];
  }
  buffer[write] = '\0';
}

bool BuildHandlerName(const char* productKey, PathBuffer& handlerName) {
  if (!FormatPath(handlerName, kHandlerNameFormat, productKey)) return false;
  RemoveSpaces(handlerName, static_cast<DWORD>(std::strlen(handlerName)));
  return true;
}

}  // namespace qmis
