# CPack post-build script: makes what the file system lends a package its own. CPack writes ZIP
# members in the order the staging folder lists them and counts a .deb's Installed-Size in the
# file system's blocks. ZIPs are rewritten with their members sorted by name; a .deb is rebuilt
# by dpkg-deb (sorted members, times clamped to SOURCE_DATE_EPOCH) with Installed-Size counted
# as dpkg-gencontrol does: each file's size in KiB rounded up, plus one per other entry.
# In: CPACK_PACKAGE_FILES, CPACK_ZORVIK_SOURCE_DIR.
if(NOT CMAKE_HOST_UNIX)
    return()
endif()
foreach(package IN LISTS CPACK_PACKAGE_FILES)
    if(package MATCHES "\\.zip$")
        execute_process(COMMAND python3 "${CPACK_ZORVIK_SOURCE_DIR}/tools/sort-zip.py" "${package}"
                        COMMAND_ERROR_IS_FATAL ANY)
    elseif(package MATCHES "\\.deb$")
        set(tree "${package}.tree")
        file(REMOVE_RECURSE "${tree}")
        execute_process(COMMAND dpkg-deb -R "${package}" "${tree}" COMMAND_ERROR_IS_FATAL ANY)
        file(GLOB_RECURSE entries LIST_DIRECTORIES true "${tree}/*")
        set(kib 0)
        foreach(entry IN LISTS entries)
            if(entry MATCHES "^${tree}/DEBIAN(/|$)")
                continue()
            elseif(IS_SYMLINK "${entry}" OR IS_DIRECTORY "${entry}")
                math(EXPR kib "${kib} + 1")
            else()
                file(SIZE "${entry}" size)
                math(EXPR kib "${kib} + (${size} + 1023) / 1024")
            endif()
        endforeach()
        file(READ "${tree}/DEBIAN/control" control)
        string(REGEX REPLACE "\nInstalled-Size: [0-9]+\n" "\nInstalled-Size: ${kib}\n" control
                             "${control}")
        file(WRITE "${tree}/DEBIAN/control" "${control}")
        execute_process(COMMAND dpkg-deb --root-owner-group -Zgzip -b "${tree}" "${package}"
                        OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
        file(REMOVE_RECURSE "${tree}")
    endif()
endforeach()
