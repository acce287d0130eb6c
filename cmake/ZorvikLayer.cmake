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
endfunction()
