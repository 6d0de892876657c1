# The file panels and alerts of the store's exchange operations.
target_sources(vellumbox_ui PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/DialogFilePanels.cpp ${CMAKE_CURRENT_LIST_DIR}/DialogFilePanels.h
)
