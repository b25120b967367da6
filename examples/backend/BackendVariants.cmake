# zorvan_backend_variant(<target> <output_dir> [OMIT <symbol>...] [NO_EXEC]
#                        [UNDEFINED_CALL])
#
# Builds the example back end as <output_dir>/libqxacsint.so.
#   OMIT <symbol>  leaves that entry point out (e.g. OMIT db2ACSVerifypp),
#                  by compiling with -DQXACS_OMIT_<symbol>.
#   NO_EXEC        clears the file's execute bits after linking, for
#                  exercising a front end that insists on an executable
#                  back end.
#   UNDEFINED_CALL db2ACSVerifypp calls a function defined nowhere, and the
#                  library is linked with that reference unresolved: it
#                  loads only where the loader binds lazily.
# Tests call this to get back ends that are wrong in exactly one way.
include_guard(GLOBAL)

function(zorvan_backend_variant target output_dir)
  cmake_parse_arguments(PARSE_ARGV 2 VARIANT "NO_EXEC;UNDEFINED_CALL" "" "OMIT")
  if(VARIANT_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "zorvan_backend_variant: unexpected ${VARIANT_UNPARSED_ARGUMENTS}")
  endif()
  set(entry_points
      db2ACSInitializepp db2ACSTerminatepp db2ACSBeginOperationpp db2ACSEndOperationpp
      db2ACSPreparepp db2ACSPartitionpp db2ACSBeginQuerypp db2ACSGetNextObjectpp
      db2ACSEndQuerypp db2ACSSnapshotpp db2ACSVerifypp db2ACSDeletepp
      db2ACSStoreMetaDatapp db2ACSRetrieveMetaDatapp)
  set(src "${CMAKE_CURRENT_FUNCTION_LIST_DIR}")

  add_library(${target} SHARED "${src}/entry_points.cpp" "${src}/storage.cpp")
  # DB2's records and codes, declared once for every program that speaks
  # the protocol.
  target_include_directories(${target} PRIVATE "${src}" "${src}/../../tools/common")
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME qxacsint
    LIBRARY_OUTPUT_DIRECTORY "${output_dir}"
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  zorvan_static_runtime(${target})

  foreach(symbol IN LISTS VARIANT_OMIT)
    # A misspelt name would omit nothing and the test would pass for the
    # wrong reason.
    if(NOT symbol IN_LIST entry_points)
      message(FATAL_ERROR "zorvan_backend_variant: ${symbol} is not a back-end entry point")
    endif()
    target_compile_definitions(${target} PRIVATE "QXACS_OMIT_${symbol}")
  endforeach()

  if(VARIANT_UNDEFINED_CALL)
    target_compile_definitions(${target} PRIVATE QXACS_CALL_UNDEFINED)
    target_link_options(${target} PRIVATE -Wl,-z,undefs -Wl,-z,lazy)
  endif()

  if(VARIANT_NO_EXEC)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND chmod a-x "$<TARGET_FILE:${target}>" VERBATIM)
  endif()
endfunction()
