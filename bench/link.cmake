tovrick_bench(bench_link ${CMAKE_CURRENT_SOURCE_DIR}/LinkBench.cpp DEPS tovrick_link Qt6::Network)
