# Fails unless FILE needs nothing at run time but the C library and
# libvendor.so. Whatever pulls libstdc++'s exception runtime into a
# -fno-exceptions program (one std::string or operator new is enough) also
# adds the dynamic loader to NEEDED (for __tls_get_addr), so this catches it
# on every target, along with a shared libstdc++ or libgcc_s.
#
#   cmake -DFILE=bin/nimbractl -DREADELF=readelf -P cmake/check_needed.cmake

execute_process(COMMAND ${READELF} -d ${FILE} OUTPUT_VARIABLE dynamic RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${READELF} -d ${FILE} failed")
endif()
string(REGEX MATCHALL "\\(NEEDED\\)[^[]*\\[[^]]*\\]" entries "${dynamic}")
set(unexpected)
foreach(entry IN LISTS entries)
  string(REGEX REPLACE ".*\\[(.*)\\]" "\\1" library "${entry}")
  if(NOT library MATCHES "^(libc\\.so(\\.[0-9]+)?|libvendor\\.so)$")
    list(APPEND unexpected ${library})
  endif()
endforeach()
if(unexpected)
  message(FATAL_ERROR "${FILE} needs ${unexpected} besides the C library and libvendor.so")
endif()
