# Windows builds (i686 product, x86_64 tests under wine64): everything linked statically, so the
# executables need no DLL beyond those of Windows itself.
enable_language(RC)

set(varnhold_system_libs winhttp bcrypt crypt32 version shell32 ole32 oleaut32 uuid user32 gdi32 gdiplus
    shlwapi advapi32)
set(varnhold_zlib "${CMAKE_FIND_ROOT_PATH}/lib/libz.a")
if(NOT EXISTS "${varnhold_zlib}")
    message(FATAL_ERROR "zlib for ${MINGW_TRIPLE} is missing (${varnhold_zlib}): run scripts/install-deps.sh")
endif()
add_link_options(-static -static-libgcc -static-libstdc++)
# Reproducible: two builds of one commit give the same executable, byte for byte, wherever and
# whenever they are made, so a team can prove which source a shipped launcher came from. The linker
# writes no build time into the PE header, and no path of the checkout or of the build folder
# reaches the binary (assertions, debug information); scripts/check-release.sh checks it.
add_link_options(-Wl,--no-insert-timestamp)
add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=>"
                    "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}/=>")

# The 32-bit build computes with SSE2, as the 64-bit one does. The x87 unit's default keeps 80-bit
# intermediates, so the same layout, scaling and text-fitting arithmetic would give other pixels:
# 540 * 1.7777777777777777 stays 959.99... there and truncates to 959. Windows 8 and later require
# SSE2 of every processor. (mingw's 32-bit compiler assumes Windows' 4-byte stack alignment and
# realigns where SSE values live on the stack.)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-msse2;-mfpmath=sse>")
endif()

add_library(launcher_core STATIC ${varnhold_portable_sources} ${varnhold_windows_sources})
target_include_directories(launcher_core PUBLIC "${PROJECT_SOURCE_DIR}/src" "${VARNHOLD_GENERATED_DIR}")
target_compile_definitions(launcher_core PUBLIC UNICODE _UNICODE NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
target_compile_options(launcher_core PRIVATE ${varnhold_warnings})
target_link_libraries(launcher_core PUBLIC ${varnhold_zlib} ${varnhold_system_libs})

include(cmake/art.cmake)

add_executable(VarnholdLauncher WIN32 "${varnhold_entry_source}")
target_compile_options(VarnholdLauncher PRIVATE ${varnhold_warnings})
target_link_options(VarnholdLauncher PRIVATE -municode)
target_link_libraries(VarnholdLauncher PRIVATE launcher_core launcher_resources)
# The product ships without a symbol table and without the debug information the static C++ runtime
# brings along: a third of the executable, which every player downloads at each update and every
# start maps. The test presets build the same way, so that the tests run the code as it ships (and
# build a fifth faster than with debug information); configure a test build with
# -DCMAKE_BUILD_TYPE=RelWithDebInfo to debug one.
if(CMAKE_BUILD_TYPE STREQUAL "Release")
    target_link_options(VarnholdLauncher PRIVATE -s)
endif()

file(GLOB varnhold_tool_sources CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/tools/*_win.cpp")
foreach(source IN LISTS varnhold_tool_sources)
    get_filename_component(name "${source}" NAME_WE)
    string(REGEX REPLACE "_win$" "" name "${name}")
    add_executable(${name} "${source}")
    target_compile_options(${name} PRIVATE ${varnhold_warnings})
    target_link_options(${name} PRIVATE -municode)
    target_link_libraries(${name} PRIVATE launcher_core)
endforeach()

# Benchmarks: bench/name_win.cpp -> build/<preset>/bench/name.exe, run by scripts/bench.sh.
file(GLOB varnhold_bench_sources CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/bench/*_win.cpp")
foreach(source IN LISTS varnhold_bench_sources)
    get_filename_component(name "${source}" NAME_WE)
    string(REGEX REPLACE "_win$" "" name "${name}")
    add_executable(bench_${name} "${source}")
    set_target_properties(bench_${name} PROPERTIES OUTPUT_NAME ${name}
        RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bench")
    target_compile_options(bench_${name} PRIVATE ${varnhold_warnings})
    target_link_options(bench_${name} PRIVATE -municode)
    # The window benchmarks build the launcher's window, pictures included.
    target_link_libraries(bench_${name} PRIVATE launcher_core launcher_resources)
endforeach()
# The launcher again, its start-up steps timed (src/base/step_times.h), for the window benchmark
# alone: the product carries no timer. Its own copies of the timed files stand in for those of
# launcher_core, which the linker then never takes.
add_executable(bench_launcher_timed WIN32 "${varnhold_entry_source}"
    "${PROJECT_SOURCE_DIR}/src/ui/launcher_app_win.cpp" "${PROJECT_SOURCE_DIR}/src/ui/pictures_win.cpp")
set_target_properties(bench_launcher_timed PROPERTIES OUTPUT_NAME launcher_timed
    RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bench")
target_compile_definitions(bench_launcher_timed PRIVATE VARNHOLD_STEP_TIMES)
target_compile_options(bench_launcher_timed PRIVATE ${varnhold_warnings})
target_link_options(bench_launcher_timed PRIVATE -municode)
target_link_libraries(bench_launcher_timed PRIVATE launcher_core launcher_resources)

if(VARNHOLD_BUILD_TESTS)
    include(cmake/windows_tests.cmake)
endif()
