# QUENZA_SANITIZE: empty, "address,undefined" (also "address" or "undefined" alone), or
# "thread". Every target of the build is instrumented, so that a plug-in loaded by the
# host is checked as well as the code that links it.
set(QUENZA_SANITIZE "" CACHE STRING "Sanitizers to build with: address,undefined | thread")

if(QUENZA_SANITIZE)
    string(REPLACE "," ";" _quenza_sanitizers "${QUENZA_SANITIZE}")
    foreach(_sanitizer IN LISTS _quenza_sanitizers)
        if(NOT _sanitizer MATCHES "^(address|undefined|thread)$")
            message(FATAL_ERROR "QUENZA_SANITIZE: unknown sanitizer '${_sanitizer}'")
        endif()
    endforeach()
    if("thread" IN_LIST _quenza_sanitizers AND NOT _quenza_sanitizers STREQUAL "thread")
        message(FATAL_ERROR "QUENZA_SANITIZE: thread cannot be combined with another sanitizer")
    endif()
    if(QUENZA_BUILD_FUZZERS)
        message(FATAL_ERROR "QUENZA_BUILD_FUZZERS already builds with address and undefined; leave QUENZA_SANITIZE empty")
    endif()

    set(_quenza_flags "-fsanitize=${QUENZA_SANITIZE}" -fno-omit-frame-pointer -g1)
    if("undefined" IN_LIST _quenza_sanitizers)
        # A report must fail the test, not scroll past.
        list(APPEND _quenza_flags -fno-sanitize-recover=undefined)
    endif()
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        # GCC's flow analysis under the sanitizers warns about std::function inside std::regex.
        list(APPEND _quenza_flags -Wno-maybe-uninitialized)
    endif()
    add_compile_options(${_quenza_flags})
    add_link_options("-fsanitize=${QUENZA_SANITIZE}")
    message(STATUS "Sanitizers: ${QUENZA_SANITIZE}")
endif()
