# Deployment values compiled into the launcher: server addresses and the update-signing public keys.
# A release build must be given every value but the successor key; any other build uses loopback
# addresses and key pairs generated into the build tree (their private halves sign the test
# releases, never a real one).

set(varnhold_deployment_vars
    VARNHOLD_PRIMARY_SERVER_URL
    VARNHOLD_FALLBACK_SERVER_URL
    VARNHOLD_RATING_QUERY_URL
    VARNHOLD_RATING_PAGE_URL
    VARNHOLD_CLIENT_PAGE_URL_LURRA
    VARNHOLD_CLIENT_PAGE_URL_KTVX
    VARNHOLD_PUBLIC_KEY_FILE)
set(varnhold_optional_deployment_vars VARNHOLD_SUCCESSOR_PUBLIC_KEY_FILE)

set(VARNHOLD_PRIMARY_SERVER_URL "" CACHE STRING "Primary update server base URL, ending in /patch")
set(VARNHOLD_FALLBACK_SERVER_URL "" CACHE STRING "Fallback update server base URL, ending in /patch")
set(VARNHOLD_RATING_QUERY_URL "" CACHE STRING "Rating query URL prefix, ending in /v1/top?diff=")
set(VARNHOLD_RATING_PAGE_URL "" CACHE STRING "Rating web page URL, ending in /#rating")
set(VARNHOLD_CLIENT_PAGE_URL_LURRA "" CACHE STRING "Client download page of the lurra branch")
set(VARNHOLD_CLIENT_PAGE_URL_KTVX "" CACHE STRING "Client download page of the ktvx branch")
set(VARNHOLD_PUBLIC_KEY_FILE "" CACHE FILEPATH "Update-signing RSA public key, PEM SubjectPublicKeyInfo")
# The launcher trusts a signature under either of two keys. The second slot holds the key a team
# rotates to: launchers that trust both go out first, then the team signs with the new key, and a
# later launcher drops the old one (tools/publish/README.md). Empty: a copy of the first key.
set(VARNHOLD_SUCCESSOR_PUBLIC_KEY_FILE "" CACHE FILEPATH
    "Optional successor update-signing public key for the second key slot (default: the first key)")

set(varnhold_key_dir "${CMAKE_BINARY_DIR}/keys")
set(VARNHOLD_TEST_PRIVATE_KEY_FILE "")
set(VARNHOLD_TEST_SUCCESSOR_PRIVATE_KEY_FILE "")

# A test key pair in the build tree, made once: keys/NAME_private.pem and keys/NAME_public.pem.
function(varnhold_test_key_pair name)
    set(private_key "${varnhold_key_dir}/${name}_private.pem")
    set(public_key "${varnhold_key_dir}/${name}_public.pem")
    if(EXISTS "${public_key}")
        return()
    endif()
    file(MAKE_DIRECTORY "${varnhold_key_dir}")
    execute_process(
        COMMAND openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "${private_key}"
        RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
    if(rc EQUAL 0)
        execute_process(COMMAND openssl pkey -in "${private_key}" -pubout -out "${public_key}"
            RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
    endif()
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "Could not generate the test signing key pair ${name} with openssl.")
    endif()
endfunction()

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
        varnhold_test_key_pair(update_signing)
        set(VARNHOLD_PUBLIC_KEY_FILE "${varnhold_key_dir}/update_signing_public.pem")
        set(VARNHOLD_TEST_PRIVATE_KEY_FILE "${varnhold_key_dir}/update_signing_private.pem")
        # Test launchers trust a successor key as well, as during a key rotation.
        if("${VARNHOLD_SUCCESSOR_PUBLIC_KEY_FILE}" STREQUAL "")
            varnhold_test_key_pair(update_signing_successor)
            set(VARNHOLD_SUCCESSOR_PUBLIC_KEY_FILE "${varnhold_key_dir}/update_signing_successor_public.pem")
            set(VARNHOLD_TEST_SUCCESSOR_PRIVATE_KEY_FILE
                "${varnhold_key_dir}/update_signing_successor_private.pem")
        endif()
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

# The launcher embeds the key texts exactly: a 2048-bit RSA key in this form is 451 characters.
function(varnhold_key_literal var out)
    if(NOT EXISTS "${${var}}")
        message(FATAL_ERROR "${var} '${${var}}' does not exist.")
    endif()
    file(READ "${${var}}" pem)
    string(LENGTH "${pem}" key_length)
    if(NOT key_length EQUAL 451 OR NOT pem MATCHES "^-----BEGIN PUBLIC KEY-----\n"
            OR NOT pem MATCHES "\n-----END PUBLIC KEY-----\n$")
        message(FATAL_ERROR "${var} must hold a 2048-bit RSA public key as a PEM 'PUBLIC KEY' block of "
            "451 characters with LF line ends (openssl pkey -pubout).")
    endif()
    string(REPLACE "\n" "\\n" literal "${pem}")
    set(${out} "${literal}" PARENT_SCOPE)
endfunction()
varnhold_key_literal(VARNHOLD_PUBLIC_KEY_FILE varnhold_public_key_literal)
set(varnhold_successor_public_key_literal "${varnhold_public_key_literal}")
if(NOT "${VARNHOLD_SUCCESSOR_PUBLIC_KEY_FILE}" STREQUAL "")
    varnhold_key_literal(VARNHOLD_SUCCESSOR_PUBLIC_KEY_FILE varnhold_successor_public_key_literal)
endif()

# The values this build was made with, in the form scripts/release.sh takes: the same launcher can
# be built again from them (the release check rebuilds this one).
set(varnhold_values_text "# Deployment values of ${CMAKE_BINARY_DIR} (scripts/release.sh --values)\n")
foreach(var IN LISTS varnhold_deployment_vars varnhold_optional_deployment_vars)
    string(APPEND varnhold_values_text "${var}=${${var}}\n")
endforeach()
file(WRITE "${CMAKE_BINARY_DIR}/deployment_values.txt" "${varnhold_values_text}")

set(VARNHOLD_GENERATED_DIR "${CMAKE_BINARY_DIR}/generated")
configure_file("${PROJECT_SOURCE_DIR}/cmake/deployment_values.h.in"
    "${VARNHOLD_GENERATED_DIR}/deployment_values.h" @ONLY)
