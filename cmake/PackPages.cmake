include_guard(GLOBAL)
# kx_pack_pages(TARGET FOLDER FUNCTION): packs every file under FOLDER into an
# archive block compiled into TARGET, answered by the C++ function FUNCTION
# (a qualified name returning std::span<const std::uint8_t>).
function(kx_pack_pages target folder function)
  string(MAKE_C_IDENTIFIER "${function}" stem)
  set(output ${CMAKE_CURRENT_BINARY_DIR}/${stem}.cpp)
  file(GLOB_RECURSE inputs CONFIGURE_DEPENDS ${folder}/*)
  add_custom_command(OUTPUT ${output}
                     COMMAND $<TARGET_FILE:pack_pages> ${folder} ${output} ${function}
                     DEPENDS pack_pages ${inputs}
                     COMMENT "Packing ${folder}" VERBATIM)
  target_sources(${target} PRIVATE ${output})
endfunction()
