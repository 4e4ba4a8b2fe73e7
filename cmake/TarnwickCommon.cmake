# Options shared by every target of the project, and the helper that registers tests.

add_library(tarnwick_options INTERFACE)
target_compile_features(tarnwick_options INTERFACE cxx_std_20)
target_compile_options(tarnwick_options INTERFACE
    -Wall -Wextra -Wnon-virtual-dtor -Wold-style-cast)
target_compile_definitions(tarnwick_options INTERFACE
    QT_NO_CAST_FROM_ASCII QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    $<$<CONFIG:Debug>:_GLIBCXX_ASSERTIONS>)
if(TARNWICK_WERROR)
    target_compile_options(tarnwick_options INTERFACE -Werror)
endif()
# GCC 12 reports false -Wrestrict warnings inside std::string's own code when it optimises
# (GCC bug 105329, fixed in GCC 13); they would stop optimised builds with -Werror.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(tarnwick_options INTERFACE $<$<NOT:$<CONFIG:Debug>>:-Wno-restrict>)
endif()
if(TARNWICK_SANITIZE)
    target_compile_options(tarnwick_options INTERFACE -fsanitize=${TARNWICK_SANITIZE} -fno-omit-frame-pointer)
    target_link_options(tarnwick_options INTERFACE -fsanitize=${TARNWICK_SANITIZE})
endif()

# Qt's code generators, for the builds that have Qt (the libraries below the GUI never need them).
if(TARNWICK_BUILD_GUI)
    set(CMAKE_AUTOMOC ON)
    set(CMAKE_AUTOUIC ON)
    set(CMAKE_AUTORCC ON)
endif()

# tarnwick_add_test(name SOURCES ... LIBS ... [GUI] [LABEL unit|gui|integration] [FIXTURES name])
# Builds one GoogleTest executable and registers its cases with CTest. GUI tests run on
# Qt's offscreen platform so that no display is needed. FIXTURES names the CTest fixture (a
# server started by a set-up test) that every case needs.
function(tarnwick_add_test name)
    cmake_parse_arguments(ARG "GUI" "LABEL;FIXTURES" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE tarnwick_options tarnwick_test_support ${ARG_LIBS}
                          GTest::gtest GTest::gmock)
    # One label and one environment entry: gtest_discover_tests flattens lists in PROPERTIES.
    # The GUI test main selects the offscreen platform itself.
    set(env "TARNWICK_TEST_FIXTURES=${CMAKE_SOURCE_DIR}/tests/fixtures")
    if(ARG_GUI)
        target_link_libraries(${name} PRIVATE tarnwick_test_gui_main Qt6::Test)
    else()
        target_link_libraries(${name} PRIVATE GTest::gtest_main)
    endif()
    set(label ${ARG_LABEL})
    if(NOT label)
        set(label unit)
    endif()
    set(fixtures)
    if(ARG_FIXTURES)
        set(fixtures FIXTURES_REQUIRED ${ARG_FIXTURES})
    endif()
    gtest_discover_tests(${name}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 60
        PROPERTIES LABELS ${label} ENVIRONMENT "${env}" TIMEOUT 300 ${fixtures})
endfunction()
