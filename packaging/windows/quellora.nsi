; The setup program of Quellora for 64-bit Windows. cmake/package.cmake makes
; it with Debian's makensis:
;
;   makensis -DVERSION=0.5 -DVI_VERSION=0.5.0.0 -DSCR=quellora.scr
;            -DLICENSE=LICENSE.txt -DICON=quellora.ico -DOUTFILE=setup.exe quellora.nsi
;
; It puts quellora.scr into the system folder, offers to make it the current
; screen saver (a component, chosen by default), lists Quellora among the
; installed programs and leaves an uninstaller that removes exactly that.
; /S installs silently with the default components, so the screen saver
; becomes the current one; the uninstaller takes /S as well.
;
; Making Quellora the current screen saver sets SCRNSAVE.EXE and turns the
; screen saver on (ScreenSaveActive) for the user who runs the setup program,
; and keeps a copy of both values as they were under RECORD_KEY. The
; uninstaller puts them back while Quellora is still the current screen
; saver; if the user has chosen another one since, it leaves both alone.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include MUI2.nsh
!include LogicLib.nsh
!include x64.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quellora"
!define DESKTOP_KEY "Control Panel\Desktop"
; The user's screen saver values from before the install: copies of
; SCRNSAVE.EXE and ScreenSaveActive (a value that was not there is not there
; either), and Recorded = 1. HKCU, as the values it keeps.
!define COMPANY_KEY "Software\Orvandel"
!define RECORD_KEY "${COMPANY_KEY}\Quellora\Setup"
!define SPI_SETSCREENSAVEACTIVE 17
!define SPIF_UPDATEINIFILE 1
!define SPIF_SENDCHANGE 2

Name "Quellora ${VERSION}"
OutFile "${OUTFILE}"
; The uninstaller's folder; the screen saver itself goes into $SYSDIR.
InstallDir "$PROGRAMFILES64\Quellora"
BrandingText "Quellora ${VERSION}"

VIProductVersion "${VI_VERSION}"
VIAddVersionKey /LANG=0 "ProductName" "Quellora"
VIAddVersionKey /LANG=0 "CompanyName" "Orvandel"
VIAddVersionKey /LANG=0 "LegalCopyright" "Copyright (C) 2002 Orvandel"
VIAddVersionKey /LANG=0 "FileDescription" "Quellora setup"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_LICENSE "${LICENSE}"
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; The real system folder and the 64-bit registry, also should this ever run
; as a 32-bit program under WOW64.
!macro Use64BitViews
  ${DisableX64FSRedirection}
  SetRegView 64
!macroend

Function .onInit
  !insertmacro Use64BitViews
FunctionEnd

Function un.onInit
  !insertmacro Use64BitViews
FunctionEnd

; $0 = 1 when the current screen saver is ours, named by its long or its
; short path, else 0.
!macro IsOurSaverFunction un
Function ${un}IsOurSaver
  Push $1
  Push $2
  Push $3
  ReadRegStr $1 HKCU "${DESKTOP_KEY}" "SCRNSAVE.EXE"
  StrCpy $0 0
  ${If} $1 == "$SYSDIR\quellora.scr"
    StrCpy $0 1
  ${ElseIf} $1 != ""
    GetFullPathName /SHORT $2 "$SYSDIR\quellora.scr"
    GetFullPathName /SHORT $3 $1
    ${If} $2 != ""
    ${AndIf} $2 == $3
      StrCpy $0 1
    ${EndIf}
  ${EndIf}
  Pop $3
  Pop $2
  Pop $1
FunctionEnd
!macroend
!insertmacro IsOurSaverFunction ""
!insertmacro IsOurSaverFunction "un."

; The value NAME of HKCU\FROM written to HKCU\TO as it is: a string as a
; string, a number as a number; when FROM has no such value (or one of
; another kind) TO's is deleted. Uses $R0.
!macro CopyUserValue FROM TO NAME
  ClearErrors
  ReadRegStr $R0 HKCU "${FROM}" "${NAME}"
  ${IfNot} ${Errors}
    WriteRegStr HKCU "${TO}" "${NAME}" $R0
  ${Else}
    ClearErrors
    ReadRegDWORD $R0 HKCU "${FROM}" "${NAME}"
    ${IfNot} ${Errors}
      WriteRegDWORD HKCU "${TO}" "${NAME}" $R0
    ${Else}
      DeleteRegValue HKCU "${TO}" "${NAME}"
    ${EndIf}
  ${EndIf}
!macroend

Section "Quellora screen saver" SecSaver
  SectionIn RO
  SetOutPath "$SYSDIR"
  File "/oname=quellora.scr" "${SCR}"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Quellora"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Orvandel"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$SYSDIR\quellora.scr,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  SectionGetSize ${SecSaver} $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Make it the current screen saver" SecCurrent
  ; What to give back at the removal. Installed again over Quellora as the
  ; current screen saver, the record of the earlier install stays; with no
  ; record, the screen saver was made ours by other means and there is none
  ; to give back, only ScreenSaveActive.
  Call IsOurSaver
  ReadRegDWORD $1 HKCU "${RECORD_KEY}" "Recorded"
  ${If} $0 == 0
  ${OrIf} $1 != 1
    !insertmacro CopyUserValue "${DESKTOP_KEY}" "${RECORD_KEY}" "SCRNSAVE.EXE"
    !insertmacro CopyUserValue "${DESKTOP_KEY}" "${RECORD_KEY}" "ScreenSaveActive"
    ${If} $0 == 1
      DeleteRegValue HKCU "${RECORD_KEY}" "SCRNSAVE.EXE"
    ${EndIf}
    WriteRegDWORD HKCU "${RECORD_KEY}" "Recorded" 1
  ${EndIf}
  ; On at once, not only from the next logon; the values written after it
  ; are the ones that count.
  System::Call "user32::SystemParametersInfoW(i ${SPI_SETSCREENSAVEACTIVE}, i 1, p 0, \
      i ${SPIF_UPDATEINIFILE}|${SPIF_SENDCHANGE}) i"
  WriteRegStr HKCU "${DESKTOP_KEY}" "SCRNSAVE.EXE" "$SYSDIR\quellora.scr"
  WriteRegStr HKCU "${DESKTOP_KEY}" "ScreenSaveActive" "1"
SectionEnd

Section "Uninstall"
  ; The user's screen saver values come back only while the current screen
  ; saver is still ours; without a record it goes back to none.
  Call un.IsOurSaver
  ${If} $0 == 1
    ReadRegDWORD $1 HKCU "${RECORD_KEY}" "Recorded"
    ${If} $1 == 1
      ; Off at once when it was off (this session only: the values follow).
      ReadRegStr $2 HKCU "${RECORD_KEY}" "ScreenSaveActive"
      ${If} $2 == "0"
        System::Call "user32::SystemParametersInfoW(i ${SPI_SETSCREENSAVEACTIVE}, i 0, p 0, \
            i ${SPIF_SENDCHANGE}) i"
      ${EndIf}
      !insertmacro CopyUserValue "${RECORD_KEY}" "${DESKTOP_KEY}" "SCRNSAVE.EXE"
      !insertmacro CopyUserValue "${RECORD_KEY}" "${DESKTOP_KEY}" "ScreenSaveActive"
    ${Else}
      DeleteRegValue HKCU "${DESKTOP_KEY}" "SCRNSAVE.EXE"
    ${EndIf}
  ${EndIf}
  DeleteRegKey HKCU "${RECORD_KEY}"
  DeleteRegKey /ifempty HKCU "${COMPANY_KEY}\Quellora"
  DeleteRegKey /ifempty HKCU "${COMPANY_KEY}"
  Delete "$SYSDIR\quellora.scr"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
