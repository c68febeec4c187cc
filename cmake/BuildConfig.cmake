# Host names of the maker's services and other values fixed when the product is
# built. The product has no run-time configuration file; test executables link
# tests/support/test_build_config.cpp instead of the generated unit below.
set(_kx_host_roles
  U1 "update1.kestrix-update.invalid"
  U3 "update3.kestrix-update.invalid"
  U5 "update5.kestrix-update.invalid"
  N1 "na1.kestrix-update.invalid"
  N2 "na2.kestrix-update.invalid"
  N3 "na3.kestrix-update.invalid"
  C "content.kestrix-cdn.invalid"
  MP "map.kestrix-maps.invalid"
  MT "map-test.kestrix-maps.invalid"
  MM "map-match.kestrix-maps.invalid"
  ME "map-edu.kestrix-maps.invalid"
  MO "map-na.kestrix-maps.invalid"
  MOT "map-na-test.kestrix-maps.invalid"
  G "message.kestrix-msg.invalid"
  HTTPDNS "httpdns.kestrix-dns.invalid"
  HDSERVER "hdserver.kestrix-dns.invalid"
  DOWNLOAD "download.kestrix-dl.invalid"
  TELEMETRY "collect.kestrix-analytics.invalid")
set(KX_HOST_CASES "")
list(LENGTH _kx_host_roles _n)
math(EXPR _last "${_n} - 1")
foreach(i RANGE 0 ${_last} 2)
  math(EXPR j "${i} + 1")
  list(GET _kx_host_roles ${i} role)
  list(GET _kx_host_roles ${j} default)
  set(KX_HOST_${role} "${default}" CACHE STRING "Host name (optionally with :port) of host role ${role}")
  string(APPEND KX_HOST_CASES "    case HostRole::${role}: return \"${KX_HOST_${role}}\";\n")
endforeach()
set(KX_DOWNLOAD_REFERER "https://www.kestrix.invalid/" CACHE STRING "Referer sent with package downloads")
# The product trusts the system's CA store only. A build whose hosts are a local
# server with a certificate of its own (scripts/demo) names that CA here; it is
# trusted besides the system store, and certificates are still checked.
set(KX_EXTRA_CA_FILE "" CACHE FILEPATH "CA bundle trusted besides the system store; empty in the product")
# The telemetry's AES key is mixed at run time from this constant; the
# collection service's operator supplies it (32 hexadecimal digits).
set(KX_TELEMETRY_KEY_CONSTANT "6b78746c6d2d706c616365686f6c6472" CACHE STRING
    "16-byte constant from which the telemetry payload key is mixed (32 hex digits)")
if(NOT KX_TELEMETRY_KEY_CONSTANT MATCHES "^[0-9A-Fa-f]+$")
  message(FATAL_ERROR "KX_TELEMETRY_KEY_CONSTANT must be 32 hexadecimal digits")
endif()
string(LENGTH "${KX_TELEMETRY_KEY_CONSTANT}" _kx_key_length)
if(NOT _kx_key_length EQUAL 32)
  message(FATAL_ERROR "KX_TELEMETRY_KEY_CONSTANT must be 32 hexadecimal digits")
endif()
string(REGEX REPLACE "([0-9A-Fa-f][0-9A-Fa-f])" "0x\\1, " KX_TELEMETRY_KEY_BYTES "${KX_TELEMETRY_KEY_CONSTANT}")
# The executable's file version, as Windows keeps it in the version resource.
set(KX_FILE_VERSION "1.0.8.0" CACHE STRING "File version of the product executable (four numbers)")
if(NOT KX_FILE_VERSION MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+$")
  message(FATAL_ERROR "KX_FILE_VERSION must be four numbers separated by dots")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/build_config_product.cpp.in ${PROJECT_BINARY_DIR}/generated/build_config_product.cpp @ONLY)
add_library(kx_build_config_product OBJECT ${PROJECT_BINARY_DIR}/generated/build_config_product.cpp)
target_include_directories(kx_build_config_product PUBLIC ${PROJECT_SOURCE_DIR})
