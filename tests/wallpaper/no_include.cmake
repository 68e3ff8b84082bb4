# Fails when a source under FOLDER includes a header of the module FORBIDDEN
# (cmake -DFOLDER=... -DFORBIDDEN=sync -P no_include.cmake).
file(GLOB_RECURSE sources ${FOLDER}/*.h ${FOLDER}/*.cpp)
set(found "")
foreach(source ${sources})
  file(STRINGS ${source} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]${FORBIDDEN}/")
  if(lines)
    list(APPEND found "${source}: ${lines}")
  endif()
endforeach()
if(found)
  list(JOIN found "\n" text)
  message(FATAL_ERROR "${FOLDER} must not include ${FORBIDDEN}/ headers:\n${text}")
endif()
