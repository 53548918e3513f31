#include "ServerHttp.h"

#include <cstring>

#include "Engine/Context.h"
#include "Engine/FileSystem.h"
#include "Engine/KestrinNative.h"
#include "Network/HTTPMgr.h"

namespace
{
const char PUBLISHED_FILES_FOLDER[] = "htdocs";

bool FunctionHttpGet(CNativeState* pState, int /*argc*/, void* pUserData)
{
	CHTTPMgr* pManager = static_cast<CHTTPMgr*>(pUserData);
	size_t UrlLength = 0;
	size_t PostLength = 0;
	const char* szUrl = pState->CheckString(0, &UrlLength);
	if (!szUrl)
		return false;
	const char* pPostData = pState->CheckString(1, &PostLength);
	if (!pPostData)
		return false;
	CFunction* pDataFunction = pState->CheckFunction(2);
	if (!pDataFunction)
		return false;
	CFunction* pCompleteFunction = pState->CheckFunction(3);
	if (!pCompleteFunction)
		return false;
	// libcurl would stop reading the URL at a zero byte and fetch another address than the script named.
	if (!pManager || memchr(szUrl, '\0', UrlLength))
	{
		pState->ReturnBoolean(false);
		return true;
	}
	CHTTPRequest* pRequest =
		new CHTTPRequestScript(pManager, pState->GetResource(), pDataFunction, pCompleteFunction);
	pState->ReturnBoolean(pManager->AddRequest(pRequest, szUrl, pPostData, PostLength));
	return true;
}
}

std::string GetPublishedFilesFolder(Context* pContext)
{
	CFileSystem* pFileSystem = pContext ? pContext->GetFileSystem() : nullptr;
	char szRoot[4096];
	if (pFileSystem && pFileSystem->ResolvePath(szRoot, sizeof(szRoot)))
		return std::string(szRoot) + PUBLISHED_FILES_FOLDER;
	return PUBLISHED_FILES_FOLDER;
}

void RegisterHttpFunctions(CScripting* pScripting, CHTTPMgr* pManager)
{
	pScripting->GetGlobal()->RegisterFunction("httpGet", "sscc", FunctionHttpGet, pManager);
}
