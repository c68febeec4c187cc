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
configure_file(${PROJECT_SOURCE_DIR}/cmake/build_config_product.cpp.in ${PROJECT_BINARY_DIR}/generated/build_config_product.cpp @ONLY)
add_library(kx_build_config_product OBJECT ${PROJECT_BINARY_DIR}/generated/build_config_product.cpp)
target_include_directories(kx_build_config_product PUBLIC ${PROJECT_SOURCE_DIR})
