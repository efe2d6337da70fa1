# SPDX-License-Identifier: MIT
# The catalogue test: collects the code's messages afresh, and fails when
# po/keyboard-picture.pot does not hold exactly them, when ja.po leaves one
# untranslated, or when a translation's places (%1$s...) do not match.
string(REPLACE "|" ";" xgettext_command "${XGETTEXT_COMMAND}")
string(REPLACE "|" ";" sources "${SOURCES}")
set(fresh ${WORK}/fresh.pot)
execute_process(COMMAND ${xgettext_command} -o ${fresh} ${sources} COMMAND_ERROR_IS_FATAL ANY)
foreach(check
    "${MSGCMP};--use-untranslated;po/keyboard-picture.pot;${fresh}"
    "${MSGCMP};--use-untranslated;${fresh};po/keyboard-picture.pot"
    "${MSGCMP};po/ja.po;${fresh}"
    "${MSGFMT};--check;--statistics;-o;${WORK}/check.mo;po/ja.po")
  execute_process(COMMAND ${check} RESULT_VARIABLE failed)
  if(failed)
    string(REPLACE ";" " " words "${check}")
    message(FATAL_ERROR "catalogue check failed: ${words}")
  endif()
endforeach()
