# CPack's per-generator options: the installer shows the package's notice (its licences and
# where their sources are) on a page of its own, when the release wrote one (tools/notices.sh).
if(CPACK_GENERATOR STREQUAL "NSIS" AND EXISTS "${CPACK_ZORVIK_NOTICE}")
    set(CPACK_RESOURCE_FILE_LICENSE "${CPACK_ZORVIK_NOTICE}")
    # CPack leaves the page out whenever this is set, even to OFF.
    unset(CPACK_NSIS_IGNORE_LICENSE_PAGE)
endif()
