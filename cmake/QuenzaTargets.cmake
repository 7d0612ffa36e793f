include(GNUInstallDirs)

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
    # Where the committed fixtures and the shared real files are; the environment
    # variables QUENZA_TESTDATA and QUENZA_SHARED_TESTDATA may point elsewhere.
    target_compile_definitions(${ARG_NAME} PRIVATE
        "QUENZA_TESTDATA_DIR=\"${PROJECT_SOURCE_DIR}/testdata\""
        "QUENZA_SHARED_TESTDATA_DIR=\"${PROJECT_SOURCE_DIR}/../shared/testdata\"")
    # Labelled with the executable's name, so that ctest -L picks one program's tests.
    gtest_discover_tests(${ARG_NAME}
        WORKING_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}"
        DISCOVERY_TIMEOUT 60
        PROPERTIES LABELS ${ARG_NAME})
endfunction()

# Where plug-in libraries are built, and installed below the prefix: the host looks
# for them in ../lib/quenza relative to its own executable.
set(QUENZA_PLUGIN_SUBDIR "lib/quenza")
set(QUENZA_PLUGIN_OUTPUT_DIR "${CMAKE_BINARY_DIR}/${QUENZA_PLUGIN_SUBDIR}")

# The dynamic symbols a plug-in may export. Hidden visibility alone is not enough: the
# descriptor sources instantiate templates of the standard library and of the
# descriptor interface with default visibility, and those would be exported too.
set(QUENZA_PLUGIN_VERSION_SCRIPT "${CMAKE_BINARY_DIR}/quenza-plugin-exports.map")
file(CONFIGURE OUTPUT "${QUENZA_PLUGIN_VERSION_SCRIPT}" CONTENT "{\n  global:\n    g_extractorPlugin;\n    g_writerPlugin;\n  local:\n    *;\n};\n")

# One format: a core static library (the format's sources and its own copy of the
# common layer) that unit tests link, and the MODULE plug-in built from the core and
# the descriptor sources, exporting nothing but its descriptor objects.
#   quenza_add_format(NAME raw LIBRARY_NAME quenza-raw
#                     SOURCES ... DESCRIPTOR_SOURCES ... LIBRARIES ...
#                     TESTS ... TEST_LIBRARIES ...)
function(quenza_add_format)
    cmake_parse_arguments(ARG "" "NAME;LIBRARY_NAME" "SOURCES;DESCRIPTOR_SOURCES;LIBRARIES;TESTS;TEST_LIBRARIES" ${ARGN})
    set(core quenza_${ARG_NAME}_core)
    add_library(${core} STATIC ${ARG_SOURCES})
    target_include_directories(${core} PUBLIC "${CMAKE_CURRENT_SOURCE_DIR}/include"
        PRIVATE "${CMAKE_CURRENT_SOURCE_DIR}/source")
    target_link_libraries(${core} PUBLIC quenza::common ${ARG_LIBRARIES})
    set_target_properties(${core} PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
    quenza_set_warnings(${core})

    set(plugin quenza_${ARG_NAME}_plugin)
    add_library(${plugin} MODULE ${ARG_DESCRIPTOR_SOURCES})
    target_link_libraries(${plugin} PRIVATE ${core})
    target_include_directories(${plugin} PRIVATE "${CMAKE_CURRENT_SOURCE_DIR}/source")
    set_target_properties(${plugin} PROPERTIES
        OUTPUT_NAME ${ARG_LIBRARY_NAME}
        PREFIX "lib"
        LIBRARY_OUTPUT_DIRECTORY "${QUENZA_PLUGIN_OUTPUT_DIR}"
        CXX_VISIBILITY_PRESET hidden
        VISIBILITY_INLINES_HIDDEN ON
        # Installed in <prefix>/lib/quenza: any program that loads it finds libdravik.
        INSTALL_RPATH "$ORIGIN/../../${CMAKE_INSTALL_LIBDIR}")
    # Symbols of the static libraries linked in stay hidden too.
    target_link_options(${plugin} PRIVATE "LINKER:--exclude-libs,ALL"
        "LINKER:--version-script=${QUENZA_PLUGIN_VERSION_SCRIPT}")
    # clang links its sanitizer runtimes into executables only: a plug-in finds them there.
    if(NOT (CMAKE_CXX_COMPILER_ID STREQUAL "Clang" AND (QUENZA_SANITIZE OR QUENZA_BUILD_FUZZERS)))
        target_link_options(${plugin} PRIVATE "LINKER:--no-undefined")
    endif()
    set_property(TARGET ${plugin} APPEND PROPERTY LINK_DEPENDS "${QUENZA_PLUGIN_VERSION_SCRIPT}")
    quenza_set_warnings(${plugin})
    install(TARGETS ${plugin} LIBRARY DESTINATION "${QUENZA_PLUGIN_SUBDIR}")
    set_property(GLOBAL APPEND PROPERTY QUENZA_PLUGINS ${plugin})

    if(QUENZA_BUILD_TESTS AND ARG_TESTS)
        quenza_add_test(NAME quenza_${ARG_NAME}_tests SOURCES ${ARG_TESTS}
            LIBRARIES ${core} ${ARG_TEST_LIBRARIES})
        target_include_directories(quenza_${ARG_NAME}_tests PRIVATE "${CMAKE_CURRENT_SOURCE_DIR}/source"
            "${CMAKE_CURRENT_SOURCE_DIR}/tests" "${PROJECT_SOURCE_DIR}/formats/common/tests")
        # End-to-end tests load the plug-in through the host: build it first.
        add_dependencies(quenza_${ARG_NAME}_tests ${plugin})
    endif()
endfunction()
