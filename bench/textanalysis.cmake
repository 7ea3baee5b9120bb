# Text analysis: EncodeCV and Proximity beside their linear versions, and the vector index
# beside parsing every stored text and scoring it with Proximity.
pelloquin_bench(textanalysis_bench SOURCES textanalysis_bench.cpp LIBS textsearch)
pelloquin_bench(vectorindex_bench SOURCES vectorindex_bench.cpp LIBS textsearch)
# Best match's word reader over a knowledge base's texts, beside EncodeCV over the same texts.
pelloquin_bench(words_bench SOURCES words_bench.cpp LIBS textsearch)
