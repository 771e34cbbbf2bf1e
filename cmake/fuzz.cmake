# libFuzzer targets over the platform-free parsers (clang host build). Each tests/fuzz/name_fuzz.cpp
# becomes the program name_fuzz; ctest runs each for a short smoke period from its seed corpus in
# tests/fuzz/corpus/name/, scripts/fuzz.sh for as long as asked.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "The fuzz build needs clang (libFuzzer).")
endif()
enable_testing()
set(VARNHOLD_FUZZ_SMOKE_SECONDS 5 CACHE STRING "Seconds each fuzz target runs under ctest")

file(GLOB varnhold_fuzz_sources CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/tests/fuzz/*_fuzz.cpp")
foreach(source IN LISTS varnhold_fuzz_sources)
    get_filename_component(name "${source}" NAME_WE)
    add_executable(${name} "${source}")
    target_compile_options(${name} PRIVATE ${varnhold_warnings} -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE launcher_portable)

    string(REGEX REPLACE "_fuzz$" "" corpus "${name}")
    set(work "${CMAKE_BINARY_DIR}/corpus/${corpus}")
    file(MAKE_DIRECTORY "${work}")
    add_test(NAME fuzz.${corpus}
        COMMAND ${name} -max_total_time=${VARNHOLD_FUZZ_SMOKE_SECONDS} -timeout=10 -rss_limit_mb=2048
            -print_final_stats=1 "${work}" "${PROJECT_SOURCE_DIR}/tests/fuzz/corpus/${corpus}")
    # The smoke period plus time to load the corpus and to write what a crash leaves.
    math(EXPR timeout "${VARNHOLD_FUZZ_SMOKE_SECONDS} + 120")
    set_tests_properties(fuzz.${corpus} PROPERTIES TIMEOUT ${timeout})
endforeach()
