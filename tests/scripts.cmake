# The scripts people and CI read the suite's results through.
add_test(NAME Scripts.CtestBriefCountsAndGivesSkipReasons
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/scripts/ctest_brief_test.sh
                 ${PROJECT_SOURCE_DIR}/scripts/ctest-brief.sh ${CMAKE_CURRENT_BINARY_DIR}/ctest-brief-test)
