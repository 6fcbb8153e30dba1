# Fuzz targets over droprun/.
ps2_fuzz_target(droprun_run_fuzz LIBS ps2_droprun_core)
