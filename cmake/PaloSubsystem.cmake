# palo_unity_build(<target>): with PALO_UNITY_BUILD, the target's files are compiled
# up to eight at a time as one translation unit, so that the headers they share (Qt,
# Google Test, JSON, CLI11) are parsed, and their inline code compiled, once per batch
# instead of once per file. Helpers in a file's anonymous namespace then need a name
# no other file of the target uses for something else; a file that must keep such a
# name is left out with the source property SKIP_UNITY_BUILD_INCLUSION.
# -DPALO_UNITY_BUILD=OFF compiles file by file (to check that each file includes
# what it uses).
function(palo_unity_build target)
  if(PALO_UNITY_BUILD)
    set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 8)
  endif()
endfunction()

# palo_platform_sources(<list variable>): the platform split by file name.
# Foo<Posix>.cpp is built everywhere but Windows, FooWin32.cpp only on Windows,
# and a Foo.cpp that has a FooWin32.cpp beside it is the non-Windows version of it.
function(palo_platform_sources var)
  set(kept)
  foreach(file ${${var}})
    get_filename_component(dir ${file} DIRECTORY)
    get_filename_component(stem ${file} NAME_WE)
    if(WIN32)
      if(stem MATCHES "Posix$" OR EXISTS ${dir}/${stem}Win32.cpp)
        continue()
      endif()
    elseif(stem MATCHES "Win32$")
      continue()
    endif()
    list(APPEND kept ${file})
  endforeach()
  set(${var} ${kept} PARENT_SCOPE)
endfunction()

# One static library per subsystem folder keeps the layering visible and lets a
# broken file in one subsystem leave the others buildable.
#
#   palo_subsystem(<name> DEPS <libs...> [WIDGET_DEPS <libs...>])
#
# Files directly in the folder form the GUI-free library palo_<name>; files in
# its widgets/ subfolder form palo_<name>_widgets, which links Qt.
function(palo_subsystem name)
  cmake_parse_arguments(ARG "" "" "DEPS;WIDGET_DEPS" ${ARGN})
  file(GLOB core_src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  palo_platform_sources(core_src)
  if(core_src)
    add_library(palo_${name} STATIC ${core_src})
  else()
    add_library(palo_${name} INTERFACE)
  endif()
  get_target_property(kind palo_${name} TYPE)
  if(kind STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(palo_${name} INTERFACE ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(palo_${name} INTERFACE ${ARG_DEPS})
  else()
    target_include_directories(palo_${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(palo_${name} PUBLIC ${ARG_DEPS})
    set_target_properties(palo_${name} PROPERTIES AUTOMOC OFF)
    palo_unity_build(palo_${name})
  endif()

  if(PALO_BUILD_GUI)
    file(GLOB widget_src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/widgets/*.cpp)
    list(FILTER widget_src EXCLUDE REGEX "/main\\.cpp$")
    list(FILTER widget_src INCLUDE REGEX "\\.cpp$")
    if(widget_src)
      add_library(palo_${name}_widgets STATIC ${widget_src})
      target_link_libraries(palo_${name}_widgets PUBLIC palo_${name} ${ARG_WIDGET_DEPS} Qt6::Widgets)
      set_target_properties(palo_${name}_widgets PROPERTIES AUTOMOC ON)
      palo_unity_build(palo_${name}_widgets)
    else()
      # Always defined, so that other subsystems may name it before it has files.
      add_library(palo_${name}_widgets INTERFACE)
      target_link_libraries(palo_${name}_widgets INTERFACE palo_${name})
    endif()
  endif()
endfunction()
