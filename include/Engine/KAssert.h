#pragma once

// Assertions report and never stop: the caller always continues on its own fallback path.
// The server switches reporting off as its first action.
extern bool g_bAsserts;

void _KShowAssert(const char* szExpression, const char* szFile, const char* szFunction, int iLine);

// Evaluates to the truth of expr; a false expr is reported through _KShowAssert.
// Usage: if (!KASSERT(pItem != nullptr)) return false;
#define KASSERT(expr) \
	(static_cast<bool>(expr) ? true : (_KShowAssert(#expr, __FILE__, __func__, __LINE__), false))
