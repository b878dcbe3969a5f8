# Turns a text file into a C++ header holding it as one string constant:
#   cmake -DNAME=kName -DSOURCE=file.js -DHEADER=out.h -P EmbedFile.cmake
file(READ "${SOURCE}" content)
file(WRITE "${HEADER}" "// Generated from ${SOURCE}; edit that file instead.\n#pragma once\n\ninline constexpr char ${NAME}[] = R\"TAVERO_EMBED(${content})TAVERO_EMBED\";\n")
