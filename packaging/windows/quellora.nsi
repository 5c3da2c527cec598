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

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include MUI2.nsh
!include LogicLib.nsh
!include x64.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quellora"
!define DESKTOP_KEY "Control Panel\Desktop"

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
  WriteRegStr HKCU "${DESKTOP_KEY}" "SCRNSAVE.EXE" "$SYSDIR\quellora.scr"
SectionEnd

Section "Uninstall"
  ; The current screen saver goes back to none only while it is still ours,
  ; named by its long or its short path.
  ReadRegStr $0 HKCU "${DESKTOP_KEY}" "SCRNSAVE.EXE"
  StrCpy $3 0
  ${If} $0 == "$SYSDIR\quellora.scr"
    StrCpy $3 1
  ${ElseIf} $0 != ""
    GetFullPathName /SHORT $1 "$SYSDIR\quellora.scr"
    GetFullPathName /SHORT $2 $0
    ${If} $1 != ""
    ${AndIf} $1 == $2
      StrCpy $3 1
    ${EndIf}
  ${EndIf}
  ${If} $3 == 1
    DeleteRegValue HKCU "${DESKTOP_KEY}" "SCRNSAVE.EXE"
  ${EndIf}
  Delete "$SYSDIR\quellora.scr"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
