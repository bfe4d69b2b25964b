# Writes vorlund-kit's manual page, gzipped: help2man over the program's --help, with a
# COMMANDS section made of each subcommand's --help (help2man again, its sections made
# paragraphs). cmake -DKIT=... -DHELP2MAN=... -DLICENSE=... -DOUT=....gz -P KitManual.cmake
function(run_checked out)
    execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE text RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${ARGN}: status ${status}")
    endif()
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The subcommands, as the program lists them after "Subcommands:".
run_checked(help ${KIT} --help)
string(FIND "${help}" "\nSubcommands:\n" at)
if(at LESS 0)
    message(FATAL_ERROR "${KIT} --help lists no subcommands")
endif()
string(SUBSTRING "${help}" ${at} -1 listing)
string(REGEX REPLACE "^\nSubcommands:" "" listing "${listing}")
string(REGEX REPLACE "\n\n.*" "" listing "${listing}")
string(REGEX MATCHALL "\n  [a-z][a-z0-9-]*" names "${listing}")

set(page "[COMMANDS]\n")
foreach(name IN LISTS names)
    string(STRIP "${name}" name)
    run_checked(sub ${HELP2MAN} --no-info --name=${name} "--help-option=${name} --help" ${KIT})
    string(FIND "${sub}" ".SH SYNOPSIS\n" at)
    string(SUBSTRING "${sub}" ${at} -1 sub)
    string(REPLACE ".SH SYNOPSIS\n" ".SS \"vorlund-kit ${name}\"\n" sub "${sub}")
    string(REPLACE ".SH DESCRIPTION\n" ".PP\n" sub "${sub}")
    string(REPLACE ".SH OPTIONS\n" ".SS \"Options:\"\n" sub "${sub}")
    string(REGEX REPLACE "\n\\.SH ([A-Z ]+)\n" "\n.PP\n\\\\fB\\1\\\\fR\n" sub "${sub}")
    string(REGEX REPLACE "\n\\.SS \"([^\"]+)\"\n" "\n.PP\n\\\\fB\\1\\\\fR\n" sub "${sub}")
    string(APPEND page "${sub}")
endforeach()

file(STRINGS ${LICENSE} copyright REGEX "^Copyright ")
get_filename_component(dir ${OUT} DIRECTORY)
file(WRITE ${dir}/vorlund-kit.h2m "${page}
[EXIT STATUS]
0 clean, 1 warned, 2 a usage error or input that cannot be read; each command above says more.
[COPYRIGHT]
${copyright}
[SEE ALSO]
README.md.gz and MAIN_PACKAGE.md.gz in the package's documentation directory
(/usr/share/doc/vorlund-kit/ when installed from the .deb).
")
string(REGEX REPLACE "\\.gz$" "" manual ${OUT})
run_checked(main ${HELP2MAN} --no-info
    "--name=pack, inspect and rehearse the main package of a Vorlund bundle"
    --include=${dir}/vorlund-kit.h2m ${KIT})
file(WRITE ${manual} "${main}")
run_checked(ignored gzip -9nf ${manual})
