# Writes the bytes of INPUT as a C array named NAME into OUTPUT.
#   cmake -DINPUT=file -DOUTPUT=header -DNAME=identifier -P embed.cmake
file(READ ${INPUT} hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n    "
       bytes "${bytes}")
file(WRITE ${OUTPUT} "// Made at build time from ${INPUT}: do not edit.\n#pragma once\n\n"
     "static const unsigned char ${NAME}[] = {\n    ${bytes}\n};\n")
