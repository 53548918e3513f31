#pragma once
// Silences the engine's assertion reports for its lifetime: tests that drive failure paths on purpose would
// otherwise fill the log with them.

#include "Engine/KAssert.h"

class CAssertsOff
{
public:
	CAssertsOff() : m_bOld(g_bAsserts) { g_bAsserts = false; }
	~CAssertsOff() { g_bAsserts = m_bOld; }

	CAssertsOff(const CAssertsOff&) = delete;
	CAssertsOff& operator=(const CAssertsOff&) = delete;

private:
	bool m_bOld;
};
