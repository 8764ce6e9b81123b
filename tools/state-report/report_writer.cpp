#include "report_writer.h"

#include <cstdio>

namespace {

std::string Hex(unsigned long value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%lx", value);
  return text;
}

std::string Pair(const RenamePair& pair) {
  return pair.from + " -> " + (pair.to.empty() ? "(delete)" : pair.to);
}

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

template <typename T, typename F>
std::string Array(const std::vector<T>& items, F item) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) out += (i ? "," : "") + item(items[i]);
  return out + "]";
}

std::string JsonPairs(const std::vector<RenamePair>& pairs) {
  return Array(pairs, [](const RenamePair& p) {
    return "{\"from\":" + Quote(p.from) +
           ",\"to\":" + (p.to.empty() ? std::string("null") : Quote(p.to)) + "}";
  });
}

}  // namespace

std::string TextReport(const QmisState& state) {
  std::string out = state.wow64 ? "Registry view: 32-bit, on 64-bit Windows (HKLM\\SOFTWARE is "
                                  "HKLM\\SOFTWARE\\WOW6432Node;"
                                  " read it with reg query ... /reg:32)\n\n"
                                : "Registry view: 32-bit Windows (HKLM\\SOFTWARE as it stands)\n\n";
  out += "Shared keys under HKLM\\SOFTWARE\\Quillmoor:\n";
  if (state.sharedKeys.empty()) out += "  (none)\n";
  for (const SharedKey& key : state.sharedKeys) {
    out += "  " + key.name + "  Refcount " +
           (key.maskValid() ? Hex(key.mask) : "of type " + std::to_string(key.type)) + "\n";
  }
  for (const Product& product : state.products) {
    out += "\nProduct " + product.key + " (handler " + product.handlerName + ")\n";
    for (const Claim& claim : product.claims)
      out += "  claims " + claim.sharedKey + " with bits " + Hex(claim.bits) + "\n";
    for (const Extension& e : product.extensions)
      out += "  extension " + e.name + ": " + e.state + "\n";
    for (const Dependent& d : product.dependents)
      out += "  dependent " + d.name + ": " + d.file +
             (d.present ? "" : " (file missing: will not run)") + "\n";
  }
  out += "\nAudio-CD AutoPlay default: " +
         (state.autoPlayDefault.empty() ? "(none)" : state.autoPlayDefault) +
         "; saved: " + (state.autoPlaySaved.empty() ? "(none)" : state.autoPlaySaved) + "\n";
  out += "Pending renames:" + std::string(state.pending.empty() ? " (none)\n" : "\n");
  for (const RenamePair& pair : state.pending) out += "  " + Pair(pair) + "\n";
  out += "Parked renames:" + std::string(state.parked.empty() ? " (none)\n" : "\n");
  for (const RenamePair& pair : state.parked) out += "  " + Pair(pair) + "\n";
  out += state.inconsistencies.empty() ? "\nConsistent.\n" : "\nInconsistencies:\n";
  for (const std::string& line : state.inconsistencies) out += "  " + line + "\n";
  return out;
}

std::string JsonReport(const QmisState& state) {
  std::string out = std::string("{\"registryView\":") + (state.wow64 ? "\"wow64\"" : "\"32-bit\"") +
                    ",\"sharedKeys\":" + Array(state.sharedKeys, [](const SharedKey& k) {
                      return "{\"name\":" + Quote(k.name) +
                             ",\"refcount\":" + (k.maskValid() ? std::to_string(k.mask) : "null") +
                             ",\"type\":" + std::to_string(k.type) +
                             ",\"size\":" + std::to_string(k.size) + "}";
                    });
  out +=
      ",\"products\":" + Array(state.products, [](const Product& p) {
        return "{\"key\":" + Quote(p.key) + ",\"handlerName\":" + Quote(p.handlerName) +
               ",\"claims\":" +
               Array(p.claims,
                     [](const Claim& c) {
                       return "{\"sharedKey\":" + Quote(c.sharedKey) +
                              ",\"bits\":" + std::to_string(c.bits) + "}";
                     }) +
               ",\"extensions\":" +
               Array(p.extensions,
                     [](const Extension& e) {
                       return "{\"name\":" + Quote(e.name) + ",\"state\":" + Quote(e.state) + "}";
                     }) +
               ",\"dependents\":" +
               Array(p.dependents,
                     [](const Dependent& d) {
                       return "{\"name\":" + Quote(d.name) + ",\"file\":" + Quote(d.file) +
                              ",\"present\":" + (d.present ? "true" : "false") + "}";
                     }) +
               "}";
      });
  out += ",\"autoPlay\":{\"default\":" + Quote(state.autoPlayDefault) +
         ",\"saved\":" + Quote(state.autoPlaySaved) + "}";
  out += ",\"pendingRenames\":" + JsonPairs(state.pending) +
         ",\"parkedRenames\":" + JsonPairs(state.parked);
  out += ",\"inconsistencies\":" + Array(state.inconsistencies, Quote) +
         ",\"consistent\":" + (state.inconsistencies.empty() ? "true" : "false") + "}\n";
  return out;
}
