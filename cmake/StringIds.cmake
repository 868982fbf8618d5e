# cmake -DINPUT=<ENG.tsv> -DOUTPUT=<StringIds.h> [-DSTAMP=<file>] -P StringIds.cmake
#
# Writes a header naming every string id of the English table:
#   enum : int { TEXT_ABOUT_MENU = 101, ... };
# Each string line of the table is id<TAB>name<TAB>text; caption lines
# (<template>/<key><TAB>text), comment lines ('#') and empty lines carry no name.
# A malformed line, a repeated id or a repeated name stops with the line numbers.
# The header is rewritten only when its content changes, so that editing a text
# rebuilds nothing that includes it; STAMP is touched on every run instead.
if(NOT INPUT OR NOT OUTPUT)
  message(FATAL_ERROR "StringIds.cmake: pass -DINPUT=<table> and -DOUTPUT=<header>")
endif()
if(NOT EXISTS "${INPUT}")
  message(FATAL_ERROR "${INPUT}: no such file")
endif()

file(READ "${INPUT}" content)
# Only the id and the name are needed: keep the texts from meaning anything to
# CMake's list syntax, then split into lines (empty ones included, for the numbers).
string(REPLACE ";" "," content "${content}")
string(REPLACE "[" "(" content "${content}")
string(REPLACE "]" ")" content "${content}")
string(REPLACE "\\" "/" content "${content}")
string(REPLACE "\n" ";" lines "${content}")

set(body "")
set(errors "")
set(number 0)
foreach(line IN LISTS lines)
  math(EXPR number "${number} + 1")
  string(REGEX REPLACE "\r$" "" line "${line}")
  if(line STREQUAL "" OR line MATCHES "^#")
    continue()
  endif()
  if(line MATCHES "^[^\t]*/[^\t]*\t")
    continue()  # a caption
  endif()
  if(NOT line MATCHES "^([0-9]+)\t([^\t]*)\t")
    string(APPEND errors "${INPUT}:${number}: expected id<TAB>name<TAB>text\n")
    continue()
  endif()
  set(id "${CMAKE_MATCH_1}")
  set(name "${CMAKE_MATCH_2}")
  if(NOT name MATCHES "^TEXT_[A-Z0-9_]*[A-Z0-9]$")
    string(APPEND errors "${INPUT}:${number}: the name \"${name}\" is not TEXT_ followed by upper-case letters, digits and underscores\n")
    continue()
  endif()
  if(DEFINED line_of_name_${name})
    string(APPEND errors "${INPUT}:${number}: the name ${name} is already given on line ${line_of_name_${name}}\n")
    continue()
  endif()
  # Leading zeros would name the same id twice.
  math(EXPR id "${id}")
  if(DEFINED line_of_id_${id})
    string(APPEND errors "${INPUT}:${number}: the id ${id} is already given on line ${line_of_id_${id}}\n")
    continue()
  endif()
  set(line_of_name_${name} ${number})
  set(line_of_id_${id} ${number})
  string(APPEND body "    ${name} = ${id},\n")
endforeach()

if(errors)
  message(FATAL_ERROR "String ids: the table has errors:\n${errors}")
endif()
if(body STREQUAL "")
  message(FATAL_ERROR "${INPUT}: no string ids")
endif()

set(header "// Generated from resources/strings/ENG.tsv by cmake/StringIds.cmake; edit the table instead.
#pragma once

// The string table's ids by name, for LoadStringText, FormatStringText and the
// places that carry an id to where it is shown.
enum : int {
${body}};
")
set(current "")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" current)
endif()
if(NOT current STREQUAL header)
  file(WRITE "${OUTPUT}" "${header}")
endif()
if(STAMP)
  file(TOUCH "${STAMP}")
endif()
