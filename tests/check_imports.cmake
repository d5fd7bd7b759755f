# Fails when FILE imports a DLL whose name (lower case, without ".dll") is not
# in ALLOWED (comma-separated), or has a delay-import table at all. From a DLL
# not in ALLOWED, the functions in ALLOWED_FUNCTIONS (dll!function, comma-
# separated) may be imported, and no others.
#
#   cmake -DOBJDUMP=... -DFILE=... -DALLOWED=kernel32,msvcrt [-DALLOWED_FUNCTIONS=...] -DWHAT=...
#         -P check_imports.cmake
#
# A DLL outside the allowed list is loaded by the program itself, from the
# system directory (src/platform/SystemLibrary). Delay imports would be found
# by the loader's search by name, which looks in the program's folder first;
# binutils' linker also leaves their directory entry empty, so they would not
# even show here.
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/pe_imports.cmake)
zelvo_pe_imports(${OBJDUMP} ${FILE} imports has_delay_imports functions)
string(REPLACE "," ";" allowed "${ALLOWED}")
string(REPLACE "," ";" allowed_functions "${ALLOWED_FUNCTIONS}")
if(NOT imports)
    message(FATAL_ERROR "no imports found in ${FILE}")
endif()
foreach(dll ${imports})
    string(REGEX REPLACE "\\.dll$" "" base "${dll}")
    if(base IN_LIST allowed)
        message(STATUS "${WHAT} imports ${dll}")
        continue()
    endif()
    set(from_dll)
    foreach(function ${functions})
        string(FIND "${function}" "${dll}!" at)
        if(at EQUAL 0)
            string(REPLACE "${dll}!" "${base}!" function "${function}")
            if(NOT function IN_LIST allowed_functions)
                message(FATAL_ERROR "${WHAT} imports ${function} from ${dll}, which is not one of: ${ALLOWED}")
            endif()
            list(APPEND from_dll ${function})
        endif()
    endforeach()
    if(NOT from_dll)
        message(FATAL_ERROR "${WHAT} imports ${dll}, which is not one of: ${ALLOWED}")
    endif()
    list(JOIN from_dll ", " from_dll)
    message(STATUS "${WHAT} imports ${from_dll}")
endforeach()
if(has_delay_imports)
    message(FATAL_ERROR "${WHAT} has delay imports")
endif()
