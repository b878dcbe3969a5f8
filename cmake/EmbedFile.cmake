# Turns text files into a C++ header holding them as one string constant;
# with several files, a line holding only SEPARATOR stands between two of
# them:
#   cmake -DNAME=kName -DSOURCES="a.js;b.js" [-DSEPARATOR=text] -DHEADER=out.h -P EmbedFile.cmake
set(content "")
foreach(source IN LISTS SOURCES)
  file(READ "${source}" part)
  if(NOT content STREQUAL "" AND DEFINED SEPARATOR)
    string(APPEND content "${SEPARATOR}\n")
  endif()
  string(APPEND content "${part}")
endforeach()
# A raw string literal holds at most 64 KiB on some compilers: cut it into
# adjacent literals, which the compiler joins.
string(LENGTH "${content}" length)
set(pieces "")
set(offset 0)
while(offset LESS length)
  string(SUBSTRING "${content}" ${offset} 16000 piece)
  string(APPEND pieces "R\"TAVERO_EMBED(${piece})TAVERO_EMBED\"\n")
  math(EXPR offset "${offset} + 16000")
endwhile()
if(pieces STREQUAL "")
  set(pieces "\"\"")
endif()
file(WRITE "${HEADER}" "// Generated from ${SOURCES}; edit those files instead.\n#pragma once\n\ninline constexpr char ${NAME}[] =\n${pieces};\n")
