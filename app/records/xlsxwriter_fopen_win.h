/* Read first by every source file of the workbook library in the Windows build. Its MinGW
   build opens files with the narrow fopen, which reads a name in the ANSI code page, so a
   workbook in a folder whose name that code page cannot spell could not be written. The
   program hands the library UTF-8 paths, and this fopen opens them by their wide name. */
#pragma once

#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif
FILE* korvanel_fopen_utf8(const char* path, const char* mode);
#ifdef __cplusplus
}
#endif

#define fopen korvanel_fopen_utf8
#define fopen64 korvanel_fopen_utf8
