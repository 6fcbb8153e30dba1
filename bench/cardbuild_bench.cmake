# Benchmarks of card/ecc and cardbuild/: the page code in MB/s, and a coded build of a full card next to
# a plain read and write of the same sizes.
if(benchmark_FOUND)
  add_executable(cardbuild_bench cardbuild_ecc_bench.cpp cardbuild_build_bench.cpp)
  target_link_libraries(cardbuild_bench PRIVATE ps2_taviro_handler ps2_cardbuild ps2_samplegen ps2_card ps2_platform
                        benchmark::benchmark_main)
  target_include_directories(cardbuild_bench PRIVATE ${PROJECT_SOURCE_DIR})
  ps2_warnings(cardbuild_bench)
endif()
