# kx_module(NAME DEPS...): one static library per source folder, made of every
# .cpp in that folder. A folder without sources yet is an interface library so
# that dependents can already name it.
function(kx_module name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARGN})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARGN})
  endif()
endfunction()

# The flavour flags are constants of one small translation unit. Each flavour
# gets its own object library, so a test executable can link any flavour
# without rebuilding the rest of the tree.
set(KX_FLAVOURS kestrix kestrixna kestrixuat qv edu prod prodna prodnauat uat map)
function(kx_flavour_library flavour)
  if(NOT TARGET kx_flavour_${flavour})
    add_library(kx_flavour_${flavour} OBJECT ${PROJECT_SOURCE_DIR}/flavour/product_flavour.cpp)
    target_link_libraries(kx_flavour_${flavour} PUBLIC kx_flavour)
    target_compile_definitions(kx_flavour_${flavour} PRIVATE KX_PRODUCT_FLAVOUR="${flavour}")
  endif()
endfunction()

# Adds every subfolder of the current folder that has a CMakeLists.txt, except
# those named in the arguments.
function(kx_add_subfolders)
  file(GLOB children LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(child ${children})
    get_filename_component(name ${child} NAME)
    if(IS_DIRECTORY ${child} AND EXISTS ${child}/CMakeLists.txt AND NOT name IN_LIST ARGN)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()
