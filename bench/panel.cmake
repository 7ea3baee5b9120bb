# The results panel's repaint with many hits, beside a literal drawing of every row.
pelloquin_bench(panel_bench
  SOURCES panel_bench.cpp
          ${PROJECT_SOURCE_DIR}/tests/panel/panelapp.cpp
          ${PROJECT_SOURCE_DIR}/tests/panel/referencedraw.cpp
  LIBS textsearch_panel)
