tovrick_fuzz(mp4_duration ${CMAKE_CURRENT_LIST_DIR}/Mp4DurationFuzz.cpp DEPS tovrick_motivation)
