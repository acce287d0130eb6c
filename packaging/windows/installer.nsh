# The Windows installer's own part, included by CPack's NSIS script: which Windows and which user
# it installs for, what it must not replace, the running copy, the earlier installation, and the
# inbound firewall rule without which a phone's request never reaches the program.
#
# Defined by cmake/Packaging.cmake before this file is included:
#   ZORVIK_NAME, ZORVIK_VERSION, ZORVIK_EXE, ZORVIK_UNINSTALLER, ZORVIK_PORT;
#   ZORVIK_WINDOWS          windows10-11 (Qt 6) or windows7-8 (Qt 5.15): the Windows it is for;
#   ZORVIK_OTHER_PACKAGE    the installer to name on a Windows this one refuses;
#   ZORVIK_AMD64            when set, a 64-bit installer (the mingw-w64 release builds).
# Given on makensis's command line by tools/sign-windows.sh, when it builds a signed installer:
#   ZORVIK_SIGN_UNINSTALLER the command that signs the file it is given (the uninstaller);
#   ZORVIK_PLUGIN_DIR       a copy of NSIS's Plugins folder, its DLLs signed.
#
# Messages are French when the installer runs in French, English otherwise. A silent (/S) run
# takes the answer that changes nothing: it refuses where the wizard would ask.
# Exit codes: 0 installed; 1 cancelled by the user; 2 refused or failed, nothing changed (or the
# earlier installation could not be removed); 3 installed, but the firewall rule is missing.

!ifdef ZORVIK_AMD64
  Target amd64-unicode
!else
  Unicode true
!endif
# NSIS's plugins, which the installer unpacks and runs, taken first from this folder when given:
# tools/sign-windows.sh gives signed copies. After the target, which reloads NSIS's own.
!ifdef ZORVIK_PLUGIN_DIR
  !addplugindir /amd64-unicode "${ZORVIK_PLUGIN_DIR}/amd64-unicode"
  !addplugindir /x86-unicode "${ZORVIK_PLUGIN_DIR}/x86-unicode"
!endif
# The same files give the same installer whenever and wherever it is built: no file times.
SetDateSave off

# The uninstaller the installer writes is signed as it is compiled, before it goes into the
# installer: a signature added afterwards could not reach it.
!ifdef ZORVIK_SIGN_UNINSTALLER
  !uninstfinalize '${ZORVIK_SIGN_UNINSTALLER} "%1"' = 0
!endif

# The page that shows the notice (the components, their licences and where their sources are):
# something to read, not terms to accept.
!define MUI_LICENSEPAGE_TEXT_TOP "${ZORVIK_NAME} : avis et licences / notices and licences"
!define MUI_LICENSEPAGE_TEXT_BOTTOM "Les textes complets sont dans le dossier licenses du programme. / The full texts are in the program's licenses folder."
!define MUI_LICENSEPAGE_BUTTON "$(^NextBtn)"

!include LogicLib.nsh
!include WinVer.nsh
!include WinMessages.nsh
!include WordFunc.nsh

!define MUI_STARTMENUPAGE_DEFAULTFOLDER "${ZORVIK_NAME}"
!define MUI_CUSTOMFUNCTION_GUIINIT zorvikGuiInit
!define ZORVIK_UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${ZORVIK_NAME}"
!define ZORVIK_RULE 'name="${ZORVIK_NAME}"'
!define ZORVIK_FRENCH 1036

# 1 once the guards have passed (the wizard runs them as it opens, a silent run in its section).
Var zorvikChecked
# The firewall command's exit code, or "error" when it could not run; empty until it has run.
Var zorvikFirewall

# Stops the installer with MESSAGE (shown unless silent). Nothing is written yet but the empty
# folder the installation section starts in, which can go once it is no longer the current one.
!macro ZORVIK_REFUSE FRENCH ENGLISH
  ${If} $LANGUAGE = ${ZORVIK_FRENCH}
    StrCpy $0 "${FRENCH}"
  ${Else}
    StrCpy $0 "${ENGLISH}"
  ${EndIf}
  MessageBox MB_OK|MB_ICONSTOP "$0" /SD IDOK
  SetOutPath "$TEMP"
  RMDir "$INSTDIR"
  Abort
!macroend

# Asks QUESTION with No as the answer of a silent run; stops the installer unless Yes.
!macro ZORVIK_ASK FRENCH ENGLISH
  ${If} $LANGUAGE = ${ZORVIK_FRENCH}
    StrCpy $0 "${FRENCH}"
  ${Else}
    StrCpy $0 "${ENGLISH}"
  ${EndIf}
  ${IfNot} ${Cmd} `MessageBox MB_YESNO|MB_DEFBUTTON2|MB_ICONEXCLAMATION "$0" /SD IDNO IDYES`
    SetOutPath "$TEMP"
    RMDir "$INSTDIR"
    Abort
  ${EndIf}
!macroend

# The Windows this package runs on: Qt 6 needs Windows 10 1809 (build 17763) or later; Qt 5.15
# needs Windows 7 with its Service Pack 1.
Function zorvikCheckWindows
  !if "${ZORVIK_WINDOWS}" == "windows10-11"
    ${IfNot} ${AtLeastWin10}
    ${OrIfNot} ${AtLeastBuild} 17763
      !insertmacro ZORVIK_REFUSE \
        "Ce paquet de ${ZORVIK_NAME} demande Windows 10 (version 1809 ou ultérieure) ou Windows 11.$\r$\n$\r$\nPour Windows 7, 8, 8.1 et Windows 10 avant la version 1809, installez ${ZORVIK_OTHER_PACKAGE}." \
        "This package of ${ZORVIK_NAME} needs Windows 10 (version 1809 or later) or Windows 11.$\r$\n$\r$\nFor Windows 7, 8, 8.1 and Windows 10 before version 1809, install ${ZORVIK_OTHER_PACKAGE} instead."
    ${EndIf}
  !else
    ${If} ${AtLeastWin8}
    ${OrIf} ${AtLeastServicePack} 1
    ${AndIf} ${AtLeastWin7}
      Return
    ${EndIf}
    !insertmacro ZORVIK_REFUSE \
        "Ce paquet de ${ZORVIK_NAME} demande Windows 7 avec le Service Pack 1, ou un Windows plus récent." \
        "This package of ${ZORVIK_NAME} needs Windows 7 with Service Pack 1, or a later Windows."
  !endif
FunctionEnd

# Per-machine only: the program goes into Program Files and the firewall rule is the machine's.
# Without administrator rights CPack's script would fall back to a per-user installation whose
# rule silently fails.
Function zorvikCheckAdministrator
  ClearErrors
  UserInfo::GetAccountType
  Pop $0
  ${If} ${Errors}
  ${OrIf} $0 != "Admin"
    !insertmacro ZORVIK_REFUSE \
      "L'installation de ${ZORVIK_NAME} demande les droits d'administrateur : elle installe le programme pour tous les utilisateurs et ouvre son port dans le pare-feu.$\r$\n$\r$\nRelancez l'installation avec un compte administrateur." \
      "Installing ${ZORVIK_NAME} needs administrator rights: it installs the program for all users and opens its port in the firewall.$\r$\n$\r$\nRun the installer again with an administrator account."
  ${EndIf}
FunctionEnd

# The earlier installation, from its entry among the installed apps: its uninstaller in $0 and
# its folder in $1, both empty when there is none.
Function zorvikFindPrevious
  ReadRegStr $0 SHCTX "${ZORVIK_UNINSTALL_KEY}" "UninstallString"
  StrCpy $1 $0 1
  ${If} $1 == '"'
    StrCpy $0 $0 -1 1
  ${EndIf}
  ${If} $0 == ""
  ${OrIfNot} ${FileExists} $0
    StrCpy $0 ""
    StrCpy $1 ""
    Return
  ${EndIf}
  StrLen $1 "\${ZORVIK_UNINSTALLER}"
  StrCpy $1 $0 -$1
FunctionEnd

# What must not be replaced without asking: a newer version, and on Windows 10 or later the
# Windows 10-11 package by this older build (which holds Qt 6's libraries, this one does not).
Function zorvikCheckReplacement
  Call zorvikFindPrevious
  ${If} $0 == ""
    Return
  ${EndIf}
  ReadRegStr $2 SHCTX "${ZORVIK_UNINSTALL_KEY}" "DisplayVersion"
  ${VersionCompare} "$2" "${ZORVIK_VERSION}" $3
  ${If} $3 = 1
    !insertmacro ZORVIK_ASK \
      "${ZORVIK_NAME} $2 est installé, plus récent que ce paquet (${ZORVIK_VERSION}).$\r$\n$\r$\nLe remplacer par la version ${ZORVIK_VERSION} ?" \
      "${ZORVIK_NAME} $2 is installed, which is newer than this package (${ZORVIK_VERSION}).$\r$\n$\r$\nReplace it with version ${ZORVIK_VERSION}?"
  ${EndIf}
  !if "${ZORVIK_WINDOWS}" == "windows7-8"
    ${If} ${AtLeastWin10}
    ${AndIf} ${FileExists} "$1\Qt6Core.dll"
      !insertmacro ZORVIK_ASK \
        "Le paquet de ${ZORVIK_NAME} pour Windows 10 et 11 est installé ; celui-ci est fait pour Windows 7 et 8.$\r$\n$\r$\nRemplacer le paquet pour Windows 10 et 11 par celui-ci ?" \
        "The package of ${ZORVIK_NAME} for Windows 10 and 11 is installed; this one is made for Windows 7 and 8.$\r$\n$\r$\nReplace the package for Windows 10 and 11 with this one?"
    ${EndIf}
  !endif
FunctionEnd

# The guards, in the order a user can act on them; each stops the installer when it refuses.
Function zorvikCheck
  ${If} $zorvikChecked = 1
    Return
  ${EndIf}
  Call zorvikCheckWindows
  Call zorvikCheckAdministrator
  Call zorvikCheckReplacement
  StrCpy $zorvikChecked 1
FunctionEnd

Function zorvikGuiInit
  Call zorvikCheck
FunctionEnd

!macro ZORVIK_CLOSE_RUNNING UN
# Asks each top-level window titled like the program's, and made by Qt, to close.
Function ${UN}zorvikAskToClose
  StrCpy $1 0
  ${Do}
    FindWindow $1 "" "${ZORVIK_NAME}" 0 $1
    ${If} $1 = 0
      ${Break}
    ${EndIf}
    System::Call 'user32::GetClassNameW(p r1, w .r2, i 256) i'
    StrCpy $2 $2 2
    ${If} $2 == "Qt"
      SendMessage $1 ${WM_CLOSE} 0 0 /TIMEOUT=2000
    ${EndIf}
  ${Loop}
FunctionEnd

# Returns once the installed executable is not in use (or not there); aborts otherwise. Its
# executable and Qt's libraries are locked while it runs. Its windows are asked to close, as their
# close box does (the program quits at once and keeps nothing to save); when it does not close,
# the user is asked to close it, and a silent run gives up leaving every file as it was.
Function ${UN}zorvikCloseRunning
  StrCpy $3 0
  ${Do}
    ${IfNot} ${FileExists} "$INSTDIR\${ZORVIK_EXE}"
      Return
    ${EndIf}
    # A running executable cannot be opened for writing; opening it changes nothing.
    ClearErrors
    FileOpen $0 "$INSTDIR\${ZORVIK_EXE}" a
    ${IfNot} ${Errors}
      FileClose $0
      Return
    ${EndIf}
    ${If} $3 < 20
      ${If} $3 = 0
        DetailPrint "Closing ${ZORVIK_NAME}"
      ${EndIf}
      Call ${UN}zorvikAskToClose
      Sleep 250
      IntOp $3 $3 + 1
    ${Else}
      ${If} $LANGUAGE = ${ZORVIK_FRENCH}
        StrCpy $0 "${ZORVIK_NAME} est ouvert. Fermez-le, puis cliquez sur Réessayer."
      ${Else}
        StrCpy $0 "${ZORVIK_NAME} is running. Close it, then click Retry."
      ${EndIf}
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$0" /SD IDCANCEL IDRETRY +2
      Abort
      StrCpy $3 0
    ${EndIf}
  ${Loop}
FunctionEnd
!macroend
!insertmacro ZORVIK_CLOSE_RUNNING ""
!insertmacro ZORVIK_CLOSE_RUNNING "un."

# Runs the uninstaller of an earlier installation in its own folder and waits for it, so that
# nothing of it stays behind; if that fails, the installer stops.
Function zorvikRemovePrevious
  Call zorvikFindPrevious
  ${If} $0 == ""
    Return
  ${EndIf}
  DetailPrint "Removing the installed version from $1"
  ClearErrors
  ExecWait '"$0" /S _?=$1' $2
  ${If} ${Errors}
  ${OrIf} $2 <> 0
    ${If} $LANGUAGE = ${ZORVIK_FRENCH}
      StrCpy $0 "La version installée de ${ZORVIK_NAME} n'a pas pu être retirée ($2)."
    ${Else}
      StrCpy $0 "The installed version of ${ZORVIK_NAME} could not be removed ($2)."
    ${EndIf}
    MessageBox MB_OK|MB_ICONSTOP "$0" /SD IDOK
    Abort
  ${EndIf}
FunctionEnd

# First in the installation section: the guards (the only ones a silent run meets), then the
# running copy and the earlier installation. CPack's own removal of an earlier version would run
# as the installer starts, before these checks: on the wrong Windows it would remove a working
# installation and then refuse.
Function zorvikBeforeInstall
  Call zorvikCheck
  Call zorvikCloseRunning
  Call zorvikRemovePrevious
  # The earlier uninstaller may have removed the folder the section started in.
  SetOutPath "$INSTDIR"
FunctionEnd

# Last in the installation section: the inbound rule, private and domain networks only (on a
# public network anyone nearby could ask for the selected key). Its result is kept for the end.
Function zorvikAddFirewallRule
  nsExec::ExecToLog 'netsh advfirewall firewall delete rule ${ZORVIK_RULE}'
  Pop $0
  nsExec::ExecToLog 'netsh advfirewall firewall add rule ${ZORVIK_RULE} dir=in action=allow program="$INSTDIR\${ZORVIK_EXE}" protocol=TCP localport=${ZORVIK_PORT} profile=private,domain enable=yes'
  Pop $zorvikFirewall
FunctionEnd

# The program is installed; a missing firewall rule is said now, when the user can still act on
# it, and a silent run ends with 3 so that whoever deploys it learns of it.
Function .onInstSuccess
  ${If} $zorvikFirewall == "0"
    Return
  ${EndIf}
  ${If} $LANGUAGE = ${ZORVIK_FRENCH}
    StrCpy $0 "${ZORVIK_NAME} est installé, mais la règle du pare-feu n'a pas pu être ajoutée (netsh : $zorvikFirewall).$\r$\n$\r$\nAu premier démarrage, Windows demandera s'il faut autoriser ${ZORVIK_NAME} : cochez « Réseaux privés »."
  ${Else}
    StrCpy $0 "${ZORVIK_NAME} is installed, but its firewall rule could not be added (netsh: $zorvikFirewall).$\r$\n$\r$\nWhen the program first starts, Windows asks whether to allow ${ZORVIK_NAME}: tick $\"Private networks$\"."
  ${EndIf}
  MessageBox MB_OK|MB_ICONEXCLAMATION "$0" /SD IDOK
  SetErrorLevel 3
FunctionEnd

Function un.zorvikBeforeRemoval
  Call un.zorvikCloseRunning
  nsExec::ExecToLog 'netsh advfirewall firewall delete rule ${ZORVIK_RULE}'
  Pop $0
FunctionEnd

# CPack removes the installation's registry key but not the vendor key above it; its last hook
# in the uninstaller (meant for extra Start-menu entries) runs after that removal.
Function un.zorvikAfterRemoval
  DeleteRegKey /ifempty SHCTX "Software\${ZORVIK_NAME}"
FunctionEnd
