# Puts a program or module into the program directory, and into lib/gardivo when installed.
function(gardivo_install_to_program_dir target)
    set_target_properties(${target} PROPERTIES
        RUNTIME_OUTPUT_DIRECTORY "${GARDIVO_PROGRAM_DIR}"
        LIBRARY_OUTPUT_DIRECTORY "${GARDIVO_PROGRAM_DIR}")
    install(TARGETS ${target} RUNTIME DESTINATION lib/gardivo LIBRARY DESTINATION lib/gardivo)
endfunction()

# In a fuzz build, a library the fuzz targets exercise is instrumented for their coverage.
function(gardivo_fuzz_instrument target)
    if(GARDIVO_BUILD_FUZZERS)
        target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link)
    endif()
endfunction()

# Adds a source file compiled for one x86 instruction set.
function(gardivo_simd_source target file flags)
    target_sources(${target} PRIVATE ${file})
    set_source_files_properties(${file} PROPERTIES COMPILE_OPTIONS "${flags}")
endfunction()

# gardivo_add_test(NAME name SOURCES ... LIBRARIES ... [ENVIRONMENT ...])
function(gardivo_add_test)
    cmake_parse_arguments(T "" "NAME" "SOURCES;LIBRARIES;ENVIRONMENT" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBRARIES} GTest::gtest GTest::gtest_main GTest::gmock)
    set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tests")
    target_compile_definitions(${T_NAME} PRIVATE
        GARDIVO_PROGRAM_DIR="${GARDIVO_PROGRAM_DIR}"
        GARDIVO_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
    if(T_ENVIRONMENT)
        gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST PROPERTIES ENVIRONMENT "${T_ENVIRONMENT}")
    else()
        gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST)
    endif()
endfunction()
