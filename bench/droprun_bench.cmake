# DROPRUN: reading a large preset list, selecting a preset deep in it, expanding templates.
if(benchmark_FOUND)
  add_executable(droprun_bench droprun_bench.cpp)
  target_link_libraries(droprun_bench PRIVATE ps2_droprun_core benchmark::benchmark)
  target_include_directories(droprun_bench PRIVATE ${PROJECT_SOURCE_DIR})
  ps2_warnings(droprun_bench)
endif()
