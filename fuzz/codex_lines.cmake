tovrick_fuzz(codex_lines ${CMAKE_CURRENT_SOURCE_DIR}/CodexLinesFuzz.cpp DEPS tovrick_codex)
