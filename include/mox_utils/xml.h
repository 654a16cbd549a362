// The XML document interface: documents on disk and cursors on their
// elements.
#pragma once
#include "mox_utils/xml/kelXMLFile.h"
#include "mox_utils/xml/kelXMLNode.h"
