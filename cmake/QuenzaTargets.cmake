# Warning flags every target of the project builds with.
function(quenza_set_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
        -Wold-style-cast -Wcast-align -Woverloaded-virtual -Wnull-dereference -Wformat=2)
    if(QUENZA_WARNINGS_AS_ERRORS)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()

# A GoogleTest executable registered with CTest, one CTest entry per test case.
#   quenza_add_test(NAME name SOURCES ... LIBRARIES ...)
function(quenza_add_test)
    cmake_parse_arguments(ARG "" "NAME" "SOURCES;LIBRARIES" ${ARGN})
    add_executable(${ARG_NAME} ${ARG_SOURCES})
    target_link_libraries(${ARG_NAME} PRIVATE ${ARG_LIBRARIES} GTest::gtest GTest::gtest_main GTest::gmock)
    quenza_set_warnings(${ARG_NAME})
    gtest_discover_tests(${ARG_NAME}
        WORKING_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}"
        PROPERTIES ENVIRONMENT "QUENZA_TESTDATA=${PROJECT_SOURCE_DIR}/testdata;QUENZA_SHARED_TESTDATA=${PROJECT_SOURCE_DIR}/../shared/testdata"
        DISCOVERY_TIMEOUT 60)
endfunction()
