tovrick_fuzz(link_lines ${CMAKE_CURRENT_LIST_DIR}/LinkLinesFuzz.cpp DEPS tovrick_link)
