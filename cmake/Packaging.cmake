# Install rules and CPack: a runnable folder, ZIP and NSIS installer on Windows; a .deb on Linux.

set(ZORVIK_PORT 10999)

if(WIN32 AND MINGW)
    # mingw-w64 (the cross build checked on Linux): Qt's deployment tool belongs to Qt's host
    # tools, which a cross prefix lacks. CMake's own dependency walk over the executable and the
    # plugins finds the Qt libraries and the compiler runtime instead; the system's DLLs stay out.
    set(zorvik_qt Qt${ZORVIK_QT_MAJOR})
    set(zorvik_plugins ${zorvik_qt}::QWindowsIntegrationPlugin)
    foreach(plugin ${zorvik_qt}::QWindowsVistaStylePlugin ${zorvik_qt}::QICOPlugin)
        if(TARGET ${plugin})
            list(APPEND zorvik_plugins ${plugin})
        endif()
    endforeach()
    install(TARGETS Zorvik_QRCode RUNTIME DESTINATION .)
    # Qt looks for plugins in folders named by their kind beside the executable.
    set(zorvik_modules "")
    foreach(plugin IN LISTS zorvik_plugins)
        get_target_property(kind ${plugin} QT_PLUGIN_TYPE)
        install(IMPORTED_RUNTIME_ARTIFACTS ${plugin} LIBRARY DESTINATION ${kind})
        list(APPEND zorvik_modules "$<TARGET_FILE:${plugin}>")
    endforeach()
    # The compiler's runtime libraries sit in its own folders; Qt's in the prefix's bin.
    set(zorvik_search_dirs "")
    foreach(library libstdc++-6.dll libwinpthread-1.dll)
        execute_process(COMMAND "${CMAKE_CXX_COMPILER}" -print-file-name=${library}
                        OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
        get_filename_component(dir "${path}" REALPATH)
        get_filename_component(dir "${dir}" DIRECTORY)
        list(APPEND zorvik_search_dirs "${dir}")
    endforeach()
    foreach(prefix IN LISTS CMAKE_PREFIX_PATH)
        list(APPEND zorvik_search_dirs "${prefix}/bin")
    endforeach()
    install(CODE "
        set(ZORVIK_EXECUTABLE \"$<TARGET_FILE:Zorvik_QRCode>\")
        set(ZORVIK_MODULES \"${zorvik_modules}\")
        set(ZORVIK_SEARCH_DIRS \"${zorvik_search_dirs}\")
        set(ZORVIK_OBJDUMP \"${CMAKE_OBJDUMP}\")
        set(ZORVIK_MIRROR \"${PROJECT_BINARY_DIR}/runtime-dll-names\")
        include(\"${PROJECT_SOURCE_DIR}/cmake/InstallMingwRuntime.cmake\")
    ")
elseif(WIN32)
    # Everything sits beside the executable, where Windows and Qt look for libraries and plugins.
    install(TARGETS Zorvik_QRCode RUNTIME DESTINATION .)

    # Qt's libraries and plugins, laid out by Qt's own deployment tool, which sits beside qmake.
    set(zorvik_qt_bin "")
    if(TARGET Qt${ZORVIK_QT_MAJOR}::qmake)
        get_target_property(zorvik_qmake Qt${ZORVIK_QT_MAJOR}::qmake IMPORTED_LOCATION)
        get_filename_component(zorvik_qt_bin "${zorvik_qmake}" DIRECTORY)
    endif()
    find_program(ZORVIK_WINDEPLOYQT windeployqt HINTS "${zorvik_qt_bin}" REQUIRED)
    install(CODE "
        set(target \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/$<TARGET_FILE_NAME:Zorvik_QRCode>\")
        execute_process(
            COMMAND \"${ZORVIK_WINDEPLOYQT}\" --no-translations --no-compiler-runtime
                    --no-system-d3d-compiler --no-opengl-sw \"\${target}\"
            COMMAND_ERROR_IS_FATAL ANY)
    ")

    # The compiler's runtime; Windows 7 and 8 may also lack the universal C runtime.
    set(CMAKE_INSTALL_SYSTEM_RUNTIME_DESTINATION .)
    if(ZORVIK_QT_MAJOR STREQUAL "5")
        set(CMAKE_INSTALL_UCRT_LIBRARIES ON)
    endif()
    include(InstallRequiredSystemLibraries)
else()
    include(GNUInstallDirs)
    install(TARGETS Zorvik_QRCode RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES packaging/linux/Zorvik_QRCode.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    foreach(size 16 24 32 48 64 128 256)
        install(FILES "${ZORVIK_ICON_DIR}/Zorvik_QRCode-${size}.png"
                DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
                RENAME Zorvik_QRCode.png)
    endforeach()
    install(FILES "${ZORVIK_ICON_DIR}/Zorvik_QRCode.svg"
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

# Package variables reach CPack as written, without a second round of CMake escaping.
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PACKAGE_NAME "${PROJECT_NAME}")
set(CPACK_PACKAGE_VENDOR "${PROJECT_NAME}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "${PROJECT_NAME}")
set(CPACK_PACKAGE_EXECUTABLES "${PROJECT_NAME}" "${PROJECT_NAME}")
set(CPACK_STRIP_FILES ON)
# Stripped, with modes and times that depend on nothing but the sources: see the script.
set(CPACK_PRE_BUILD_SCRIPTS "${PROJECT_SOURCE_DIR}/cmake/NormalizeStaging.cmake")
if(MINGW)
    set(CPACK_ZORVIK_STRIP "${CMAKE_STRIP}")
endif()

if(WIN32)
    # Which Windows a package runs on is in its file name: Qt 6 needs Windows 10 or later.
    if(ZORVIK_QT_MAJOR STREQUAL "5")
        set(zorvik_windows windows7-8)
    else()
        set(zorvik_windows windows10-11)
    endif()
    set(CPACK_GENERATOR ZIP NSIS)
    set(CPACK_PACKAGE_FILE_NAME "${PROJECT_NAME}-${PROJECT_VERSION}-${zorvik_windows}-x64")
else()
    set(CPACK_GENERATOR DEB)
endif()

# NSIS: Start-menu shortcut, uninstaller, and the inbound firewall rule without which a phone's
# request never reaches the program. Public networks stay closed on purpose.
set(CPACK_NSIS_PACKAGE_NAME "${PROJECT_NAME} ${PROJECT_VERSION}")
set(CPACK_NSIS_DISPLAY_NAME "${PROJECT_NAME}")
# One entry in the installed apps and one Start-menu folder whatever the version, so that a newer
# installer finds the older installation (CPack's default key carries the version).
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "${PROJECT_NAME}")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_MUI_ICON "${ZORVIK_ICON_ICO}")
set(CPACK_NSIS_MUI_UNIICON "${ZORVIK_ICON_ICO}")
set(CPACK_NSIS_INSTALLED_ICON_NAME "${PROJECT_NAME}.exe")
set(CPACK_NSIS_IGNORE_LICENSE_PAGE ON)
set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
# CPack's own removal of an earlier version runs as the installer starts, before any check of
# ours could: on the wrong Windows it would remove a working installation and then refuse. The
# installer removes it itself, after its checks (below).
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL OFF)
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)

# The installer's guards, as functions at the top of the script:
# - the Windows 10-11 package refuses older Windows (Qt 6 does not start there) and names the
#   package that runs there; checked when the wizard opens and again before any file is written,
#   which is the only check a silent (/S) install meets;
# - files are replaced or removed only once the program no longer runs: its executable and Qt's
#   libraries are locked while it does. Its windows are asked to close, as their close box does
#   (the program quits at once and keeps nothing to save); when it does not close, the user is
#   asked to close it, and a silent run gives up leaving every file as it was;
# - an earlier installation is removed by its own uninstaller before the new files go in, so
#   that nothing of it stays behind; if that fails, the installer stops.
# The mingw-w64 cross build's installer targets 64-bit Windows so that it runs under the 64-bit
# Wine used for the checks here; the release builds keep NSIS's default 32-bit stub, the only one
# official NSIS builds ship.
if(MINGW)
    set(zorvik_nsis_target "Target amd64-unicode")
    # Made to be run by the checks and thrown away: quick to pack matters more than small.
    set(CPACK_NSIS_COMPRESSOR zlib)
else()
    set(zorvik_nsis_target "Unicode true")
endif()
if(ZORVIK_QT_MAJOR STREQUAL "6")
    set(zorvik_needs_windows10 1)
else()
    set(zorvik_needs_windows10 0)
endif()
set(CPACK_NSIS_DEFINES [=[
  @TARGET@
  !include LogicLib.nsh
  !include WinVer.nsh
  !include WinMessages.nsh
  !define ZORVIK_EXE "@EXE@"
  !define ZORVIK_NEEDS_WINDOWS10 @NEEDS_WINDOWS10@
  !define MUI_STARTMENUPAGE_DEFAULTFOLDER "@NAME@"
  !define MUI_CUSTOMFUNCTION_GUIINIT zorvikGuiInit

  # Windows 10 1809 (build 17763) is the oldest Qt 6 supports.
  Function zorvikCheckWindows
    !if ${ZORVIK_NEEDS_WINDOWS10} = 1
      ${If} ${AtLeastWin10}
      ${AndIf} ${AtLeastBuild} 17763
        Return
      ${EndIf}
      ${If} $LANGUAGE = 1036
        StrCpy $0 "Ce paquet de @NAME@ demande Windows 10 (version 1809 ou ultérieure) ou Windows 11.$\r$\n$\r$\nPour Windows 7, 8 et 8.1, installez @OTHER_PACKAGE@."
      ${Else}
        StrCpy $0 "This package of @NAME@ needs Windows 10 (version 1809 or later) or Windows 11.$\r$\n$\r$\nFor Windows 7, 8 and 8.1, install @OTHER_PACKAGE@ instead."
      ${EndIf}
      MessageBox MB_OK|MB_ICONSTOP "$0" /SD IDOK
      # Nothing is written yet but the empty folder the installation section starts in, which
      # can go once it is no longer the current folder.
      SetOutPath "$TEMP"
      RMDir "$INSTDIR"
      Abort
    !endif
  FunctionEnd

  Function zorvikGuiInit
    Call zorvikCheckWindows
  FunctionEnd

  !macro ZORVIK_CLOSE_RUNNING UN
  # Asks each top-level window titled like the program's, and made by Qt, to close.
  Function ${UN}zorvikAskToClose
    StrCpy $1 0
    ${Do}
      FindWindow $1 "" "@NAME@" 0 $1
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

  # Returns once the installed executable is not in use (or not there); aborts otherwise.
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
          DetailPrint "Closing @NAME@"
        ${EndIf}
        Call ${UN}zorvikAskToClose
        Sleep 250
        IntOp $3 $3 + 1
      ${Else}
        ${If} $LANGUAGE = 1036
          StrCpy $0 "@NAME@ est ouvert. Fermez-le, puis cliquez sur Réessayer."
        ${Else}
          StrCpy $0 "@NAME@ is running. Close it, then click Retry."
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

  # Runs the uninstaller of an earlier installation in its own folder and waits for it.
  Function zorvikRemovePrevious
    ReadRegStr $0 SHCTX "Software\Microsoft\Windows\CurrentVersion\Uninstall\@NAME@" "UninstallString"
    ${If} $0 == ""
      Return
    ${EndIf}
    StrCpy $1 $0 1
    ${If} $1 == '"'
      StrCpy $0 $0 -1 1
    ${EndIf}
    ${IfNot} ${FileExists} $0
      Return
    ${EndIf}
    StrLen $1 "\@UNINSTALLER@"
    StrCpy $1 $0 -$1
    DetailPrint "Removing the installed version from $1"
    ClearErrors
    ExecWait '"$0" /S _?=$1' $2
    ${If} ${Errors}
    ${OrIf} $2 <> 0
      MessageBox MB_OK|MB_ICONSTOP "The installed version of @NAME@ could not be removed ($2)." /SD IDOK
      Abort
    ${EndIf}
  FunctionEnd
]=])
set(CPACK_NSIS_EXTRA_PREINSTALL_COMMANDS [=[
  Call zorvikCheckWindows
  Call zorvikCloseRunning
  Call zorvikRemovePrevious
  # The earlier uninstaller may have removed the folder the section started in.
  SetOutPath "$INSTDIR"
]=])
# No "run now" on the last page: the installer runs elevated, the program must not.
set(zorvik_rule "name=\"${PROJECT_NAME}\"")
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS [=[
  nsExec::ExecToLog 'netsh advfirewall firewall delete rule @RULE@'
  nsExec::ExecToLog 'netsh advfirewall firewall add rule @RULE@ dir=in action=allow program="$INSTDIR\@EXE@" protocol=TCP localport=@PORT@ profile=private,domain enable=yes'
]=])
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS [=[
  Call un.zorvikCloseRunning
  nsExec::ExecToLog 'netsh advfirewall firewall delete rule @RULE@'
]=])
# CPack removes the installation's registry key but not the vendor key above it; its last hook
# in the uninstaller (meant for extra Start-menu entries) runs after that removal.
set(CPACK_NSIS_DELETE_ICONS_EXTRA [=[
  DeleteRegKey /ifempty SHCTX "Software\@NAME@"
]=])
if(ZORVIK_QT_MAJOR STREQUAL "6")
    set(zorvik_other_package "${PROJECT_NAME}-${PROJECT_VERSION}-windows7-8-x64.exe")
else()
    set(zorvik_other_package "")
endif()
foreach(commands CPACK_NSIS_DEFINES CPACK_NSIS_EXTRA_PREINSTALL_COMMANDS
        CPACK_NSIS_EXTRA_INSTALL_COMMANDS CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS
        CPACK_NSIS_DELETE_ICONS_EXTRA)
    string(REPLACE "@TARGET@" "${zorvik_nsis_target}" ${commands} "${${commands}}")
    string(REPLACE "@NEEDS_WINDOWS10@" "${zorvik_needs_windows10}" ${commands} "${${commands}}")
    string(REPLACE "@OTHER_PACKAGE@" "${zorvik_other_package}" ${commands} "${${commands}}")
    string(REPLACE "@UNINSTALLER@" "Uninstall.exe" ${commands} "${${commands}}")
    string(REPLACE "@NAME@" "${PROJECT_NAME}" ${commands} "${${commands}}")
    string(REPLACE "@RULE@" "${zorvik_rule}" ${commands} "${${commands}}")
    string(REPLACE "@EXE@" "${PROJECT_NAME}.exe" ${commands} "${${commands}}")
    string(REPLACE "@PORT@" "${ZORVIK_PORT}" ${commands} "${${commands}}")
endforeach()

# Debian: the package depends on what its executable links (dpkg-shlibdeps), plus Qt's platform
# plugins, which no library links.
set(CPACK_DEBIAN_PACKAGE_NAME zorvik-qrcode)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${PROJECT_NAME} developers <zorvik-qrcode@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(ZORVIK_QT_MAJOR STREQUAL "6")
    set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-qpa-plugins)
endif()

include(CPack)
