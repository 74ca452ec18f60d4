// This build has no symbol-rate detector for the 3470: a port whose symbol rate is left open
// finds no signal and stays unlocked; a given symbol rate tunes as usual.
#include "ISymbolRateSearch.h"

ISymbolRateSearch* NewKxa3470SymbolRateSearch(KxProxyCORE*)
{
    return nullptr;
}
