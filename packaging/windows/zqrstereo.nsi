; The Windows installer: the program's folder as the build lays it out (zqrstereo.exe, its
; DLLs, PLUG-IN\, the manual), a Start-menu entry, "Open with" entries for the video types the
; open dialog lists, and an uninstaller that takes away what the installer and the program
; put there. makensis -DVERSION=5.1 -DSTAGE=<folder> -DOUTFILE=<setup.exe> zqrstereo.nsi
Unicode true
; A 64-bit installer: the program is 64-bit, and a 64-bit-only Wine cannot start a 32-bit one.
Target amd64-unicode
SetCompressor /SOLID lzma

!define NAME "Kavelund ZQR Stereo Video Coverter"
!define PROGID "zqrstereo.video"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\zqrstereo"

Name "${NAME}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\ZQR Stereo"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
LicenseData "${STAGE}\LICENSE.txt"
VIProductVersion "${VERSION}.0.0"
VIAddVersionKey "ProductName" "${NAME}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${NAME} setup"
VIAddVersionKey "LegalCopyright" "GPL-3.0-or-later"

Page license
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; The types of the open dialog: the program appears under "Open with" for each, without
; taking any of them over from the user's own player.
!macro OpenWith EXT
  WriteRegStr HKLM "Software\Classes\.${EXT}\OpenWithProgids" "${PROGID}" ""
!macroend
!macro NoLongerOpenWith EXT
  DeleteRegValue HKLM "Software\Classes\.${EXT}\OpenWithProgids" "${PROGID}"
!macroend
!macro EachType MACRO
  !insertmacro ${MACRO} avi
  !insertmacro ${MACRO} asf
  !insertmacro ${MACRO} mpg
  !insertmacro ${MACRO} mpeg
  !insertmacro ${MACRO} mov
  !insertmacro ${MACRO} qt
  !insertmacro ${MACRO} m2ts
  !insertmacro ${MACRO} mts
  !insertmacro ${MACRO} m2t
  !insertmacro ${MACRO} tod
  !insertmacro ${MACRO} mp4
  !insertmacro ${MACRO} m4v
  !insertmacro ${MACRO} mkv
  !insertmacro ${MACRO} webm
  !insertmacro ${MACRO} flv
  !insertmacro ${MACRO} ogv
  !insertmacro ${MACRO} ogg
!macroend

Section "Program"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File /r "${STAGE}\*.*"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateShortcut "$SMPROGRAMS\${NAME}.lnk" "$INSTDIR\zqrstereo.exe"

  WriteRegStr HKLM "Software\Classes\${PROGID}" "" "Video (${NAME})"
  WriteRegStr HKLM "Software\Classes\${PROGID}\DefaultIcon" "" "$INSTDIR\zqrstereo.exe,0"
  WriteRegStr HKLM "Software\Classes\${PROGID}\shell\open\command" "" '"$INSTDIR\zqrstereo.exe" "%1"'
  WriteRegStr HKLM "Software\Classes\Applications\zqrstereo.exe\shell\open\command" "" '"$INSTDIR\zqrstereo.exe" "%1"'
  !insertmacro EachType OpenWith

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${NAME}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Kavelund ZQR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\zqrstereo.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\${NAME}.lnk"
  !insertmacro EachType NoLongerOpenWith
  DeleteRegKey HKLM "Software\Classes\${PROGID}"
  DeleteRegKey HKLM "Software\Classes\Applications\zqrstereo.exe"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"

  ; What the installer put there, by name (the list is written when the installer is built),
  ; then what the program made beside itself when it kept its files there: its settings, its
  ; log and its work folder. A folder the user filled with other files stays.
  !include "${STAGE}\..\uninstall-files.nsh"
  Delete "$INSTDIR\zqrstereo.*"
  Delete "$INSTDIR\tempKRun*.bat"
  Delete "$INSTDIR\.zqrstereo.lock*"
  Delete "$INSTDIR\uninstall.exe"
  RMDir /r "$INSTDIR\TEMP"
  RMDir "$INSTDIR\PLUG-IN\encoder"
  RMDir "$INSTDIR\PLUG-IN"
  RMDir "$INSTDIR"
SectionEnd
