# The Ostrel host's plug-in SDK.
#
#   find_package(OstrelHost 1.0 REQUIRED)
#   ostrel_add_plugin(MyWorker SOURCES myworker.cpp)
#
# Ostrel::Host is the host framework (libostrelhost) with the plug-in contract
# in <pluginapi.h>; ostrel_add_plugin() builds a module the host loads: no
# "lib" prefix, every symbol hidden but the contract's exports.
include(CMakeFindDependencyMacro)
find_dependency(Qt6 COMPONENTS Core)
include(${CMAKE_CURRENT_LIST_DIR}/OstrelHostTargets.cmake)

set(OSTREL_PLUGIN_EXPORT_MAP ${CMAKE_CURRENT_LIST_DIR}/ostrel-plugin.map)

function(ostrel_add_plugin target)
  cmake_parse_arguments(ARG "" "" "SOURCES" ${ARGN})
  add_library(${target} MODULE ${ARG_SOURCES})
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    CXX_STANDARD 17
    CXX_STANDARD_REQUIRED ON)
  target_link_libraries(${target} PRIVATE Ostrel::Host)
  if(NOT WIN32)
    target_link_options(${target} PRIVATE -Wl,--version-script=${OSTREL_PLUGIN_EXPORT_MAP})
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${OSTREL_PLUGIN_EXPORT_MAP})
  endif()
endfunction()
