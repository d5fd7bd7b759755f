# Fails when FILE, a PE image, lacks a protection Windows expects of a native
# program, and names each one it lacks.
#
#   cmake -DOBJDUMP=... -DFILE=... -DARCH=i686|x86_64 -DWHAT=... -P check_protections.cmake
#
# Header flags: ASLR (with its relocations; 64-bit: the high-entropy kind),
# DEP, no compatibility redirections on a Remote Desktop host, and on 32-bit
# no SEH handlers at all. Subsystem and OS version 6.1. No section both
# writable and executable. Stack cookies, read from the code since the
# program is stripped. On 32-bit, no code that installs an exception-handler
# frame: with NO_SEH set, Windows would kill the process at its first
# exception through such a frame, and the linker does not look.
cmake_minimum_required(VERSION 3.20)
set(missing)

# What objdump shows of FILE with the given options.
function(objdump_of var)
    execute_process(COMMAND ${OBJDUMP} ${ARGN} ${FILE} OUTPUT_VARIABLE shown RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "objdump ${ARGN} failed on ${FILE}")
    endif()
    set(${var} "${shown}" PARENT_SCOPE)
endfunction()

objdump_of(header -p)

# objdump lists the DllCharacteristics flags that are set below the value, one a line.
if(NOT header MATCHES "\nDllCharacteristics[ \t]+[0-9a-f]+\n((\t+[A-Z_]+\n)*)")
    message(FATAL_ERROR "objdump shows no DllCharacteristics for ${FILE}")
endif()
string(REGEX MATCHALL "[A-Z_]+" flags "${CMAKE_MATCH_1}")
set(wanted DYNAMIC_BASE NX_COMPAT TERMINAL_SERVICE_AWARE)
if(ARCH STREQUAL "i686")
    list(APPEND wanted NO_SEH)
else()
    list(APPEND wanted HIGH_ENTROPY_VA)
endif()
foreach(flag ${wanted})
    if(NOT flag IN_LIST flags)
        list(APPEND missing "DllCharacteristics lacks ${flag}")
    endif()
endforeach()

# objdump spells the OS version's fields "OSystem".
foreach(kind OS Subsystem)
    string(REPLACE "OS" "OSystem" field ${kind})
    if(NOT header MATCHES "\nMajor${field}Version[ \t]+([0-9]+)\nMinor${field}Version[ \t]+([0-9]+)\n")
        message(FATAL_ERROR "objdump shows no ${kind} version for ${FILE}")
    endif()
    if(NOT "${CMAKE_MATCH_1}.${CMAKE_MATCH_2}" STREQUAL "6.1")
        list(APPEND missing "${kind} version is ${CMAKE_MATCH_1}.${CMAKE_MATCH_2}, not 6.1")
    endif()
endforeach()

# Without its relocations the loader cannot move the image, whatever DYNAMIC_BASE says.
if(NOT header MATCHES "Entry 5 [0-9a-f]+ ([0-9a-f]+) Base Relocation Directory")
    message(FATAL_ERROR "objdump shows no base relocation entry for ${FILE}")
endif()
if(CMAKE_MATCH_1 MATCHES "^0+$" OR header MATCHES "\n\trelocations stripped\n")
    list(APPEND missing "no base relocations")
endif()

# objdump -h marks a section CODE when it is executable and READONLY unless it is writable.
objdump_of(sections -h)
string(REGEX MATCHALL "\n +[0-9]+ [^ \n]+ [^\n]*\n +[A-Z, ]+" entries "${sections}")
if(NOT entries)
    message(FATAL_ERROR "objdump shows no sections for ${FILE}")
endif()
foreach(entry ${entries})
    string(REGEX MATCH "^\n +[0-9]+ ([^ \n]+) [^\n]*\n +([A-Z, ]+)" entry "${entry}")
    set(name "${CMAKE_MATCH_1}")
    string(REPLACE ", " ";" attributes "${CMAKE_MATCH_2}")
    if("CODE" IN_LIST attributes AND NOT "READONLY" IN_LIST attributes)
        list(APPEND missing "section ${name} is both writable and executable")
    endif()
endforeach()

objdump_of(listing -d --no-show-raw-insn)
if(NOT listing MATCHES "\n *[0-9a-f]+:\t[a-z]")
    message(FATAL_ERROR "no instructions found in ${FILE}")
endif()

# A protected function copies the guard word into its frame and, before it
# returns, subtracts the guard from the copy and calls the runtime's failure
# routine when something is left: 32-bit code reads the guard at its
# address, 64-bit code through a pointer in a register. Counted by failure
# routine, as the image has no symbols.
set(min_protected 10)
string(REGEX MATCHALL "\tsub +[^%$\n][^,\n]*,%[a-z0-9]+\n *[0-9a-f]+:\tjne +0x[0-9a-f]+" checks "${listing}")
set(routines)
foreach(check ${checks})
    string(REGEX MATCH "jne +0x([0-9a-f]+)$" target "${check}")
    string(FIND "${listing}" " ${CMAKE_MATCH_1}:\t" at)
    if(at EQUAL -1)
        continue()
    endif()
    string(SUBSTRING "${listing}" ${at} 64 there)
    if(there MATCHES "^ [0-9a-f]+:\tcall +0x([0-9a-f]+)")
        set(routine ${CMAKE_MATCH_1})
        if(NOT routine IN_LIST routines)
            list(APPEND routines ${routine})
            set(count_${routine} 0)
        endif()
        math(EXPR count_${routine} "${count_${routine}} + 1")
    endif()
endforeach()
set(protected 0)
foreach(routine ${routines})
    if(count_${routine} GREATER protected)
        set(protected ${count_${routine}})
        set(fail_routine ${routine})
    endif()
endforeach()
if(protected LESS min_protected)
    list(APPEND missing "no stack cookies (functions that check one: ${protected}, at least ${min_protected} wanted)")
else()
    message(STATUS "${protected} functions check a stack cookie and call 0x${fail_routine} when it is overwritten")
endif()
file(STRINGS ${FILE} ssp_text REGEX "stack smashing detected" LIMIT_COUNT 1)
if(NOT ssp_text)
    list(APPEND missing "no stack-protector runtime (libssp's \"stack smashing detected\" text)")
endif()

if(ARCH STREQUAL "i686")
    # %fs:0 holds the head of the thread's handler chain; 32-bit code that
    # installs a handler frame writes its own address there.
    string(REGEX MATCHALL " *[0-9a-f]+:\t(mov[bwl]? +[^\n]*,|xchg[bwl]? +[^\n]*,|pop[wl]? +)%fs:0x0\n"
           writes "${listing}")
    foreach(write ${writes})
        string(STRIP "${write}" write)
        string(REPLACE "\t" " " write "${write}")
        list(APPEND missing "code writes the head of the exception-handler chain: ${write}")
    endforeach()
endif()

if(missing)
    list(JOIN missing "\n  " report)
    message(FATAL_ERROR "${WHAT} lacks protections:\n  ${report}")
endif()
list(JOIN wanted ", " flags_text)
message(STATUS "${WHAT} has ${flags_text}, OS and subsystem version 6.1, base relocations, "
               "no writable code, stack cookies")
