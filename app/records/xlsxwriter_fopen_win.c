/* fopen for the workbook library: the path is UTF-8 and the file is opened by its wide name.
   The file is shared for deleting too, so that a program ended at once by a second Ctrl-C can
   still remove the workbook it was writing. */
#include "xlsxwriter_fopen_win.h"

#include <fcntl.h>
#include <io.h>
#include <stdlib.h>
#include <string.h>

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

FILE* korvanel_fopen_utf8(const char* path, const char* mode) {
  const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, NULL, 0);
  if (length <= 0) return NULL;
  wchar_t* wide = malloc((size_t)length * sizeof(wchar_t));
  if (wide == NULL) return NULL;
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, wide, length);

  const int update = strchr(mode, '+') != NULL;
  DWORD access = 0, disposition = 0;
  int flags = _O_BINARY;
  switch (mode[0]) {
    case 'r':
      access = GENERIC_READ | (update ? GENERIC_WRITE : 0);
      disposition = OPEN_EXISTING;
      flags |= update ? _O_RDWR : _O_RDONLY;
      break;
    case 'w':
      access = GENERIC_WRITE | (update ? GENERIC_READ : 0);
      disposition = CREATE_ALWAYS;
      flags |= update ? _O_RDWR : _O_WRONLY;
      break;
    case 'a':
      access = GENERIC_WRITE | (update ? GENERIC_READ : 0);
      disposition = OPEN_ALWAYS;
      flags |= _O_APPEND | (update ? _O_RDWR : _O_WRONLY);
      break;
    default:
      free(wide);
      return NULL;
  }
  HANDLE handle = CreateFileW(wide, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, disposition, FILE_ATTRIBUTE_NORMAL, NULL);
  free(wide);
  if (handle == INVALID_HANDLE_VALUE) return NULL;
  const int fd = _open_osfhandle((intptr_t)handle, flags);
  if (fd < 0) {
    CloseHandle(handle);
    return NULL;
  }
  FILE* file = _fdopen(fd, mode);
  if (file == NULL) _close(fd);
  return file;
}
