; Setup of Horamat for 64-bit Windows: the step that the two programs leave
; to someone else. It installs Zyklant.exe, Horamat.exe, CronCheck.exe, the
; sample table and LiesMich.txt, and Jobwache.exe in the folder for job
; programs, gives the installation folder and that folder an access list of their own
; (only Administrators and SYSTEM may change what runs as SYSTEM), writes
; HKLM\Software\Pexa\Horamat (Path, Version) and Jobwache's event source,
; and sets the service up with "Horamat i", its description and its
; recovery with sc; its uninstaller undoes that with "Horamat d".
;
; The build passes (makensis -D...):
;   VERSION         the project's version, from CMake's project(VERSION)
;   BIN_DIR         the folder of Zyklant.exe and Horamat.exe
;   SRC_DIR         the folder of CronTab.txt, LiesMich.txt, horamat.ico, wizard.bmp
;   OUT_FILE        the setup program to write
;   MAKER           the maker's name (version resource, list of programs)
;   ICACLS_OWNER    icacls arguments that give a folder to Administrators
;   ICACLS_GRANT    icacls arguments of the folder's access list
;   ICACLS_RESET    icacls arguments that give what is below it that list
;   SC_DESCRIPTION  sc arguments: the service's description
;   SC_FAILURE      sc arguments: the service's recovery
;   SC_FAILUREFLAG  sc arguments: recovery also after a stop with an error
;   EVENT_SOURCE_KEY  the key of Jobwache's event source below HKLM
;   SIGN            optional: a command that signs the file it is given
;
; Command line of the setup:       /S  /NOSERVICE  /D=<Ordner>
; Command line of the uninstaller: /S  /PURGE      (_?=<Ordner> to wait)
; Exit codes: 0 done, 1 cancelled in the window, 2 folder refused (silent)
; or stopped by an error, 3 installed but the service is not running, or
; (uninstaller) not removed; the reason is Horamat's report in the details.
;
; This file is UTF-8 with a byte-order mark, so that makensis reads the
; umlauts of the window's texts as such on any system.

!macro REQUIRE_DEFINE name
  !ifndef ${name}
    !error "makensis needs -D${name}=..."
  !endif
!macroend
!insertmacro REQUIRE_DEFINE VERSION
!insertmacro REQUIRE_DEFINE BIN_DIR
!insertmacro REQUIRE_DEFINE SRC_DIR
!insertmacro REQUIRE_DEFINE OUT_FILE
!insertmacro REQUIRE_DEFINE MAKER
!insertmacro REQUIRE_DEFINE ICACLS_OWNER
!insertmacro REQUIRE_DEFINE ICACLS_GRANT
!insertmacro REQUIRE_DEFINE ICACLS_RESET
!insertmacro REQUIRE_DEFINE SC_DESCRIPTION
!insertmacro REQUIRE_DEFINE SC_FAILURE
!insertmacro REQUIRE_DEFINE SC_FAILUREFLAG
!insertmacro REQUIRE_DEFINE EVENT_SOURCE_KEY

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
; SERVICE_STATUS.dwCurrentState, and ERROR_SERVICE_MARKED_FOR_DELETE for
; a service that is deleted but still held open by another program.
!define SERVICE_STOPPED 1
!define SERVICE_START_PENDING 2
!define SERVICE_RUNNING 4
!define SERVICE_MARKED 1072
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

!ifdef SIGN
  ; The setup once written, and the uninstaller before it is packed in.
  !finalize '"${SIGN}" "%1"' = 0
  !uninstfinalize '"${SIGN}" "%1"' = 0
!endif

Var Folder  ; $INSTDIR as Path holds it: without a trailing backslash
Var Jobs    ; the folder for job programs, "" when there is none
Var JobsWhy ; why there is none
Var JobsHint  ; the finish page's sentence about it
Var ServiceHeld  ; 1 when the old service is deleted but still held open

!define MUI_ICON "${SRC_DIR}/horamat.ico"
!define MUI_UNICON "${SRC_DIR}/horamat.ico"
!define MUI_WELCOMEFINISHPAGE_BITMAP "${SRC_DIR}/wizard.bmp"
!define MUI_ABORTWARNING
; The list of steps stays until the administrator has read Horamat's
; report in it.
!define MUI_FINISHPAGE_NOAUTOCLOSE
!define MUI_UNFINISHPAGE_NOAUTOCLOSE
!define MUI_WELCOMEPAGE_TEXT "Horamat startet Programme minutengenau nach der Auftragstabelle CronTab.txt, als Windows-Dienst unter dem Systemkonto.$\r$\n$\r$\nDas Setup installiert die Programme, richtet den Dienst ein und schützt den Installationsordner und den Ordner für Aufträge: Ändern dürfen dort nur Administratoren und das System, denn was darin steht, läuft mit allen Rechten.$\r$\n$\r$\n$_CLICK"
!insertmacro MUI_PAGE_WELCOME
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE DirectoryLeave
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TITLE "Horamat ist installiert"
!define MUI_FINISHPAGE_TEXT "Der Dienst liest CronTab.txt jede Minute neu. Alle Beispiele darin sind abgeschaltet: Es läuft nichts, bis Sie eine Zeile einschalten.$\r$\n$\r$\n$JobsHint"
!define MUI_FINISHPAGE_TEXT_LARGE
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_FUNCTION EditTable
!define MUI_FINISHPAGE_RUN_TEXT "CronTab.txt jetzt bearbeiten"
!define MUI_FINISHPAGE_RUN_NOTCHECKED
!define MUI_FINISHPAGE_SHOWREADME
!define MUI_FINISHPAGE_SHOWREADME_FUNCTION ShowReadme
!define MUI_FINISHPAGE_SHOWREADME_TEXT "LiesMich anzeigen"
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "German"

; Explorer's Details tab and inventory tools; the uninstaller is made from
; the same program and carries the same.
VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_GERMAN} "ProductName" "Horamat"
VIAddVersionKey /LANG=${LANG_GERMAN} "CompanyName" "${MAKER}"
VIAddVersionKey /LANG=${LANG_GERMAN} "LegalCopyright" "(C) ${MAKER}"
VIAddVersionKey /LANG=${LANG_GERMAN} "FileDescription" "Horamat: Einrichtung und Entfernung"
VIAddVersionKey /LANG=${LANG_GERMAN} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_GERMAN} "ProductVersion" "${VERSION}"

; --- helpers shared by setup and uninstaller ---------------------------

; $0 <- state of the service: 0 when it is not registered, SERVICE_MARKED
; when it is deleted but another program (the Services console, Task
; Manager) still holds it open, so that no new one can be created under
; its name; else SERVICE_STATUS.dwCurrentState (1 stopped, 2 start
; pending, 4 running). A configuration change that changes nothing is
; refused with 1072 just for such a service.
!macro DEFINE_SERVICE_STATE prefix
Function ${prefix}ServiceState
  Push $1
  Push $2
  Push $3
  Push $4
  StrCpy $0 0
  System::Call 'advapi32::OpenSCManagerW(p 0, p 0, i 1) p .r1'  ; SC_MANAGER_CONNECT
  ${If} $1 P<> 0
    ; SERVICE_QUERY_STATUS | SERVICE_CHANGE_CONFIG
    System::Call 'advapi32::OpenServiceW(p r1, w "${SERVICE_NAME}", i 6) p .r2'
    ${If} $2 P<> 0
      System::Call '*(i, i, i, i, i, i, i) p .r3'
      System::Call 'advapi32::QueryServiceStatus(p r2, p r3) i .r0'
      ${If} $0 <> 0
        System::Call '*$3(i, i .r0)'
      ${Else}
        StrCpy $0 1  ; registered, whatever its state
      ${EndIf}
      System::Free $3
      ; SERVICE_NO_CHANGE everywhere
      System::Call 'advapi32::ChangeServiceConfigW(p r2, i -1, i -1, i -1, p 0, p 0, p 0, p 0, p 0, p 0, p 0) i .r3 ?e'
      Pop $4
      ${If} $3 = 0
      ${AndIf} $4 = ${SERVICE_MARKED}
        StrCpy $0 ${SERVICE_MARKED}
      ${EndIf}
      System::Call 'advapi32::CloseServiceHandle(p r2)'
    ${EndIf}
    System::Call 'advapi32::CloseServiceHandle(p r1)'
  ${EndIf}
  Pop $4
  Pop $3
  Pop $2
  Pop $1
FunctionEnd
!macroend
!insertmacro DEFINE_SERVICE_STATE ""
!insertmacro DEFINE_SERVICE_STATE "un."

; Runs "Horamat d" and waits up to 30 seconds until the service is gone:
; after the deletion it stays listed until every program that holds it
; open lets go (the Services console does so only when it is closed), and
; a new registration under the same name fails until then (1072). Under
; Wine a "d" now and then left the service stopped but registered, its
; stop request apparently answered as failed while the scheduler ended; a
; second "d" finds the service stopped and deletes it at once.
; $0 <- the state at the end: 0 when gone, SERVICE_MARKED when still held.
!macro DEFINE_REMOVE_SERVICE prefix
Function ${prefix}RemoveService
  Push $1
  Push $2
  Call ${prefix}ServiceState
  ${If} $0 <> ${SERVICE_MARKED}
    nsExec::ExecToLog '"$INSTDIR\Horamat.exe" d'
    Pop $0
  ${EndIf}
  StrCpy $2 0  ; the second "d" is done
  ${For} $1 1 120  ; 30 seconds
    Call ${prefix}ServiceState
    ${IfThen} $0 = 0 ${|} ${ExitFor} ${|}
    ${If} $0 = ${SERVICE_STOPPED}
    ${AndIf} $2 = 0
    ${AndIf} $1 >= 8
      DetailPrint "Der Dienst ${SERVICE_NAME} ist gestoppt, aber noch eingerichtet; zweiter Versuch:"
      nsExec::ExecToLog '"$INSTDIR\Horamat.exe" d'
      Pop $0
      StrCpy $2 1
    ${EndIf}
    Sleep 250
  ${Next}
  Call ${prefix}ServiceState
  Pop $2
  Pop $1
FunctionEnd

!macroend
!insertmacro DEFINE_REMOVE_SERVICE ""
!insertmacro DEFINE_REMOVE_SERVICE "un."

; What to do about a service that is deleted but still held open.
!define SERVICE_HELD_TEXT "Windows haelt den alten Eintrag des Dienstes ${SERVICE_NAME} noch fest, weil ein anderes Programm ihn geoeffnet hat: meist die Dienste-Konsole (services.msc), der Task-Manager, die Ereignisanzeige oder ein laufendes sc.exe. Bitte diese Programme schliessen"

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

; The finish page's "CronTab.txt jetzt bearbeiten": Notepad, elevated like
; the setup, since only administrators may change the table. LiesMich.txt
; in Notepad too, which reads it as it is written (UTF-8 with a byte-order
; mark, CR LF).
Function EditTable
  Exec '"$WINDIR\notepad.exe" "$INSTDIR\CronTab.txt"'
FunctionEnd

Function ShowReadme
  Exec '"$WINDIR\notepad.exe" "$INSTDIR\LiesMich.txt"'
FunctionEnd

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
  StrCpy $3 $Folder 1 1
  ${If} $Folder == ""
  ${OrIf} $0 < 0
    StrCpy $R9 "Der Installationsordner $\"$INSTDIR$\" ist ungueltig."
  ${ElseIf} $2 = 2
  ${AndIf} $3 == ":"
    StrCpy $R9 "Ein Laufwerk selbst ($\"$INSTDIR$\") kann nicht der Installationsordner sein: Horamat setzt die Zugriffsrechte seines Ordners. Bitte waehlen Sie einen Ordner darauf, etwa $\"$Folder\Horamat$\"."
  ${ElseIf} $1 <> 0
    StrCpy $R9 "Der Installationsordner $\"$INSTDIR$\" enthaelt Zeichen, die Horamat nicht lesen kann. Bitte waehlen Sie einen Ordner, dessen Name nur Zeichen der Windows-Codepage enthaelt."
  ${ElseIf} $0 > ${MAX_PATH_CHARS}
    StrCpy $R9 "Der Installationsordner ist zu lang: $2 Zeichen, Horamat erlaubt hoechstens ${MAX_PATH_CHARS}. Bitte einen Ordner mit kuerzerem Pfad waehlen. Es wurde nichts installiert."
  ${EndIf}
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; $R8 <- "" when $Folder holds nothing but Horamat's own files or is the
; folder of the installation in the registry, else the name of one entry
; that is not ours. Such a folder's access list is not Horamat's to change
; unasked.
Function FindOthers
  Push $0
  Push $1
  StrCpy $R8 ""
  ReadRegStr $0 HKLM "${SETTINGS_KEY}" "Path"
  ${If} $0 != $Folder
    ClearErrors
    FindFirst $0 $1 "$Folder\*.*"
    ${DoUntil} ${Errors}
      ${Select} $1
        ${Case4} "." ".." "Zyklant.exe" "Horamat.exe"
        ${Case4} "CronCheck.exe" "CronTab.txt" "Horamat.log" "LiesMich.txt"
        ${Case4} "Jobwache.exe" "Jobwache.log" "Jobwache.log.1" "Ausgaben"
        ${Case} "${UNINSTALLER}"
        ${CaseElse}
          StrCpy $R8 $1
          ${ExitDo}
      ${EndSelect}
      FindNext $0 $1
    ${Loop}
    FindClose $0
  ${EndIf}
  Pop $1
  Pop $0
FunctionEnd

!define OTHERS_TEXT "Der Ordner $\"$Folder$\" enthaelt schon Dateien, die nicht zu Horamat gehoeren (etwa $\"$R8$\"). Horamat setzt die Zugriffsrechte seines Ordners: Danach duerfen darin nur Administratoren und das System etwas aendern, Benutzer nur lesen, und das gilt dann auch fuer diese Dateien."

; $R0 <- the folder for job programs below %ProgramData%, "" when that
; holds a blank (a command is cut at blanks), $R1 <- why there is none.
Function FindJobsFolder
  ReadEnvStr $R0 PROGRAMDATA
  StrCpy $R1 ""
  ${If} $R0 == ""
    StrCpy $R1 "%ProgramData% ist nicht gesetzt"
  ${Else}
    Push $0
    Push $1
    StrCpy $1 0
    ${Do}
      StrCpy $0 $R0 1 $1
      ${IfThen} $0 == "" ${|} ${ExitDo} ${|}
      ${If} $0 == " "
        StrCpy $R1 "%ProgramData% ($R0) enthält ein Leerzeichen, und ein Kommando wird an Leerzeichen getrennt"
        ${ExitDo}
      ${EndIf}
      IntOp $1 $1 + 1
    ${Loop}
    Pop $1
    Pop $0
    ${If} $R1 == ""
      StrCpy $R0 "$R0\Horamat\Jobs"
    ${Else}
      StrCpy $R0 ""
    ${EndIf}
  ${EndIf}
FunctionEnd

; Gives folder $R0 to Administrators and sets its access list, for the
; folder, its subfolders and files; then what is below it takes that list
; again, dropping entries of its own, before the setup puts or keeps a
; file there. That drops what an administrator gave a file there on
; purpose, too: a file that needs other rights than its folder's belongs
; elsewhere. A link is changed itself, not what it points to (/L).
; An empty folder has nothing below it to reset. $R1 <- "" on success,
; else the exit code of the icacls that failed ("error" when it did not
; start).
; icacls runs in the temporary folder: a child whose current folder is
; the one it changes could keep that folder in use when the setup removes
; it again after a failure.
Function ProtectFolder
  Push $OUTDIR
  SetOutPath "$TEMP"
  nsExec::ExecToLog '"$SYSDIR\icacls.exe" "$R0" ${ICACLS_OWNER}'
  Pop $R1
  ${If} $R1 == "0"
    nsExec::ExecToLog '"$SYSDIR\icacls.exe" "$R0" ${ICACLS_GRANT}'
    Pop $R1
  ${EndIf}
  ${If} $R1 == "0"
    Push $0
    Push $1
    ClearErrors
    FindFirst $0 $1 "$R0\*"
    ${DoUntil} ${Errors}  ; $1 <- "" at the end
      ${If} $1 != "."
      ${AndIf} $1 != ".."
        ${ExitDo}
      ${EndIf}
      FindNext $0 $1
    ${Loop}
    FindClose $0
    ${If} $1 != ""
      nsExec::ExecToLog '"$SYSDIR\icacls.exe" "$R0\*" ${ICACLS_RESET}'
      Pop $R1
    ${EndIf}
    Pop $1
    Pop $0
  ${EndIf}
  ${IfThen} $R1 == "0" ${|} StrCpy $R1 "" ${|}
  Exch $0
  SetOutPath $0
  Pop $0
FunctionEnd

; Shows $R9: in a window, or in silent mode on the standard error of the
; caller, or else on the console it was started from, if any.
; FileWrite converts to the ANSI code page, and a console shows the OEM
; one: the texts that can end up here (CheckFolder's, OTHERS_TEXT,
; SERVICE_HELD_TEXT, a failed icacls, a service that does not run) write
; ae, oe, ue and ss; the texts only the window shows have their umlauts.
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

; Horamat's output ($R8) line by line into the list of steps, as
; ExecToLog would put it; $R7 gets its report lines ("Fehlertext: ...
; Fehlercode: 1", "Warnung: ... Nummer: 2"), or "" when it gave none.
Function ListOutput
  Push $0
  Push $1
  Push $2
  Push $3
  Push $4
  StrCpy $R7 ""
  StrCpy $0 0
  StrCpy $1 ""
  ${Do}
    StrCpy $2 $R8 1 $0  ; "" past the end
    IntOp $0 $0 + 1
    ${If} $2 != "$\n"
    ${AndIf} $2 != ""
      ${IfThen} $2 != "$\r" ${|} StrCpy $1 "$1$2" ${|}
    ${ElseIf} $1 != ""
      DetailPrint "$1"
      StrCpy $3 $1 12
      StrCpy $4 $1 8
      ${If} $3 == "Fehlertext: "
      ${OrIf} $3 == "Fehlercode: "
      ${OrIf} $4 == "Warnung:"
      ${OrIf} $4 == "Nummer: "
        ${IfThen} $R7 != "" ${|} StrCpy $R7 "$R7 " ${|}
        StrCpy $R7 "$R7$1"
      ${EndIf}
      StrCpy $1 ""
    ${EndIf}
  ${LoopUntil} $2 == ""
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

Function DirectoryLeave
  Call CheckFolder
  ${If} $R9 != ""
    MessageBox MB_OK|MB_ICONSTOP "$R9"
    Abort  ; stays on the page
  ${EndIf}
  Call FindOthers
  ${If} $R8 != ""
    MessageBox MB_YESNO|MB_ICONEXCLAMATION|MB_DEFBUTTON2 "${OTHERS_TEXT}$\r$\n$\r$\nTrotzdem in diesen Ordner installieren?" IDYES +2
    Abort
  ${EndIf}
FunctionEnd

Section "Programme" SecPrograms
  SectionIn RO
  SetRegView 64
  Call CheckFolder  ; sets $Folder; the pages or .onInit refused already
  ${If} $R9 != ""
    DetailPrint "$R9"
    SetErrorLevel ${EXIT_REFUSED}
    Abort
  ${EndIf}
  SetOutPath "$INSTDIR"
  ; Before any file: what the setup puts there inherits the access list.
  ; A folder that cannot be protected is no place for Horamat.
  StrCpy $R0 $Folder
  DetailPrint "Zugriffsrechte für $Folder:"
  Call ProtectFolder
  ${If} $R1 != ""
    StrCpy $R9 "Die Zugriffsrechte von $\"$Folder$\" liessen sich nicht setzen (icacls: $R1). Es wurde nichts installiert."
    DetailPrint "$R9"
    Call ShowProblem
    SetOutPath "$TEMP"
    RMDir "$INSTDIR"  ; only when empty: a folder the setup just made
    SetErrorLevel ${EXIT_REFUSED}
    Abort
  ${EndIf}
  File "${BIN_DIR}/Horamat.exe"
  ; Horamat reads these before it does anything, "d" included.
  WriteRegStr HKLM "${SETTINGS_KEY}" "Path" "$Folder"
  WriteRegStr HKLM "${SETTINGS_KEY}" "Version" "${VERSION}"

  ; An update: the running scheduler holds its program file, so the
  ; service goes first; the service section sets it up again.
  StrCpy $ServiceHeld 0
  Call ServiceState
  ${If} $0 <> 0
    DetailPrint "Der Dienst ${SERVICE_NAME} wird für die Aktualisierung entfernt:"
    Call RemoveService
    ${If} $0 = ${SERVICE_MARKED}
      StrCpy $ServiceHeld 1
      DetailPrint "${SERVICE_HELD_TEXT}."
    ${EndIf}
  ${EndIf}
  Call RemoveScheduler

  File "${BIN_DIR}/Zyklant.exe"
  File "${BIN_DIR}/CronCheck.exe"
  File "${SRC_DIR}/LiesMich.txt"
  ; The administrator's table stays; Horamat.log is never touched.
  SetOverwrite off
  File "${SRC_DIR}/CronTab.txt"
  SetOverwrite on

  ; The folder for job programs, protected like the installation folder.
  ; Protected is its parent, so that nobody can swap Jobs itself; users may
  ; create folders in %ProgramData%, so one made before the setup is taken
  ; over with all in it, not trusted.
  ${If} $Jobs != ""
    CreateDirectory "$Jobs"
    ${GetParent} $Jobs $R0
    DetailPrint "Zugriffsrechte für $R0:"
    Call ProtectFolder
    ${If} $R1 != ""
      StrCpy $R9 "Die Zugriffsrechte von $\"$R0$\" liessen sich nicht setzen (icacls: $R1). Der Ordner fuer Auftraege ist nicht geschuetzt; die Installation ist unvollstaendig."
      DetailPrint "$R9"
      Call ShowProblem
      SetErrorLevel ${EXIT_REFUSED}
      Abort
    ${EndIf}
    DetailPrint "Ordner für Aufträge: $Jobs"
    StrCpy $R0 $Jobs
  ${Else}
    DetailPrint "Kein Ordner für Aufträge: $JobsWhy."
    StrCpy $R0 $INSTDIR
  ${EndIf}
  ; Jobwache.exe in the jobs folder (without one, in the installation
  ; folder). A copy that runs a job right now cannot be replaced: it
  ; stays as it is, and the setup says so.
  Delete "$R0\Jobwache.exe"
  ${If} ${FileExists} "$R0\Jobwache.exe"
    DetailPrint "$R0\Jobwache.exe führt gerade einen Auftrag aus und bleibt in der alten Fassung; das Setup nach dessen Ende noch einmal starten."
  ${Else}
    SetOutPath $R0
    File "${BIN_DIR}/Jobwache.exe"
    SetOutPath "$INSTDIR"
  ${EndIf}
  WriteRegExpandStr HKLM "${EVENT_SOURCE_KEY}" "EventMessageFile" "$R0\Jobwache.exe"
  WriteRegDWORD HKLM "${EVENT_SOURCE_KEY}" "TypesSupported" 7

  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Horamat"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${UNINSTALLER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${MAKER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$Folder"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Dienst einrichten" SecService
  ${If} $ServiceHeld = 1
    StrCpy $R9 "${SERVICE_HELD_TEXT} und das Setup noch einmal starten. Die Programme sind aktualisiert, der Dienst ist nicht eingerichtet."
    DetailPrint "$R9"
    MessageBox MB_OK|MB_ICONEXCLAMATION "$R9" /SD IDOK
    ${If} ${Silent}
      Call ShowProblem
    ${EndIf}
    SetErrorLevel ${EXIT_SERVICE_FAILED}
    Return
  ${EndIf}
  DetailPrint "Der Dienst ${SERVICE_NAME} wird eingerichtet:"
  nsExec::ExecToStack '"$INSTDIR\Horamat.exe" i'
  Pop $0
  Pop $R8
  Call ListOutput
  ; Description and recovery belong to the registration, which a failed
  ; start leaves in place; Horamat itself knows nothing of them.
  Call ServiceState
  ${If} $0 <> 0
    nsExec::ExecToLog '"$SYSDIR\sc.exe" ${SC_DESCRIPTION}'
    Pop $1
    nsExec::ExecToLog '"$SYSDIR\sc.exe" ${SC_FAILURE}'
    Pop $2
    nsExec::ExecToLog '"$SYSDIR\sc.exe" ${SC_FAILUREFLAG}'
    Pop $3
    ${If} $1 != "0"
    ${OrIf} $2 != "0"
    ${OrIf} $3 != "0"
      DetailPrint "Beschreibung oder Wiederherstellung des Dienstes ließen sich nicht setzen (sc: $1, $2, $3)."
    ${EndIf}
  ${EndIf}
  ; Horamat's exit code is 0 after any report; the service's state tells.
  ${If} $0 <> ${SERVICE_RUNNING}
  ${AndIf} $0 <> ${SERVICE_START_PENDING}
    DetailPrint "Der Dienst ${SERVICE_NAME} läuft nicht, siehe die Meldung von Horamat oben."
    MessageBox MB_OK|MB_ICONEXCLAMATION "Horamat ist installiert, aber der Dienst ${SERVICE_NAME} läuft nicht. Die Meldung von Horamat steht in der Liste der Schritte." /SD IDOK
    ; Silent, nobody sees the list: the reason goes to standard error.
    ${If} ${Silent}
      StrCpy $R9 "Horamat ist installiert, aber der Dienst ${SERVICE_NAME} laeuft nicht."
      ${IfThen} $R7 != "" ${|} StrCpy $R9 "$R9 Horamat meldet: $R7" ${|}
      Call ShowProblem
    ${EndIf}
    SetErrorLevel ${EXIT_SERVICE_FAILED}
  ${EndIf}
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecPrograms} "Zyklant.exe, Horamat.exe, CronCheck.exe, Jobwache.exe, LiesMich.txt, die Beispieltabelle CronTab.txt (nur wenn noch keine da ist), die geschützten Ordner und die Einstellungen in der Registrierung."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecService} "Richtet den Dienst Horamat unter dem Systemkonto ein und startet ihn (Horamat i). Ohne dieses Häkchen bleibt ein alter Dienst entfernt."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function .onInit
  SetRegView 64
  Call FindJobsFolder
  StrCpy $Jobs $R0
  StrCpy $JobsWhy $R1
  ${If} $Jobs != ""
    StrCpy $JobsHint "Programme für Aufträge gehören nach $Jobs."
  ${Else}
    StrCpy $JobsHint "Programme für Aufträge gehören in einen Ordner ohne Leerzeichen, in dem nur Administratoren etwas ändern dürfen."
  ${EndIf}
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
    ${If} $R9 == ""
      Call FindOthers
      ${If} $R8 != ""
        StrCpy $R9 "${OTHERS_TEXT} Ohne Fenster fragt das Setup nicht nach: Bitte einen leeren oder neuen Ordner waehlen. Es wurde nichts installiert."
      ${EndIf}
    ${EndIf}
    ${If} $R9 != ""
      Call ShowProblem
      SetErrorLevel ${EXIT_REFUSED}
      Quit
    ${EndIf}
  ${EndIf}
FunctionEnd

; --- uninstaller -------------------------------------------------------

Var OwnsSettings  ; 1 when the key belongs to this folder (or is gone)

Section "un.Programme" SecUnPrograms
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
    DetailPrint "Der Schlüssel HKLM\${SETTINGS_KEY} gehört zu $0; Dienst und Schlüssel bleiben."
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
      ${If} $0 = ${SERVICE_MARKED}
        DetailPrint "${SERVICE_HELD_TEXT}; danach verschwindet er von selbst."
        SetErrorLevel ${EXIT_SERVICE_FAILED}
      ${ElseIf} $0 <> 0
        DetailPrint "Der Dienst ${SERVICE_NAME} konnte nicht entfernt werden, siehe die Meldung von Horamat oben."
        SetErrorLevel ${EXIT_SERVICE_FAILED}
      ${EndIf}
    ${EndIf}
    DeleteRegKey HKLM "${SETTINGS_KEY}"
    DeleteRegKey /ifempty HKLM "${MAKER_KEY}"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    DeleteRegKey HKLM "${EVENT_SOURCE_KEY}"
    ${If} $Jobs != ""
      Delete "$Jobs\Jobwache.exe"
    ${EndIf}
    Delete "$INSTDIR\Jobwache.exe"
  ${EndIf}

  Call un.RemoveScheduler
  Delete "$INSTDIR\Horamat.exe"
  Delete "$INSTDIR\CronCheck.exe"
  Delete "$INSTDIR\LiesMich.txt"
  Delete "$INSTDIR\${UNINSTALLER}"
SectionEnd

Section /o "un.Tabelle und Protokoll" SecUnPurge
  Delete "$INSTDIR\CronTab.txt"
  Delete "$INSTDIR\Horamat.log"
  ; Jobwache's result log, its older generation and the jobs' output.
  Delete "$INSTDIR\Jobwache.log"
  Delete "$INSTDIR\Jobwache.log.1"
  RMDir /r "$INSTDIR\Ausgaben"
  ; The folder for job programs holds the administrator's jobs: it goes
  ; only when it is empty, and its parent only when that is empty too.
  ${If} $Jobs != ""
  ${AndIf} ${FileExists} "$Jobs\*.*"
    RMDir "$Jobs"
    ${If} ${FileExists} "$Jobs\*.*"
      DetailPrint "Der Ordner für Aufträge $Jobs bleibt: Er ist nicht leer."
    ${Else}
      ${GetParent} $Jobs $0
      RMDir "$0"
    ${EndIf}
  ${EndIf}
SectionEnd

!insertmacro MUI_UNFUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecUnPrograms} "Dienst, Programme, Einstellungen in der Registrierung und der Eintrag in der Liste der Programme."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecUnPurge} "Löscht auch CronTab.txt, Horamat.log, Jobwache.log und die Ausgaben der Aufträge, dazu den Ordner für Aufträge, wenn er leer ist. Ohne dieses Häkchen bleiben sie."
!insertmacro MUI_UNFUNCTION_DESCRIPTION_END

Section "-un.Folder"
  RMDir "$INSTDIR"  ; only when nothing is left in it
  ${If} ${FileExists} "$INSTDIR\CronTab.txt"
  ${OrIf} ${FileExists} "$INSTDIR\Horamat.log"
    DetailPrint "CronTab.txt und Horamat.log bleiben in $INSTDIR."
  ${EndIf}
  ${If} $Jobs != ""
  ${AndIf} ${FileExists} "$Jobs\*.*"
    DetailPrint "Der Ordner für Aufträge $Jobs bleibt."
  ${EndIf}
SectionEnd

Function un.onInit
  SetRegView 64
  ReadEnvStr $Jobs PROGRAMDATA
  ${If} $Jobs != ""
    StrCpy $Jobs "$Jobs\Horamat\Jobs"
  ${EndIf}
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/PURGE" $1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecUnPurge}
  ${EndIf}
FunctionEnd
