; The Windows installer of the Kestro Upgrade Kit: a per-machine install of the window, the station,
; the command-line kit, Qt's and the compiler's runtime, the licence texts and the kit's firmware
; file, into the folder where the programs look for that file. Built by scripts/package-windows,
; which stages the files and defines:
;   VERSION     the kit's version (1.4.0)
;   STAGE       the staged program folder
;   OUTFILE     the installer to write
;   SIZE_KB     the installed size, for Apps & features
;   ICON        the installer's icon (the kit's)
;   FILES_NSH / UNFILES_NSH  what the stage holds: the install and the removal commands
; Silent install and removal: setup.exe /S, uninstall.exe /S.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!define PRODUCT "Kestro Upgrade Kit"
!define PUBLISHER "Vantrel"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KestroUpgradeKit"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
; The window and the command-line kit of a 64-bit build read the firmware from
; C:\Program Files\Vantrel\Kestro Upgrade\samples\zqt_upg.pvx: the folder is fixed.
InstallDir "$PROGRAMFILES64\Vantrel\Kestro Upgrade"
Icon "${ICON}"
UninstallIcon "${ICON}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Kestro Upgrade Kit developers"

Page license
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles
LicenseData "${STAGE}/licences/kestro-upgrade-kit.txt"

Function .onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "Kestro Upgrade Kit"
  !include "${FILES_NSH}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateShortCut "$SMPROGRAMS\Kestro Upgrade Kit.lnk" "$INSTDIR\kestro-upgrade-kit.exe" "" \
    "$INSTDIR\kestro-upgrade-kit.exe" 0
  CreateShortCut "$SMPROGRAMS\Kestro Upgrade Station.lnk" "$INSTDIR\kestro-upgrade-station.exe" "" \
    "$INSTDIR\kestro-upgrade-station.exe" 0

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\kestro-upgrade-kit.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Removes exactly what the installer put there. The log and the recovery records (beside the
; program, or under %LOCALAPPDATA%) and the settings in the registry are the technician's: they
; stay, and so does the folder while it holds them.
Section "Uninstall"
  !include "${UNFILES_NSH}"
  Delete "$SMPROGRAMS\Kestro Upgrade Kit.lnk"
  Delete "$SMPROGRAMS\Kestro Upgrade Station.lnk"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  RMDir "$PROGRAMFILES64\Vantrel"
SectionEnd
