# cmake -DINPUT=<file> -DOUTPUT=<file.inc> -DNAME=<identifier> -P EmbedText.cmake
# Writes the file's bytes as a C++ array, so a program carries an exact copy
# of a file that also ships beside it.
file(READ "${INPUT}" _hex HEX)
string(LENGTH "${_hex}" _length)
if(_length EQUAL 0)
  message(FATAL_ERROR "EmbedText: ${INPUT} is empty")
endif()
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," _bytes "${_hex}")
# 16 bytes a line keeps the generated file readable for compilers and diffs.
string(REPEAT "0x[0-9a-f][0-9a-f]," 16 _line)
string(REGEX REPLACE "(${_line})" "\\1\n" _bytes "${_bytes}")
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${INPUT}; do not edit.\n"
  "const unsigned char ${NAME}[] = {\n${_bytes}\n};\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
