tovrick_fuzz(link_packet ${CMAKE_CURRENT_LIST_DIR}/LinkPacketFuzz.cpp DEPS tovrick_link)
