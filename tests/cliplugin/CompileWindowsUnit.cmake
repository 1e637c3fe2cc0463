# Compiles the Windows process identity with the cross compiler and links it with a probe.
file(MAKE_DIRECTORY ${OUT})
execute_process(
    COMMAND ${COMPILER} -std=c++17 -Wall -Wextra -Werror -c ${UNIT} -o ${OUT}/unit.o
    RESULT_VARIABLE compileResult)
if(NOT compileResult EQUAL 0)
    message(FATAL_ERROR "The Windows unit does not compile")
endif()
execute_process(
    COMMAND ${COMPILER} -std=c++17 -I${INCLUDE} ${PROBE} ${OUT}/unit.o -o ${OUT}/probe.exe
            -lole32 -lshell32 -luuid -lpropsys
    RESULT_VARIABLE linkResult)
if(NOT linkResult EQUAL 0)
    message(FATAL_ERROR "The Windows unit does not link")
endif()
