# SPDX-License-Identifier: MIT
# Writes a C++ source that holds a .po file's translations, for the systems
# that have no gettext: the same words as the .mo catalogue, from the same
# file. Fuzzy and untranslated messages are left out, as msgfmt leaves them.
#
#   cmake -DPO=po/ja.po -DOUTPUT=JapaneseWords.cpp -P cmake/PoToCpp.cmake
#
# A .po file's strings are C string literals already, so they are copied as
# they stand. CMake's lists split at ";", so each one is kept as "\x01"
# while the file is read line by line.
file(READ "${PO}" po)
string(ASCII 1 semicolon)
string(REPLACE ";" "${semicolon}" po "${po}")
string(REPLACE "\n" ";" lines "${po};")

set(entries "")
set(field "")
set(msgid "")
set(msgstr "")
set(fuzzy FALSE)
macro(finish_entry)
  if(NOT msgid STREQUAL "" AND NOT msgstr STREQUAL "" AND NOT fuzzy)
    string(APPEND entries "    {\"${msgid}\",\n     \"${msgstr}\"},\n")
  endif()
  set(field "")
  set(msgid "")
  set(msgstr "")
  set(fuzzy FALSE)
endmacro()
foreach(line IN LISTS lines)
  if(line MATCHES "^#,.*fuzzy")
    set(fuzzy TRUE)
  elseif(line MATCHES "^msgid \"(.*)\"$")
    if(NOT field STREQUAL "")
      finish_entry()
    endif()
    set(field msgid)
    set(msgid "${CMAKE_MATCH_1}")
  elseif(line MATCHES "^msgstr \"(.*)\"$")
    set(field msgstr)
    set(msgstr "${CMAKE_MATCH_1}")
  elseif(line MATCHES "^\"(.*)\"$" AND NOT field STREQUAL "")
    string(APPEND ${field} "${CMAKE_MATCH_1}")
  elseif(line STREQUAL "" AND NOT field STREQUAL "")
    finish_entry()
  endif()
endforeach()
string(REPLACE "${semicolon}" ";" entries "${entries}")

file(WRITE "${OUTPUT}.new" "// Made from ${PO} by cmake/PoToCpp.cmake; edit that file, not this one.
#include \"Words.h\"

#include <cstring>

namespace Words {

namespace {

struct Translation {
    const char* english;
    const char* japanese;
};

constexpr Translation Translations[] = {
${entries}};

} // namespace

const char* Japanese(const char* message)
{
    for (const Translation& translation : Translations) {
        if (std::strcmp(translation.english, message) == 0) {
            return translation.japanese;
        }
    }
    return message;
}

} // namespace Words
")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
