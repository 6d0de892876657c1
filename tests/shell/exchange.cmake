vellumbox_add_test(tst_exchangedialogs SOURCES tst_exchangedialogs.cpp LIBS vellumbox_ui)
# An English system locale: Qt's file dialog must still write German.
set_tests_properties(tst_exchangedialogs PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LC_ALL=en_US.UTF-8")
