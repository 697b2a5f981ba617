#pragma once
// The fast writer of meta.json: the whole tree as compact JSON text, byte for byte what the record
// writers give through the toolkit's document.
#include "ResourceItem.h"

class QIODevice;

namespace MetaJson {

// Writes the document to `device` piece by piece between records; false when a write failed.
bool writeDocument(const _RootItem& root, QIODevice* device);

}  // namespace MetaJson
