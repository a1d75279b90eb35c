// Where Wine, which runs the Windows build's tests on this project's machines, differs from
// Windows in what the program can see, and the corrections that even it out. Every
// correction is chosen at run time and changes nothing on Windows itself, so the code that
// uses these reads as Windows documents its calls. (The web layer's corrections for WinHttp
// are in web/wine_quirks_win.h.)
#pragma once

#include "text/automation_win.h"

namespace korvanel::wine {

// True when the program runs under Wine rather than Windows.
bool Running();

// Wine's script engine, unlike Windows', never steps past an empty match in global mode:
// "Execute" and "Replace" then loop forever. True under Wine when the expression matches
// the empty text or its first match in the subject is empty, so the caller must not run it
// globally; always false on Windows.
bool ScriptEngineWouldLoop(const automation::Object& regExp, const automation::Variant& subject);

}  // namespace korvanel::wine
