; The Windows setup program: a per-user install of the panel, the server, the images and the read-me,
; Start-menu entries, and an uninstaller listed among the user's installed apps that keeps KOVEXFuel.INI.
; makensis -DVERSION=1.2 -DVERSION_QUAD=1.2.0.0 -DPROGRAMS=<folder of the .exe files>
;          -DSOURCE=<source tree> -DOUTFILE=<setup .exe> KOVEXFuel.nsi

Unicode true
; 64-bit like the programs, so the installer runs wherever they do.
Target amd64-unicode
SetCompressor /SOLID lzma
; Everything goes below the user's own profile: no administrator prompt.
RequestExecutionLevel user
ManifestDPIAware true

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KOVEXFuel"
!define PUBLISHER "KOVEXFuel developers"
!define MENU_FOLDER "$SMPROGRAMS\KOVEXFuel"
; What a failed silent upgrade or uninstall exits with: "aborted by the setup program".
!define EXIT_IN_USE 2

Name "KOVEXFuel"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\KOVEXFuel"
; An upgrade goes where the last install went.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "KOVEXFuel ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion ${VERSION_QUAD}
VIAddVersionKey ProductName "KOVEXFuel"
VIAddVersionKey ProductVersion "${VERSION}"
VIAddVersionKey FileVersion "${VERSION}"
VIAddVersionKey FileDescription "KOVEXFuel ${VERSION} setup"
VIAddVersionKey CompanyName "${PUBLISHER}"
VIAddVersionKey LegalCopyright "${PUBLISHER}"

!define MUI_ICON "${SOURCE}\assets\plane2.ico"
!define MUI_UNICON "${SOURCE}\assets\plane2.ico"
!define MUI_ABORTWARNING

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README.txt"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Show the read-me"
!insertmacro MUI_PAGE_FINISH

Var KeptSettings
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!define MUI_FINISHPAGE_TITLE "KOVEXFuel has been removed"
!define MUI_FINISHPAGE_TEXT "$KeptSettings"
!insertmacro MUI_UNPAGE_FINISH

!insertmacro MUI_LANGUAGE "English"

; Adds the file to the list in $R1 when it is there and cannot be opened for writing alone.
!macro NOTE_IF_RUNNING file
  ; GENERIC_WRITE, no sharing, OPEN_EXISTING; a missing file is no obstacle.
  System::Call 'kernel32::CreateFileW(w "$INSTDIR\${file}", i 0x40000000, i 0, p 0, i 3, i 0x80, p 0) p .r0 ?e'
  Pop $1
  ${If} $0 P<> -1
    System::Call 'kernel32::CloseHandle(p r0)'
  ${ElseIf} $1 <> 2
  ${AndIf} $1 <> 3
    StrCpy $R1 "$R1$\r$\n    $INSTDIR\${file}"
  ${EndIf}
!macroend
; Stops before any file is touched while the panel or the server runs from $INSTDIR: their files could
; not be replaced, and the install would be left half old, half new. A running program's file cannot be
; opened for writing by anyone, on Windows as under Wine, so a failed exclusive open tells it is running
; (renaming would not: Windows lets a running program's file be renamed). Asks to close them; silently,
; or when the user gives up, exits with EXIT_IN_USE.
!macro CHECK_NOT_RUNNING_FUNCTION prefix
Function ${prefix}CheckNotRunning
  retry:
  StrCpy $R1 ""
  !insertmacro NOTE_IF_RUNNING "KOVEXFuel.exe"
  !insertmacro NOTE_IF_RUNNING "kovex-server.exe"
  ${If} $R1 != ""
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "These programs are running and cannot be replaced or removed:$R1$\r$\n$\r$\nClose the KOVEXFuel panel (Esc) and the KOVEXFuel server window, then choose Retry." /SD IDCANCEL IDRETRY retry
    DetailPrint "Nothing was changed: the KOVEXFuel panel or server is running."
    SetErrorLevel ${EXIT_IN_USE}
    Abort
  ${EndIf}
FunctionEnd
!macroend
!insertmacro CHECK_NOT_RUNNING_FUNCTION ""
!insertmacro CHECK_NOT_RUNNING_FUNCTION "un."

Section "KOVEXFuel (required)" SecProgram
  SectionIn RO
  Call CheckNotRunning
  ; The shortcuts take the output folder as their "Start in": the panel finds its images and
  ; settings in the folder it starts in.
  SetOutPath "$INSTDIR"
  File "${PROGRAMS}\KOVEXFuel.exe"
  File "${PROGRAMS}\kovex-server.exe"
  File "${SOURCE}\assets\*.txr"
  File "${SOURCE}\assets\lcd.bmp"
  File "${SOURCE}\assets\plane2.ico"
  File "${SOURCE}\packaging\windows\README.txt"
  ; The user's settings and the window's place: an upgrade keeps them.
  SetOverwrite off
  File "${SOURCE}\assets\KOVEXFuel.INI"
  SetOverwrite on
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "${MENU_FOLDER}"
  CreateShortcut "${MENU_FOLDER}\KOVEXFuel.lnk" "$INSTDIR\KOVEXFuel.exe" "" "$INSTDIR\plane2.ico" 0 \
    SW_SHOWNORMAL "" "The oil and fuel-flow panel"
  ; A console program: its window shows the address of the web page and closes with the server.
  CreateShortcut "${MENU_FOLDER}\KOVEXFuel server.lnk" "$INSTDIR\kovex-server.exe" "--web 8080" \
    "$INSTDIR\plane2.ico" 0 SW_SHOWNORMAL "" "The network server with its built-in flight, and the panel as a web page at http://127.0.0.1:8080/"
  CreateShortcut "${MENU_FOLDER}\KOVEXFuel read-me.lnk" "$INSTDIR\README.txt"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "KOVEXFuel"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\plane2.ico"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K /G=0" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Desktop shortcut" SecDesktop
  SetOutPath "$INSTDIR"
  CreateShortcut "$DESKTOP\KOVEXFuel.lnk" "$INSTDIR\KOVEXFuel.exe" "" "$INSTDIR\plane2.ico" 0 \
    SW_SHOWNORMAL "" "The oil and fuel-flow panel"
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecProgram} "The panel, the network server, the images, the settings file and the Start-menu entries."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecDesktop} "A KOVEXFuel icon on the desktop."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function .onInit
  ; A silent install asks nothing, so it puts nothing on the desktop either.
  ${If} ${Silent}
    !insertmacro UnselectSection ${SecDesktop}
  ${EndIf}
FunctionEnd

Section Uninstall
  Call un.CheckNotRunning
  Delete "$INSTDIR\KOVEXFuel.exe"
  Delete "$INSTDIR\kovex-server.exe"
  Delete "$INSTDIR\*.txr"
  Delete "$INSTDIR\lcd.bmp"
  Delete "$INSTDIR\plane2.ico"
  Delete "$INSTDIR\README.txt"
  Delete "${MENU_FOLDER}\KOVEXFuel.lnk"
  Delete "${MENU_FOLDER}\KOVEXFuel server.lnk"
  Delete "${MENU_FOLDER}\KOVEXFuel read-me.lnk"
  RMDir "${MENU_FOLDER}"
  Delete "$DESKTOP\KOVEXFuel.lnk"
  Delete "$INSTDIR\uninstall.exe"
  ; The folder stays while it holds the settings file (or anything else of the user's).
  RMDir "$INSTDIR"
  ; Last, so that whoever watches the key sees it go once everything else is gone.
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  ${If} ${FileExists} "$INSTDIR\KOVEXFuel.INI"
    StrCpy $KeptSettings "Your settings file was kept:$\r$\n$INSTDIR\KOVEXFuel.INI$\r$\n$\r$\nInstalling KOVEXFuel into the same folder again takes it up. Delete the folder yourself if you no longer want it."
  ${Else}
    StrCpy $KeptSettings "KOVEXFuel has been removed from your computer."
  ${EndIf}
  DetailPrint "$KeptSettings"
SectionEnd
