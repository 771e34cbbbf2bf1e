# Native host build of the platform-free code, for sanitizers and fuzzers.
if(VARNHOLD_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()

option(VARNHOLD_FUZZ "Build the libFuzzer targets (clang)" OFF)
if(VARNHOLD_FUZZ)
    # Coverage instrumentation for everything the fuzz targets reach.
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()

add_library(launcher_portable STATIC ${varnhold_portable_sources} ${varnhold_host_sources})
target_include_directories(launcher_portable PUBLIC "${PROJECT_SOURCE_DIR}/src" "${VARNHOLD_GENERATED_DIR}")
target_compile_options(launcher_portable PRIVATE ${varnhold_warnings})

if(VARNHOLD_BUILD_TESTS)
    enable_testing()
    find_package(GTest REQUIRED)
    include(GoogleTest)

    file(GLOB varnhold_support_sources CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/tests/support/*.cpp")
    varnhold_split_sources(support_portable support_windows support_host ${varnhold_support_sources})
    if(support_portable OR support_host)
        add_library(host_test_support STATIC ${support_portable} ${support_host})
        target_compile_options(host_test_support PRIVATE ${varnhold_warnings})
        set(scope PUBLIC)
    else()
        add_library(host_test_support INTERFACE)
        set(scope INTERFACE)
    endif()
    target_include_directories(host_test_support ${scope} "${PROJECT_SOURCE_DIR}/tests")
    target_link_libraries(host_test_support ${scope} launcher_portable GTest::gtest)

    foreach(folder IN LISTS varnhold_test_folders)
        file(GLOB test_sources CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/tests/${folder}/*_test.cpp")
        list(FILTER test_sources EXCLUDE REGEX "_win_test\\.cpp$")
        if(NOT test_sources)
            continue()
        endif()
        add_executable(host_${folder}_tests ${test_sources})
        target_compile_options(host_${folder}_tests PRIVATE ${varnhold_warnings})
        target_link_libraries(host_${folder}_tests PRIVATE host_test_support GTest::gtest_main)
        # Every test has a time limit: a loop that never ends fails instead of holding the machine.
        gtest_discover_tests(host_${folder}_tests TEST_PREFIX "host.${folder}." DISCOVERY_MODE PRE_TEST
            PROPERTIES TIMEOUT 120)
    endforeach()

    add_test(NAME clang_format
        COMMAND "${PROJECT_SOURCE_DIR}/scripts/check-format.sh")
    set_tests_properties(clang_format PROPERTIES TIMEOUT 300)
endif()

if(VARNHOLD_FUZZ)
    include(cmake/fuzz.cmake)
endif()
