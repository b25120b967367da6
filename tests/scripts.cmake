# The scripts people and CI read the suite's results through, and the
# build that leaves out what lacks its package.
add_test(NAME Scripts.CtestBriefCountsAndGivesSkipReasons
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/scripts/ctest_brief_test.sh
                 ${PROJECT_SOURCE_DIR}/scripts/ctest-brief.sh ${CMAKE_CURRENT_BINARY_DIR}/ctest-brief-test)
add_test(NAME Scripts.ConfigureLeavesOutOnlyWhatLacksItsPackage
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/scripts/configure_parts_test.sh
                 ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_BINARY_DIR}/configure-parts-test)
