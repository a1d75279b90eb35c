#include "text/wine_quirks_win.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace korvanel::wine {

bool Running() {
  static const bool underWine = [] {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
  }();
  return underWine;
}

bool ScriptEngineWouldLoop(const automation::Object& regExp, const automation::Variant& subject) {
  if (!Running()) return false;
  automation::Object probe(regExp);
  probe.Write("Global", false);
  automation::Variant empty;
  empty.AssignText("");
  const bool matchesEmptyText = probe.CallObject("Execute", {empty}).ReadNumber("Count") >= 1;
  const automation::Object first = probe.CallObject("Execute", {subject}).ReadObject("Item", {0.0});
  const bool firstMatchEmpty = !first.IsEmpty() && first.ReadNumber("Length") == 0;
  probe.Write("Global", true);
  return matchesEmptyText || firstMatchEmpty;
}

}  // namespace korvanel::wine
