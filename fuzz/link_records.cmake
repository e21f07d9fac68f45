tovrick_fuzz(link_records ${CMAKE_CURRENT_LIST_DIR}/LinkRecordsFuzz.cpp DEPS tovrick_link)
