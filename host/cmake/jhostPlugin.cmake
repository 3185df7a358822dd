# jhost_add_plugin(<target> [SHARED] SOURCES ... [LIBS ...])
#   Builds a plug-in for the host: a MODULE library (SHARED when asked, for
#   a plug-in that tests also link directly) named <target>.so, compiled with
#   hidden visibility so that only the classes marked J_EXPORT leave it, and
#   linked against the host library (jhost::jhost). The host opens it with
#   JPluginLoader::load; flowhost loads it with --plugin FILE.
#
# Used by this project's own plug-ins and, through find_package(jhost), by
# plug-ins built against an installed host.
function(jhost_add_plugin target)
  cmake_parse_arguments(P "SHARED" "" "SOURCES;LIBS" ${ARGN})
  if(P_SHARED)
    add_library(${target} SHARED ${P_SOURCES})
  else()
    add_library(${target} MODULE ${P_SOURCES})
  endif()
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    CXX_VISIBILITY_PRESET hidden
    C_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  target_compile_features(${target} PRIVATE cxx_std_20)
  target_link_libraries(${target} PRIVATE jhost::jhost ${P_LIBS})
endfunction()
