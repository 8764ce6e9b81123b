#include "qmis/ansi_text.h"

#include <cstring>

namespace qmis {

DWORD NextCharacter(const char* text, DWORD offset, DWORD capacity) {
  const bool lead = IsDBCSLeadByte(static_cast<BYTE>(text[offset]));
  if (lead && offset + 1 < capacity && text[offset + 1] != '\0') return offset + 2;
  return offset + 1;
}

bool FindTextEnd(const char* text, DWORD capacity, TextEnd& end) {
  end.length = 0;
  end.last = nullptr;
  DWORD offset = 0;
  while (offset < capacity) {
    if (text[offset] == '\0') {
      end.length = offset;
      return true;
    }
    end.last = text + offset;
    offset = NextCharacter(text, offset, capacity);
  }
  end.last = nullptr;
  return false;
}

long FindMarker(const char* text, const char* marker) {
  const size_t markerLength = std::strlen(marker);
  DWORD offset = 0;
  while (text[offset] != '\0') {
    if (std::strncmp(text + offset, marker, markerLength) == 0) return static_cast<long>(offset);
    offset = NextCharacter(text, offset, MAXDWORD);
  }
  return -1;
}

}  // namespace qmis
