tovrick_bench(bench_screen ${CMAKE_CURRENT_SOURCE_DIR}/ScreenBench.cpp DEPS tovrick_screen Qt6::Gui)
