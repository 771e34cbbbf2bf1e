# Deployment values compiled into the launcher: server addresses and the update-signing public key.
# A release build must be given every value; any other build uses loopback addresses and a key pair
# generated into the build tree (its private half signs the test releases, never a real one).

set(varnhold_deployment_vars
    VARNHOLD_PRIMARY_SERVER_URL
    VARNHOLD_FALLBACK_SERVER_URL
    VARNHOLD_RATING_QUERY_URL
    VARNHOLD_RATING_PAGE_URL
    VARNHOLD_CLIENT_PAGE_URL_LURRA
    VARNHOLD_CLIENT_PAGE_URL_KTVX
    VARNHOLD_PUBLIC_KEY_FILE)

set(VARNHOLD_PRIMARY_SERVER_URL "" CACHE STRING "Primary update server base URL, ending in /patch")
set(VARNHOLD_FALLBACK_SERVER_URL "" CACHE STRING "Fallback update server base URL, ending in /patch")
set(VARNHOLD_RATING_QUERY_URL "" CACHE STRING "Rating query URL prefix, ending in /v1/top?diff=")
set(VARNHOLD_RATING_PAGE_URL "" CACHE STRING "Rating web page URL, ending in /#rating")
set(VARNHOLD_CLIENT_PAGE_URL_LURRA "" CACHE STRING "Client download page of the lurra branch")
set(VARNHOLD_CLIENT_PAGE_URL_KTVX "" CACHE STRING "Client download page of the ktvx branch")
set(VARNHOLD_PUBLIC_KEY_FILE "" CACHE FILEPATH "Update-signing RSA public key, PEM SubjectPublicKeyInfo")

set(varnhold_key_dir "${CMAKE_BINARY_DIR}/keys")
set(VARNHOLD_TEST_PRIVATE_KEY_FILE "")

if(VARNHOLD_RELEASE)
    foreach(var IN LISTS varnhold_deployment_vars)
        if("${${var}}" STREQUAL "")
            message(FATAL_ERROR "A release build needs ${var} (see the README, 'Building a release').")
        endif()
    endforeach()
else()
    macro(varnhold_default var value)
        if("${${var}}" STREQUAL "")
            set(${var} "${value}")
        endif()
    endmacro()
    varnhold_default(VARNHOLD_PRIMARY_SERVER_URL "https://localhost:8443/patch")
    varnhold_default(VARNHOLD_FALLBACK_SERVER_URL "https://localhost:8444/patch")
    varnhold_default(VARNHOLD_RATING_QUERY_URL "https://localhost:8445/v1/top?diff=")
    varnhold_default(VARNHOLD_RATING_PAGE_URL "https://localhost:8445/#rating")
    varnhold_default(VARNHOLD_CLIENT_PAGE_URL_LURRA "https://localhost:8445/mods/1")
    varnhold_default(VARNHOLD_CLIENT_PAGE_URL_KTVX "https://localhost:8445/download/")
    if("${VARNHOLD_PUBLIC_KEY_FILE}" STREQUAL "")
        set(private_key "${varnhold_key_dir}/update_signing_private.pem")
        set(public_key "${varnhold_key_dir}/update_signing_public.pem")
        if(NOT EXISTS "${public_key}")
            file(MAKE_DIRECTORY "${varnhold_key_dir}")
            execute_process(
                COMMAND openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "${private_key}"
                RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
            if(rc EQUAL 0)
                execute_process(COMMAND openssl pkey -in "${private_key}" -pubout -out "${public_key}"
                    RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
            endif()
            if(NOT rc EQUAL 0)
                message(FATAL_ERROR "Could not generate the test signing key pair with openssl.")
            endif()
        endif()
        set(VARNHOLD_PUBLIC_KEY_FILE "${public_key}")
        set(VARNHOLD_TEST_PRIVATE_KEY_FILE "${private_key}")
    endif()
endif()

function(varnhold_require_suffix var suffix)
    string(LENGTH "${suffix}" suffix_length)
    string(LENGTH "${${var}}" length)
    math(EXPR start "${length} - ${suffix_length}")
    if(start LESS 9)
        message(FATAL_ERROR "${var} ('${${var}}') must be an https:// URL ending in '${suffix}'.")
    endif()
    string(SUBSTRING "${${var}}" ${start} -1 tail)
    string(SUBSTRING "${${var}}" 0 8 head)
    if(NOT tail STREQUAL suffix OR NOT head STREQUAL "https://")
        message(FATAL_ERROR "${var} ('${${var}}') must be an https:// URL ending in '${suffix}'.")
    endif()
endfunction()
varnhold_require_suffix(VARNHOLD_PRIMARY_SERVER_URL "/patch")
varnhold_require_suffix(VARNHOLD_FALLBACK_SERVER_URL "/patch")
varnhold_require_suffix(VARNHOLD_RATING_QUERY_URL "/v1/top?diff=")
varnhold_require_suffix(VARNHOLD_RATING_PAGE_URL "/#rating")
varnhold_require_suffix(VARNHOLD_CLIENT_PAGE_URL_LURRA "")
varnhold_require_suffix(VARNHOLD_CLIENT_PAGE_URL_KTVX "")

# The launcher embeds the key text exactly: a 2048-bit RSA key in this form is 451 characters.
if(NOT EXISTS "${VARNHOLD_PUBLIC_KEY_FILE}")
    message(FATAL_ERROR "VARNHOLD_PUBLIC_KEY_FILE '${VARNHOLD_PUBLIC_KEY_FILE}' does not exist.")
endif()
file(READ "${VARNHOLD_PUBLIC_KEY_FILE}" varnhold_public_key_pem)
string(LENGTH "${varnhold_public_key_pem}" key_length)
if(NOT key_length EQUAL 451 OR NOT varnhold_public_key_pem MATCHES "^-----BEGIN PUBLIC KEY-----\n"
        OR NOT varnhold_public_key_pem MATCHES "\n-----END PUBLIC KEY-----\n$")
    message(FATAL_ERROR "VARNHOLD_PUBLIC_KEY_FILE must hold a 2048-bit RSA public key as a PEM "
        "'PUBLIC KEY' block of 451 characters with LF line ends (openssl pkey -pubout).")
endif()
string(REPLACE "\n" "\\n" varnhold_public_key_literal "${varnhold_public_key_pem}")

# The values this build was made with, in the form scripts/release.sh takes: the same launcher can
# be built again from them (the release check rebuilds this one).
set(varnhold_values_text "# Deployment values of ${CMAKE_BINARY_DIR} (scripts/release.sh --values)\n")
foreach(var IN LISTS varnhold_deployment_vars)
    string(APPEND varnhold_values_text "${var}=${${var}}\n")
endforeach()
file(WRITE "${CMAKE_BINARY_DIR}/deployment_values.txt" "${varnhold_values_text}")

set(VARNHOLD_GENERATED_DIR "${CMAKE_BINARY_DIR}/generated")
configure_file("${PROJECT_SOURCE_DIR}/cmake/deployment_values.h.in"
    "${VARNHOLD_GENERATED_DIR}/deployment_values.h" @ONLY)
