# Tests of live decoding from the card and of the card configuration dialog.
# Included from the monitor program's CMakeLists.txt; paths are relative to it.
set(_live_tests ${CMAKE_CURRENT_SOURCE_DIR}/tests)

add_executable(monitor_live_feed_test ${_live_tests}/live_feed_test.cpp ${_live_tests}/test_streams.cpp)
target_link_libraries(monitor_live_feed_test PRIVATE varnakwindow rdsencoder GTest::gtest_main)
add_dependencies(monitor_live_feed_test murlin)
add_test(NAME monitor_live_feed_test COMMAND monitor_live_feed_test)

add_executable(monitor_config_dialog_test ${_live_tests}/config_dialog_test.cpp ${_live_tests}/cardsim_process.cpp)
target_link_libraries(monitor_config_dialog_test PRIVATE varnakwindow Qt6::Test GTest::gtest)
if(EXISTS ${CMAKE_SOURCE_DIR}/tools/cardsim/CMakeLists.txt)
  add_dependencies(monitor_config_dialog_test cardsim)
endif()
add_test(NAME monitor_config_dialog_test COMMAND monitor_config_dialog_test)
set_tests_properties(monitor_config_dialog_test PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 120)

add_executable(monitor_live_window_test ${_live_tests}/live_window_test.cpp ${_live_tests}/cardsim_process.cpp)
target_link_libraries(monitor_live_window_test PRIVATE varnakwindow Qt6::Test GTest::gtest)
target_compile_definitions(monitor_live_window_test PRIVATE
  VARNAK_SAMPLE_RECORDING="${PROJECT_SOURCE_DIR}/data/samples/station.txt")
add_dependencies(monitor_live_window_test murlin)
if(EXISTS ${CMAKE_SOURCE_DIR}/tools/cardsim/CMakeLists.txt)
  add_dependencies(monitor_live_window_test cardsim)
endif()
add_test(NAME monitor_live_window_test COMMAND monitor_live_window_test)
set_tests_properties(monitor_live_window_test PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 120)
