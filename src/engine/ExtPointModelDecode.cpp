// Decompression's loops of the point model, compiled beside compression's.
#include "engine/ExtPointModelLoop.h"

template void CExtPointModel::Code<CSymbolSource>(CSymbolSource&, uint8_t*, std::size_t);
