# Install-time step of the mingw-w64 build: copies beside the executable the DLLs it and its Qt
# plugins need that Windows does not bring (Qt's and the compiler's runtime), found by walking
# their imports. Windows names a DLL in any letter case, while the build host's file system is
# case-sensitive, and the walk asks in lower case up to CMake 3.26 and in the import's own case
# from 3.27 on: it therefore looks in a folder of links under both names and matches names in
# either case, and each DLL is installed under its own name.
# In: ZORVIK_EXECUTABLE, ZORVIK_MODULES, ZORVIK_SEARCH_DIRS, ZORVIK_OBJDUMP, ZORVIK_MIRROR.
set(CMAKE_GET_RUNTIME_DEPENDENCIES_PLATFORM windows+pe)
set(CMAKE_GET_RUNTIME_DEPENDENCIES_TOOL objdump)
set(CMAKE_GET_RUNTIME_DEPENDENCIES_COMMAND "${ZORVIK_OBJDUMP}")

file(REMOVE_RECURSE "${ZORVIK_MIRROR}")
file(MAKE_DIRECTORY "${ZORVIK_MIRROR}")
foreach(dir IN LISTS ZORVIK_SEARCH_DIRS)
    file(GLOB dlls "${dir}/*.dll")
    foreach(dll IN LISTS dlls)
        get_filename_component(name "${dll}" NAME)
        string(TOLOWER "${name}" lower)
        foreach(link IN ITEMS "${name}" "${lower}")
            if(NOT EXISTS "${ZORVIK_MIRROR}/${link}")
                file(CREATE_LINK "${dll}" "${ZORVIK_MIRROR}/${link}" SYMBOLIC)
            endif()
        endforeach()
    endforeach()
endforeach()

# Only Qt's and the compiler's libraries travel with the program; every other DLL it names is
# part of Windows.
file(GET_RUNTIME_DEPENDENCIES
     EXECUTABLES "${ZORVIK_EXECUTABLE}"
     MODULES ${ZORVIK_MODULES}
     DIRECTORIES "${ZORVIK_MIRROR}"
     PRE_INCLUDE_REGEXES "^[Qq][Tt][56]" "^[Ll][Ii][Bb]([Ss][Tt][Dd][Cc]|[Gg][Cc][Cc]|[Ww][Ii][Nn][Pp][Tt][Hh][Rr][Ee][Aa][Dd])"
     PRE_EXCLUDE_REGEXES ".*"
     RESOLVED_DEPENDENCIES_VAR resolved
     UNRESOLVED_DEPENDENCIES_VAR unresolved)
if(unresolved)
    message(FATAL_ERROR "Not found for the Windows folder: ${unresolved}")
endif()
foreach(link IN LISTS resolved)
    file(REAL_PATH "${link}" dll)
    file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}" TYPE SHARED_LIBRARY FILES "${dll}")
endforeach()
