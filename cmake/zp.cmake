# Project-wide compiler settings: strict warnings on our targets, optional sanitizers.

set(ZP_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual
    -Wcast-align -Wformat=2 -Wimplicit-fallthrough -Wmissing-declarations)
if(ZP_WERROR)
    list(APPEND ZP_WARNINGS -Werror)
endif()

# Applies the warning set to one of our own targets.
function(zp_warnings target)
    target_compile_options(${target} PRIVATE ${ZP_WARNINGS})
endfunction()

if(ZP_SANITIZE STREQUAL "address")
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                        -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
elseif(ZP_SANITIZE STREQUAL "thread")
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
elseif(NOT ZP_SANITIZE STREQUAL "")
    message(FATAL_ERROR "ZP_SANITIZE must be empty, 'address' or 'thread'")
endif()

if(ZP_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "ZP_FUZZ needs clang")
    endif()
    # Coverage for the fuzzers in every library they link.
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# Adds a GoogleTest executable and registers its tests with CTest. NO_MAIN: the
# sources bring their own main (a Qt test needs its QApplication first).
function(zp_add_gtest name)
    cmake_parse_arguments(T "NO_MAIN" "" "SOURCES;LIBS;PROPERTIES" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    zp_warnings(${name})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock)
    if(NOT T_NO_MAIN)
        target_link_libraries(${name} PRIVATE GTest::gtest_main)
    endif()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         PROPERTIES ${T_PROPERTIES})
endfunction()

# zp_check builds what the tests run: every target (the benchmarks are not
# configured in sanitizer builds). Tests also run the programs, camsim and
# zoompanel. The sanitizer builds build only this.
add_custom_target(zp_check)
function(zp_check_collect dir)
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(t IN LISTS targets)
        if(NOT t STREQUAL "zp_check")
            add_dependencies(zp_check ${t})
        endif()
    endforeach()
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    foreach(sub IN LISTS subdirs)
        zp_check_collect(${sub})
    endforeach()
endfunction()
function(zp_check_collect_all)
    zp_check_collect(${PROJECT_SOURCE_DIR})
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL zp_check_collect_all)
