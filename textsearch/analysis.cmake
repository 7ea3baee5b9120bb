# Text analysis: the stemmer, term vectors, similarity, the in-memory vector index and the
# written form of a score.
target_sources(textsearch PRIVATE
  uPorterStem.h uPorterStem.cpp
  cvrules.h
  cvvector.h cvvector.cpp
  similarity.h similarity.cpp
  vectorindex.h vectorindex.cpp
  linearcv.h linearcv.cpp
  scoretext.h scoretext.cpp)
