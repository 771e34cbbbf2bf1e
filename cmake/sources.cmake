# Source sets follow the file names, so a new file needs no edit here:
#   name_win.cpp   includes Windows headers: Windows builds only
#   name_host.cpp  host stand-in for a Windows service: host build only
#   name.cpp       platform-free: every build
# The entry point (src/app/main_win.cpp) belongs to the executable alone.

function(varnhold_split_sources out_portable out_windows out_host)
    set(portable "")
    set(windows "")
    set(host "")
    foreach(file IN LISTS ARGN)
        if(file MATCHES "_win\\.cpp$")
            list(APPEND windows "${file}")
        elseif(file MATCHES "_host\\.cpp$")
            list(APPEND host "${file}")
        else()
            list(APPEND portable "${file}")
        endif()
    endforeach()
    set(${out_portable} "${portable}" PARENT_SCOPE)
    set(${out_windows} "${windows}" PARENT_SCOPE)
    set(${out_host} "${host}" PARENT_SCOPE)
endfunction()

file(GLOB_RECURSE varnhold_all_sources CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/src/*.cpp")
set(varnhold_entry_source "${PROJECT_SOURCE_DIR}/src/app/main_win.cpp")
list(REMOVE_ITEM varnhold_all_sources "${varnhold_entry_source}")
varnhold_split_sources(varnhold_portable_sources varnhold_windows_sources varnhold_host_sources
    ${varnhold_all_sources})

# Test folders mirror src/; each folder with tests becomes one test program.
set(varnhold_test_folders base app config net crypto update content branches ui tools)
