// The script interface of resources and of the calling resource's files.

#include "Engine/KestrinStream.h"
#include "Scripting/MemberNatives.h"
#include "Scripting/Resource.h"
#include "Scripting/ResourceMgr.h"

namespace
{
constexpr auto GetManager = &MemberNatives::FromUserData<CResourceMgr>;

// A stream result as a "Stream" object, or null.
void ReturnOwnedStream(CNativeState* pState, Stream* pStream)
{
	if (!pStream)
	{
		pState->ReturnNull();
		return;
	}
	pState->ReturnStream(pStream);
	pStream->Release();
}

bool GetThisResource(CNativeState* pState, void* pUserData, CResource** ppResource)
{
	return pState->GetThis(GetManager(pUserData)->GetResourceClass(), ppResource);
}

// Code of a stopped resource may still hold a resource object (an object or coroutine another resource runs, a
// finaliser): it starts, stops and restarts nothing.
bool GetThisResourceForCode(CNativeState* pState, void* pUserData, CResource** ppResource)
{
	return GetThisResource(pState, pUserData, ppResource) && pState->CheckCallingCode();
}
}

static bool FunctionGetPlatform(CNativeState* pState, int, void*)
{
	pState->ReturnString("Linux");
	return true;
}

static bool FunctionGetThisResource(CNativeState* pState, int, void*)
{
	pState->ReturnObject(pState->GetResource());
	return true;
}

static bool FunctionFindResourceByName(CNativeState* pState, int, void* pUserData)
{
	const char* szName = pState->CheckString(0, nullptr);
	if (!szName)
		return false;
	pState->ReturnObject(GetManager(pUserData)->FindResourceByName(szName));
	return true;
}

static bool FunctionGetResources(CNativeState* pState, int, void* pUserData)
{
	const std::vector<Strong<CResource>> Resources = GetManager(pUserData)->GetResources();
	CArgumentArray* pArray = new CArgumentArray(Resources.size());
	for (const Strong<CResource>& pResource : Resources)
		pArray->AddObject(pResource);
	pState->ReturnAndOwn(pArray);
	return true;
}

static bool FunctionExportFunction(CNativeState* pState, int, void*)
{
	const char* szName = pState->CheckString(0, nullptr);
	if (!szName)
		return false;
	CFunction* pFunction = pState->CheckFunction(1);
	if (!pFunction)
		return false;
	if (CResource* pResource = pState->GetResource())
		pResource->GetExports().Set(szName, new CArgumentFunction(pFunction));
	return true;
}

static bool FunctionOpenFile(CNativeState* pState, int argc, void*)
{
	const char* szPath = pState->CheckString(0, nullptr);
	if (!szPath)
		return false;
	bool bWrite = false;
	if (argc > 1 && !pState->CheckBoolean(1, bWrite))
		return false;
	CResource* pResource = pState->GetResource();
	ReturnOwnedStream(pState, pResource ? pResource->OpenFile(szPath, bWrite) : nullptr);
	return true;
}

static bool FunctionCreateFile(CNativeState* pState, int, void*)
{
	const char* szPath = pState->CheckString(0, nullptr);
	if (!szPath)
		return false;
	CResource* pResource = pState->GetResource();
	ReturnOwnedStream(pState, pResource ? pResource->CreateFile(szPath) : nullptr);
	return true;
}

static bool FunctionFileExists(CNativeState* pState, int argc, void*)
{
	const char* szPath = pState->CheckString(0, nullptr);
	if (!szPath)
		return false;
	bool bFile = true;
	bool bDirectory = true;
	if (argc > 1 && !pState->CheckBoolean(1, bFile))
		return false;
	if (argc > 2 && !pState->CheckBoolean(2, bDirectory))
		return false;
	CResource* pResource = pState->GetResource();
	pState->ReturnBoolean(pResource && pResource->FileExists(szPath, bFile, bDirectory));
	return true;
}

static bool FunctionLoadTextFile(CNativeState* pState, int, void*)
{
	const char* szPath = pState->CheckString(0, nullptr);
	if (!szPath)
		return false;
	CResource* pResource = pState->GetResource();
	Strong<Stream> pStream = Strong<Stream>::New(pResource ? pResource->OpenFile(szPath, false) : nullptr);
	if (pStream.IsNull())
	{
		pState->ReturnNull();
		return true;
	}
	CTextReader Reader(pStream);
	if (!Reader.Load() || !Reader.GetText())
	{
		pState->ReturnNull();
		return true;
	}
	pState->ReturnString(Reader.GetText(), Reader.GetTextLength());
	return true;
}

static bool FunctionSaveTextFile(CNativeState* pState, int, void*)
{
	const char* szPath = pState->CheckString(0, nullptr);
	if (!szPath)
		return false;
	size_t Length = 0;
	const char* szText = pState->CheckString(1, &Length);
	if (!szText)
		return false;
	CResource* pResource = pState->GetResource();
	Strong<Stream> pStream = Strong<Stream>::New(pResource ? pResource->CreateFile(szPath) : nullptr);
	if (pStream.IsNull())
	{
		pState->ReturnNull();
		return true;
	}
	CTextWriter Writer(pStream, TEXT_ENCODING_UTF8);
	pState->ReturnBoolean(Writer.Write(szText, Length));
	return true;
}

static bool FunctionResourceGetName(CNativeState* pState, int, void* pUserData)
{
	CResource* pResource = nullptr;
	if (!GetThisResource(pState, pUserData, &pResource))
		return false;
	pState->ReturnString(pResource->GetName());
	return true;
}

static bool FunctionResourceGetIsStarted(CNativeState* pState, int, void* pUserData)
{
	CResource* pResource = nullptr;
	if (!GetThisResource(pState, pUserData, &pResource))
		return false;
	pState->ReturnBoolean(pResource->IsStarted());
	return true;
}

static bool FunctionResourceGetIsStarting(CNativeState* pState, int, void* pUserData)
{
	CResource* pResource = nullptr;
	if (!GetThisResource(pState, pUserData, &pResource))
		return false;
	pState->ReturnBoolean(pResource->IsStarting());
	return true;
}

static bool FunctionResourceStart(CNativeState* pState, int, void* pUserData)
{
	CResource* pResource = nullptr;
	if (!GetThisResourceForCode(pState, pUserData, &pResource))
		return false;
	pState->ReturnBoolean(pResource->Start());
	return true;
}

static bool FunctionResourceStop(CNativeState* pState, int, void* pUserData)
{
	CResource* pResource = nullptr;
	if (!GetThisResourceForCode(pState, pUserData, &pResource))
		return false;
	pState->ReturnBoolean(pResource->Stop(false));
	return true;
}

static bool FunctionResourceRestart(CNativeState* pState, int, void* pUserData)
{
	CResource* pResource = nullptr;
	if (!GetThisResourceForCode(pState, pUserData, &pResource))
		return false;
	pState->ReturnBoolean(pResource->Restart());
	return true;
}

static bool FunctionResourceGetExports(CNativeState* pState, int, void* pUserData)
{
	CResource* pResource = nullptr;
	if (!GetThisResource(pState, pUserData, &pResource))
		return false;
	pState->Return(&pResource->GetExports());
	return true;
}

static bool FunctionResourceGetExport(CNativeState* pState, int, void* pUserData)
{
	CResource* pResource = nullptr;
	if (!GetThisResource(pState, pUserData, &pResource))
		return false;
	const char* szName = pState->CheckString(0, nullptr);
	if (!szName)
		return false;
	if (CArgument* pExport = pResource->GetExports().Get(szName))
		pState->Return(pExport);
	else
		pState->ReturnNull();
	return true;
}

void CResourceMgr::RegisterFunctions()
{
	ReflectedNamespace* pGlobal = m_pScripting->GetGlobal();
	pGlobal->AddProperty(this, "platform", ARGUMENT_STRING, FunctionGetPlatform, nullptr);
	pGlobal->AddProperty(this, "thisResource", ARGUMENT_OBJECT, FunctionGetThisResource, nullptr);
	pGlobal->RegisterFunction("findResourceByName", "s", FunctionFindResourceByName, this);
	pGlobal->RegisterFunction("getResources", "", FunctionGetResources, this);
	pGlobal->RegisterFunction("exportFunction", "sc", FunctionExportFunction, this);

	m_pResourceClass = pGlobal->NewClass("Resource");
	m_pResourceClass->AddProperty(this, "name", ARGUMENT_STRING, FunctionResourceGetName, nullptr);
	m_pResourceClass->AddProperty(this, "isStarted", ARGUMENT_BOOLEAN, FunctionResourceGetIsStarted, nullptr);
	m_pResourceClass->AddProperty(this, "isStarting", ARGUMENT_BOOLEAN, FunctionResourceGetIsStarting, nullptr);
	m_pResourceClass->RegisterFunction("start", "t", FunctionResourceStart, this);
	m_pResourceClass->RegisterFunction("stop", "t", FunctionResourceStop, this);
	m_pResourceClass->RegisterFunction("restart", "t", FunctionResourceRestart, this);
	m_pResourceClass->AddProperty(this, "exports", ARGUMENT_MAP, FunctionResourceGetExports, nullptr);
	m_pResourceClass->RegisterFunction("getExport", "ts", FunctionResourceGetExport, this);

	pGlobal->RegisterFunction("openFile", "s|b", FunctionOpenFile, this);
	pGlobal->RegisterFunction("createFile", "s", FunctionCreateFile, this);
	pGlobal->RegisterFunction("fileExists", "s|bb", FunctionFileExists, this);
	pGlobal->RegisterFunction("loadTextFile", "s", FunctionLoadTextFile, this);
	pGlobal->RegisterFunction("saveTextFile", "ss", FunctionSaveTextFile, this);
}
