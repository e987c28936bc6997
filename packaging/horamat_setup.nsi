; Setup of Horamat for 64-bit Windows: the step that the two programs leave
; to someone else. It installs Zyklant.exe, Horamat.exe, the sample table
; and LiesMich.txt, writes HKLM\Software\Pexa\Horamat (Path, Version) and
; sets the service up with "Horamat i"; its uninstaller undoes that with
; "Horamat d".
;
; The build passes (makensis -D...):
;   VERSION    the project's version, from CMake's project(VERSION)
;   BIN_DIR    the folder of Zyklant.exe and Horamat.exe
;   SRC_DIR    the folder of CronTab.txt and LiesMich.txt
;   OUT_FILE   the setup program to write
;
; Command line of the setup:       /S  /NOSERVICE  /D=<Ordner>
; Command line of the uninstaller: /S  /PURGE      (_?=<Ordner> to wait)
; Exit codes: 0 done, 1 cancelled in the window, 2 folder refused (silent)
; or stopped by an error, 3 installed but the service is not running, or
; (uninstaller) not removed; the reason is Horamat's report in the details.

!macro REQUIRE_DEFINE name
  !ifndef ${name}
    !error "makensis needs -D${name}=..."
  !endif
!macroend
!insertmacro REQUIRE_DEFINE VERSION
!insertmacro REQUIRE_DEFINE BIN_DIR
!insertmacro REQUIRE_DEFINE SRC_DIR
!insertmacro REQUIRE_DEFINE OUT_FILE

; The programs are 64-bit; so is the setup, which makes $PROGRAMFILES64 and
; the registry its native ones.
Target amd64-unicode

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include Sections.nsh

!define SETTINGS_KEY "Software\Pexa\Horamat"
!define MAKER_KEY "Software\Pexa"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Horamat"
!define SERVICE_NAME "Horamat"
; A folder of 243 characters leaves 15 for "\<name>" below MAX_PATH (259).
!define UNINSTALLER "Entfernen.exe"
; Both programs append names of 12 characters ("\CronTab.txt") to Path in
; buffers of 256 bytes: a longer folder would be cut off there.
!define MAX_PATH_CHARS 243
; SERVICE_STATUS.dwCurrentState
!define SERVICE_STOPPED 1
!define SERVICE_START_PENDING 2
!define SERVICE_RUNNING 4
; Exit codes of the setup
!define EXIT_REFUSED 2
!define EXIT_SERVICE_FAILED 3

Name "Horamat ${VERSION}"
OutFile "${OUT_FILE}"
InstallDir "$PROGRAMFILES64\Horamat"
; An update goes to the folder of the installation it updates.
InstallDirRegKey HKLM "${SETTINGS_KEY}" "Path"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show
BrandingText "Horamat ${VERSION}"
; A Zyklant.exe that cannot be replaced must stop the setup, not be skipped.
AllowSkipFiles off

!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE DirectoryLeave
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "German"

Var Folder  ; $INSTDIR as Path holds it: without a trailing backslash

; --- helpers shared by setup and uninstaller ---------------------------

; $0 <- state of the service: 0 when it is not registered, else
; SERVICE_STATUS.dwCurrentState (1 stopped, 2 start pending, 4 running).
!macro DEFINE_SERVICE_STATE prefix
Function ${prefix}ServiceState
  Push $1
  Push $2
  Push $3
  StrCpy $0 0
  System::Call 'advapi32::OpenSCManagerW(p 0, p 0, i 1) p .r1'  ; SC_MANAGER_CONNECT
  ${If} $1 P<> 0
    System::Call 'advapi32::OpenServiceW(p r1, w "${SERVICE_NAME}", i 4) p .r2'  ; SERVICE_QUERY_STATUS
    ${If} $2 P<> 0
      System::Call '*(i, i, i, i, i, i, i) p .r3'
      System::Call 'advapi32::QueryServiceStatus(p r2, p r3) i .r0'
      ${If} $0 <> 0
        System::Call '*$3(i, i .r0)'
      ${Else}
        StrCpy $0 1  ; registered, whatever its state
      ${EndIf}
      System::Free $3
      System::Call 'advapi32::CloseServiceHandle(p r2)'
    ${EndIf}
    System::Call 'advapi32::CloseServiceHandle(p r1)'
  ${EndIf}
  Pop $3
  Pop $2
  Pop $1
FunctionEnd
!macroend
!insertmacro DEFINE_SERVICE_STATE ""
!insertmacro DEFINE_SERVICE_STATE "un."

; Runs "Horamat d" and waits until the service is gone: after the deletion
; it stays listed until the Service Control Manager lets go of it, and a
; new registration under the same name fails until then (1072). Under Wine
; a "d" now and then left the service stopped but registered, its stop
; request apparently answered as failed while the scheduler ended; a second
; "d" finds the service stopped and deletes it at once.
; $0 <- the state at the end, 0 when gone.
!macro DEFINE_REMOVE_SERVICE prefix
Function ${prefix}AwaitServiceGone
  Push $1
  ${For} $1 1 40  ; 10 seconds
    Call ${prefix}ServiceState
    ${IfThen} $0 = 0 ${|} ${ExitFor} ${|}
    Sleep 250
  ${Next}
  Pop $1
FunctionEnd

Function ${prefix}RemoveService
  nsExec::ExecToLog '"$INSTDIR\Horamat.exe" d'
  Pop $0
  Call ${prefix}AwaitServiceGone
  ${If} $0 = ${SERVICE_STOPPED}
    DetailPrint "Der Dienst ${SERVICE_NAME} ist gestoppt, aber noch eingerichtet; zweiter Versuch:"
    nsExec::ExecToLog '"$INSTDIR\Horamat.exe" d'
    Pop $0
    Call ${prefix}AwaitServiceGone
  ${EndIf}
FunctionEnd
!macroend
!insertmacro DEFINE_REMOVE_SERVICE ""
!insertmacro DEFINE_REMOVE_SERVICE "un."

; "Horamat d" reports the service stopped a moment before Zyklant.exe has
; ended; until then Windows keeps the file. Deleting it is the test that
; the process is gone, and it makes room for the new copy.
!macro DEFINE_REMOVE_SCHEDULER prefix
Function ${prefix}RemoveScheduler
  Push $0
  ${For} $0 1 60  ; 30 seconds
    ${IfNot} ${FileExists} "$INSTDIR\Zyklant.exe"
      ${ExitFor}
    ${EndIf}
    Delete "$INSTDIR\Zyklant.exe"
    ${If} ${FileExists} "$INSTDIR\Zyklant.exe"
      Sleep 500
    ${EndIf}
  ${Next}
  Pop $0
FunctionEnd
!macroend
!insertmacro DEFINE_REMOVE_SCHEDULER ""
!insertmacro DEFINE_REMOVE_SCHEDULER "un."

; --- setup -------------------------------------------------------------

; $R9 <- "" when $INSTDIR can be Path, else the reason in German; sets
; $Folder. Path must hold the folder without a trailing backslash, in the
; ANSI code page in which the programs read it, in at most 243 bytes.
Function CheckFolder
  Push $0
  Push $1
  Push $2
  Push $3
  StrCpy $Folder $INSTDIR
  ${Do}
    StrCpy $0 $Folder 1 -1
    ${IfThen} $0 != "\" ${|} ${ExitDo} ${|}
    StrCpy $Folder $Folder -1
  ${Loop}
  ; $0 <- bytes with the terminator, $1 <- whether a character had no
  ; ANSI form (WC_NO_BEST_FIT_CHARS: no silent look-alikes either).
  StrCpy $1 0
  StrCpy $3 $Folder
  System::Call 'kernel32::WideCharToMultiByte(i 0, i 0x400, w r3, i -1, p 0, i 0, p 0, *i r1r1) i .r0'
  IntOp $0 $0 - 1
  StrLen $2 $Folder
  StrCpy $R9 ""
  ${If} $Folder == ""
  ${OrIf} $0 < 0
    StrCpy $R9 "Der Installationsordner $\"$INSTDIR$\" ist ungueltig."
  ${ElseIf} $1 <> 0
    StrCpy $R9 "Der Installationsordner $\"$INSTDIR$\" enthaelt Zeichen, die Horamat nicht lesen kann. Bitte waehlen Sie einen Ordner, dessen Name nur Zeichen der Windows-Codepage enthaelt."
  ${ElseIf} $0 > ${MAX_PATH_CHARS}
    StrCpy $R9 "Der Installationsordner ist zu lang: $2 Zeichen, Horamat erlaubt hoechstens ${MAX_PATH_CHARS}. Bitte waehlen Sie einen kuerzeren Ordner. Es wurde nichts installiert."
  ${EndIf}
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; Shows $R9: in a window, or in silent mode on the standard error of the
; caller, or else on the console it was started from, if any.
Function ShowProblem
  Push $0
  Push $1
  ${IfNot} ${Silent}
    MessageBox MB_OK|MB_ICONSTOP "$R9"
  ${Else}
    System::Call 'kernel32::GetStdHandle(i -12) p .r0'  ; STD_ERROR_HANDLE
    ${If} $0 P= 0
    ${OrIf} $0 P= -1
      System::Call 'kernel32::AttachConsole(i -1) i .r1'  ; ATTACH_PARENT_PROCESS
      ${If} $1 <> 0
        System::Call 'kernel32::CreateFileW(w "CONOUT$$", i 0x40000000, i 3, p 0, i 3, i 0, p 0) p .r0'
      ${EndIf}
    ${EndIf}
    ${If} $0 P<> 0
    ${AndIf} $0 P<> -1
      FileWrite $0 "Horamat-Setup: $R9$\r$\n"
    ${EndIf}
  ${EndIf}
  Pop $1
  Pop $0
FunctionEnd

Function DirectoryLeave
  Call CheckFolder
  ${If} $R9 != ""
    MessageBox MB_OK|MB_ICONSTOP "$R9"
    Abort  ; stays on the page
  ${EndIf}
FunctionEnd

Section "Horamat (Programme und Einstellungen)" SecPrograms
  SectionIn RO
  SetRegView 64
  Call CheckFolder  ; sets $Folder; the pages or .onInit refused already
  ${If} $R9 != ""
    DetailPrint "$R9"
    SetErrorLevel ${EXIT_REFUSED}
    Abort
  ${EndIf}
  SetOutPath "$INSTDIR"
  File "${BIN_DIR}/Horamat.exe"
  ; Horamat reads these before it does anything, "d" included.
  WriteRegStr HKLM "${SETTINGS_KEY}" "Path" "$Folder"
  WriteRegStr HKLM "${SETTINGS_KEY}" "Version" "${VERSION}"

  ; An update: the running scheduler holds its program file, so the
  ; service goes first; the service section sets it up again.
  Call ServiceState
  ${If} $0 <> 0
    DetailPrint "Der Dienst ${SERVICE_NAME} wird fuer die Aktualisierung entfernt:"
    Call RemoveService
  ${EndIf}
  Call RemoveScheduler

  File "${BIN_DIR}/Zyklant.exe"
  File "${SRC_DIR}/LiesMich.txt"
  ; The administrator's table stays; Horamat.log is never touched.
  SetOverwrite off
  File "${SRC_DIR}/CronTab.txt"
  SetOverwrite on

  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Horamat"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Pexa"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$Folder"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Dienst Horamat einrichten und starten" SecService
  DetailPrint "Der Dienst ${SERVICE_NAME} wird eingerichtet:"
  nsExec::ExecToLog '"$INSTDIR\Horamat.exe" i'
  Pop $0
  ; Horamat's exit code is 0 after any report; the service's state tells.
  Call ServiceState
  ${If} $0 <> ${SERVICE_RUNNING}
  ${AndIf} $0 <> ${SERVICE_START_PENDING}
    DetailPrint "Der Dienst ${SERVICE_NAME} laeuft nicht, siehe die Meldung von Horamat oben."
    MessageBox MB_OK|MB_ICONEXCLAMATION "Horamat ist installiert, aber der Dienst ${SERVICE_NAME} laeuft nicht. Die Meldung von Horamat steht in der Liste der Schritte." /SD IDOK
    SetErrorLevel ${EXIT_SERVICE_FAILED}
  ${EndIf}
SectionEnd

Function .onInit
  SetRegView 64
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/NOSERVICE" $1
  ${IfNot} ${Errors}
    !insertmacro UnselectSection ${SecService}
  ${EndIf}
  ; Without pages the folder from /D= is checked here, before anything is
  ; written; with pages, on leaving the folder page.
  ${If} ${Silent}
    Call CheckFolder
    ${If} $R9 != ""
      Call ShowProblem
      SetErrorLevel ${EXIT_REFUSED}
      Quit
    ${EndIf}
  ${EndIf}
FunctionEnd

; --- uninstaller -------------------------------------------------------

Var OwnsSettings  ; 1 when the key belongs to this folder (or is gone)

Section "un.Horamat (Programme und Einstellungen)" SecUnPrograms
  SectionIn RO
  SetRegView 64
  ReadRegStr $0 HKLM "${SETTINGS_KEY}" "Path"
  ; A key that names another folder belongs to another installation,
  ; and so do the service and the entry in the list of programs: they stay.
  StrCpy $OwnsSettings 1
  ${If} $0 != ""
  ${AndIf} $0 != $INSTDIR
  ${AndIf} "$0\" != $INSTDIR
    StrCpy $OwnsSettings 0
    DetailPrint "Der Schluessel HKLM\${SETTINGS_KEY} gehoert zu $0; Dienst und Schluessel bleiben."
  ${EndIf}

  ${If} $OwnsSettings = 1
    Call un.ServiceState
    ${If} $0 <> 0
      ; Horamat needs its settings even to remove the service.
      ReadRegStr $0 HKLM "${SETTINGS_KEY}" "Path"
      ReadRegStr $1 HKLM "${SETTINGS_KEY}" "Version"
      ${If} $0 == ""
      ${OrIf} $1 == ""
        WriteRegStr HKLM "${SETTINGS_KEY}" "Path" "$INSTDIR"
        WriteRegStr HKLM "${SETTINGS_KEY}" "Version" "${VERSION}"
      ${EndIf}
      DetailPrint "Der Dienst ${SERVICE_NAME} wird entfernt:"
      Call un.RemoveService
      ${If} $0 <> 0
        DetailPrint "Der Dienst ${SERVICE_NAME} konnte nicht entfernt werden, siehe die Meldung von Horamat oben."
        SetErrorLevel ${EXIT_SERVICE_FAILED}
      ${EndIf}
    ${EndIf}
    DeleteRegKey HKLM "${SETTINGS_KEY}"
    DeleteRegKey /ifempty HKLM "${MAKER_KEY}"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ${EndIf}

  Call un.RemoveScheduler
  Delete "$INSTDIR\Horamat.exe"
  Delete "$INSTDIR\LiesMich.txt"
  Delete "$INSTDIR\${UNINSTALLER}"
SectionEnd

Section /o "un.Auftragstabelle CronTab.txt und Protokoll Horamat.log loeschen" SecUnPurge
  Delete "$INSTDIR\CronTab.txt"
  Delete "$INSTDIR\Horamat.log"
SectionEnd

Section "-un.Folder"
  RMDir "$INSTDIR"  ; only when nothing is left in it
  ${If} ${FileExists} "$INSTDIR\CronTab.txt"
  ${OrIf} ${FileExists} "$INSTDIR\Horamat.log"
    DetailPrint "CronTab.txt und Horamat.log bleiben in $INSTDIR."
  ${EndIf}
SectionEnd

Function un.onInit
  SetRegView 64
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/PURGE" $1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecUnPurge}
  ${EndIf}
FunctionEnd
