# Benchmarks of maxconv/: the LZARI encoder and decoder and CRC-32, in MB/s of input next to memcpy.
if(benchmark_FOUND)
  add_executable(maxconv_bench maxconv_codec_bench.cpp lzari_baseline_encode.cpp lzari_baseline_decode.cpp)
  target_link_libraries(maxconv_bench PRIVATE ps2_maxconv ps2_samplegen benchmark::benchmark)
  target_include_directories(maxconv_bench PRIVATE ${PROJECT_SOURCE_DIR})
  ps2_warnings(maxconv_bench)
endif()
