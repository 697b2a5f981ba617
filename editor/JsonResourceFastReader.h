#pragma once
// The fast reader of meta.json: records filled straight from the text, without building the
// toolkit's document first.
#include <memory>

#include "ResourceItem.h"

namespace MetaJson {

// Reads the document in [begin, end). *handled is false when the text leaves the subset this reader
// is certain about; the caller then reads the same bytes through the toolkit, so results and log
// lines never depend on the path taken. With `releaseFrom` set (page-aligned text mapped from a file)
// the pages already read are handed back to the system as the reading goes on.
std::shared_ptr<_RootItem> readDocument(const char* begin, const char* end, const char* releaseFrom,
                                        bool* handled);

}  // namespace MetaJson
