// Arbitrary bytes into the library-file decoder; whatever decodes must encode and decode again to
// an equal library.
#include "model/JsonCoding.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const auto library = decodeJson<SavedLibrary>(QByteArrayView(data, qsizetype(size)));
    if (!library)
        return 0;
    const auto encoded = encodeJson(*library, JsonStyle::Pretty);
    if (!encoded)
        return 0; // a number the writer cannot express is a save failure, not a crash
    const auto again = decodeJson<SavedLibrary>(*encoded);
    if (!again || again->collections != library->collections || again->selectedID != library->selectedID ||
        again->session != library->session || again->deletedCollections != library->deletedCollections ||
        again->version != library->version)
        std::abort();
    return 0;
}
