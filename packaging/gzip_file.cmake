# cmake -DIN=file -DOUT=file.gz -P gzip_file.cmake
# Debian wants manual pages and changelogs compressed at the highest level
# and without a time stamp or name in the header, so that two builds of the
# same text give the same bytes.
execute_process(COMMAND gzip -n -9 -c "${IN}" OUTPUT_FILE "${OUT}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(REMOVE "${OUT}")
  message(FATAL_ERROR "gzip ${IN} failed: ${result}")
endif()
