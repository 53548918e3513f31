#pragma once
// The server's script interface: the chat functions of the global namespace and the namespace "server" with the
// server's settings, rules, bans, client variables, password and shutdown. The game registers the namespace with
// its own settings among the server's, so the pieces below are called in the order scripts see the members.

class CBaseServer;
class CServerManager;
class ReflectedNamespace;

// message, messageClient and messageAllExcept; their natives get the server as user data.
void RegisterServerChatFunctions(CBaseServer* pServer);

// The namespace "server" with the members the server serves itself (game, name, gameMode, port, maxClients, the
// rules, the bans and shutdown), whose natives get the server as user data; null without a script host.
ReflectedNamespace* RegisterServerNamespace(CBaseServer* pServer);

// The further members of the namespace, whose natives get the element manager as user data and serve the server
// behind it: the settings (remote console, listing, HTTP, client version, sync, stream distances), then logPath,
// then getCVar, setPassword and bindIP.
void RegisterServerSettings(ReflectedNamespace* pNamespace, CServerManager* pManager);
void RegisterServerLogPath(ReflectedNamespace* pNamespace, CServerManager* pManager);
void RegisterServerAccessFunctions(ReflectedNamespace* pNamespace, CServerManager* pManager);
