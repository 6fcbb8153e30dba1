# Fuzz targets over common/ and rename/.
ps2_fuzz_target(psu_walk_fuzz LIBS ps2_common)
ps2_fuzz_target(maleto_names_fuzz LIBS ps2_rename)
