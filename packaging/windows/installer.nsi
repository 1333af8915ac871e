; The vendor's Windows installer: Launcher.exe, Config.ini and the Java runtime in java\,
; Start-menu and desktop shortcuts, and an entry in Add/Remove Programs. Made by the
; "installer" target, which passes the settings of its build folder (-DSETTINGS=...).
;
; The uninstaller removes what the installer put there and the plain copies of the jar that
; the launcher left in the local application data folder; the user's working folder under
; Documents (their data and logs) stays.
Unicode true
; The launcher is a 64-bit program: so is its installer (Program Files, the 64-bit registry).
Target amd64-unicode

!include "${SETTINGS}"
!include "MUI2.nsh"
!include "FileFunc.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT_NAME}"

Name "${PRODUCT_NAME}"
OutFile "${OUT_FILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT_NAME}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ManifestDPIAware true
ShowInstDetails show
ShowUninstDetails show
BrandingText "${PRODUCT_NAME} ${PRODUCT_VERSION}"
!ifdef SIGN_UNINSTALLER
  !uninstfinalize '${SIGN_UNINSTALLER}' = 0
!endif

!define MUI_ICON "${LAUNCHER_ICON}"
!define MUI_UNICON "${LAUNCHER_ICON}"
!define MUI_ABORTWARNING
; Only pages that need no plug-in: NSIS has no 64-bit plug-ins here.
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "${INSTALLER_LANGUAGE}"
!include "${TEXTS_FILE}"

VIProductVersion "${PRODUCT_VERSION}"
VIFileVersion "${PRODUCT_VERSION}"
VIAddVersionKey /LANG=${TEXT_LANGUAGE} "ProductName" "${PRODUCT_NAME}"
VIAddVersionKey /LANG=${TEXT_LANGUAGE} "CompanyName" "${PRODUCT_PUBLISHER}"
VIAddVersionKey /LANG=${TEXT_LANGUAGE} "LegalCopyright" "${PRODUCT_PUBLISHER}"
VIAddVersionKey /LANG=${TEXT_LANGUAGE} "FileDescription" "${TEXT_SETUP_DESCRIPTION}"
VIAddVersionKey /LANG=${TEXT_LANGUAGE} "FileVersion" "${PRODUCT_VERSION}"
VIAddVersionKey /LANG=${TEXT_LANGUAGE} "ProductVersion" "${PRODUCT_VERSION}"

Section "${PRODUCT_NAME}"
  SectionIn RO
  SetShellVarContext all

  ; An earlier version's runtime may hold files this one does not: it goes first.
  RMDir /r "$INSTDIR\java"
  SetOutPath "$INSTDIR\java"
  File /r "${RUNTIME_DIR}/*"

  SetOutPath "$INSTDIR"
  File "/oname=Launcher.exe" "${LAUNCHER_EXE}"
  File "/oname=Config.ini" "${CONFIG_FILE}"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  ; Shortcuts start in the installation folder, with the launcher's own icon.
  CreateShortcut "$SMPROGRAMS\${PRODUCT_NAME}.lnk" "$INSTDIR\Launcher.exe" "" \
      "$INSTDIR\Launcher.exe" 0 SW_SHOWNORMAL "" "${PRODUCT_NAME}"
  CreateShortcut "$DESKTOP\${PRODUCT_NAME}.lnk" "$INSTDIR\Launcher.exe" "" \
      "$INSTDIR\Launcher.exe" 0 SW_SHOWNORMAL "" "${PRODUCT_NAME}"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT_NAME}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${PRODUCT_VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PRODUCT_PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Launcher.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\${PRODUCT_NAME}.lnk"
  Delete "$DESKTOP\${PRODUCT_NAME}.lnk"

  ; Only what the installer wrote: never the folder with whatever else it may hold.
  RMDir /r "$INSTDIR\java"
  Delete "$INSTDIR\Launcher.exe"
  Delete "$INSTDIR\Config.ini"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"

  ; The plain copies of the jar that launchers write when they start (for the user who
  ; uninstalls; those of other installations are written again at their next start, those
  ; in use stay); the working folder under Documents stays.
  SetShellVarContext current
  Delete "$LOCALAPPDATA\_Temp"
  Delete "$LOCALAPPDATA\_Temp.*"
  Delete "$LOCALAPPDATA\_Temp-*"
  DetailPrint "${TEXT_DATA_KEPT}"
SectionEnd
