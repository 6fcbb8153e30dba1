# Fuzz targets over maxconv/: the LZARI codec (round trip against the reference finder; any stream decoded),
# MAX archives read, PSU archives converted and back, CodeBreaker, SharkPort/X-Port and PSV saves read and written.
ps2_fuzz_target(lzari_round_trip_fuzz LIBS ps2_maxconv ps2_fuzz_oracles)
ps2_fuzz_target(lzari_decode_fuzz LIBS ps2_maxconv ps2_fuzz_oracles)
ps2_fuzz_target(max_decode_fuzz LIBS ps2_maxconv)
ps2_fuzz_target(psu_max_round_trip_fuzz LIBS ps2_maxconv)
ps2_fuzz_target(foreign_read_fuzz LIBS ps2_maxconv)
