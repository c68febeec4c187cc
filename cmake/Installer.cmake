include_guard(GLOBAL)
include(${PROJECT_SOURCE_DIR}/cmake/PackPages.cmake)
# kx_add_installer(NAME PAGES folder [FLAVOUR name] [TEST [REAL_TELEMETRY]]): the installer
# executable, built from its one entry point (app/) with the pages packed
# from `folder`, in the build's flavour unless another is named.
# The product takes its host names and telemetry from the build; a TEST
# variant (placed in tests/bin, never beside the product) takes them from
# the test support library, so a test picks its servers, and records its
# telemetry calls unless REAL_TELEMETRY links the client.
function(kx_add_installer name)
  cmake_parse_arguments(I "TEST;REAL_TELEMETRY" "PAGES;FLAVOUR" "" ${ARGN})
  if(NOT I_FLAVOUR)
    set(I_FLAVOUR ${KX_PRODUCT})
  endif()
  add_executable(${name} ${PROJECT_SOURCE_DIR}/app/main.cpp)
  kx_flavour_library(${I_FLAVOUR})
  kx_pack_pages(${name} ${I_PAGES} kx::ui::packedPages)
  target_link_libraries(${name} PRIVATE kx_ui kx_uiengine kx_platform kx_common kx_flavour kx_telemetry_calls
                        kx_flavour_${I_FLAVOUR})
  if(I_TEST)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${KX_TEST_BIN_DIR})
    if(I_REAL_TELEMETRY)
      target_link_libraries(${name} PRIVATE kx_test_support kx_telemetry)
    else()
      target_link_libraries(${name} PRIVATE kx_test_support kx_recording_telemetry)
    endif()
  else()
    target_link_libraries(${name} PRIVATE kx_telemetry kx_build_config_product)
  endif()
endfunction()
