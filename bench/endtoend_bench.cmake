# Whole runs of the command-line tools (varkon, sorvik) as processes, next to the in-memory codec and cp -r.
if(benchmark_FOUND AND TARGET varkon AND TARGET sorvik)
  add_executable(endtoend_bench endtoend_bench.cpp)
  target_link_libraries(endtoend_bench PRIVATE ps2_maxconv ps2_card ps2_samplegen benchmark::benchmark)
  target_include_directories(endtoend_bench PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(endtoend_bench PRIVATE PS2_VARKON_PATH="$<TARGET_FILE:varkon>"
                             PS2_SORVIK_PATH="$<TARGET_FILE:sorvik>")
  add_dependencies(endtoend_bench varkon sorvik)
  ps2_warnings(endtoend_bench)
endif()
