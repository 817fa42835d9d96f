# Renders one manual page at build time: puts the project's version into the scdoc source, runs
# scdoc on it and gzips the result the way Debian ships pages (-9, no name or time stamp, so the
# same source gives the same bytes).
#   cmake -DSOURCE=x.1.scd -DOUTPUT=x.1.gz -DVERSION=1.0.2 -DSCDOC=scdoc -DGZIP=gzip -P render_page.cmake
cmake_minimum_required(VERSION 3.25)
foreach(variable SOURCE OUTPUT VERSION SCDOC GZIP)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "render_page.cmake: ${variable} is not set")
  endif()
endforeach()

string(REGEX REPLACE "\\.gz$" "" roff "${OUTPUT}")
set(versioned "${roff}.scd")

file(READ "${SOURCE}" text)
string(REPLACE "@VERSION@" "${VERSION}" text "${text}")
file(WRITE "${versioned}" "${text}")

execute_process(COMMAND "${SCDOC}" INPUT_FILE "${versioned}" OUTPUT_FILE "${roff}"
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "scdoc failed on ${SOURCE}")
endif()
execute_process(COMMAND "${GZIP}" -9nf "${roff}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip failed on ${roff}")
endif()
