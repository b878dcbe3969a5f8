# Writes the tavero(1) man page from the program's own help: help2man turns
# `tavero --help` and `--version` into the page, and each command's
# `tavero COMMAND --help` becomes a subsection of COMMANDS, so the page never
# says anything the program does not.
#   cmake -DTAVERO=path/to/tavero -DHELP2MAN=path/to/help2man -DCOMMANDS="create;run"
#         -DOUTPUT=tavero.1 -P ManPage.cmake

# Sanitizer builds: the help's exit is not the place to report leaks.
set(ENV{ASAN_OPTIONS} "detect_leaks=0")

# Help text as roff: backslashes escaped, lines that would read as requests
# (a leading "." or "'") guarded, and no filling, so the columns stay.
function(roff_preformatted text result)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${result} ".nf\n${text}.fi\n" PARENT_SCOPE)
endfunction()

set(include_text "[COMMANDS]\n")
foreach(command IN LISTS COMMANDS)
  execute_process(COMMAND "${TAVERO}" ${command} --help
                  OUTPUT_VARIABLE help RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "`tavero ${command} --help` exited with ${status}")
  endif()
  roff_preformatted("${help}" help)
  string(APPEND include_text ".SS \"tavero ${command}\"\n${help}")
endforeach()
string(APPEND include_text "[FILES]\n"
       ".TP\n.I share/tavero/client/\n"
       "Under the prefix Tavero is installed in: the page client's scripts and their TypeScript\n"
       "declarations (tavero.d.ts), for editors and bundlers. tavero itself has them compiled in.\n")

set(include_file "${OUTPUT}.h2m")
file(WRITE "${include_file}" "${include_text}")
execute_process(COMMAND "${HELP2MAN}" --no-info --no-discard-stderr
                        --name "native shell for HTML5 web applications"
                        --include "${include_file}" --output "${OUTPUT}" "${TAVERO}"
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "help2man could not write ${OUTPUT}")
endif()
