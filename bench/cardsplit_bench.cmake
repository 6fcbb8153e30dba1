# Benchmarks of cardsplit/: a full card split from a file, next to plainly reading and writing the same bytes.
if(benchmark_FOUND)
  add_executable(cardsplit_bench cardsplit_split_bench.cpp)
  target_link_libraries(cardsplit_bench PRIVATE ps2_sorvik_handler ps2_samplegen benchmark::benchmark)
  target_include_directories(cardsplit_bench PRIVATE ${PROJECT_SOURCE_DIR})
  ps2_warnings(cardsplit_bench)
endif()
