// The Windows headers, as this front end includes them: always after our own headers, lean,
// and without the min/max macros. Several names of ours (FindText among them) are also
// Windows macro names; they are undefined here so our own functions stay reachable.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// windows.h comes first.
// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <exdisp.h>
#include <ole2.h>
#include <oleauto.h>
// clang-format on

#undef FindText
#undef ReplaceText
