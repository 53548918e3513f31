#pragma once
// The server's script interface: the chat functions of the global namespace and the namespace "server" with the
// server's settings, rules, bans, client variables, password and shutdown.

class CBaseServer;
class CGTAServerManager;

// message, messageClient and messageAllExcept; their natives get the server as user data.
void RegisterServerChatFunctions(CBaseServer* pServer);

// The namespace "server": the members served by the server itself get the server as user data, those the game's
// element manager adds (the further settings, client variables and the password) get the manager.
void RegisterServerNamespace(CGTAServerManager* pManager);
