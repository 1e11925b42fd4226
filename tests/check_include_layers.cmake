# Run by CTest as a script (cmake -DSOURCE_DIR=<repository> -P check_include_layers.cmake): fails
# when a source folder includes a folder above it. The folders from the bottom up; a folder not
# made yet is skipped. tests/, bench/ and fuzz/ may include any of them.
cmake_minimum_required(VERSION 3.25)
if(NOT SOURCE_DIR)
    message(FATAL_ERROR "usage: cmake -DSOURCE_DIR=<repository> -P check_include_layers.cmake")
endif()

set(layers base model calendar storage sync reminders document widgets view dialogs report shell)
set(faults "")
foreach(folder IN LISTS layers)
    if(NOT IS_DIRECTORY "${SOURCE_DIR}/${folder}")
        continue()
    endif()
    list(FIND layers ${folder} level)
    file(GLOB_RECURSE sources LIST_DIRECTORIES false RELATIVE "${SOURCE_DIR}"
         "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.cpp")
    foreach(source IN LISTS sources)
        file(STRINGS "${SOURCE_DIR}/${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<][a-z]+/")
        foreach(line IN LISTS includes)
            string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[\"<]([a-z]+)/.*$" "\\1" included "${line}")
            list(FIND layers ${included} includedLevel)
            if(includedLevel GREATER level)
                string(STRIP "${line}" line)
                string(APPEND faults "\n  ${source}: ${line} (${included}/ is above ${folder}/)")
            endif()
        endforeach()
    endforeach()
endforeach()

if(faults)
    message(FATAL_ERROR "A folder includes a folder above it:${faults}")
endif()
message(STATUS "Every folder includes only folders below it.")
