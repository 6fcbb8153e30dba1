# Fuzz targets over cardbuild/: planning and placing any bytes as an archive.
ps2_fuzz_target(cardbuild_place_fuzz LIBS ps2_cardbuild)
