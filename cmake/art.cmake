# The launcher's pictures are drawn from the SVG sources in resources/art at build time
# (tools/build_art.py, rsvg-convert and ImageMagick) into <build>/art, where the resource compiler
# finds them. Only the sources are in the repository.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(varnhold_art_source_dir "${PROJECT_SOURCE_DIR}/resources/art")
set(VARNHOLD_ART_DIR "${CMAKE_BINARY_DIR}/art")
set(varnhold_art_table "${varnhold_art_source_dir}/images.txt")

# The outputs are the second column of the table; a row added there reconfigures.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${varnhold_art_table}")
file(STRINGS "${varnhold_art_table}" varnhold_art_rows REGEX "^[0-9]")
set(varnhold_art_outputs "")
foreach(row IN LISTS varnhold_art_rows)
    if(NOT row MATCHES "^[0-9]+[ \t]+([^ \t]+)")
        message(FATAL_ERROR "${varnhold_art_table}: cannot read the row '${row}'")
    endif()
    list(APPEND varnhold_art_outputs "${VARNHOLD_ART_DIR}/${CMAKE_MATCH_1}")
endforeach()
file(GLOB varnhold_art_sources CONFIGURE_DEPENDS "${varnhold_art_source_dir}/*.svg")

add_custom_command(OUTPUT ${varnhold_art_outputs}
    COMMAND "${Python3_EXECUTABLE}" "${PROJECT_SOURCE_DIR}/tools/build_art.py"
            "${varnhold_art_source_dir}" "${VARNHOLD_ART_DIR}"
    DEPENDS ${varnhold_art_sources} "${varnhold_art_table}" "${PROJECT_SOURCE_DIR}/tools/build_art.py"
    COMMENT "Drawing the launcher's pictures from their SVG sources"
    VERBATIM)
add_custom_target(launcher_art DEPENDS ${varnhold_art_outputs})

# The launcher's resources (pictures, icon, version) as an object library: the launcher links it,
# and so can a test program that opens the launcher's window and loads its pictures.
set(varnhold_resource_script "${PROJECT_SOURCE_DIR}/resources/launcher.rc")
add_library(launcher_resources OBJECT "${varnhold_resource_script}")
target_include_directories(launcher_resources PRIVATE "${VARNHOLD_ART_DIR}" "${PROJECT_SOURCE_DIR}/resources")
# The resource compiler does not report the files it embeds: recompile when a picture changes.
set_source_files_properties("${varnhold_resource_script}" PROPERTIES
    OBJECT_DEPENDS "${varnhold_art_outputs};${PROJECT_SOURCE_DIR}/resources/launcher.manifest")
add_dependencies(launcher_resources launcher_art)
