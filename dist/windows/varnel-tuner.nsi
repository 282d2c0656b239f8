; The Windows installer of Varnel Tuner, built by scripts/windows-installer
; with Debian's makensis from a staged folder:
;   makensis -DSTAGE=<folder> -DFILES_NSH=<list> -DVERSION=<x.y.z> -DOUTFILE=<setup.exe> varnel-tuner.nsi
; Installs the program, the command-line tool, the Qt libraries and plugins,
; the language files, procedures and instrument models into the user's
; programs folder (%LOCALAPPDATA%\Programs\Varnel Tuner),
; adds Start-menu entries and the .tdb file association, and writes an
; uninstaller. The uninstaller removes what the installer put there and
; nothing else: archives, backups, records and settings stay.
; Silent install: varnel-tuner-setup.exe /S [/D=C:\folder]

; A 64-bit installer (Debian's nsis has the amd64 stubs and plugins): it runs
; where the program runs, and under a 64-bit-only Wine.
Target amd64-unicode
SetCompressor /SOLID lzma
!include "MUI2.nsh"
!include "x64.nsh"

!ifndef STAGE
  !error "STAGE (the staged program folder) is not set"
!endif
!ifndef FILES_NSH
  !error "FILES_NSH (the uninstaller's file list) is not set"
!endif
!ifndef VERSION
  !define VERSION "0.0.0"
!endif
!ifndef OUTFILE
  !define OUTFILE "varnel-tuner-setup.exe"
!endif

!define NAME "Varnel Tuner"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VarnelTuner"
!define PROGID "VarnelTuner.Archive"

Name "${NAME} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${NAME}"
InstallDirRegKey HKCU "Software\VarnelTuner" "InstallDir"
; For the user who runs it, into a folder of theirs: the program keeps
; setting.ini and "Default Data" (archives, backups) beside itself, as it
; may write there; no administrator rights are needed.
RequestExecutionLevel user
BrandingText "${NAME} ${VERSION}"

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_LICENSE "${STAGE}/licenses/LICENSES.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\varnel-tuner.exe"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "SimpChinese"

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "${NAME} needs 64-bit Windows." /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Program" SecProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
  ; Every file of the staged folder; FILES_NSH lists them for the uninstaller.
  File /r "${STAGE}/*"
  ; The folder for archives, beside the program.
  CreateDirectory "$INSTDIR\Default Data"

  WriteRegStr HKCU "Software\VarnelTuner" "InstallDir" "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${NAME}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "The Varnel Tuner developers"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\varnel-tuner.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1

  ; Start menu (of this user).
  SetShellVarContext current
  CreateDirectory "$SMPROGRAMS\${NAME}"
  CreateShortcut "$SMPROGRAMS\${NAME}\${NAME}.lnk" "$INSTDIR\varnel-tuner.exe"
  CreateShortcut "$SMPROGRAMS\${NAME}\${NAME} (virtual radio).lnk" "$INSTDIR\varnel-tuner.exe" "--virtual-radio"
  CreateShortcut "$SMPROGRAMS\${NAME}\Uninstall ${NAME}.lnk" "$INSTDIR\uninstall.exe"

  ; Archives (.tdb) open in the program.
  WriteRegStr HKCU "Software\Classes\.tdb" "" "${PROGID}"
  WriteRegStr HKCU "Software\Classes\${PROGID}" "" "Varnel Tuner archive"
  WriteRegStr HKCU "Software\Classes\${PROGID}\DefaultIcon" "" "$INSTDIR\varnel-tuner.exe,0"
  WriteRegStr HKCU "Software\Classes\${PROGID}\shell\open\command" "" '"$INSTDIR\varnel-tuner.exe" "%1"'
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
SectionEnd

Section "Uninstall"
  SetShellVarContext current
  ; Only what the installer put there (FILES_NSH, generated with the stage):
  ; the user's archives, backups, records and setting.ini stay.
  !include "${FILES_NSH}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR\Default Data"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${NAME}\${NAME}.lnk"
  Delete "$SMPROGRAMS\${NAME}\${NAME} (virtual radio).lnk"
  Delete "$SMPROGRAMS\${NAME}\Uninstall ${NAME}.lnk"
  RMDir "$SMPROGRAMS\${NAME}"
  ReadRegStr $0 HKCU "Software\Classes\.tdb" ""
  StrCmp $0 "${PROGID}" 0 +2
    DeleteRegKey HKCU "Software\Classes\.tdb"
  DeleteRegKey HKCU "Software\Classes\${PROGID}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  DeleteRegKey HKCU "Software\VarnelTuner"
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
SectionEnd
