# Install rules and CPack: a runnable folder, ZIP and NSIS installer on Windows; a .deb on Linux.

# The .deb's maintainer and its changelog's author. The project publishes no address of its
# owner yet: a reserved, never-delivered domain (.invalid) says so rather than a host that looks
# local.
set(ZORVIK_MAINTAINER "${PROJECT_NAME} developers <maintainers@zorvik-qrcode.invalid>")

set(ZORVIK_PORT 10999)

if(WIN32 AND MINGW)
    # mingw-w64 (the cross build checked on Linux): Qt's deployment tool belongs to Qt's host
    # tools, which a cross prefix lacks. CMake's own dependency walk over the executable and the
    # plugins finds the Qt libraries and the compiler runtime instead; the system's DLLs stay out.
    set(zorvik_qt Qt${ZORVIK_QT_MAJOR})
    set(zorvik_plugins ${zorvik_qt}::QWindowsIntegrationPlugin)
    # The native style: Qt 6.8 replaced the "windowsvista" style plugin with one that also draws
    # the Windows 11 style. A package without either would quietly draw the plain Fusion-like one.
    set(zorvik_style "")
    foreach(plugin ${zorvik_qt}::QModernWindowsStylePlugin ${zorvik_qt}::QWindowsVistaStylePlugin)
        if(TARGET ${plugin} AND NOT zorvik_style)
            set(zorvik_style ${plugin})
        endif()
    endforeach()
    if(NOT zorvik_style)
        message(FATAL_ERROR "${zorvik_qt} for Windows has no native style plugin to ship")
    endif()
    list(APPEND zorvik_plugins ${zorvik_style})
    if(TARGET ${zorvik_qt}::QICOPlugin)
        list(APPEND zorvik_plugins ${zorvik_qt}::QICOPlugin)
    endif()
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
    # The licence notices of everything the package ships (NOTICE.txt, licenses/), written by
    # tools/notices.sh from the staged files before the release packs them.
    install(DIRECTORY "${PROJECT_BINARY_DIR}/notices/" DESTINATION . OPTIONAL)
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
    # Machine-readable: the package holds only the product's own files.
    install(FILES packaging/linux/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zorvik-qrcode)
    # A native package's changelog, one entry for this version, dated by the commit
    # (SOURCE_DATE_EPOCH, which string(TIMESTAMP) follows) and compressed without a name or time.
    string(TIMESTAMP zorvik_changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
    configure_file(packaging/linux/changelog.in "${PROJECT_BINARY_DIR}/changelog" @ONLY)
    execute_process(COMMAND gzip -9nc "${PROJECT_BINARY_DIR}/changelog"
                    OUTPUT_FILE "${PROJECT_BINARY_DIR}/changelog.gz" COMMAND_ERROR_IS_FATAL ANY)
    install(FILES "${PROJECT_BINARY_DIR}/changelog.gz"
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zorvik-qrcode)
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
# ZIP members in sorted order and the .deb's Installed-Size from the files' sizes: neither may
# follow the file system the package is made on.
set(CPACK_POST_BUILD_SCRIPTS "${PROJECT_SOURCE_DIR}/cmake/NormalizePackages.cmake")
set(CPACK_ZORVIK_SOURCE_DIR "${PROJECT_SOURCE_DIR}")
# The installer shows the notice (tools/notices.sh) when the build has one.
set(CPACK_ZORVIK_NOTICE "${PROJECT_BINARY_DIR}/notices/NOTICE.txt")
set(CPACK_PROJECT_CONFIG_FILE "${PROJECT_SOURCE_DIR}/cmake/CPackNotice.cmake")
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
# request never reaches the program. The installer's own logic (its guards, the running copy, the
# earlier installation, the rule) is packaging/windows/installer.nsh; CPack's hooks only call it.
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
# The installer removes an earlier version itself, after its guards (installer.nsh).
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL OFF)
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
# No "run now" on the last page: the installer runs elevated, the program must not.
# The installers that ship are the ones the checks run: one compressor for every build.
set(CPACK_NSIS_COMPRESSOR "/SOLID lzma")
if(ZORVIK_QT_MAJOR STREQUAL "6")
    set(zorvik_other_package "${PROJECT_NAME}-${PROJECT_VERSION}-windows7-8-x64.exe")
else()
    set(zorvik_other_package "")
endif()
# The mingw-w64 builds (the release) make 64-bit installers, which the 64-bit Wine used for the
# checks runs; MSVC builds keep NSIS's default 32-bit stub, the only one official NSIS builds ship.
if(MINGW)
    set(zorvik_nsis_amd64 "!define ZORVIK_AMD64")
else()
    set(zorvik_nsis_amd64 "")
endif()
set(CPACK_NSIS_DEFINES "
  ${zorvik_nsis_amd64}
  !define ZORVIK_NAME \"${PROJECT_NAME}\"
  !define ZORVIK_VERSION \"${PROJECT_VERSION}\"
  !define ZORVIK_EXE \"${PROJECT_NAME}.exe\"
  !define ZORVIK_UNINSTALLER \"Uninstall.exe\"
  !define ZORVIK_PORT ${ZORVIK_PORT}
  !define ZORVIK_WINDOWS \"${zorvik_windows}\"
  !define ZORVIK_OTHER_PACKAGE \"${zorvik_other_package}\"
  !include /CHARSET=UTF8 \"${PROJECT_SOURCE_DIR}/packaging/windows/installer.nsh\"
")
set(CPACK_NSIS_EXTRA_PREINSTALL_COMMANDS "Call zorvikBeforeInstall")
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS "Call zorvikAddFirewallRule")
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS "Call un.zorvikBeforeRemoval")
set(CPACK_NSIS_DELETE_ICONS_EXTRA "Call un.zorvikAfterRemoval")
list(APPEND CPACK_PRE_BUILD_SCRIPTS "${PROJECT_SOURCE_DIR}/cmake/NsisUninstallList.cmake")

# Debian: the package depends on what its executable links (dpkg-shlibdeps), plus Qt's platform
# plugins, which no library links.
set(CPACK_DEBIAN_PACKAGE_NAME zorvik-qrcode)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZORVIK_MAINTAINER}")
# The extended description; CPack puts the summary (PROJECT_DESCRIPTION) before it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Zorvik_QRCode lists the signature keys kept in the user's documents and shows
a QR code for the selected one. The companion phone application scans the code,
which names this computer's address on the local network, and fetches that key
from the program's small built-in key server (TCP port 10999).")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(ZORVIK_QT_MAJOR STREQUAL "6")
    set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-qpa-plugins)
endif()

include(CPack)
