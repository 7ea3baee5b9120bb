# The words Best match reads: Unicode words of any script (ICU), folded, their accents optional,
# stemmed in their language (Snowball's libstemmer; it ships no CMake package).
find_package(ICU REQUIRED COMPONENTS uc i18n)
find_library(STEMMER_LIBRARY stemmer REQUIRED)
find_path(STEMMER_INCLUDE_DIR libstemmer.h REQUIRED)
target_sources(textsearch PRIVATE
  words/words.h words/words.cpp
  # Characters, folding and accents; the languages, how they are told and their stemmers.
  words/fold.h words/fold.cpp
  words/languages.h words/languages.cpp)
target_include_directories(textsearch PRIVATE ${STEMMER_INCLUDE_DIR})
target_link_libraries(textsearch PUBLIC ICU::uc ICU::i18n ${STEMMER_LIBRARY})
