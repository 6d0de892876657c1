vellumbox_add_test(tst_exchange SOURCES tst_exchange.cpp StoreFixture.h)
