# wlan_add_test(NAME SOURCES file... [LIBS lib...] [QT])
#
# One GoogleTest executable, its cases registered with CTest one by one. QT tests get a
# main that builds a QApplication first; every test runs on the offscreen platform and
# finds the simulator through $WLAN_CARDSIM. Tests run in parallel, so each one uses a
# private registry file and block name (tests/support/TestEnvironment.h).
function(wlan_add_test name)
  cmake_parse_arguments(ARG "QT" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock wlan_test_support)
  if(ARG_QT)
    target_link_libraries(${name} PRIVATE wlan_test_main_qt)
  else()
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES
      TIMEOUT 300
      # One entry per property: this CMake's test discovery splits a list value apart.
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
      ENVIRONMENT_MODIFICATION "WLAN_CARDSIM=set:$<TARGET_FILE:wlan-cardsim>"
  )
endfunction()
