# Project files, restored cloud collections, image import and paste.
target_sources(vellumbox_core PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/ProjectFile.cpp ${CMAKE_CURRENT_LIST_DIR}/ProjectFile.h
    ${CMAKE_CURRENT_LIST_DIR}/RegularFile.cpp ${CMAKE_CURRENT_LIST_DIR}/RegularFile.h
)
