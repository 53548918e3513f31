#pragma once
// The JavaScript language over the shared registry of test natives and classes, with one environment and the log
// captured.

#include <cstring>

#include "JSScripting/CJSScripting.h"
#include "Support/ScriptHostFixture.h"

// Adds the class "Shared", whose constructor hands back what give() would: an object scripts may have seen before.
class JSFixture : public ScriptHostFixture
{
protected:
	JSFixture();
};
