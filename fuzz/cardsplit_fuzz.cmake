# Fuzz targets over cardsplit/: any card contents split into archives in memory.
ps2_fuzz_target(cardsplit_split_fuzz LIBS ps2_cardsplit ps2_card ps2_common)
ps2_fuzz_target(card_layout_fuzz LIBS ps2_card ps2_common)
