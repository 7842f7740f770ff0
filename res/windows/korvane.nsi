; The Windows setup of Korvane: a per-user install (no administrator rights)
; into %LOCALAPPDATA%\Programs\Korvane, a Start-menu entry for the window and
; an uninstaller listed among the user's programs. `setup.exe /S` installs
; silently (/D=FOLDER, last on the line and unquoted, picks another folder); the
; uninstaller takes /S too.
;   makensis -DVERSION=1.2.3.4 -DSTAGE=folder-of-the-files -DICON=korvane.ico
;            -DOUTFILE=setup.exe korvane.nsi
Unicode true
Target amd64-unicode ; the programs are 64-bit, and so is the setup

!ifndef VERSION | STAGE | ICON | OUTFILE
  !error "makensis needs -DVERSION, -DSTAGE, -DICON and -DOUTFILE"
!endif
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvane"

Name "Korvane ${VERSION}"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\Korvane"
; A second setup offers the folder of the first.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
SetCompressor /SOLID lzma
Icon "${ICON}"
UninstallIcon "${ICON}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey "ProductName" "Korvane"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Korvane ${VERSION} setup"
VIAddVersionKey "CompanyName" "Korvane maintainers"
VIAddVersionKey "LegalCopyright" "Korvane maintainers"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Korvane"
  SetShellVarContext current ; the user's own Start menu
  SetOutPath "$INSTDIR"
  File "${STAGE}\korvane.exe"
  File "${STAGE}\korvane-cli.exe"
  File "${STAGE}\korvane-devsim.exe"
  File "${STAGE}\README.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\Korvane.lnk" "$INSTDIR\korvane.exe" "" "$INSTDIR\korvane.exe" 0

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Korvane"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Korvane maintainers"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\korvane.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Only the files the setup put there: a folder the user chose keeps anything
; else in it, and the window's settings (%APPDATA%\Korvane) stay.
Section "Uninstall"
  SetShellVarContext current
  Delete "$SMPROGRAMS\Korvane.lnk"
  Delete "$INSTDIR\korvane.exe"
  Delete "$INSTDIR\korvane-cli.exe"
  Delete "$INSTDIR\korvane-devsim.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
