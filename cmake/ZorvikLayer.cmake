# zorvik_layer(TARGET): gives a layer's library an include folder that holds only that layer's
# headers, each reachable as "<layer>/<Header>.h" through a one-line forwarding header. A layer
# therefore sees its own headers and those of the libraries it links, and nothing else.
function(zorvik_layer target)
    get_target_property(sources ${target} SOURCES)
    get_target_property(dir ${target} SOURCE_DIR)
    file(RELATIVE_PATH layer "${PROJECT_SOURCE_DIR}" "${dir}")
    set(root "${PROJECT_BINARY_DIR}/layers/${target}")
    foreach(source IN LISTS sources)
        if(source MATCHES "\\.h$" AND NOT IS_ABSOLUTE "${source}")
            # Written only when it changes, so a configure run rebuilds nothing.
            file(CONFIGURE OUTPUT "${root}/${layer}/${source}"
                 CONTENT "#include \"${dir}/${source}\"\n")
        endif()
    endforeach()
    target_include_directories(${target} PUBLIC "${root}")
    zorvik_check_includes(${target} ${layer})
endfunction()

# zorvik_check_includes(TARGET LAYER): before TARGET builds, its sources are checked against the
# include rules (cmake/CheckIncludes.cmake); again whenever one of them changes.
function(zorvik_check_includes target layer)
    get_target_property(sources ${target} SOURCES)
    get_target_property(dir ${target} SOURCE_DIR)
    set(files "")
    foreach(source IN LISTS sources)
        if(source MATCHES "\\.(h|cpp)$")
            if(NOT IS_ABSOLUTE "${source}")
                set(source "${dir}/${source}")
            endif()
            list(APPEND files "${source}")
        endif()
    endforeach()
    # One argument: a list would be split into several on the command line.
    string(REPLACE ";" "|" joined "${files}")
    set(stamp "${CMAKE_CURRENT_BINARY_DIR}/${target}.includes-checked")
    add_custom_command(OUTPUT "${stamp}"
        COMMAND "${CMAKE_COMMAND}" -DLAYER=${layer} "-DSTAMP=${stamp}" "-DSOURCES=${joined}"
                -P "${PROJECT_SOURCE_DIR}/cmake/CheckIncludes.cmake"
        DEPENDS ${files} "${PROJECT_SOURCE_DIR}/cmake/CheckIncludes.cmake"
        COMMENT "Checking the includes of ${target}" VERBATIM)
    add_custom_target(${target}_includes DEPENDS "${stamp}")
    add_dependencies(${target} ${target}_includes)
endfunction()
