# Compiles every file under a resources folder into the module as bytes, so
# that the built-in Lua scripts and images travel inside corvane_x64.so.
# The generated source registers each file under its name; resources.map
# beside the files gives the (type, id) pairs that code looks resources up by.
function(corvane_embed_resources out_var resource_dir)
  file(GLOB_RECURSE files CONFIGURE_DEPENDS "${resource_dir}/*")
  list(FILTER files EXCLUDE REGEX "/\\.[^/]*$")
  set(generated "${CMAKE_BINARY_DIR}/generated/EmbeddedResources.cpp")
  add_custom_command(
    OUTPUT "${generated}"
    COMMAND ${CMAKE_COMMAND} -DRESOURCE_DIR=${resource_dir} -DOUTPUT=${generated}
            -P ${PROJECT_SOURCE_DIR}/cmake/GenerateResources.cmake
    DEPENDS ${files} ${PROJECT_SOURCE_DIR}/cmake/GenerateResources.cmake
    COMMENT "Embedding resources")
  set(${out_var} "${generated}" PARENT_SCOPE)
endfunction()
