// Frame compression: Huffman coding of single buffers and run-length coding
// of successive frames per channel.
#pragma once
#include "mox_utils/compression/HuffmanCompression.h"
#include "mox_utils/compression/RLEEncoder.h"
