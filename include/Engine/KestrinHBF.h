#pragma once
// Chunk files and the element trees read from them or from XML.

#include "Engine/ChunkFile.h"
#include "Engine/ElementChunk.h"
