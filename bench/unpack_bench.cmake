# Benchmarks of unpack/: writing and reading manifests, the unpack walk, rebuilding an 8 MB archive.
if(benchmark_FOUND)
  add_executable(unpack_bench unpack_bench.cpp)
  target_link_libraries(unpack_bench PRIVATE ps2_unpack benchmark::benchmark)
  target_include_directories(unpack_bench PRIVATE ${PROJECT_SOURCE_DIR})
  ps2_warnings(unpack_bench)
endif()
