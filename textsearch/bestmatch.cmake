# Best match: the ranking of entries beside Classic's, and the rows it shows.
target_sources(textsearch PRIVATE
  bestmatch/bm25f.h
  bestmatch/bestmatchindex.h bestmatch/bestmatchindex.cpp
  bestmatch/bestrow.h bestmatch/bestrow.cpp)
