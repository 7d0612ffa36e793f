# QUENZA_BUILD_FUZZERS: libFuzzer targets under fuzz/, built with clang. Every target of
# the build gets coverage instrumentation and AddressSanitizer + UndefinedBehaviorSanitizer,
# so that the readers and the data-model library under them are explored and checked alike.
if(QUENZA_BUILD_FUZZERS)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "QUENZA_BUILD_FUZZERS needs clang: configure with -DCMAKE_CXX_COMPILER=clang++")
    endif()
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
        -fno-omit-frame-pointer -g1)
    add_link_options(-fsanitize=address,undefined)
endif()

# A libFuzzer executable whose entry point is LLVMFuzzerTestOneInput in SOURCES.
#   quenza_add_fuzzer(NAME name SOURCES ... LIBRARIES ...)
function(quenza_add_fuzzer)
    cmake_parse_arguments(ARG "" "NAME" "SOURCES;LIBRARIES" ${ARGN})
    add_executable(${ARG_NAME} ${ARG_SOURCES})
    target_link_libraries(${ARG_NAME} PRIVATE ${ARG_LIBRARIES})
    target_link_options(${ARG_NAME} PRIVATE -fsanitize=fuzzer)
    set_target_properties(${ARG_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/fuzz")
    quenza_set_warnings(${ARG_NAME})
    set_property(GLOBAL APPEND PROPERTY QUENZA_FUZZERS ${ARG_NAME})
endfunction()
