# The results panel's repaint with many hits, beside a literal drawing of every row.
pelloquin_bench(panel_bench
  SOURCES panel_bench.cpp
          ${PROJECT_SOURCE_DIR}/tests/textsearch/renderpanel/panelapp.cpp
          ${PROJECT_SOURCE_DIR}/tests/textsearch/renderpanel/referencedraw.cpp
  LIBS textsearch_panel)
