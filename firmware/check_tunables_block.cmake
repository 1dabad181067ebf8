# Fails the firmware's build when its tunables block does not lie wholly within the first
# searchWindow bytes of flash, where a tool reading a board back looks for it. The ELF is removed,
# so the next build links (and checks) again.
#   cmake -DNM=avr-nm -DELF=ventora-fan.elf -DLAYOUT=tunables_block.h -P check_tunables_block.cmake
file(READ ${LAYOUT} layout)
string(REGEX MATCH "searchWindow = ([0-9]+)" found "${layout}")
if(NOT found)
    message(FATAL_ERROR "${LAYOUT} names no searchWindow")
endif()
set(window ${CMAKE_MATCH_1})

execute_process(COMMAND ${NM} -C -S --defined-only ${ELF} OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCH "([0-9a-f]+) ([0-9a-f]+) [a-zA-Z] [^\n]*tunablesBlockInFlash" found "${symbols}")
if(NOT found)
    file(REMOVE ${ELF})
    message(FATAL_ERROR "${ELF} holds no tunables block")
endif()
math(EXPR blockEnd "0x${CMAKE_MATCH_1} + 0x${CMAKE_MATCH_2}")
math(EXPR blockStart "0x${CMAKE_MATCH_1}")
if(blockEnd GREATER window)
    file(REMOVE ${ELF})
    message(FATAL_ERROR "the tunables block of ${ELF} lies at ${blockStart} to ${blockEnd}, past the first ${window} bytes of flash")
endif()
message(STATUS "the tunables block lies at ${blockStart} to ${blockEnd}")
