; The Windows installer: the same files as the zip, into Program Files, with a Start menu
; entry for the desktop tool and an uninstaller. scripts/package-windows passes VERSION,
; STAGE (the folder holding the files) and OUTFILE.
Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!define PRODUCT "Waybill Tracker"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\WaybillTracker"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Install"
  SetOutPath "$INSTDIR"
  File "${STAGE}/waybill-tracker.exe"
  File "${STAGE}/waybill-query.exe"
  File "${STAGE}/README.txt"
  SetOutPath "$INSTDIR\samples"
  File "${STAGE}/samples/waybills.txt"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\waybill-tracker.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  Delete "$INSTDIR\waybill-tracker.exe"
  Delete "$INSTDIR\waybill-query.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\samples\waybills.txt"
  RMDir "$INSTDIR\samples"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
