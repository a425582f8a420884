# marlin3_resource_library(TARGET OUTPUT_NAME SOURCE_DIR)
# Generates the C++ tables of a resource library from a readable source folder (manifest.txt,
# strings*.txt, dialogs/*.dlg, icons/*.png) and builds them into a shared library. The generator
# checks the source and stops the build with the faulty file and line when it finds a fault.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(MARLIN3_RESOURCE_GENERATOR ${CMAKE_CURRENT_LIST_DIR}/generate_resources.py
    CACHE INTERNAL "resource table generator")

function(marlin3_resource_library target output_name source_dir)
  file(GLOB_RECURSE inputs CONFIGURE_DEPENDS
    ${source_dir}/manifest.txt ${source_dir}/strings*.txt ${source_dir}/dialogs/*.dlg ${source_dir}/icons/*.png)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}_tables.cpp)
  add_custom_command(
    OUTPUT ${out}
    COMMAND Python3::Interpreter ${MARLIN3_RESOURCE_GENERATOR} --source ${source_dir} --output ${out}
    DEPENDS ${MARLIN3_RESOURCE_GENERATOR} ${inputs}
    COMMENT "Generating resource tables for ${output_name} from ${source_dir}"
    VERBATIM)
  add_library(${target} SHARED ${out})
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR})
  # The tables call nothing, but a shared library names its C library all the same (Debian's tools check);
  # nothing else: libstdc++, which the C++ driver adds, is what marlin3 (libstdc++ linked in) would
  # otherwise load for this library alone.
  target_link_libraries(${target} PRIVATE -Wl,--no-as-needed -l:libc.so.6 -Wl,--as-needed)
  # Only the four m3res_ functions leave the library.
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${output_name}
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
endfunction()
