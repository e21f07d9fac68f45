tovrick_bench(bench_reminder_images ${CMAKE_CURRENT_SOURCE_DIR}/ReminderImageBench.cpp DEPS tovrick_focus Qt6::Gui)
