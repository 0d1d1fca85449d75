# wlan_add_test(NAME SOURCES file... [LIBS lib...] [QT])
#
# One GoogleTest executable, its cases registered with CTest one by one. QT tests get a
# main that builds a QApplication first and run on the offscreen platform. Every test
# gets a private registry file and a private block name, so tests can run in parallel.
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
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;WLAN_CARDSIM=$<TARGET_FILE:wlan-cardsim>;WLAN_TEST_BINARY_DIR=${PROJECT_BINARY_DIR}"
  )
endfunction()
