#pragma once
// Pieces of the toolkit (QJsonObject) reading that the fast reader falls back to.
#include <QJsonObject>

#include "ResourceItem.h"

namespace MetaJson {

// Fills `data` from the decoded "data" object of a draw event.
void readDrawData(const QJsonObject& object, _DrawData& data);

}  // namespace MetaJson
