#pragma once
// The server's use of the web layer: the folder its file server publishes from, and the script function httpGet.

#include <string>

class CHTTPMgr;
class CScripting;
class Context;

// The "htdocs" folder beside the program, where resources publish their client files; "htdocs" in the working
// directory when the program's folder is unknown.
std::string GetPublishedFilesFolder(Context* pContext);

// httpGet(url, postData, dataFunction, completeFunction), a global function that starts a request of the manager.
void RegisterHttpFunctions(CScripting* pScripting, CHTTPMgr* pManager);
