# Project files, restored cloud collections, image import and paste.
target_sources(vellumbox_core PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/ProjectFile.cpp ${CMAKE_CURRENT_LIST_DIR}/ProjectFile.h
)
target_sources(vellumbox_core PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/AlertPresenter.h
    ${CMAKE_CURRENT_LIST_DIR}/CollectionStoreExchange.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CollectionStoreImport.cpp
    ${CMAKE_CURRENT_LIST_DIR}/FilePanels.h
    ${CMAKE_CURRENT_LIST_DIR}/ImageClipboard.cpp ${CMAKE_CURRENT_LIST_DIR}/ImageClipboard.h
)
