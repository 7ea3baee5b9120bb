# The score tree's fill-and-read cost against the literal unbalanced tree.
pelloquin_bench(scoretree_bench SOURCES scoretree_bench.cpp LIBS textsearch)
