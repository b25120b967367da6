# zorvan_fake_backend(<target> <output_dir> [REFERENCE] [OMIT <symbol>...]
#                     [ABORTS] [HANGS] [FORKS] [NEEDS_DEP <library target>]
#                     [UNDEFINED] [NO_EXEC] [SOURCES <more sources>...])
#
# Builds the one fake back end (tests/support/fake_backend.cpp), or with
# REFERENCE the reference back end (examples/backend, whose journal shows
# what it was given), as <output_dir>/libqxacsint.so, wrong in the ways
# named: OMIT leaves entry points out of its exports, through a version
# script made from one list; ABORTS, HANGS, FORKS, NEEDS_DEP and UNDEFINED
# are the fake's variants (see its source); NO_EXEC clears its execute
# bits; SOURCES adds code to it (a spy's constructor).
include_guard(GLOBAL)

function(zorvan_fake_backend target output_dir)
  cmake_parse_arguments(PARSE_ARGV 2 FAKE "REFERENCE;ABORTS;HANGS;FORKS;UNDEFINED;NO_EXEC" "NEEDS_DEP" "OMIT;SOURCES")
  set(entry_points
      db2ACSInitializepp db2ACSTerminatepp db2ACSBeginOperationpp db2ACSEndOperationpp
      db2ACSPreparepp db2ACSPartitionpp db2ACSBeginQuerypp db2ACSGetNextObjectpp
      db2ACSEndQuerypp db2ACSSnapshotpp db2ACSVerifypp db2ACSDeletepp
      db2ACSStoreMetaDatapp db2ACSRetrieveMetaDatapp)
  foreach(symbol IN LISTS FAKE_OMIT)
    # A misspelt name would omit nothing and the test would pass for the
    # wrong reason.
    if(NOT symbol IN_LIST entry_points)
      message(FATAL_ERROR "zorvan_fake_backend: ${symbol} is not a back-end entry point")
    endif()
    list(REMOVE_ITEM entry_points ${symbol})
  endforeach()
  list(JOIN entry_points "; " exported)
  set(map "${CMAKE_CURRENT_BINARY_DIR}/${target}.map")
  file(WRITE "${map}" "{ global: ${exported}; local: *; };\n")

  if(FAKE_REFERENCE)
    set(example "${PROJECT_SOURCE_DIR}/examples/backend")
    add_library(${target} SHARED "${example}/entry_points.cpp" "${example}/storage.cpp" ${FAKE_SOURCES})
    target_include_directories(${target} PRIVATE "${example}" "${PROJECT_SOURCE_DIR}/tools/common")
    zorvan_static_runtime(${target})
  else()
    add_library(${target} SHARED "${PROJECT_SOURCE_DIR}/tests/support/fake_backend.cpp" ${FAKE_SOURCES})
    target_include_directories(${target} PRIVATE "${PROJECT_SOURCE_DIR}/include")
  endif()
  set_target_properties(${target} PROPERTIES OUTPUT_NAME qxacsint LIBRARY_OUTPUT_DIRECTORY "${output_dir}"
                                             SKIP_BUILD_RPATH TRUE LINK_DEPENDS "${map}")
  target_link_options(${target} PRIVATE "-Wl,--version-script=${map}")
  foreach(variant ABORTS HANGS FORKS UNDEFINED)
    if(FAKE_${variant})
      target_compile_definitions(${target} PRIVATE FAKE_${variant})
    endif()
  endforeach()
  if(FAKE_UNDEFINED)
    target_link_options(${target} PRIVATE -Wl,-z,undefs -Wl,-z,lazy)
  endif()
  if(FAKE_NEEDS_DEP)
    target_compile_definitions(${target} PRIVATE FAKE_NEEDS_DEP)
    target_link_libraries(${target} PRIVATE ${FAKE_NEEDS_DEP})
  endif()
  if(FAKE_NO_EXEC)
    add_custom_command(TARGET ${target} POST_BUILD COMMAND chmod a-x "$<TARGET_FILE:${target}>" VERBATIM)
  endif()
endfunction()
