# Writes the bash completion of tanvork-cli from its --help (cmake -P).
#   -DCLI=<tanvork-cli> -DTEMPLATE=<tanvork-cli.bash.in> -DOUTPUT=<file>
execute_process(COMMAND "${CLI}" --help OUTPUT_VARIABLE help RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${CLI} --help failed (${rc})")
endif()
# Descriptions may hold ";", CMake's list separator; they are not needed here.
string(REPLACE ";" "," help "${help}")
string(REPLACE "\n" ";" lines "${help}")

set(options "")
set(file_options "")
set(other_value_options "")
set(word_cases "")
foreach(line IN LISTS lines)
  # "  -o, --output FILE   text", "      --sort name|group   text" or "  -q   text";
  # deeper indented lines continue a description.
  set(names "")
  set(arg "")
  if(line MATCHES "^  (-[A-Za-z0-9])(, (--[A-Za-z0-9][-A-Za-z0-9]*))?( ([^ ]+))?")
    set(names ${CMAKE_MATCH_1} ${CMAKE_MATCH_3})
    set(arg "${CMAKE_MATCH_5}")
  elseif(line MATCHES "^      (--[A-Za-z0-9][-A-Za-z0-9]*)( ([^ ]+))?")
    set(names ${CMAKE_MATCH_1})
    set(arg "${CMAKE_MATCH_3}")
  else()
    continue()
  endif()
  list(APPEND options ${names})
  if(arg STREQUAL "")
    continue()
  elseif(arg MATCHES "(FILE|DIR)$")
    list(APPEND file_options ${names})
  elseif(arg MATCHES "^[a-z0-9]+(\\|[a-z0-9]+)+$")
    list(APPEND other_value_options ${names})
    string(REPLACE "|" " " words "${arg}")
    string(JOIN "|" pattern ${names})
    string(APPEND word_cases
      "            ${pattern})\n"
      "                mapfile -t COMPREPLY < <(compgen -W \"${words}\" -- \"$value\")\n"
      "                return 0 ;;\n")
  else()
    list(APPEND other_value_options ${names})
  endif()
endforeach()
if(NOT options MATCHES "--help")
  message(FATAL_ERROR "no options found in the help of ${CLI}")
endif()

string(JOIN " " OPTIONS ${options})
string(JOIN " " FILE_OPTIONS ${file_options})
string(JOIN " " OTHER_VALUE_OPTIONS ${other_value_options})
string(REGEX REPLACE "\n$" "" WORD_CASES "${word_cases}")
configure_file("${TEMPLATE}" "${OUTPUT}" @ONLY)
