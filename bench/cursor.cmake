tovrick_bench(bench_cursor ${CMAKE_CURRENT_SOURCE_DIR}/CursorBench.cpp DEPS tovrick_cursor Qt6::Gui)
