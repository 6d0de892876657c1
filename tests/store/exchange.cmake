vellumbox_add_test(tst_projectfile SOURCES tst_projectfile.cpp ExchangeFakes.h)
vellumbox_add_test(tst_exchange SOURCES tst_exchange.cpp ExchangeFakes.h)
vellumbox_add_test(tst_import SOURCES tst_import.cpp ExchangeFakes.h)
