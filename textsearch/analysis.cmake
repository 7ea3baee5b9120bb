# Text analysis: the stemmer, term vectors, similarity, the in-memory vector index and the
# written form of a score.
target_sources(textsearch PRIVATE
  uPorterStem.h uPorterStem.cpp
  cvrules.h
  cvvector.h cvvector.cpp
  similarity.h similarity.cpp
  linearcv.h linearcv.cpp
  # The vector index: its public face, then its parts, one job each.
  vectorindex.h vectorindex.cpp keptroom.h
  vectorindex/termdictionary.h vectorindex/termdictionary.cpp
  vectorindex/segment.h vectorindex/segment.cpp
  vectorindex/segmentbuilder.h vectorindex/segmentbuilder.cpp
  vectorindex/batchbuilder.h vectorindex/batchbuilder.cpp
  vectorindex/indexsearch.h vectorindex/indexsearch.cpp
  scoretext.h scoretext.cpp
  # A second thread for one job at a time, shared by the index's building and its searches.
  helperthread.h
  # The hit a search pass makes.
  searchhit.h)
