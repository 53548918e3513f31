#pragma once
// What the tests of the module views share: a context whose log is captured, a script-language registry with its
// constants registry, and the module interface a loaded module would get. The engine's module caller is removed
// again afterwards, so that tests expecting none still find none.

#include <gtest/gtest.h>

#include "Engine/Context.h"
#include "Engine/Defines.h"
#include "Engine/KError.h"
#include "Engine/KestrinNative.h"
#include "Engine/ModuleViews.h"
#include "Support/ScriptHostFixture.h"

using namespace Kestrin3D::Interfaces;

class CModuleFixture : public ::testing::Test
{
protected:
	CModuleFixture() : m_Log(&m_Context), m_pModule(new CModuleInterfaceImpl(&m_Scripting))
	{
		m_Scripting.SetDefineHandlers(&m_Defines);
	}

	~CModuleFixture() override
	{
		if (m_pModule)
			m_pModule->Release();
		ScriptFunction::SetModuleCaller(nullptr);
	}

	Context m_Context;
	CCapturedLog m_Log;
	CDefineHandlers m_Defines;
	CScripting m_Scripting;
	CModuleInterfaceImpl* m_pModule;
};

// Releases a view when the test is done with it, whatever the outcome.
template <class TInterface>
class CHeld
{
public:
	CHeld() : m_pView(nullptr) {}
	explicit CHeld(TInterface* pView) : m_pView(pView) {}
	~CHeld()
	{
		if (m_pView)
			m_pView->Release();
	}
	CHeld(const CHeld&) = delete;
	CHeld& operator=(const CHeld&) = delete;

	TInterface* operator->() const { return m_pView; }
	TInterface* Get() const { return m_pView; }
	// The out argument of an interface operation; releases what was held before.
	TInterface** Out()
	{
		if (m_pView)
			m_pView->Release();
		m_pView = nullptr;
		return &m_pView;
	}
	void** OutVoid() { return reinterpret_cast<void**>(Out()); }

private:
	TInterface* m_pView;
};
