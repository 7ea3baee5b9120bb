# Text analysis: the stemmer, term vectors, similarity and the in-memory vector index.
target_sources(textsearch PRIVATE
  uPorterStem.h uPorterStem.cpp
  cvrules.h
  cvvector.h cvvector.cpp
  similarity.h similarity.cpp
  vectorindex.h vectorindex.cpp
  linearcv.h linearcv.cpp)
