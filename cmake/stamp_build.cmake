# Run by the build (cmake -P), not by configuration, whenever the product's inputs changed:
# takes the build timestamp and writes the constants translation unit and the version
# resource from it. A file whose text is unchanged is left alone, so a pinned timestamp
# rebuilds nothing.
#   -DPINNED=YYYYMMDDHHMMSS or empty, -DCONTENT_ORIGIN=..., -DSPOTLIGHT_ORIGIN=..., -DCONSTANTS_IN=... -DCONSTANTS_OUT=...
#   -DSIGNING_KEY=0x..,0x..,  -DSIGNING_KEY_HEX=...
#   [-DRC_IN=... -DRC_OUT=... -DICON_PATH=... -DMANIFEST_PATH=...]
function(take_timestamp out)
  # string(TIMESTAMP) honours SOURCE_DATE_EPOCH from the build's environment.
  string(TIMESTAMP now "%Y%m%d%H%M%S" UTC)
  set(${out} ${now} PARENT_SCOPE)
endfunction()

if(PINNED)
  set(stamp ${PINNED})
else()
  take_timestamp(stamp)
  # A build within the same second as the last one must still get a newer version.
  if(NOT DEFINED ENV{SOURCE_DATE_EPOCH} AND EXISTS ${CONSTANTS_OUT})
    file(STRINGS ${CONSTANTS_OUT} previous REGEX "kBuildTimestamp = \"[0-9]+\"")
    string(REGEX MATCH "[0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9]" previous "${previous}")
    if(previous AND NOT stamp STRGREATER previous)
      execute_process(COMMAND ${CMAKE_COMMAND} -E sleep 1)
      take_timestamp(stamp)
    endif()
  endif()
endif()
if(NOT stamp MATCHES "^[0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9]$")
  message(FATAL_ERROR "build timestamp must be YYYYMMDDHHMMSS")
endif()

set(VELTRANE_CONST_TIMESTAMP ${stamp})
set(VELTRANE_CONST_CONTENT_ORIGIN ${CONTENT_ORIGIN})
set(VELTRANE_CONST_SPOTLIGHT_ORIGIN ${SPOTLIGHT_ORIGIN})
set(VELTRANE_CONST_SIGNING_KEY "${SIGNING_KEY}")
set(VELTRANE_CONST_SIGNING_KEY_HEX ${SIGNING_KEY_HEX})
configure_file(${CONSTANTS_IN} ${CONSTANTS_OUT} @ONLY)

if(RC_IN)
  # FILEVERSION year, month*100+day, hour*100+minute, 0; the text form is the version text.
  string(SUBSTRING ${stamp} 0 4 year)
  string(SUBSTRING ${stamp} 4 4 mmdd)
  string(SUBSTRING ${stamp} 8 4 hhmm)
  string(SUBSTRING ${stamp} 0 8 date)
  string(SUBSTRING ${stamp} 8 6 time)
  math(EXPR year "${year}")
  math(EXPR mmdd "${mmdd}")
  math(EXPR hhmm "${hhmm}")
  math(EXPR date "${date}")
  math(EXPR time "${time}")
  set(RC_VERSION_COMMAS "${year},${mmdd},${hhmm},0")
  set(RC_VERSION_TEXT "${date}.${time}.0")
  configure_file(${RC_IN} ${RC_OUT} @ONLY)
endif()
