# Run by CPack on its staging tree before it builds the .deb: strips the program of the
# .comment and .note sections too, as Debian's own packaging does (CPACK_STRIP_FILES
# strips only the symbols).
file(GLOB_RECURSE programs "${CPACK_TEMPORARY_DIRECTORY}/*/bin/*")
foreach(program IN LISTS programs)
    execute_process(COMMAND ${CPACK_VORLUND_STRIP} --remove-section=.comment --remove-section=.note ${program}
        RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${CPACK_VORLUND_STRIP} failed on ${program}")
    endif()
endforeach()
