# Fails when the program's own object code does x87 arithmetic.
#
#   cmake -DOBJDUMP=... -DFILES=a.a,b.obj -P check_no_x87.cmake
#
# The x87 unit computes in 80-bit registers and rounds to a double only when
# a value is stored, so the same expression can give two results depending on
# where the compiler keeps it; the program's clock readings must come out the
# same in every build. Loads and stores (fld, fst, fild, fistp...) stay
# allowed: the 32-bit calling convention returns a double in st(0), and
# loading a double or an integer into st(0) and storing it back is exact.
cmake_minimum_required(VERSION 3.20)
set(arithmetic
    "f(add|sub|subr|mul|div|divr)p?[sl]?"
    "fi(add|sub|subr|mul|div|divr|com|comp)[sl]?"
    "f(u?com|u?comp|u?compp|u?comi|u?comip)[sl]?"
    "f(sqrt|prem|prem1|rndint|scale|xtract|tst|xam|chs|abs|2xm1|yl2x|yl2xp1|ptan|patan|sin|cos|sincos)")
list(JOIN arithmetic "|" pattern)
set(pattern "^(${pattern})$")

string(REPLACE "," ";" files "${FILES}")
set(found)
set(instructions 0)
foreach(file ${files})
    execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${file}
                    OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "objdump failed on ${file}")
    endif()
    string(REPLACE ";" "," listing "${listing}")
    string(REPLACE "\n" ";" lines "${listing}")
    set(function "?")
    foreach(line IN LISTS lines)
        if(line MATCHES "^[0-9a-f]+ <(.*)>:$")
            set(function "${CMAKE_MATCH_1}")
        elseif(line MATCHES "^ *[0-9a-f]+:\t([a-z0-9]+)")
            math(EXPR instructions "${instructions} + 1")
            if(CMAKE_MATCH_1 MATCHES "${pattern}")
                list(APPEND found "${CMAKE_MATCH_1} in ${function}")
            endif()
        endif()
    endforeach()
endforeach()
# An objdump that lists nothing would pass everything.
if(instructions EQUAL 0)
    message(FATAL_ERROR "no instructions found in ${FILES}")
endif()
message(STATUS "${instructions} instructions looked at")
if(found)
    list(REMOVE_DUPLICATES found)
    list(JOIN found "\n  " report)
    message(FATAL_ERROR "x87 arithmetic in the program's own code:\n  ${report}")
endif()
