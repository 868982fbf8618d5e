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
  endif()

  if(PALO_BUILD_GUI)
    file(GLOB widget_src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/widgets/*.cpp)
    list(FILTER widget_src EXCLUDE REGEX "/main\\.cpp$")
    list(FILTER widget_src INCLUDE REGEX "\\.cpp$")
    if(widget_src)
      add_library(palo_${name}_widgets STATIC ${widget_src})
      target_link_libraries(palo_${name}_widgets PUBLIC palo_${name} ${ARG_WIDGET_DEPS} Qt6::Widgets)
      set_target_properties(palo_${name}_widgets PROPERTIES AUTOMOC ON)
    else()
      # Always defined, so that other subsystems may name it before it has files.
      add_library(palo_${name}_widgets INTERFACE)
      target_link_libraries(palo_${name}_widgets INTERFACE palo_${name})
    endif()
  endif()
endfunction()
