# Runs test_planted with WINEDLLOVERRIDES naming, as "n,b", every DLL it
# plants: the program's imports that are not known DLLs (KNOWN, comma-
# separated), and comctl32, which the program loads itself and Wine's own
# shell32 loads by name. Wine takes WINEDLLOVERRIDES from the Unix
# environment of the process that starts a program, never from its Windows
# environment, so the test cannot set it for the program it starts.
#
#   cmake -DOBJDUMP=... -DPROGRAM=... -DKNOWN=... -DEMULATOR=... -DTEST=... -P run_planted_test.cmake
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/../pe_imports.cmake)
zelvo_pe_imports(${OBJDUMP} ${PROGRAM} imports has_delay_imports)
if(has_delay_imports)
    message(FATAL_ERROR "${PROGRAM} has delay imports, which objdump does not list")
endif()
string(REPLACE "," ";" known "${KNOWN}")
set(exposed comctl32.dll)
foreach(dll ${imports})
    string(REGEX REPLACE "\\.dll$" "" base "${dll}")
    if(NOT base IN_LIST known)
        list(APPEND exposed ${dll})
    endif()
endforeach()
list(REMOVE_DUPLICATES exposed)

set(overrides)
foreach(dll ${exposed})
    string(REGEX REPLACE "\\.dll$" "" base "${dll}")
    string(APPEND overrides "${base}=n,b;")
endforeach()
string(REPLACE ";" "," names "${exposed}")
message(STATUS "planted: ${names}")
set(ENV{ZELVO_EXPOSED_DLLS} "${names}")
set(ENV{WINEDLLOVERRIDES} "${overrides}mscoree,mshtml=")
execute_process(COMMAND ${EMULATOR} ${TEST} --gtest_color=no RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "test_planted ended with exit code ${rc}")
endif()
