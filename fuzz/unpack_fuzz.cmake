# Fuzz targets over unpack/: the manifest written from any bytes, the rebuild from any manifest.
ps2_fuzz_target(unpack_manifest_fuzz LIBS ps2_unpack)
ps2_fuzz_target(unpack_rebuild_fuzz LIBS ps2_unpack)
