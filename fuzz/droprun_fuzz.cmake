# Fuzz targets over droprun/: the preset list and the run; the command line, tail filter and expansion.
ps2_fuzz_target(droprun_run_fuzz LIBS ps2_droprun_core)
ps2_fuzz_target(droprun_text_fuzz LIBS ps2_droprun_core ps2_common)
