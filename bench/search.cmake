# The knowledge-base generator, and the benchmarks of the whole program at the size of a large
# knowledge base (see README.md).
add_library(kbgen_lib STATIC kbgen.h kbgen.cpp)
target_include_directories(kbgen_lib PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(kbgen_lib PUBLIC pelloquin_core)

add_executable(kbgen kbgen_main.cpp)
target_link_libraries(kbgen PRIVATE kbgen_lib)

if(PELLOQUIN_TESTS)
  # The test helper lives in tests/, whose package look-ups do not reach this folder.
  find_package(GTest REQUIRED)
  include(GoogleTest)
  pelloquin_test(kbgen_test SOURCES kbgen_test.cpp LIBS kbgen_lib)
  # The loading shortcuts that the start-up figures rest on give the hits of the plain pass.
  pelloquin_test(loadpaths_test SOURCES loadpaths_test.cpp LIBS kbgen_lib)
endif()

if(PELLOQUIN_GUI)
  # The real main window beside the original cost model (literalsearch.h), on generated
  # knowledge bases of up to 100,000 entries.
  pelloquin_bench(search_bench
    SOURCES search_bench.cpp literalsearch.h literalsearch.cpp
            ${PROJECT_SOURCE_DIR}/tests/textsearch/renderpanel/referencedraw.cpp
    LIBS pelloquin_ui kbgen_lib)
endif()
