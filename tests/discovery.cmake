# Installation discovery against the static library: every test case runs
# in its own process, so qxReg starts null in each.
zorvan_add_test(test_discovery
  SOURCES discovery/registry_test.cpp
          discovery/instance_name_test.cpp
          discovery/first_instance_test.cpp
          discovery/base_dir_test.cpp
          discovery/raised_privileges_test.cpp
          discovery/discovery_fixtures.cpp
  LIBS zorvan_internal)
# The checks a process with raised privileges makes, called directly.
target_include_directories(test_discovery PRIVATE ${PROJECT_SOURCE_DIR}/src/discovery)
