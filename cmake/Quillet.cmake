# Adds every direct subfolder of DIR that has a CMakeLists.txt, in a stable order.
# A folder with a CMakeLists.txt of its own is added as a whole instead.
function(quil_add_subdirectories dir)
    set(base ${CMAKE_SOURCE_DIR}/${dir})
    if(EXISTS ${base}/CMakeLists.txt)
        add_subdirectory(${base})
        return()
    endif()
    file(GLOB children LIST_DIRECTORIES true RELATIVE ${base} ${base}/*)
    list(SORT children)
    foreach(child IN LISTS children)
        if(IS_DIRECTORY ${base}/${child} AND EXISTS ${base}/${child}/CMakeLists.txt)
            add_subdirectory(${base}/${child})
        endif()
    endforeach()
endfunction()

# quil_add_test(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2 [LABELS sound])
# Builds one GoogleTest binary and registers each of its tests with CTest.
function(quil_add_test name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} quil_testsupport GTest::gtest)
    gtest_discover_tests(${name}
        DISCOVERY_TIMEOUT 60
        PROPERTIES TIMEOUT 120 LABELS "${T_LABELS}")
endfunction()
