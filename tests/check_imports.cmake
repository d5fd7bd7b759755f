# Fails when FILE imports a DLL whose name (lower case, without ".dll") is not
# in ALLOWED (comma-separated), or has a delay-import table at all.
#
#   cmake -DOBJDUMP=... -DFILE=... -DALLOWED=kernel32,msvcrt -DWHAT=... -P check_imports.cmake
#
# A DLL outside the allowed list is loaded by the program itself, from the
# system directory (src/platform/SystemLibrary). Delay imports would be found
# by the loader's search by name, which looks in the program's folder first;
# binutils' linker also leaves their directory entry empty, so they would not
# even show here.
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/pe_imports.cmake)
zelvo_pe_imports(${OBJDUMP} ${FILE} imports has_delay_imports)
string(REPLACE "," ";" allowed "${ALLOWED}")
if(NOT imports)
    message(FATAL_ERROR "no imports found in ${FILE}")
endif()
foreach(dll ${imports})
    string(REGEX REPLACE "\\.dll$" "" base "${dll}")
    if(NOT base IN_LIST allowed)
        message(FATAL_ERROR "${WHAT} imports ${dll}, which is not one of: ${ALLOWED}")
    endif()
    message(STATUS "${WHAT} imports ${dll}")
endforeach()
if(has_delay_imports)
    message(FATAL_ERROR "${WHAT} has delay imports")
endif()
