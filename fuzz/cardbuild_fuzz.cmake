# Fuzz targets over cardbuild/: planning and placing any bytes as an archive; whole cards from any listed files.
ps2_fuzz_target(cardbuild_place_fuzz LIBS ps2_cardbuild)
ps2_fuzz_target(cardbuild_card_fuzz LIBS ps2_cardbuild ps2_card ps2_common)
