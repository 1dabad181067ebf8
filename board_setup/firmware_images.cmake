# Run by the Windows build: brings the firmware tree up to date (configuring it with the firmware
# preset the first time) and copies its images beside ventora-board's resources.
#   cmake -DSOURCE_DIR=... -DFIRMWARE_BUILD=... -DOUT_DIR=... -DIMAGES=a.hex;b.hex -P firmware_images.cmake
set(howTo "build it with: cmake --preset firmware && cmake --build --preset firmware (after bash scripts/setup.sh)")
if(NOT EXISTS ${FIRMWARE_BUILD}/CMakeCache.txt AND FIRMWARE_BUILD STREQUAL "${SOURCE_DIR}/build/firmware")
    execute_process(COMMAND ${CMAKE_COMMAND} --preset firmware WORKING_DIRECTORY ${SOURCE_DIR}
                    OUTPUT_QUIET RESULT_VARIABLE configured)
endif()
if(EXISTS ${FIRMWARE_BUILD}/CMakeCache.txt)
    execute_process(COMMAND ${CMAKE_COMMAND} --build ${FIRMWARE_BUILD} RESULT_VARIABLE built)
    if(NOT built EQUAL 0)
        message(FATAL_ERROR "ventora-board.exe carries the firmware, and the firmware in ${FIRMWARE_BUILD} "
                            "failed to build; ${howTo}")
    endif()
endif()
foreach(name ${IMAGES})
    if(NOT EXISTS ${FIRMWARE_BUILD}/${name})
        message(FATAL_ERROR "ventora-board.exe carries the firmware, and ${FIRMWARE_BUILD}/${name} is missing; "
                            "${howTo}")
    endif()
    file(COPY_FILE ${FIRMWARE_BUILD}/${name} ${OUT_DIR}/${name} ONLY_IF_DIFFERENT)
endforeach()
