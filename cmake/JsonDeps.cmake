# nlohmann-json, for acs-doctor's JSON and the tests that read it: Debian's
# nlohmann-json3-dev. It is header-only and the same for every
# architecture, so a cross build, which finds packages only in the
# target's tree, takes the build machine's headers -- staged in the build
# tree on their own, so that the cross compiler sees nothing else of this
# machine's /usr/include. Included at the top, so that the target is seen
# by the doctor and its tests alike; without it there is no doctor.
find_package(nlohmann_json 3.9 QUIET)
if(NOT TARGET nlohmann_json::nlohmann_json AND CMAKE_CROSSCOMPILING)
  find_path(ZORVAN_JSON_HOST_INCLUDE nlohmann/json.hpp PATHS /usr/include
            NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(ZORVAN_JSON_HOST_INCLUDE)
    set(_zorvan_json_stage "${CMAKE_BINARY_DIR}/nlohmann-json/include")
    file(COPY "${ZORVAN_JSON_HOST_INCLUDE}/nlohmann" DESTINATION "${_zorvan_json_stage}")
    add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
    set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
      INTERFACE_INCLUDE_DIRECTORIES "${_zorvan_json_stage}")
  endif()
endif()
