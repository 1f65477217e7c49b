# cmake -DIN=README.md -DOUT=target -P UserGuideText.cmake
# The README's user part (between its "user guide" marks) as plain text for
# Notepad: no code fences, code marks or emphasis; headings underlined.
file(READ "${IN}" text)
string(FIND "${text}" "<!-- user guide" begin)
string(FIND "${text}" "<!-- /user guide -->" end)
if(begin EQUAL -1 OR end EQUAL -1 OR end LESS begin)
  message(FATAL_ERROR "${IN}: no user guide between its marks")
endif()
string(SUBSTRING "${text}" ${begin} -1 text)
string(FIND "${text}" "-->" open)
string(FIND "${text}" "<!-- /user guide -->" end)
math(EXPR open "${open} + 3")
math(EXPR length "${end} - ${open}")
string(SUBSTRING "${text}" ${open} ${length} text)

string(REGEX REPLACE "\n *```[a-z]*" "" text "${text}")
string(REGEX REPLACE "\\*\\*([^*\n]+)\\*\\*" "\\1" text "${text}")
string(REPLACE "`" "" text "${text}")
string(REGEX REPLACE "\n### ([^\n]+)" "\n\\1\n----------" text "${text}")
string(REGEX REPLACE "\n## ([^\n]+)" "\n\\1\n==========" text "${text}")
string(STRIP "${text}" text)
file(WRITE "${OUT}" "${text}\n")
