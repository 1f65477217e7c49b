# cmake -DIN=source -DOUT=target -P WindowsText.cmake
# Copies a UTF-8 text with CR LF line ends and a UTF-8 byte-order mark, the
# form every Windows Notepad reads as UTF-8 and shows line by line.
file(READ "${IN}" text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
string(ASCII 239 187 191 bom)
file(WRITE "${OUT}" "${bom}${text}")
