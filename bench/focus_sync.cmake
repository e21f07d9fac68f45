tovrick_bench(bench_focus_sync ${CMAKE_CURRENT_SOURCE_DIR}/FocusSyncBench.cpp DEPS tovrick_focus_model)
