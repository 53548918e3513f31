#include "Engine/KAssert.h"

#include "Engine/Context.h"

#include <cstdio>

bool g_bAsserts = true;

void _KShowAssert(const char* szExpression, const char* szFile, const char* szFunction, int iLine)
{
	if (!g_bAsserts)
		return;

	char szBuffer[LOG_BUFFER_SIZE];
	snprintf(szBuffer, sizeof(szBuffer), "Assertion failed!\n\nFile: %s\nFunction: %s\nLine: %d\n\nExpression: %s",
		szFile, szFunction, iLine, szExpression);

	// An assertion before any Context exists (or after the last one) has nowhere to go.
	Context* pContext = KGlobal::GetContext();
	if (pContext != nullptr)
		pContext->LogError("%s", szBuffer);
}
