# The office server beside the knowledge base file at 100,000 entries (see README.md); it starts a
# throwaway PostgreSQL server with the tests' script.
pelloquin_bench(pgstore_bench SOURCES pgstore_bench.cpp LIBS kbgen_lib)
target_compile_definitions(pgstore_bench
  PRIVATE PELLOQUIN_PGSERVER="${PROJECT_SOURCE_DIR}/tests/core/store/pgserver.sh")
