; The Windows installer: the updater's programs, the Chinese language library when built, the
; trusted keys folder, a Start-menu entry and an uninstaller that leaves nothing behind.
; Built by the windows preset's "installer" target, which passes the files' locations:
;   makensis -DVERSION=... -DSTAGE=<folder laid out as installed> -DOUTFILE=... -DOUTNAME=...
;            orvane-update.nsi
; A 64-bit installer for a 64-bit program (it also runs where 32-bit support is absent).
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
!include "MUI2.nsh"
!include "x64.nsh"
!include "FileFunc.nsh"

!define PRODUCT "Orvane Update"
!define MAKER "Selvane Works"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\OrvaneUpdate"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${MAKER}\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "SimpChinese"

; The installer's own version resource (Explorer's Details page, the download's properties).
VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${MAKER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "OriginalFilename" "${OUTNAME}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "Copyright 2026 ${MAKER}"

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "${PRODUCT} needs 64-bit Windows."
    Abort
  ${EndIf}
  SetRegView 64
  ; NSIS takes "/D=" only unquoted, and drops a quoted folder (as cmd.exe users write a path
  ; with spaces: /D="C:\Some Folder") without a word, installing into the default one. The
  ; folder is taken from the command line as the process got it, quoted or not.
  System::Call 'kernel32::GetCommandLineW() w .R0'
  ClearErrors
  ${GetOptions} $R0 "/D=" $R1
  ${IfNot} ${Errors}
    StrCpy $R2 $R1 2 1
    StrCpy $R3 $R1 2
    ${If} $R2 != ":\"
    ${AndIf} $R3 != "\\"
      MessageBox MB_ICONSTOP "/D= takes a whole folder path, such as C:\Tools\${PRODUCT}: $R1" /SD IDOK
      Abort
    ${EndIf}
    StrCpy $INSTDIR $R1
  ${EndIf}
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Install"
  SetShellVarContext all
  ; The stage is laid out as installed: bin\ (programs, language library) and
  ; share\orvane-update\keys\ (where the updater looks for trusted keys beside its programs).
  SetOutPath "$INSTDIR"
  File /r "${STAGE}\*.*"
  ; Where an administrator puts a vendor's keys, also when the build brought none.
  CreateDirectory "$INSTDIR\share\orvane-update\keys"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  !ifdef WINDOW
    CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\bin\orvane-update.exe"
  !endif
  ; The command-line updater in a console that stays open, started in the programs' folder.
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT} (command line).lnk" "$SYSDIR\cmd.exe" \
    '/k "cd /d "$INSTDIR\bin" && orvane-update-cli.exe --help"'
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\Uninstall ${PRODUCT}.lnk" "$INSTDIR\uninstall.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${MAKER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  ; The list of programs shows the program's icon and the space the folder takes (KiB).
  !ifdef WINDOW
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\bin\orvane-update.exe,0"
  !else
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\uninstall.exe,0"
  !endif
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  ; Only what the installer put there: a firmware package or report the user saved in the
  ; folder stays, and so does the folder then.
  RMDir /r "$INSTDIR\bin"
  RMDir /r "$INSTDIR\share"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  RMDir "$PROGRAMFILES64\${MAKER}"
  RMDir /r "$SMPROGRAMS\${PRODUCT}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
