# CPack step between staging and packing: makes what is packed depend on the sources alone, so
# that every package is the same bytes wherever and whenever it is built. Every shipped Windows
# executable and library is stripped of its whole symbol table (the compiler's runtime and Qt
# arrive with theirs), modes no longer follow the builder's umask, and every file carries the
# commit's time (SOURCE_DATE_EPOCH) rather than the time it was built or copied.
# In: CPACK_TEMPORARY_DIRECTORY (the staged files), CPACK_ZORVIK_STRIP (mingw-w64 only).
set(staged "${CPACK_TEMPORARY_DIRECTORY}")

if(CPACK_ZORVIK_STRIP)
    file(GLOB_RECURSE binaries "${staged}/*.exe" "${staged}/*.dll")
    foreach(binary IN LISTS binaries)
        execute_process(COMMAND "${CPACK_ZORVIK_STRIP}" --strip-all "${binary}"
                        COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
endif()

if(CMAKE_HOST_UNIX)
    # Folders and programs rwxr-xr-x, everything else rw-r--r--: what install() asks for under
    # the usual umask, whatever the builder's.
    execute_process(COMMAND find "${staged}" -type d -exec chmod 0755 {} +
                    COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND find "${staged}" -type f -perm -u+x -exec chmod 0755 {} +
                    COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND find "${staged}" -type f ! -perm -u+x -exec chmod 0644 {} +
                    COMMAND_ERROR_IS_FATAL ANY)
    if(DEFINED ENV{SOURCE_DATE_EPOCH})
        execute_process(COMMAND find "${staged}" -exec touch -h -d "@$ENV{SOURCE_DATE_EPOCH}" {} +
                        COMMAND_ERROR_IS_FATAL ANY)
    endif()
endif()
